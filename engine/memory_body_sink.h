// TMemoryBodySink: a body held in memory (small replies, tests).
#pragma once

#include "engine/body_sink.h"

namespace pellix {

class TMemoryBodySink final : public IBodySink {
public:
    bool Start(std::int64_t keep, std::string& error) override;
    bool Write(std::string_view data, std::string& error) override;
    bool Finish(std::string& error) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(m_data.size()); }

    const std::string& Data() const { return m_data; }
    void Clear() { m_data.clear(); }
    // Lets a caller put back bytes it held before (the start of a resumed body).
    void Assign(std::string data) { m_data = std::move(data); }

private:
    std::string m_data;
};

} // namespace pellix

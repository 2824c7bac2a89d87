// TFileBodySink: a body written straight into its local file as it arrives. A resumed body keeps
// the file's first bytes and overwrites it from there on.
#pragma once

#include <filesystem>

#include "engine/body_sink.h"

namespace pellix {

class TFileBodySink final : public IBodySink {
public:
    explicit TFileBodySink(std::filesystem::path path);
    ~TFileBodySink() override;
    TFileBodySink(const TFileBodySink&) = delete;
    TFileBodySink& operator=(const TFileBodySink&) = delete;

    // Creates missing parent folders. keep = 0 replaces the file; keep > 0 needs a file that
    // holds at least that many bytes (otherwise the body would land at the wrong offset).
    // A failure's text is "Failed to create file: " or "Failed to write file: ", the path and the
    // reason in parentheses; ErrorNumber() keeps its errno.
    bool Start(std::int64_t keep, std::string& error) override;
    bool Write(std::string_view data, std::string& error) override;
    bool Finish(std::string& error) override;
    std::int64_t Size() const override { return m_size; }

    const std::filesystem::path& Path() const { return m_path; }
    // The errno of the last failure of the local file (0: none), for the caller to tell a full
    // disk from a bad name.
    int ErrorNumber() const { return m_errno; }

private:
    void CloseFile();
    bool Fail(const char* what, int errorNumber, std::string& error);

    std::filesystem::path m_path;
    int m_fd = -1;
    std::int64_t m_size = 0;
    int m_errno = 0;
};

} // namespace pellix

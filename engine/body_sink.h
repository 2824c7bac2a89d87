// IBodySink: where a GET's body goes while it arrives (memory or a file), so that a transfer's
// memory stays bounded whatever the body size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellix {

class IBodySink {
public:
    virtual ~IBodySink() = default;

    // Called once before the body arrives: keep the first `keep` bytes already held (a resumed
    // transfer) and drop the rest; the body is then written after them. False (with error) when
    // that cannot be done.
    virtual bool Start(std::int64_t keep, std::string& error) = 0;
    // Appends bytes of the body; false (with error) when they cannot be stored.
    virtual bool Write(std::string_view data, std::string& error) = 0;
    // Called when the body ended, completely or not; flushes what is buffered.
    virtual bool Finish(std::string& error) = 0;
    // Bytes held: the kept bytes plus the body written so far.
    virtual std::int64_t Size() const = 0;
};

} // namespace pellix

#include "links/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

namespace pellix {

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return std::move(buffer).str();
}

namespace {

bool Fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what + ": " + std::strerror(errno);
    return false;
}

bool ReplaceFile(const std::filesystem::path& path, std::string_view data, std::string* error,
                 bool ownerOnly, bool flush)
{
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path temp = path.string() + ".tmp" + std::to_string(::getpid()) + "-"
                                       + std::to_string(counter.fetch_add(1));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                          ownerOnly ? 0600 : 0644);
    if (fd < 0)
        return Fail(error, "cannot create " + temp.string());
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const bool r = Fail(error, "cannot write " + temp.string());
            ::close(fd);
            ::unlink(temp.c_str());
            return r;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if ((flush && ::fsync(fd) != 0) || ::close(fd) != 0) {
        const bool r = Fail(error, "cannot write " + temp.string());
        ::unlink(temp.c_str());
        return r;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const bool r = Fail(error, "cannot replace " + path.string());
        ::unlink(temp.c_str());
        return r;
    }
    return true;
}

} // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view data,
                         std::string* error, bool ownerOnly)
{
    return ReplaceFile(path, data, error, ownerOnly, true);
}

bool ReplaceFileQuickly(const std::filesystem::path& path, std::string_view data, std::string* error)
{
    return ReplaceFile(path, data, error, false, false);
}

} // namespace pellix

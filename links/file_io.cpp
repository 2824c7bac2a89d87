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
        *error = what + ": " + WriteErrorReason(errno);
    return false;
}

// Keeps errno across the clean-up calls of a failed write, for the caller to classify.
class TErrnoKeeper {
public:
    TErrnoKeeper() : m_saved(errno) {}
    ~TErrnoKeeper() { errno = m_saved; }

private:
    int m_saved;
};

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
            TErrnoKeeper keep;
            ::close(fd);
            ::unlink(temp.c_str());
            return r;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    // A failed flush still closes the descriptor; its errno is the one reported.
    int syncError = 0;
    if (flush && ::fsync(fd) != 0)
        syncError = errno;
    const bool closed = ::close(fd) == 0;
    if (syncError != 0 || !closed) {
        if (syncError != 0)
            errno = syncError;
        const bool r = Fail(error, "cannot write " + temp.string());
        TErrnoKeeper keep;
        ::unlink(temp.c_str());
        return r;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const bool r = Fail(error, "cannot replace " + path.string());
        TErrnoKeeper keep;
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

bool IsRunStoppingWriteError(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EROFS || error == EACCES || error == EPERM ||
           error == EFBIG;
}

std::string WriteErrorReason(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "disk full";
    case EROFS:
        return "read-only file system";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EFBIG:
        return "file size limit reached";
    default:
        return std::strerror(error);
    }
}

} // namespace pellix

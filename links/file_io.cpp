#include "links/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

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

enum class TReplaced { Delete, KeepEmpty };

// The file an earlier replacement left, opened for writing over; -1 when it cannot serve (gone,
// or linked under another name too, which a write would change as well). *size: its length.
int OpenSpare(const std::string& spare, off_t* size)
{
    const int fd = ::open(spare.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    *size = info.st_size;
    return fd;
}

bool ReplaceFile(const std::filesystem::path& path, std::string_view data, std::string* error,
                 bool ownerOnly, bool flush, TReplaced replaced = TReplaced::Delete, std::string* spare = nullptr)
{
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp;
    int fd = -1;
    off_t spareSize = 0;
    if (spare != nullptr && !spare->empty()) {
        fd = OpenSpare(*spare, &spareSize);
        if (fd >= 0)
            temp = *spare;
        spare->clear(); // taken, or of no use
    }
    if (fd < 0) {
        temp = path.string() + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, ownerOnly ? 0600 : 0644);
    }
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
    // A spare is written over and cut to the new length, never emptied first: ext4 writes a file
    // emptied and written again out to disk when it is closed.
    int syncError = 0;
    if (spareSize > static_cast<off_t>(data.size()) && ::ftruncate(fd, static_cast<off_t>(data.size())) != 0)
        syncError = errno;
    // A failed flush still closes the descriptor; its errno is the one reported.
    if (syncError == 0 && flush && ::fsync(fd) != 0)
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
    // Renamed over an existing file, ext4 writes the new one out at once (its guard against
    // zero-length files after a power cut), and a file on disk costs a discard when the task's
    // working folder is removed. Without a flush that guard is not wanted: the two names are
    // swapped (the name never misses a file) and the old bytes go with the temp name.
    if (!flush && ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        struct stat info {};
        if (replaced == TReplaced::KeepEmpty && ::lstat(temp.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            // Kept, not deleted: see ReplaceFileInWorkFolder. A spare takes the next text as it is;
            // without one the copy is emptied.
            if (spare != nullptr) {
                *spare = temp.string();
                return true;
            }
            if (::truncate(temp.c_str(), 0) == 0 || ::unlink(temp.c_str()) == 0)
                return true;
        }
        if (::unlink(temp.c_str()) == 0 || errno != EISDIR)
            return true;
        // A folder stood at path: it goes back, and the rename below fails as it always did.
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
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

bool ReplaceFileInWorkFolder(const std::filesystem::path& path, std::string_view data, std::string* error,
                             std::string* spare)
{
    return ReplaceFile(path, data, error, false, false, TReplaced::KeepEmpty, spare);
}

bool RemoveFolderTree(const std::filesystem::path& folder, unsigned threads)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // The folders two levels down (a site's own folders below its host folder) are the units of
    // work: files of different folders are unlinked without waiting for each other.
    std::vector<fs::path> units;
    if (threads > 1 && !fs::is_symlink(folder, ec) && fs::is_directory(folder, ec)) {
        for (const fs::directory_entry& top : fs::directory_iterator(folder, ec)) {
            if (!top.is_directory(ec) || top.is_symlink(ec))
                continue;
            for (const fs::directory_entry& sub : fs::directory_iterator(top.path(), ec))
                if (sub.is_directory(ec) && !sub.is_symlink(ec))
                    units.push_back(sub.path());
        }
    }
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < units.size();) {
            std::error_code ignored;
            fs::remove_all(units[i], ignored);
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t workers = std::min<std::size_t>(threads, units.size());
    for (std::size_t i = 1; i < workers; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    fs::remove_all(folder, ec);
    return !ec && !fs::exists(fs::symlink_status(folder, ec));
}

bool EnsurePrivateFolder(const std::filesystem::path& folder, std::string* error)
{
    std::string text = folder.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back(); // with a trailing slash lstat would follow a link
    auto fail = [&](const std::string& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (text.empty())
        return fail("no folder given");
    struct stat info {};
    // Asked for before every file a task writes: a folder that is already as it must be costs
    // one look, not a creation attempt.
    if (::lstat(text.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & 077) == 0)
        return true;
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(text).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ec);
    if (::mkdir(text.c_str(), 0700) != 0 && errno != EEXIST)
        return fail("cannot create it: " + WriteErrorReason(errno));
    if (::lstat(text.c_str(), &info) != 0)
        return fail(std::strerror(errno));
    if (S_ISLNK(info.st_mode))
        return fail("it is a symbolic link");
    if (!S_ISDIR(info.st_mode))
        return fail("it is not a folder");
    if (info.st_uid != ::geteuid())
        return fail("it belongs to another user");
    if ((info.st_mode & 077) != 0 && ::chmod(text.c_str(), 0700) != 0)
        return fail("cannot make it private: " + WriteErrorReason(errno));
    return true;
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

#include "engine/task_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace pellix {

namespace {

// The PID a holder wrote into the lock file, or 0.
long HolderOf(int fd)
{
    char text[32] = {};
    const ssize_t count = ::pread(fd, text, sizeof text - 1, 0);
    long pid = 0;
    for (ssize_t i = 0; i < count && text[i] >= '0' && text[i] <= '9' && pid < 100000000; ++i)
        pid = pid * 10 + (text[i] - '0');
    return pid;
}

int OpenLockFile(const std::string& path, bool& writable)
{
    writable = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        // A lock file we may not write still locks; it only cannot name us.
        writable = false;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    return fd;
}

} // namespace

TTaskLock::~TTaskLock()
{
    Release();
}

TTaskLock::TTaskLock(TTaskLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1))
{
}

TTaskLock& TTaskLock::operator=(TTaskLock&& other) noexcept
{
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

std::string TTaskLock::LockFileOf(const std::string& taskFile)
{
    return taskFile + kTaskLockExtension;
}

TTaskLockResult TTaskLock::Acquire(const std::string& taskFile, const std::string& taskName)
{
    Release();
    const std::string path = LockFileOf(taskFile);
    const std::string cannot = "Cannot lock the task " + taskName + ": ";
    bool writable = true;
    const int fd = OpenLockFile(path, writable);
    if (fd < 0) {
        if (errno == ELOOP)
            return {false, cannot + "its lock file " + path + " is a symbolic link."};
        return {false, cannot + path + ": " + std::strerror(errno)};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {false, cannot + "its lock file " + path + " is not a regular file."};
    }
    int locked = 0;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        const long holder = error == EWOULDBLOCK ? HolderOf(fd) : 0;
        ::close(fd);
        if (error != EWOULDBLOCK)
            return {false, cannot + path + ": " + std::strerror(error)};
        std::string message = "The task " + taskName + " is already running in another process";
        if (holder > 0)
            message += " (PID " + std::to_string(holder) + ")";
        return {false, message + "."};
    }
    if (writable) {
        // Only for the message a second run shows; a lock without it is still a lock.
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
        }
    }
    m_fd = fd;
    return {true, std::string()};
}

void TTaskLock::Release()
{
    if (m_fd < 0)
        return;
    // Emptied while still held, so that no later holder's PID is wiped.
    [[maybe_unused]] const int truncated = ::ftruncate(m_fd, 0);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace pellix

// TTaskLock: the exclusive lock a run holds on its task, so that two processes never run one task.
#pragma once

#include <string>

namespace pellix {

inline constexpr const char* kTaskLockExtension = ".lock";

struct TTaskLockResult {
    bool ok = false;
    std::string message; // why not, when !ok
};

// An advisory lock (flock) on a lock file beside the task file, "<task file>.lock". The task file
// itself is replaced by a rename on every save, so a lock on it would soon be on a file nobody
// opens any more. The lock is released by Release, by the destructor, and by the system when the
// process ends in any way (a killed process cannot leave it held). The lock file holds the PID of
// the holder for the message a second run shows; it stays behind when released, which is
// harmless: it does not end in ".pxt" and is never taken for a task. Not thread-safe: one owner.
class TTaskLock final {
public:
    TTaskLock() = default;
    ~TTaskLock();
    TTaskLock(const TTaskLock&) = delete;
    TTaskLock& operator=(const TTaskLock&) = delete;
    TTaskLock(TTaskLock&& other) noexcept;
    TTaskLock& operator=(TTaskLock&& other) noexcept;

    // Takes the lock of the task whose task file is taskFile, without waiting. Fails with "The
    // task <taskName> is already running in another process (PID n)." while another holder has
    // it (another process, or another lock object of this one), or with the reason the lock file
    // could not be opened. A lock already held by this object is released first.
    TTaskLockResult Acquire(const std::string& taskFile, const std::string& taskName);
    void Release();
    bool Held() const { return m_fd >= 0; }

    // The lock file of a task file.
    static std::string LockFileOf(const std::string& taskFile);

private:
    int m_fd = -1;
};

} // namespace pellix

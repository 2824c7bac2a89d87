// Tests of TTaskLock: one run per task across processes, released when the holder dies.
#include "engine/task_lock.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

// A child process that holds the lock of a task until it is killed.
class THolder final {
public:
    explicit THolder(const std::string& taskFile)
    {
        int ready[2];
        int wait[2];
        if (::pipe(ready) != 0 || ::pipe(wait) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(wait[1]);
            TTaskLock lock;
            const char answer = lock.Acquire(taskFile, "Site").ok ? 'y' : 'n';
            if (::write(ready[1], &answer, 1) != 1)
                ::_exit(1);
            char byte;
            // Holds the lock until killed (or the parent goes away).
            [[maybe_unused]] const ssize_t got = ::read(wait[0], &byte, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(wait[0]);
        m_wait = wait[1];
        char answer = 0;
        m_holds = m_pid > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }

    ~THolder() { Kill(); }

    bool Holds() const { return m_holds; }
    pid_t Pid() const { return m_pid; }

    void Kill()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        ::close(m_wait);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_wait = -1;
    bool m_holds = false;
};

TEST(TaskLockTest, SecondProcessIsRefusedUntilTheHolderDies)
{
    test::TTempFolder folder;
    const std::string taskFile = (folder.Path() / "Site.pxt").string();
    THolder holder(taskFile);
    ASSERT_TRUE(holder.Holds());

    TTaskLock lock;
    const TTaskLockResult refused = lock.Acquire(taskFile, "Site");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message,
              "The task Site is already running in another process (PID " + std::to_string(holder.Pid()) + ").");
    EXPECT_FALSE(lock.Held());

    // A holder killed without any chance to clean up leaves the lock free.
    holder.Kill();
    const TTaskLockResult taken = lock.Acquire(taskFile, "Site");
    EXPECT_TRUE(taken.ok) << taken.message;
    EXPECT_TRUE(lock.Held());
    EXPECT_EQ(ReadWholeFile(TTaskLock::LockFileOf(taskFile)), std::to_string(::getpid()) + "\n");
}

TEST(TaskLockTest, ReleaseAndDestructionFreeTheLockWithinOneProcess)
{
    test::TTempFolder folder;
    const std::string taskFile = (folder.Path() / "Site.pxt").string();
    const std::string otherFile = (folder.Path() / "Other.pxt").string();
    {
        TTaskLock first;
        ASSERT_TRUE(first.Acquire(taskFile, "Site").ok);
        // Another lock object is another run, even in this process; another task is free.
        TTaskLock second;
        const TTaskLockResult refused = second.Acquire(taskFile, "Site");
        EXPECT_FALSE(refused.ok);
        EXPECT_NE(refused.message.find("already running"), std::string::npos) << refused.message;
        EXPECT_TRUE(second.Acquire(otherFile, "Other").ok);

        first.Release();
        EXPECT_FALSE(first.Held());
        EXPECT_TRUE(second.Acquire(taskFile, "Site").ok);
        // Moving the lock keeps it held by its new owner.
        TTaskLock moved(std::move(second));
        EXPECT_TRUE(moved.Held());
        EXPECT_FALSE(first.Acquire(taskFile, "Site").ok);
    }
    TTaskLock again;
    EXPECT_TRUE(again.Acquire(taskFile, "Site").ok);

    // The lock file stays behind beside the task file, never taken for a task file.
    const std::string lockFile = TTaskLock::LockFileOf(taskFile);
    EXPECT_EQ(std::filesystem::path(lockFile).parent_path(), folder.Path());
    EXPECT_NE(std::filesystem::path(lockFile).extension(), ".pxt");
}

TEST(TaskLockTest, LockFilesThatCannotBeUsedAreReported)
{
    test::TTempFolder folder;
    // A symbolic link planted where the lock file goes is not followed.
    const std::string linked = (folder.Path() / "Linked.pxt").string();
    std::filesystem::create_symlink(folder.Path() / "elsewhere", TTaskLock::LockFileOf(linked));
    TTaskLock lock;
    TTaskLockResult result = lock.Acquire(linked, "Linked");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("is a symbolic link"), std::string::npos) << result.message;
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "elsewhere"));

    const std::string folderTask = (folder.Path() / "Folder.pxt").string();
    std::filesystem::create_directory(TTaskLock::LockFileOf(folderTask));
    result = lock.Acquire(folderTask, "Folder");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("Cannot lock the task Folder: "), std::string::npos) << result.message;

    result = lock.Acquire((folder.Path() / "missing" / "Task.pxt").string(), "Task");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("No such file or directory"), std::string::npos) << result.message;
}

} // namespace
} // namespace pellix

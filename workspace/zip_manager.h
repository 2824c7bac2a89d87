// TZipManager: runs the zip manager's operations (open, list, add, delete, extract) on a worker
// thread of its own, one at a time, so that the window stays responsive on large archives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "workspace/zip_archive.h"
#include "workspace/zip_tree.h"

namespace pellix {

class IOwnerThread;

// The zip operation of the main window.
enum class TZipOperation { Idle = 0, Opening = 1, Adding = 2, Updating = 3, Listing = 4, Extracting = 5, Deleting = 6 };

// A whole archive as listed: its rows in the archive's order and, for Open, the tree built from
// them (made on the worker so that the owner thread only takes it over).
struct TZipListing {
    int code = kZipOk;
    TZipResultView view;
    std::vector<TZipEntry> rows;
    std::unique_ptr<TZipTree> tree;
};

// An add or delete, and the archive as listed after it.
struct TZipChange {
    TZipOutcome outcome;
    TZipListing after;
};

// Threads: every function is called on the owner thread; every done callback and every event
// runs there too. The worker thread alone touches the archive object while an operation runs.
class TZipManager final {
public:
    explicit TZipManager(IOwnerThread& owner);
    // Ends the worker after asking the running operation to stop; results not delivered yet are
    // dropped. Owner thread (it waits for the worker only, never for the owner thread).
    ~TZipManager();
    TZipManager(const TZipManager&) = delete;
    TZipManager& operator=(const TZipManager&) = delete;

    TZipOperation Operation() const { return m_operation; }
    bool Busy() const { return m_operation != TZipOperation::Idle; }
    // The running operation ends at its next entry (what is done stays done).
    void Cancel();

    // The Zip file a running task is writing, or empty; asked before every change to a Zip file.
    void SetTaskZip(std::function<std::string()> provider) { m_taskZip = std::move(provider); }
    // The error to show when path is the running task's Zip file; empty when it may be changed.
    std::string TaskZipRefusal(const std::string& path) const;

    // Each returns false, and does nothing, while another operation runs (or, for changes, when
    // TaskZipRefusal refuses: the caller shows that text).
    bool Open(const std::string& path, std::function<void(TZipListing)> done);
    bool Relist(const std::string& path, std::function<void(TZipListing)> done);
    bool Add(const std::string& path, std::vector<std::string> files, TZipAddMode action, bool usePaths, bool recurse,
             int compression, std::function<void(TZipChange)> done);
    // Entry paths or folder wildcards, deleted in turn; the outcome lists every entry deleted and
    // carries the first failure.
    bool Delete(const std::string& path, std::vector<std::string> entryPaths, std::function<void(TZipChange)> done);
    bool Extract(const std::string& path, std::vector<std::string> entryPaths, std::string folder, bool usePaths,
                 bool overwrite, std::function<void(TZipOutcome)> done);
    // Browsing: one entry (all = false) or the whole archive into folder, with paths, overwriting.
    bool ExtractForBrowsing(const std::string& path, std::string entryPath, std::string folder, bool all,
                            std::function<void(TZipOutcome)> done);
    // Owner thread, idle: renames the Zip file (see TZipArchive::Rename).
    TZipRenameResult Rename(const std::string& path, const std::string& newName);

    // Status line texts ("Adding: x"), at most one per kEventGap and the last one always.
    std::function<void(const std::string&)> OnStatusText;
    // Progress of an opening ("Opening Zip File..." at entries listed of the entry count), paced
    // like the texts; maximum 0 clears it.
    TZipProgressEvent OnProgress;
    // Asked (the worker waits) before an existing file is overwritten while extracting without
    // overwriting on.
    TZipReplaceEvent OnReplace;

    static constexpr std::chrono::milliseconds kEventGap{50};

private:
    using TJob = std::function<std::function<void()>()>;
    bool Start(TZipOperation operation, TJob job);
    void Run();
    TZipListing ListAll(const std::string& path, bool withProgress, bool withTree);
    void PostStatus(const std::string& text, bool force);
    void PostProgress(const std::string& text, std::int64_t position, std::int64_t maximum, bool force);

    IOwnerThread& m_owner;
    std::shared_ptr<bool> m_alive;  // posted results check it (owner thread)
    TZipOperation m_operation = TZipOperation::Idle;  // owner thread
    std::function<std::string()> m_taskZip;

    // Worker thread only, while an operation runs.
    TZipArchive m_archive;
    std::chrono::steady_clock::time_point m_lastStatus{};
    std::chrono::steady_clock::time_point m_lastProgress{};

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::optional<TJob> m_job;
    bool m_terminate = false;
    std::thread m_thread;
};

} // namespace pellix

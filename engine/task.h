// TPXTask: one download job with its task file, profile copy, download list and counters.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/download_list.h"
#include "engine/queue_item.h"
#include "links/date_time.h"
#include "links/profile.h"

namespace pellix {

class TPXApp;

// Task status codes (the numbers are those of the task file). Unscoped, so a code reads as its
// stored number where one is written or compared.
enum TTaskStatus : int {
    kStatusUnscheduled = 0,
    kStatusScheduled = 1,
    kStatusDownloading = 2,
    kStatusStopped = 3,
    kStatusIncomplete = 4,
    kStatusComplete = 5,
    kStatusZipped = 6,
    kStatusTaskComplete = 7,
    kStatusDeleted = 8,
};

// Run modes, set before a run and not stored.
enum TRunMode : int {
    kRunRestart = 0,
    kRunResume = 1,
    kRunSmartUpdate = 2,
    kRunSmartRecovery = 3,
    kRunMap = 4,
};

inline constexpr const char* kTaskSection = "Task";
inline constexpr const char* kTaskFileExtension = ".pxt";
inline constexpr const char* kDownloadListExtension = ".dwn";

// Called with a text, a position and a maximum; an empty text means "counters changed".
using TTaskProgressEvent = std::function<void(const std::string& text, std::int64_t position, std::int64_t maximum)>;
using TTaskSavedEvent = std::function<void(TPXTask& task)>;

// A file waiting to be packed into the task's Zip file, with the item whose file it is.
struct TZipQueueEntry {
    std::string path;
    TPXQItem* item = nullptr;
};

// A local write that failed for a reason every later write shares (IsRunStoppingWriteError): the
// run stops with it, and what could not be written waits for a resume.
struct TWriteFault {
    std::string path;   // the file (or Zip file) that could not be written
    std::string reason; // "disk full", "read-only file system", "permission denied", ...
};

struct TRenameResult {
    bool ok = false;
    std::string message; // the error to show when !ok
};

// Everything runs on the owner thread, except: the byte count and the pages and resources
// taken (atomics, any thread), the other counters' getters (any thread), the zip queue (its own
// lock) and the download list's picks (see TPXDownloadList).
class TPXTask final : public std::enable_shared_from_this<TPXTask> {
public:
    // An empty task: empty download list and zip queue, a fresh profile, then reset. app may be
    // null (no active-task list, no file-type groups, no user agent).
    explicit TPXTask(TPXApp* app = nullptr);
    ~TPXTask();
    TPXTask(const TPXTask&) = delete;
    TPXTask& operator=(const TPXTask&) = delete;

    TPXApp* App() const { return m_app; }

    // The task file is the task's identity.
    const std::string& TaskFile() const { return m_taskFile; }
    void SetTaskFile(std::string path) { m_taskFile = std::move(path); }

    // Persisted fields.
    const std::string& TaskName() const { return m_taskName; }
    void SetTaskName(std::string name) { m_taskName = std::move(name); }
    const std::string& URL() const { return m_url; }
    void SetURL(std::string url) { m_url = std::move(url); }
    // Any thread (the parse thread sets it).
    std::string StartPageTitle() const;
    void SetStartPageTitle(std::string title);
    const std::string& Server() const { return m_server; }
    void SetServer(std::string server) { m_server = std::move(server); }
    bool CanUpdate() const { return m_canUpdate; }
    void SetCanUpdate(bool value) { m_canUpdate = value; }
    const std::string& UserName() const { return m_userName; }
    void SetUserName(std::string name) { m_userName = std::move(name); }
    const std::string& Password() const { return m_password; }
    void SetPassword(std::string password) { m_password = std::move(password); }
    const std::string& Comment() const { return m_comment; }
    void SetComment(std::string comment) { m_comment = std::move(comment); }
    const std::string& Destination() const { return m_destination; }
    void SetDestination(std::string destination) { m_destination = std::move(destination); }
    bool IntranetMode() const { return m_intranetMode; }
    void SetIntranetMode(bool value) { m_intranetMode = value; }
    TTaskStatus Status() const { return static_cast<TTaskStatus>(m_status.load(std::memory_order_relaxed)); }
    void SetStatus(TTaskStatus status) { m_status.store(status, std::memory_order_relaxed); }
    const std::string& Schedule() const { return m_schedule; }
    void SetSchedule(std::string schedule) { m_schedule = std::move(schedule); }

    // Counters (getters any thread).
    std::int64_t TotalBytes() const { return m_totalBytes.load(std::memory_order_relaxed); }
    void SetTotalBytes(std::int64_t value) { m_totalBytes.store(value, std::memory_order_relaxed); }
    void AddTotalBytes(std::int64_t delta) { m_totalBytes.fetch_add(delta, std::memory_order_relaxed); }
    int TotalPages() const { return m_totalPages.load(std::memory_order_relaxed); }
    void SetTotalPages(int value) { m_totalPages.store(value, std::memory_order_relaxed); }
    void AddTotalPages(int delta) { m_totalPages.fetch_add(delta, std::memory_order_relaxed); }
    int TotalResources() const { return m_totalResources.load(std::memory_order_relaxed); }
    void SetTotalResources(int value) { m_totalResources.store(value, std::memory_order_relaxed); }
    void AddTotalResources(int delta) { m_totalResources.fetch_add(delta, std::memory_order_relaxed); }
    int PagesSaved() const { return m_pagesSaved.load(std::memory_order_relaxed); }
    void SetPagesSaved(int value) { m_pagesSaved.store(value, std::memory_order_relaxed); }
    void AddPagesSaved(int delta) { m_pagesSaved.fetch_add(delta, std::memory_order_relaxed); }
    int ResourcesSaved() const { return m_resourcesSaved.load(std::memory_order_relaxed); }
    void SetResourcesSaved(int value) { m_resourcesSaved.store(value, std::memory_order_relaxed); }
    void AddResourcesSaved(int delta) { m_resourcesSaved.fetch_add(delta, std::memory_order_relaxed); }
    int PageErrors() const { return m_pageErrors.load(std::memory_order_relaxed); }
    void SetPageErrors(int value) { m_pageErrors.store(value, std::memory_order_relaxed); }
    void AddPageErrors(int delta) { m_pageErrors.fetch_add(delta, std::memory_order_relaxed); }
    // Items whose reply's Content-Type gave them another local name than the one pages parsed
    // before had linked: the links to them are put right at completion. Any thread.
    int RenamedByType() const { return m_renamedByType.load(std::memory_order_relaxed); }
    void AddRenamedByType(int delta) { m_renamedByType.fetch_add(delta, std::memory_order_relaxed); }
    int ResourceErrors() const { return m_resourceErrors.load(std::memory_order_relaxed); }
    void SetResourceErrors(int value) { m_resourceErrors.store(value, std::memory_order_relaxed); }
    void AddResourceErrors(int delta) { m_resourceErrors.fetch_add(delta, std::memory_order_relaxed); }

    // Date-times; 0 is "not set". Elapsed time is a span held as a date-time.
    TDateTime ElapsedTime() const { return m_elapsedTime.load(std::memory_order_relaxed); }
    void SetElapsedTime(TDateTime value) { m_elapsedTime.store(value, std::memory_order_relaxed); }
    TDateTime LastRun() const { return m_lastRun.load(std::memory_order_relaxed); }
    void SetLastRun(TDateTime value) { m_lastRun.store(value, std::memory_order_relaxed); }
    TDateTime NextRun() const { return m_nextRun.load(std::memory_order_relaxed); }
    void SetNextRun(TDateTime value) { m_nextRun.store(value, std::memory_order_relaxed); }

    // In memory only.
    TPXProfile& Profile() { return *m_profile; }
    const TPXProfile& Profile() const { return *m_profile; }
    TPXDownloadList& DownloadList() { return *m_list; }
    const TPXDownloadList& DownloadList() const { return *m_list; }
    TRunMode RunMode() const { return m_runMode; }
    void SetRunMode(TRunMode mode) { m_runMode = mode; }
    bool ZipLast() const { return m_zipLast; }
    void SetZipLast(bool value) { m_zipLast = value; }
    // Picks of the current run (the coordinator's thread counts them).
    int PagesTaken() const { return m_pagesTaken.load(std::memory_order_relaxed); }
    void AddPageTaken() { m_pagesTaken.fetch_add(1, std::memory_order_relaxed); }
    int ResourcesTaken() const { return m_resourcesTaken.load(std::memory_order_relaxed); }
    void AddResourceTaken() { m_resourcesTaken.fetch_add(1, std::memory_order_relaxed); }
    // A pick that went back to waiting without a transfer is not counted.
    void ReturnTaken(bool page) { (page ? m_pagesTaken : m_resourcesTaken).fetch_sub(1, std::memory_order_relaxed); }
    void ResetTaken();
    // The moment elapsed time is measured from.
    TDateTime RunStartTime() const { return m_runStartTime.load(std::memory_order_relaxed); }
    // The application's current user-agent text.
    std::string UserAgent() const;

    // Zip queue (any thread).
    void AppendToZipQueue(std::string path, TPXQItem* item);
    std::optional<TZipQueueEntry> TakeFromZipQueue();
    std::size_t ZipQueueCount() const;
    void ClearZipQueue();

    // The folder the task's files are written to: the destination folder in Personal Intranet
    // Mode; in zip mode a working folder of this task alone under the temp folder, named after
    // its task file so that a later process resumes with the same copies. Ends with "/".
    std::string WorkFolder() const;
    // Where an item's file of that address is (or will be) saved: LocalFileName under WorkFolder.
    // typeExtension: the item's (TPXQItem::TypeExtension).
    std::string LocalFileOf(const std::string& url, const std::string& typeExtension = {}) const;

    // Write faults (any thread). The first fault of a run is kept, later ones are dropped; the
    // listener (optional) is called on the recording thread, outside the task's locks, once per
    // fault kept.
    void RecordWriteFault(std::string path, std::string reason);
    std::optional<TWriteFault> WriteFault() const;
    void ClearWriteFault();
    void SetOnWriteFault(std::function<void()> listener);

    // Notifications, both optional.
    void SetOnSaved(TTaskSavedEvent event) { m_onSaved = std::move(event); }
    void SetOnProgress(TTaskProgressEvent event) { m_onProgress = std::move(event); }
    void NotifyProgress(const std::string& text, std::int64_t position, std::int64_t maximum) const;
    // Where "now" comes from (tests pin it).
    void SetClock(std::function<TDateTime()> clock) { m_clock = std::move(clock); }

    // Empties the download list, the URL index, the zip queue and the view's rows.
    void Clear();
    // Clear, then zero the counters and times of a fresh run; reads "Zip Last", the task's own
    // value being the default.
    void Reset();
    // Reads the task file (the "Task" section, then the profile). Missing keys read as their
    // defaults and unreadable date-times as 0. A file is refused (false, with a reason; the task
    // keeps its fields and nothing is written) when it cannot be read, is too large to be a task
    // file, has no "Task" section ("Not a Pellix task file: <path> ...") or no start address.
    bool Load(std::string* error = nullptr);
    // Writes the task file (owner-only when it holds a password), brings "ActiveTasks.lst" up
    // to date and calls the on-saved notification. False with a reason when a file could not be
    // written.
    bool Save(std::string* error = nullptr);
    // Renames the task file (and its download list file) within its folder; then saves.
    TRenameResult Rename(const std::string& newName);

    // Starts a fresh run: times, and the start URL as the first item.
    void BeginRun();
    // Resumes: elapsed time carries on from its stored value.
    void ContinueRun();
    // Prepares the task by its run mode and sets status "Downloading...": resume, update and
    // retry load the list unless listInMemory says the one in memory is to be used; restart and
    // map reset and begin a run. A list loaded whole from its file then gives the counters
    // (RecountFromList) and, when the task has none, the start page title
    // (RecoverStartPageTitle), before update and retry prepare their items. The task is saved.
    // The list's load result is returned; when it failed, nothing else was done (the status is
    // unchanged and the task not saved).
    TListResult PrepareRun(bool listInMemory);
    // Sets the counters from the states of the list's items (TPXDownloadList::CountStates), so
    // that they cover every process that worked on the task: totals, saved and error counts as
    // the list has them; "Total Bytes" rises to the bytes the items hold when it was below.
    void RecountFromList();
    // A task without a start page title takes the title of the list's start item (the first
    // pair, depth 0), which the parse thread stored there with the page.
    void RecoverStartPageTitle();

    // A new item for url: base URL and file-type group worked out, state 0, the given action.
    std::unique_ptr<TPXQItem> MakeItem(const std::string& url, int action) const;
    // The task file's folder, the task's name and ".dwn".
    std::filesystem::path DefaultDownloadListPath() const;

    static std::string StatusText(int code);

private:
    TDateTime CurrentTime() const;
    bool UpdateActiveTaskList(std::string* error);

    TPXApp* m_app;
    std::string m_taskFile;

    std::string m_taskName;
    std::string m_url;
    mutable std::mutex m_titleMutex; // the parse thread sets the title
    std::string m_startPageTitle;
    std::string m_server;
    bool m_canUpdate = false;
    std::string m_userName;
    std::string m_password;
    std::string m_comment;
    std::string m_destination;
    bool m_intranetMode = false;
    std::atomic<int> m_status{kStatusUnscheduled};
    std::string m_schedule;
    std::atomic<std::int64_t> m_totalBytes{0};
    std::atomic<int> m_totalPages{0};
    std::atomic<int> m_totalResources{0};
    std::atomic<int> m_pagesSaved{0};
    std::atomic<int> m_resourcesSaved{0};
    std::atomic<int> m_pageErrors{0};
    std::atomic<int> m_renamedByType{0};
    std::atomic<int> m_resourceErrors{0};
    std::atomic<TDateTime> m_elapsedTime{0};
    std::atomic<TDateTime> m_lastRun{0};
    std::atomic<TDateTime> m_nextRun{0};

    std::unique_ptr<TPXProfile> m_profile;
    std::unique_ptr<TPXDownloadList> m_list;
    TRunMode m_runMode = kRunRestart;
    bool m_zipLast = false;
    std::atomic<int> m_pagesTaken{0};
    std::atomic<int> m_resourcesTaken{0};
    std::atomic<TDateTime> m_runStartTime{0};

    mutable std::mutex m_faultMutex;
    std::optional<TWriteFault> m_writeFault;
    std::function<void()> m_onWriteFault;

    mutable std::mutex m_zipMutex;
    std::deque<TZipQueueEntry> m_zipQueue;

    TTaskSavedEvent m_onSaved;
    TTaskProgressEvent m_onProgress;
    std::function<TDateTime()> m_clock;
};

} // namespace pellix

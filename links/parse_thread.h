// TThreadParse: turns saved pages into new queue items and rewrites their links for offline use.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "links/page_rewriter.h" // the link tables, which link repair shares

namespace pellix {

class IOwnerThread;
class TPageLinkKeys;
class TParseLinkClaims;
class TPXDownloadList;
class TPXTask;
class TPXQItem;

// The status text of a page or style sheet above the parsed-size limit ("Max Parsed Page Size"),
// followed by the limit ("16 MB"): it is saved and packed as it came, but not scanned for links.
inline constexpr const char* kNotScannedText = "Saved, not scanned for links: larger than ";

// Status texts for the status line (empty: clear it). Called on the parse thread, as often as
// once per link: the receiver throttles what it shows.
using TParseStatusEvent = std::function<void(const std::string& text)>;
// New items were handed to the owner thread for the task's list; called on the parse thread.
// They are in the list before anything the owner thread is asked to do later.
using TParseQueuedEvent = std::function<void()>;
// A file was added to the task's zip queue; called on the parse thread right after.
using TParseZipQueuedEvent = std::function<void()>;
// Writes a rewritten page in place of the saved one; false with the reason in error and errno
// set, as the atomic writers leave it (a full or read-only disk stops the run).
using TPageWriter = std::function<bool(const std::filesystem::path& path, std::string_view data, std::string* error)>;

// Threads for the life of the program, waiting while they have no task or are stopped.
//
// Each takes the task's saved pages and style sheets one at a time, in list order, skipping those
// another holds: reads the
// file (one above the "Max Parsed Page Size" setting is marked "Parsed" as it came, unscanned, so
// that memory stays bounded whatever a server sends), has TPageRewriter find, test and rewrite
// its links with the task's profile and settings, adds the new links it accepted to the list
// after each pass, writes the page back atomically and marks it "Parsed" with its title. The
// first page of a run that carries the banner block also writes the banner page it loads at the
// root of the saved site (in zip mode it is queued for packing like a page, with no item).
// Pages rewritten at the same time claim their new links, so that a link two of them find is
// queued once and named alike in both.
//
// Item reloads, state changes, write-backs and adds run on the owner thread through Call; the
// page file is read, scanned and written on this thread. A page in progress is finished before
// a stop takes effect. Links found in a page are resolved against the address it was finally
// served from, while the rewritten links are made relative to where the page itself is saved.
// A write-back that fails for a reason every later write shares (a full or read-only disk) is
// recorded as the task's write fault and leaves the page "Saved"; no page is taken while the
// fault stands (the run is being stopped), and a resume parses it again.
class TThreadParse final {
public:
    using TClock = std::chrono::steady_clock;

    static constexpr unsigned kMaxThreads = 4;

    // threads: how many pages are parsed at a time (at least one).
    explicit TThreadParse(IOwnerThread& owner, unsigned threads = 1);
    // Ends the thread and waits for it. Must not run on the owner thread while a task is set
    // (the page in progress may be waiting for that thread).
    ~TThreadParse();
    TThreadParse(const TThreadParse&) = delete;
    TThreadParse& operator=(const TThreadParse&) = delete;

    // Sets the running task, clears the stop flag and lets the thread work.
    void Start(std::shared_ptr<TPXTask> task);
    // Sets the stop flag; the thread finishes the page in progress and then waits.
    void Stop();
    bool Stopped() const;
    // A page was saved (or anything else changed): look for work now rather than at the end of
    // the idle wait.
    void Wake();

    // The thread count for this machine: one per core and one more, at most four (a thread that
    // waits for the owner thread or the list leaves its core to another).
    static unsigned DefaultThreadCount();

    // Waits until no page is in progress and the threads are either stopped or have found no saved
    // page since the last Start or Wake. False at the deadline. Not on the owner thread.
    bool WaitForIdle(TClock::time_point deadline);
    // Pages processed since construction (any outcome).
    std::uint64_t PagesProcessed() const;

    // Set before Start; both optional.
    void SetOnStatus(TParseStatusEvent event) { m_onStatus = std::move(event); }
    void SetOnItemsQueued(TParseQueuedEvent event) { m_onItemsQueued = std::move(event); }
    void SetOnZipQueued(TParseZipQueuedEvent event) { m_onZipQueued = std::move(event); }
    // How pages are written back: ReplaceFileInWorkFolder (Zip mode) or ReplaceFileQuickly
    // (Intranet Mode) unless replaced (a test's full disk).
    void SetPageWriter(TPageWriter writer) { m_writePage = std::move(writer); }
    // Where the link keys of each page written back go (none: not recorded); Start clears them.
    // Any thread.
    void SetLinkKeys(std::shared_ptr<TPageLinkKeys> keys);

    // The longest idle wait between looks at the download list.
    static constexpr std::chrono::milliseconds kIdleWait{500};

private:
    enum class TStep { NoPage, Done, OwnerGone };

    void Run();
    // What one parse thread keeps from page to page of a run.
    struct TThreadState;
    TStep ProcessNextPage(const std::shared_ptr<TPXTask>& task, TThreadState& state);
    TStep ProcessPage(const std::shared_ptr<TPXTask>& task, TPXQItem& page, TThreadState& state);
    // A saved page that no other thread holds, now held by this one; null when there is none.
    TPXQItem* HoldNextPage(TPXTask& task);
    void Release(const TPXQItem& page);
    void ShowStatus(const std::string& text) const;
    void QueueForZip(TPXTask& task, const std::string& path, TPXQItem* item) const;
    // At a run's first look for pages: queues for packing a banner page that an earlier run left.
    void RepackEarlierBannerPage(TPXTask& task);
    // Writes the banner page that the run's saved pages link to, the first time one gets the block.
    void WriteBannerPage(TPXTask& task, const std::string& path, const std::string& startURL, bool zipMode);

    IOwnerThread& m_owner;
    TParseStatusEvent m_onStatus;
    TParseQueuedEvent m_onItemsQueued;
    TParseZipQueuedEvent m_onZipQueued;
    TPageWriter m_writePage;

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::shared_ptr<TPXTask> m_task;
    std::shared_ptr<TPageLinkKeys> m_linkKeys;
    bool m_stop = true;
    bool m_terminate = false;
    int m_busy = 0;           // pages in progress
    bool m_foundNone = false; // the last look found no saved page, and nothing woke us since
    bool m_bannerDue = false; // this run has not written the banner page yet
    bool m_bannerLookDue = false; // this run has not looked for an earlier run's banner page
    std::uint64_t m_wakeGeneration = 0;
    std::uint64_t m_runs = 0; // Start calls: each run resolves its links afresh
    std::uint64_t m_pagesProcessed = 0;
    std::unordered_set<const TPXQItem*> m_held; // pages in progress

    // The new links of pages in progress (several threads only); shared with the adds that
    // wait on the owner thread.
    std::shared_ptr<TParseLinkClaims> m_claims;

    std::vector<std::thread> m_threads;
};

} // namespace pellix

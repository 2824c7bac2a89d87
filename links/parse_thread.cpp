// TThreadParse: turns saved pages into new queue items and rewrites their links for offline use.
#include "links/parse_thread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/download_list.h"
#include "engine/owner_thread.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/banner.h"
#include "links/date_time.h"
#include "links/file_io.h"
#include "links/file_types.h"
#include "links/page_link_keys.h"
#include "links/page_rewriter.h"
#include "links/resolved_link_cache.h"
#include "links/url_rules.h"
#include "workspace/app_settings.h"

namespace pellix {

struct TThreadParse::TThreadState {
    TResolvedLinkCache resolvedLinks;
    std::string spareFile; // the copy the last page written back replaced: the next one is written into it
};

// Accepted new links by URL index key, with the type extension of the page that claimed them,
// until their items are in the list.
class TParseLinkClaims final {
public:
    // Nothing: the link is the caller's to queue; otherwise the extension it is known by. The list
    // is asked under the lock: a claim is dropped only after its item is in the list, so a link
    // is either claimed or listed at every moment and never queued twice.
    std::optional<std::string> Claim(const TPXDownloadList& list, const std::string& url, const std::string& key,
                                     const std::string& typeExtension)
    {
        std::lock_guard lock(m_mutex);
        if (const auto found = m_extensions.find(key); found != m_extensions.end())
            return found->second;
        if (list.ContainsURL(url))
            return list.TypeExtensionOf(url);
        m_extensions.emplace(key, typeExtension);
        return std::nullopt;
    }

    std::optional<std::string> ExtensionOf(std::string_view url)
    {
        const std::string key = URLIndexKey(url);
        std::lock_guard lock(m_mutex);
        if (const auto found = m_extensions.find(key); found != m_extensions.end())
            return found->second;
        return std::nullopt;
    }

    void Drop(const std::vector<std::string>& keys)
    {
        std::lock_guard lock(m_mutex);
        for (const std::string& key : keys)
            m_extensions.erase(key);
    }

    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_extensions.clear();
    }

private:
    std::mutex m_mutex;
    std::unordered_map<std::string, std::string> m_extensions;
};

namespace {

// "32 MB", "200 KB", "1000 bytes".
std::string SizeText(std::int64_t bytes)
{
    constexpr std::int64_t kMB = 1024 * 1024;
    if (bytes >= kMB && bytes % kMB == 0)
        return std::to_string(bytes / kMB) + " MB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes / 1024) + " KB";
    return std::to_string(bytes) + " bytes";
}

enum class TPageRead { Ok, Unreadable, TooLarge };

// Reads a saved page whole, unless it holds more than limit bytes (0: no limit). The text is
// allocated once at the file's size, where a stream read would grow a buffer to twice that.
TPageRead ReadPage(const std::string& path, std::int64_t limit, std::string& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return TPageRead::Unreadable;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return TPageRead::Unreadable;
    }
    if (limit > 0 && info.st_size > limit) {
        ::close(fd);
        return TPageRead::TooLarge;
    }
    text.clear();
    text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return TPageRead::Unreadable;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (limit > 0 && static_cast<std::int64_t>(text.size()) > limit) {
            // It grew since the look at its size.
            ::close(fd);
            text.clear();
            text.shrink_to_fit();
            return TPageRead::TooLarge;
        }
    }
    ::close(fd);
    return TPageRead::Ok;
}

// What the parse needs of the page item beyond what the rewriter needs, copied on the owner thread.
struct TPageSnapshot {
    std::string localPath;
    std::string workFolder; // the root of the saved site
    std::string bannerPath; // the banner page there
    std::string startURL;
    bool intranet = false;
    std::int64_t maxParsedSize = TPXApp::kDefaultMaxParsedPageSize;
};

// Follows the rewrite of one page for the parse thread: the status line, the start page's
// title, and the new links of each pass added to the list through the owner thread.
class TParseObserver final : public IPageRewriteObserver {
public:
    // claims (several parse threads): where the links this page queues are claimed.
    TParseObserver(IOwnerThread& owner, std::shared_ptr<TPXTask> task, const TPageRewriteInput& input,
                   const TParseStatusEvent& onStatus, const TParseQueuedEvent& onItemsQueued,
                   std::string folderRoot, std::shared_ptr<TParseLinkClaims> claims)
        : m_owner(owner), m_task(std::move(task)), m_input(input), m_onStatus(onStatus),
          m_onItemsQueued(onItemsQueued), m_folderRoot(std::move(folderRoot)), m_claims(std::move(claims))
    {
    }

    // A file that an earlier run saved under the page rule (a versioned style sheet named
    // ".html") gets its present name too: the page now links that name, pages not parsed again
    // still link the old one, and an update run need not fetch an unchanged file again.
    void OnLink(const TRewritePass& pass, const TLinkDecision& decision) override
    {
        m_linkKeys.Add(pass, decision);
        if (m_folderRoot.empty() || decision.converted == nullptr || decision.url.empty())
            return;
        const std::string url = StripAnchor(decision.url);
        const std::string legacy = LegacyLocalFileName(m_folderRoot, url);
        if (legacy.empty())
            return;
        const std::string current = LocalFileName(m_folderRoot, "", url, decision.typeExtension);
        std::error_code ec;
        if (std::filesystem::exists(current, ec) || !std::filesystem::is_regular_file(legacy, ec))
            return;
        // Neither call replaces a file that a transfer has just written.
        std::filesystem::create_hard_link(legacy, current, ec);
        if (ec)
            std::filesystem::copy_file(legacy, current, ec);
    }

    void OnStart(std::string_view /*text*/, const std::string& title) override
    {
        if (!m_input.styleSheet && m_input.depth == 0)
            m_task->SetStartPageTitle(title);
    }

    void OnProgress(const TRewritePass& /*pass*/, const TPassCounts& counts) override
    {
        if (m_onStatus)
            m_onStatus(ParsingStatusText(counts));
    }

    // Accepted new links go into the list after each pass, so the coordinator can fetch them
    // while the rest of the page is scanned.
    bool OnPassEnd(const TPassReport& /*report*/, std::vector<TQueuedLink>& queued) override
    {
        if (m_onStatus)
            m_onStatus("");
        return HandOver(queued);
    }

    bool OnLinksQueued(const TRewritePass& /*pass*/, std::vector<TQueuedLink>& queued) override
    {
        return HandOver(queued);
    }

    std::vector<std::uint64_t> TakeLinkKeys() { return m_linkKeys.Take(); }

private:
    // The links go to the list through the owner thread.
    bool HandOver(std::vector<TQueuedLink>& queued)
    {
        if (queued.empty())
            return true;
        auto items = std::make_shared<std::vector<std::unique_ptr<TPXQItem>>>();
        items->reserve(queued.size());
        std::vector<std::string> keys;
        if (m_claims) {
            keys.reserve(queued.size());
            for (const TQueuedLink& link : queued)
                keys.push_back(URLIndexKey(link.url));
        }
        for (TQueuedLink& link : queued) {
            auto item = std::make_unique<TPXQItem>(std::move(link.url), std::move(link.typeGroup), link.action);
            item->SetTitle(std::move(link.title));
            item->SetParentURL(std::move(link.parentURL));
            item->SetDepth(link.depth);
            item->SetTypeExtension(std::move(link.typeExtension));
            if (link.framed)
                item->SetFrameFlag("Y");
            items->push_back(std::move(item));
        }
        queued.clear();
        // Not waited for: the page's own later passes know its links, other pages ask the claims,
        // and the page's "Parsed" is recorded after the adds, by the same thread.
        const bool ok = m_owner.Post([task = m_task, items, claims = m_claims, keys = std::move(keys)] {
            for (std::unique_ptr<TPXQItem>& item : *items) {
                item->SetState(kStateNone);
                task->DownloadList().AddItem(std::move(item));
            }
            // Dropped once the list holds them, so that they are known all the time.
            if (claims)
                claims->Drop(keys);
        });
        if (ok && m_onItemsQueued)
            m_onItemsQueued();
        return ok; // the owner thread is gone: stop the page
    }

    IOwnerThread& m_owner;
    std::shared_ptr<TPXTask> m_task;
    const TPageRewriteInput& m_input;
    const TParseStatusEvent& m_onStatus;
    const TParseQueuedEvent& m_onItemsQueued;
    std::string m_folderRoot; // the saved site's folder in Intranet Mode; empty for a Zip
    std::shared_ptr<TParseLinkClaims> m_claims;
    TLinkKeyList m_linkKeys;
};

} // namespace

TThreadParse::TThreadParse(IOwnerThread& owner, unsigned threads) : m_owner(owner)
{
    threads = std::max(threads, 1u);
    if (threads > 1)
        m_claims = std::make_shared<TParseLinkClaims>();
    m_threads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { Run(); });
}

unsigned TThreadParse::DefaultThreadCount()
{
    return std::clamp(std::thread::hardware_concurrency() + 1, 2u, kMaxThreads);
}

TThreadParse::~TThreadParse()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
    }
    m_cv.notify_all();
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

void TThreadParse::Start(std::shared_ptr<TPXTask> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_task = std::move(task);
        // Keys of another run's pages may no longer describe what their files hold.
        if (m_linkKeys)
            m_linkKeys->Clear();
        m_stop = false;
        ++m_runs;
        m_foundNone = false;
        m_bannerDue = true;
        m_bannerLookDue = true;
        ++m_wakeGeneration;
    }
    if (m_claims)
        m_claims->Clear();
    m_cv.notify_all();
}

void TThreadParse::SetLinkKeys(std::shared_ptr<TPageLinkKeys> keys)
{
    std::lock_guard lock(m_mutex);
    m_linkKeys = std::move(keys);
}

void TThreadParse::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
}

bool TThreadParse::Stopped() const
{
    std::lock_guard lock(m_mutex);
    return m_stop;
}

void TThreadParse::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_foundNone = false;
        ++m_wakeGeneration;
    }
    m_cv.notify_all();
}

bool TThreadParse::WaitForIdle(TClock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_until(lock, deadline, [this] { return m_busy == 0 && (m_stop || m_foundNone || m_terminate); });
}

std::uint64_t TThreadParse::PagesProcessed() const
{
    std::lock_guard lock(m_mutex);
    return m_pagesProcessed;
}

void TThreadParse::Run()
{
    TThreadState state;
    std::uint64_t stateRun = 0; // the run it was kept for
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_terminate)
            return;
        if (m_stop || !m_task) {
            m_cv.notify_all(); // WaitForIdle
            m_cv.wait(lock, [this] { return m_terminate || (!m_stop && m_task); });
            continue;
        }
        const std::shared_ptr<TPXTask> task = m_task;
        const std::uint64_t generation = m_wakeGeneration;
        const std::uint64_t run = m_runs;
        ++m_busy;
        lock.unlock();
        if (stateRun != run) {
            // Another task, or a run that may follow another profile or another working folder.
            state.resolvedLinks.Clear();
            state.spareFile.clear();
            stateRun = run;
        }
        const TStep step = ProcessNextPage(task, state);
        lock.lock();
        --m_busy;
        if (step == TStep::Done) {
            ++m_pagesProcessed;
            continue; // the next page at once
        }
        if (generation == m_wakeGeneration && step == TStep::NoPage)
            m_foundNone = true;
        m_cv.notify_all();
        m_cv.wait_for(lock, kIdleWait, [this, generation] {
            return m_terminate || m_stop || m_wakeGeneration != generation;
        });
    }
}

void TThreadParse::ShowStatus(const std::string& text) const
{
    if (m_onStatus)
        m_onStatus(text);
}

void TThreadParse::QueueForZip(TPXTask& task, const std::string& path, TPXQItem* item) const
{
    task.AppendToZipQueue(path, item);
    if (m_onZipQueued)
        m_onZipQueued();
}

TThreadParse::TStep TThreadParse::ProcessNextPage(const std::shared_ptr<TPXTask>& held, TThreadState& state)
{
    TPXTask& task = *held;
    // A page that could not be written back stays "Saved": while the task's write fault stands
    // (the run is being stopped) no page is taken, or the same one would be taken again and again.
    if (task.WriteFault())
        return TStep::NoPage;
    RepackEarlierBannerPage(task);
    TPXQItem* page = HoldNextPage(task);
    if (page == nullptr)
        return TStep::NoPage;
    const TStep step = ProcessPage(held, *page, state);
    Release(*page);
    return step;
}

TPXQItem* TThreadParse::HoldNextPage(TPXTask& task)
{
    const TPXDownloadList& list = task.DownloadList();
    if (m_threads.size() == 1)
        return list.NextSavedPage();
    for (;;) {
        std::unordered_set<const TPXQItem*> held;
        {
            std::lock_guard lock(m_mutex);
            held = m_held;
        }
        // The others hold at most one page each: a longer look is never needed.
        TPXQItem* page = list.NextSavedPageWhere([&](const TPXQItem& item) { return !held.contains(&item); },
                                                 m_threads.size());
        if (page == nullptr)
            return nullptr;
        std::lock_guard lock(m_mutex);
        if (m_held.insert(page).second)
            return page;
        // Taken by another thread meanwhile: look again.
    }
}

void TThreadParse::Release(const TPXQItem& page)
{
    if (m_threads.size() == 1)
        return;
    std::lock_guard lock(m_mutex);
    m_held.erase(&page);
}

TThreadParse::TStep TThreadParse::ProcessPage(const std::shared_ptr<TPXTask>& held, TPXQItem& page,
                                              TThreadState& state)
{
    TPXTask& task = *held;
    TPageRewriteInput input;
    TPageSnapshot snapshot;
    bool stillSaved = false;
    const bool called = m_owner.Call([&] {
        page.Reload();
        stillSaved = page.State() == kStateSaved && page.IsLinkSource();
        input.styleSheet = page.IsStyleSheet();
        input.url = page.URL();
        // A transfer that followed redirects leaves the final folder as the item's base URL.
        input.servedFolder = page.BaseURL().empty() ? URLDirectory(page.URL()) : page.BaseURL();
        input.depth = page.Depth();
        input.action = page.Action();
        input.framed = page.FrameFlag() == "Y";
        if (page.LocalPath().empty())
            page.SetLocalPath(task.LocalFileOf(page.URL(), page.TypeExtension()));
        snapshot.localPath = page.LocalPath();
        // The start URL is the list's first item.
        input.startURL = task.DownloadList().Count() > 0 ? task.DownloadList().Line(0) : task.URL();
        snapshot.startURL = input.startURL;
        snapshot.workFolder = task.WorkFolder();
        if (!snapshot.workFolder.empty())
            snapshot.bannerPath = snapshot.workFolder + kBannerPageName;
        snapshot.intranet = task.IntranetMode();
        // The profile is not changed while a task runs.
        input.aggressiveParser = task.Profile().AggressiveParser();
        input.convertFollowedLinks = task.Profile().ConvertFollowedLinks();
        input.convertUnfollowedLinks = task.Profile().ConvertUnfollowedLinks();
        if (TPXApp* app = task.App()) {
            input.noAds = app->NoAds();
            snapshot.maxParsedSize = app->MaxParsedPageSize();
            input.groups = ReadFileTypeGroups(app->Store());
        }
    });
    if (!called)
        return TStep::OwnerGone;
    if (!stillSaved)
        return TStep::Done; // picked by another path meanwhile; the next look finds the right one

    // Every way out below ends with the page out of "Saved", so it is never picked again.
    auto finish = [&](TItemState state, const std::string& statusText, const std::string& title) {
        return m_owner.Call([&] {
            if (!title.empty())
                page.SetTitle(title);
            if (!statusText.empty())
                page.SetStatusText(statusText);
            if (state == kStateError)
                task.AddPageErrors(1);
            page.SetState(state);
            page.WriteBack(true);
        });
    };

    ShowStatus("Loading Page: " + snapshot.localPath);
    std::error_code ec;
    if (snapshot.localPath.empty() || !std::filesystem::exists(snapshot.localPath, ec)) {
        // Fetch it again.
        ShowStatus("");
        return finish(kStateNone, "", "") ? TStep::Done : TStep::OwnerGone;
    }
    const bool zipMode = !snapshot.intranet;
    const std::string& localPath = snapshot.localPath;
    std::string text;
    const TPageRead outcome = ReadPage(localPath, snapshot.maxParsedSize, text);
    if (outcome == TPageRead::Unreadable) {
        ShowStatus("");
        return finish(kStateError, "Cannot read the saved page", "") ? TStep::Done : TStep::OwnerGone;
    }
    if (outcome == TPageRead::TooLarge) {
        // Scanning and rewriting hold the page in memory more than once: a page above the limit
        // is kept as it came, links and all, and packed like any other.
        ShowStatus("");
        if (!finish(kStateParsed, kNotScannedText + SizeText(snapshot.maxParsedSize), ""))
            return TStep::OwnerGone;
        if (zipMode)
            QueueForZip(task, localPath, &page);
        return TStep::Done;
    }
    if (text.empty()) {
        // Nothing to scan or rewrite; the file stays as it is.
        ShowStatus("");
        if (!finish(kStateParsed, "", ""))
            return TStep::OwnerGone;
        if (zipMode)
            QueueForZip(task, localPath, &page);
        return TStep::Done;
    }

    const TPXProfile& profile = task.Profile();
    const TPXDownloadList& list = task.DownloadList();
    TParseLinkClaims* claims = m_claims.get();
    // The rewriter asks whether a link is known, then for its extension: one look at the claims
    // serves both. A claim made meanwhile by another page is caught by Claim itself.
    struct TClaimLook {
        std::string url;
        std::optional<std::string> extension;
    } last;
    const auto claimed = [claims, &last](std::string_view url) -> const std::optional<std::string>& {
        if (last.url != url) {
            last.url = url;
            last.extension = claims->ExtensionOf(url);
        }
        return last.extension;
    };
    TPageRewriter rewriter(
        std::move(input),
        [&profile](std::string_view url, std::string_view startFolder, int level, std::string_view group) {
            return profile.AcceptLink(url, startFolder, level, group);
        },
        [&list, claims, &claimed](std::string_view url) {
            // Claims first: one is dropped only once its item is in the list.
            return (claims && claimed(url).has_value()) || list.ContainsURL(url);
        },
        [&list, claims, &claimed](std::string_view url) {
            // Claimed links are not in the list yet; once they are, the list answers.
            if (claims && claimed(url))
                return *claimed(url);
            return list.TypeExtensionOf(url);
        });
    rewriter.SetResolvedLinks(&state.resolvedLinks);
    if (claims)
        rewriter.SetClaim([claims, &list](const std::string& url, const std::string& key,
                                          const std::string& typeExtension) {
            return claims->Claim(list, url, key, typeExtension);
        });
    TParseObserver observer(m_owner, held, rewriter.Input(), m_onStatus, m_onItemsQueued,
                            zipMode ? std::string() : snapshot.workFolder, m_claims);
    TPageRewrite rewrite = rewriter.Rewrite(std::move(text), &observer);
    if (rewrite.stopped)
        return TStep::OwnerGone;

    ShowStatus("Saving Changes: " + localPath);
    std::string error;
    errno = 0;
    // A Zip task's working folder is removed whole at completion: the downloaded copy may wait
    // there until then, and takes the next page's rewritten text instead of a new file.
    const bool written = m_writePage ? m_writePage(localPath, rewrite.text, &error)
                         : zipMode   ? ReplaceFileInWorkFolder(localPath, rewrite.text, &error, &state.spareFile)
                                     : ReplaceFileQuickly(localPath, rewrite.text, &error);
    const int writeError = errno;
    ShowStatus("");
    if (!written) {
        if (IsRunStoppingWriteError(writeError)) {
            // Every later write would fail the same way: the page stays "Saved" with its file as
            // it came, the links it queued stay queued, and a resume parses it again.
            task.RecordWriteFault(localPath, WriteErrorReason(writeError));
            return TStep::Done;
        }
        const std::string reason = writeError != 0 ? WriteErrorReason(writeError) : error;
        return finish(kStateError, "Error: Failed to create file: " + localPath + " (" + reason + ")", rewrite.title)
                   ? TStep::Done
                   : TStep::OwnerGone;
    }
    {
        // A page finished after another task started says nothing about that task's pages.
        std::lock_guard lock(m_mutex);
        if (m_linkKeys && m_task.get() == &task)
            m_linkKeys->Set(rewriter.Input().url, observer.TakeLinkKeys());
    }
    if (!finish(kStateParsed, "", rewrite.title))
        return TStep::OwnerGone;
    if (zipMode)
        QueueForZip(task, localPath, &page);
    if (HasBanner(rewrite.text))
        WriteBannerPage(task, snapshot.bannerPath, snapshot.startURL, zipMode);
    return TStep::Done;
}

void TThreadParse::RepackEarlierBannerPage(TPXTask& task)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_bannerLookDue)
            return;
        m_bannerLookDue = false;
    }
    // A run resumed by a new process may parse no page at all: the banner page that the earlier
    // process wrote in the temp folder goes into the Zip with the files it left unpacked.
    std::string path;
    bool zipMode = false;
    if (!m_owner.Call([&] {
            zipMode = !task.IntranetMode();
            if (const std::string root = task.WorkFolder(); !root.empty())
                path = root + kBannerPageName;
        }))
        return;
    std::error_code ec;
    if (!zipMode || path.empty() || !std::filesystem::is_regular_file(path, ec))
        return;
    {
        std::lock_guard lock(m_mutex);
        m_bannerDue = false;
    }
    QueueForZip(task, path, nullptr);
}

void TThreadParse::WriteBannerPage(TPXTask& task, const std::string& path, const std::string& startURL, bool zipMode)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_bannerDue || path.empty())
            return;
        m_bannerDue = false;
    }
    // Once per run: the page carries the run's date, and a Zip gets the entry again (replacing
    // the last run's) even when the temp folder still holds the file.
    std::string error;
    if (!ReplaceFileQuickly(path, LocalBannerPage(startURL, Now()), &error)) {
        // The saved pages still work; their banner box stays empty. The next page tries again.
        std::lock_guard lock(m_mutex);
        m_bannerDue = true;
        return;
    }
    if (zipMode)
        QueueForZip(task, path, nullptr);
}

} // namespace pellix

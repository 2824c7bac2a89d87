// TThreadParse: turns saved pages into new queue items and rewrites their links for offline use.
#include "links/parse_thread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/download_list.h"
#include "engine/owner_thread.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/banner.h"
#include "links/css_scanner.h"
#include "links/file_io.h"
#include "links/file_types.h"
#include "links/html_parser.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "workspace/app_settings.h"

namespace pellix {

namespace {

std::string WithTrailingSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

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

// What the parse needs of the page item, the task and the settings, copied on the owner thread.
struct TPageSnapshot {
    std::string url;          // the item's URL: its local file and parent of its links
    std::string servedFolder; // folder of the address the page finally came from (redirects)
    std::string localPath;
    std::string startURL;
    std::string frameFlag;
    int depth = 0;
    int action = kActionDownload;
    bool noAds = false;
    bool intranet = false;
    bool styleSheet = false;
    std::int64_t maxParsedSize = TPXApp::kDefaultMaxParsedPageSize;
    std::vector<TFileTypeGroup> groups;
};

// The work on one page's text, on the parse thread.
class TPageJob final {
public:
    TPageJob(const TPXTask& task, TPageSnapshot snapshot, std::string text)
        : m_task(task), m_page(std::move(snapshot)), m_text(std::move(text))
    {
        m_ownFolder = URLDirectory(m_page.url);
        m_startFolder = URLDirectory(m_page.startURL);
        m_startRoot = URLAncestor(m_startFolder, 0);
    }

    std::string& Text() { return m_text; }

    // Reads and removes the first BASE tag. Its folder becomes the base links resolve against.
    void TakeBase()
    {
        TPXParser parser(m_text, "BASE", ">", "HREF");
        const std::string value = parser.Next();
        if (value.empty())
            return;
        const std::size_t open = parser.TagStart();
        const std::size_t close = parser.TagClose();
        m_text.erase(open - 1, close - open + 1);
        m_baseURL = URLDirectory(ResolveURL(value, m_page.servedFolder));
    }

    std::string Title() const { return CleanText(TextBetween(m_text, "<TITLE>", "</TITLE>")); }

    // One pass; the accepted new links are appended to queued in the order found.
    template <typename TStatus>
    void RunPass(const std::string& tag, const std::string& tagEnd, const std::string& attribute,
                 TParserMode mode, std::vector<std::unique_ptr<TPXQItem>>& queued,
                 const TStatus& status)
    {
        TCounts counts;
        TPXParser parser(std::move(m_text), tag, tagEnd, attribute, mode);
        while (!parser.Finished()) {
            const std::string value = parser.Next();
            if (!value.empty() && value[0] != '#')
                HandleValue(parser, value, tag, attribute, queued, counts);
            status(counts.links, counts.newLinks);
        }
        m_text = parser.TakeText();
    }

    // One pass over a list attribute (srcset): each link of the value is handled on its own and
    // the value is rebuilt with the converted links in place, descriptors and commas kept.
    template <typename TStatus>
    void RunListPass(const std::string& tag, const std::string& attribute,
                     std::vector<std::unique_ptr<TPXQItem>>& queued, const TStatus& status)
    {
        TCounts counts;
        TPXParser parser(std::move(m_text), tag, ">", attribute, pmTag);
        while (!parser.Finished()) {
            const std::string value = parser.Next();
            if (!value.empty()) {
                std::string rebuilt;
                std::size_t i = 0;
                while (i < value.size()) {
                    const std::size_t begin = value.find_first_not_of(" \t\r\n\f,", i);
                    rebuilt.append(value, i, (begin == std::string::npos ? value.size() : begin) - i);
                    if (begin == std::string::npos)
                        break;
                    std::size_t end = value.find_first_of(" \t\r\n\f", begin);
                    if (end == std::string::npos)
                        end = value.size();
                    std::size_t linkEnd = end;
                    while (linkEnd > begin && value[linkEnd - 1] == ',')
                        --linkEnd; // "a.png," ends an item without a descriptor
                    const std::string link = value.substr(begin, linkEnd - begin);
                    std::optional<std::string> converted;
                    if (!link.empty() && link[0] != '#')
                        converted = HandleLink(link, Base(), m_ownFolder, tag, attribute, nullptr, queued, counts);
                    rebuilt += converted ? *converted : link;
                    // The descriptor ("2x", "480w") runs to the next comma.
                    std::size_t next = linkEnd == end ? value.find(',', end) : linkEnd;
                    if (next == std::string::npos)
                        next = value.size();
                    rebuilt.append(value, linkEnd, next - linkEnd);
                    i = next;
                }
                if (rebuilt != value)
                    parser.ReplaceValue(rebuilt);
            }
            status(counts.links, counts.newLinks);
        }
        m_text = parser.TakeText();
    }

    // The links of style text: the whole text of a style sheet, or the style blocks and style
    // attributes of a page. Replacements are made in one copy at the end.
    template <typename TStatus>
    void RunStylePass(bool styleSheet, std::vector<std::unique_ptr<TPXQItem>>& queued,
                      const TStatus& status)
    {
        TCounts counts;
        const std::vector<TCssLink> found = styleSheet ? FindStyleSheetLinks(m_text) : FindPageStyleLinks(m_text);
        std::vector<TTextEdit> edits;
        for (const TCssLink& link : found) {
            // "#id" names an element of the same document (an SVG filter), never a file.
            if (link.value[0] != '#') {
                std::optional<std::string> converted =
                    HandleLink(link.value, Base(), m_ownFolder, "STYLE", "", nullptr, queued, counts);
                if (converted && *converted != link.value)
                    edits.push_back({link.start, link.length, link.quoted ? *converted : UnquotedCssURL(*converted)});
            }
            status(counts.links, counts.newLinks);
        }
        if (!edits.empty())
            m_text = ApplyTextEdits(m_text, edits);
    }

private:
    struct TCounts {
        int links = 0;
        int newLinks = 0;
    };

    // The folder links resolve against: the BASE tag's, or the one the item was served from.
    std::string Base() const { return m_baseURL.empty() ? m_page.servedFolder : m_baseURL; }

    void HandleValue(TPXParser& parser, const std::string& value, const std::string& tag,
                     const std::string& attribute, std::vector<std::unique_ptr<TPXQItem>>& queued,
                     TCounts& counts)
    {
        std::string base = Base();
        // Rewritten links must work from where the page is saved, which has no BASE tag any more.
        std::string localBase = m_ownFolder;
        if (attribute == "CODE") {
            const std::string codebase = parser.AttributeValue("CODEBASE");
            if (!codebase.empty()) {
                // A code base names a folder even when written without its closing "/".
                base = WithTrailingSlash(StripAnchor(ResolveURL(codebase, base)));
                localBase = WithTrailingSlash(StripAnchor(ResolveURL(codebase, localBase)));
            }
        }
        if (std::optional<std::string> converted =
                HandleLink(value, base, localBase, tag, attribute, &parser, queued, counts))
            parser.ReplaceValue(*converted);
    }

    // Tests one link with the profile and queues it when accepted and new. Returns the text to
    // write in its place when the conversion settings ask for it, otherwise nothing. The title
    // of a new item is the parser's tag text, when there is a parser.
    std::optional<std::string> HandleLink(const std::string& value, const std::string& base,
                                          const std::string& localBase, const std::string& tag,
                                          const std::string& attribute, const TPXParser* parser,
                                          std::vector<std::unique_ptr<TPXQItem>>& queued, TCounts& counts)
    {
        const std::string url = ResolveAndValidateURL(value, base);
        const std::string group = url.empty() ? std::string() : FileTypeOfURL(m_page.groups, url);
        const bool page = group == kPageGroup;
        int action = m_page.action;
        if (!page && action == kActionMap)
            action = kActionSkip;
        // A framed page or a refresh target counts as the same level as the page holding it.
        const int level = (page && (attribute == "SRC" || attribute == "URL")) ? m_page.depth
                                                                               : m_page.depth + 1;

        if (!url.empty() && m_task.Profile().AcceptLink(url, m_startFolder, level, group)) {
            std::optional<std::string> converted;
            if (m_task.Profile().ConvertFollowedLinks() == 1)
                converted = LocalLink(url, localBase) + URLAnchor(url);
            std::string itemURL = StripAnchor(url);
            const std::string key = URLIndexKey(itemURL);
            if (!m_queuedKeys.contains(key) && !m_task.DownloadList().ContainsURL(itemURL)) {
                auto item = std::make_unique<TPXQItem>(std::move(itemURL), group, action);
                if (parser != nullptr)
                    item->SetTitle(parser->TagText());
                item->SetParentURL(m_page.url);
                item->SetDepth(m_page.depth + 1);
                // Framed pages are shown inside another page: no banner of their own.
                if (tag == "FRAME" || tag == "IFRAME")
                    item->SetFrameFlag("Y");
                queued.push_back(std::move(item));
                m_queuedKeys.insert(key);
                ++counts.newLinks;
            }
            ++counts.links;
            return converted;
        }

        if (url.empty() || ContainsText(url, "mailto:"))
            return std::nullopt;
        const int convert = m_task.Profile().ConvertUnfollowedLinks();
        if (convert == 2 || (convert == 1 && url.find(m_startRoot) != std::string::npos))
            return LocalLink(url, localBase) + URLAnchor(url);
        return std::nullopt;
    }

    const TPXTask& m_task;
    TPageSnapshot m_page;
    std::string m_text;
    std::string m_baseURL;
    std::string m_ownFolder;
    std::string m_startFolder;
    std::string m_startRoot;
    std::set<std::string> m_queuedKeys; // accepted new URLs of this page, as the URL index keys them
};

} // namespace

TThreadParse::TThreadParse(IOwnerThread& owner) : m_owner(owner)
{
    m_thread = std::thread([this] { Run(); });
}

TThreadParse::~TThreadParse()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TThreadParse::Start(std::shared_ptr<TPXTask> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_task = std::move(task);
        m_stop = false;
        m_foundNone = false;
        ++m_wakeGeneration;
    }
    m_cv.notify_all();
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
    return m_cv.wait_until(lock, deadline, [this] { return !m_busy && (m_stop || m_foundNone || m_terminate); });
}

std::uint64_t TThreadParse::PagesProcessed() const
{
    std::lock_guard lock(m_mutex);
    return m_pagesProcessed;
}

void TThreadParse::Run()
{
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
        m_busy = true;
        lock.unlock();
        const TStep step = ProcessNextPage(*task);
        lock.lock();
        m_busy = false;
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

TThreadParse::TStep TThreadParse::ProcessNextPage(TPXTask& task)
{
    // A page that could not be written back stays "Saved": while the task's write fault stands
    // (the run is being stopped) no page is taken, or the same one would be taken again and again.
    if (task.WriteFault())
        return TStep::NoPage;
    TPXQItem* page = task.DownloadList().NextSavedPage();
    if (page == nullptr)
        return TStep::NoPage;
    return ProcessPage(task, *page);
}

TThreadParse::TStep TThreadParse::ProcessPage(TPXTask& task, TPXQItem& page)
{
    TPageSnapshot snapshot;
    bool stillSaved = false;
    const bool called = m_owner.Call([&] {
        page.Reload();
        stillSaved = page.State() == kStateSaved && page.IsLinkSource();
        snapshot.styleSheet = page.IsStyleSheet();
        snapshot.url = page.URL();
        // A transfer that followed redirects leaves the final folder as the item's base URL.
        snapshot.servedFolder = page.BaseURL().empty() ? URLDirectory(page.URL()) : page.BaseURL();
        snapshot.depth = page.Depth();
        snapshot.action = page.Action();
        snapshot.frameFlag = page.FrameFlag();
        if (page.LocalPath().empty())
            page.SetLocalPath(task.LocalFileOf(page.URL()));
        snapshot.localPath = page.LocalPath();
        // The start URL is the list's first item.
        snapshot.startURL = task.DownloadList().Count() > 0 ? task.DownloadList().Line(0) : task.URL();
        snapshot.intranet = task.IntranetMode();
        if (TPXApp* app = task.App()) {
            snapshot.noAds = app->NoAds();
            snapshot.maxParsedSize = app->MaxParsedPageSize();
            snapshot.groups = ReadFileTypeGroups(app->Store());
        }
    });
    if (!called)
        return TStep::OwnerGone;
    if (!stillSaved)
        return TStep::Done; // picked by another path meanwhile; the next look finds the right one

    // Every way out below ends with the page out of "Saved", so it is never picked again.
    auto finish = [&](int state, const std::string& statusText, const std::string& title) {
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
    const std::string localPath = snapshot.localPath;
    std::string text;
    const TPageRead outcome = ReadPage(snapshot.localPath, snapshot.maxParsedSize, text);
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
            task.AppendToZipQueue(localPath, &page);
        return TStep::Done;
    }
    if (text.empty()) {
        // Nothing to scan or rewrite; the file stays as it is.
        ShowStatus("");
        if (!finish(kStateParsed, "", ""))
            return TStep::OwnerGone;
        if (zipMode)
            task.AppendToZipQueue(localPath, &page);
        return TStep::Done;
    }

    const bool styleSheet = snapshot.styleSheet;
    const bool banner = !styleSheet && snapshot.frameFlag != "Y" && !snapshot.noAds;
    const int depth = snapshot.depth;
    TPageJob job(task, std::move(snapshot), std::move(text));
    std::string title;
    if (!styleSheet) {
        job.TakeBase();
        title = job.Title();
        if (depth == 0)
            task.SetStartPageTitle(title);
    }

    const int aggressive = task.Profile().AggressiveParser();
    std::vector<std::unique_ptr<TPXQItem>> queued;
    const auto status = [this](int links, int newLinks) {
        if (m_onStatus)
            m_onStatus("Parsing... Links: " + std::to_string(links) + "  New Links: " + std::to_string(newLinks));
    };
    // Accepted new links go into the list after each pass, so the coordinator can fetch them
    // while the rest of the page is scanned.
    const auto addQueued = [&]() {
        ShowStatus("");
        if (queued.empty())
            return true;
        const bool ok = m_owner.Call([&] {
            for (std::unique_ptr<TPXQItem>& item : queued) {
                item->SetState(kStateNone);
                task.DownloadList().AddItem(std::move(item));
            }
        });
        queued.clear();
        if (ok && m_onItemsQueued)
            m_onItemsQueued();
        return ok;
    };

    if (styleSheet) {
        job.RunStylePass(true, queued, status);
        if (!addQueued())
            return TStep::OwnerGone;
    } else if (aggressive != 2) {
        // A page holds a handful of the table's tags; passes for the others would scan it for
        // nothing.
        const std::set<std::string> tags = TagNamesIn(job.Text());
        for (const TLinkTableRow& row : kLinkTable) {
            if (!tags.contains(row.tag))
                continue;
            job.RunPass(row.tag, ">", row.attribute, pmTag, queued, status);
            if (!addQueued())
                return TStep::OwnerGone;
        }
        for (const TLinkTableRow& row : kLinkListTable) {
            if (!tags.contains(row.tag))
                continue;
            job.RunListPass(row.tag, row.attribute, queued, status);
            if (!addQueued())
                return TStep::OwnerGone;
        }
        job.RunStylePass(false, queued, status);
        if (!addQueued())
            return TStep::OwnerGone;
    }
    if (!styleSheet && (aggressive == 1 || aggressive == 2)) {
        const auto mode = static_cast<TParserMode>(aggressive);
        for (const char* quote : {"'", "\""}) {
            job.RunPass(quote, quote, "", mode, queued, status);
            if (!addQueued())
                return TStep::OwnerGone;
        }
    }
    if (banner)
        job.Text() = InsertBanner(std::move(job.Text()));

    ShowStatus("Saving Changes: " + localPath);
    std::string error;
    errno = 0;
    const bool written = m_writePage ? m_writePage(localPath, job.Text(), &error)
                                     : ReplaceFileQuickly(localPath, job.Text(), &error);
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
        return finish(kStateError, "Error: Failed to create file: " + localPath + " (" + reason + ")", title)
                   ? TStep::Done
                   : TStep::OwnerGone;
    }
    if (!finish(kStateParsed, "", title))
        return TStep::OwnerGone;
    if (zipMode)
        task.AppendToZipQueue(localPath, &page);
    return TStep::Done;
}

} // namespace pellix

// TPXQItem: one URL of a task, with its state in the crawl and what was learnt when fetching it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pellix {

class TPXTask;
class TPXDownloadList;

// Item states (the record line's field 0; the numbers are those of the list file).
enum TItemState : int {
    kStateNone = 0,
    kStateDownloading = 1,
    kStateUpdating = 2,
    kStateError = 3,
    kStateDownloaded = 4,
    kStateSaved = 5,
    kStateUpdated = 6,
    kStateMapping = 7,
    kStateParsing = 8,
    kStateMapped = 9,
    kStateParsed = 10,
    kStateZipped = 11,
};

// Item actions (the record line's field 7).
enum TItemAction : int {
    kActionSkip = 0,
    kActionDownload = 1,
    kActionMap = 2,
    kActionUpdate = 3,
};

// The file-type group that marks a page; every other group is a resource.
inline constexpr const char* kPageGroup = "HTML";

// An item belongs to one download list, which owns it. The list's record line is the
// authoritative copy of the item's fields: the URL, status text, parent URL, Last-Modified and
// title are released between uses and come back with Reload().
//
// Threads: State() and Action() may be read from any thread. Everything else, including every
// change, runs on the owner thread (see TPXDownloadList for the locking).
class TPXQItem final {
public:
    // A new item: state 0, base URL from the URL, the type group as the caller worked it out.
    TPXQItem(std::string url, std::string typeGroup, int action);
    TPXQItem(const TPXQItem&) = delete;
    TPXQItem& operator=(const TPXQItem&) = delete;

    TPXTask* Task() const { return m_task; }
    TPXDownloadList* List() const { return m_list; }
    // Index of the item's URL line in the download list; its record line follows it.
    std::size_t ListIndex() const { return m_listIndex; }

    const std::string& URL() const { return m_url; }
    void SetURL(std::string url);
    const std::string& BaseURL() const { return m_baseURL; }
    void SetBaseURL(std::string url) { m_baseURL = std::move(url); }
    const std::string& ParentURL() const { return m_parentURL; }
    void SetParentURL(std::string url) { m_parentURL = std::move(url); }
    const std::string& LastModified() const { return m_lastModified; }
    void SetLastModified(std::string text) { m_lastModified = std::move(text); }
    const std::string& LocalPath() const { return m_localPath; }
    void SetLocalPath(std::string path) { m_localPath = std::move(path); }
    const std::string& TypeGroup() const { return m_typeGroup; }
    bool IsPage() const { return m_typeGroup == kPageGroup; }
    // What the link's context or the reply's Content-Type said the file is, as the extension its
    // local name takes after a query (".css", ".js", ".png"); empty when the address alone names
    // it (record field 3; lists written before hold it empty). Never released; owner thread.
    const std::string& TypeExtension() const { return m_typeExtension; }
    void SetTypeExtension(std::string extension);
    // A style sheet: its URL's path ends in ".css" (any case), or its type extension is ".css".
    // Known even while the URL is released. Any thread.
    bool IsStyleSheet() const { return m_styleSheet.load(std::memory_order_relaxed); }
    // Pages and style sheets hold links: the parse thread takes them from "Saved" to "Parsed",
    // which is where they are finished. Every other item is finished when "Saved".
    bool IsLinkSource() const { return IsPage() || IsStyleSheet(); }
    static bool IsStyleSheetURL(std::string_view url);
    const std::string& Title() const { return m_title; }
    void SetTitle(std::string title) { m_title = std::move(title); }
    const std::string& StatusText() const { return m_statusText; }
    void SetStatusText(std::string text) { m_statusText = std::move(text); }
    int Depth() const { return m_depth; }
    void SetDepth(int depth) { m_depth = depth; }
    std::int64_t Size() const { return m_size; }
    void SetSize(std::int64_t size) { m_size = size; }
    const std::string& FrameFlag() const { return m_frameFlag; }
    void SetFrameFlag(std::string flag) { m_frameFlag = std::move(flag); }
    bool Zipped() const { return m_zipped; }
    void SetZipped(bool zipped) { m_zipped = zipped; }
    // The explore view's row handle, owned by the view.
    void* ViewRow() const { return m_viewRow; }
    void SetViewRow(void* row) { m_viewRow = row; }

    // Any thread.
    TItemState State() const { return static_cast<TItemState>(m_state.load(std::memory_order_relaxed)); }
    TItemAction Action() const { return static_cast<TItemAction>(m_action.load(std::memory_order_relaxed)); }

    // Changes the state, keeping the task's counters right, then tells the task's progress
    // listener that counters changed. The record line changes only on WriteBack().
    void SetState(TItemState newState);
    // Sets the action (the explore view's commands do this directly).
    void SetAction(TItemAction action);

    // Fills the fields from the item's record line and the URL from its URL line.
    void Reload();
    // Writes the fields into the record line (an empty string field keeps the stored value),
    // refreshes the view row, and releases the strings when asked.
    void WriteBack(bool release);
    // Empties URL, status text, parent URL, Last-Modified and title in memory.
    void ReleaseStrings();

    // The bytes that the task's "Total Bytes" holds for an item in this state: for a finished
    // item (Saved and after) n of "Incomplete (n bytes)" or else its size, for a failed one n of
    // that text or else nothing. Leaving a finished state takes them off again (SetState).
    static std::int64_t BytesHeld(int state, std::string_view statusText, std::int64_t size);

    std::string StateText() const { return StateText(State()); }
    static std::string StateText(int state);

private:
    friend class TPXDownloadList;

    TPXTask* m_task = nullptr;
    TPXDownloadList* m_list = nullptr;
    std::size_t m_listIndex = 0;
    std::string m_url;
    std::string m_baseURL;
    std::string m_parentURL;
    std::string m_lastModified;
    std::string m_localPath;
    std::string m_typeGroup;
    std::string m_typeExtension;
    std::string m_title;
    std::string m_statusText;
    std::string m_frameFlag;
    std::int64_t m_size = 0;
    int m_depth = 0;
    std::atomic<int> m_state{kStateNone};
    std::atomic<int> m_action{kActionDownload};
    std::atomic<bool> m_styleSheet{false};
    bool m_zipped = false;
    void* m_viewRow = nullptr;
};

} // namespace pellix

// TPXDownloadList: a task's queue items as URL and record line pairs, its URL index and picks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/queue_item.h"

namespace pellix {

class TPXTask;

// Separates (and ends) every field of a record line.
inline constexpr char kRecordSeparator = '\xB6';
// Periodic save writes the file when this many checks have passed since the last save.
inline constexpr int kSaveInterval = 10;

// The outcome of loading or saving a download list.
struct TListResult {
    bool ok = true;
    std::string message; // why not, when !ok
};

// A task's counters as the states of its list's items give them (TPXDownloadList::CountStates).
struct TListCounts {
    int totalPages = 0;
    int totalResources = 0;
    int pagesSaved = 0;     // pages whose transfer ended: Error, Saved and every later state
    int resourcesSaved = 0;
    int pageErrors = 0;     // pages in Error
    int resourceErrors = 0;
    std::int64_t bytesHeld = 0; // TPXQItem::BytesHeld summed over the items
};

// The explore view's rows, watched on the owner thread. Calls never come from inside the list's
// lock, so an observer may read the list and its items.
class IDownloadListObserver {
public:
    virtual ~IDownloadListObserver() = default;
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    // Every row is gone (the list was cleared).
    virtual void RowsCleared() = 0;
    // A row for a new or loaded item; the item is the row's data.
    virtual void RowAdded(TPXQItem& item) = 0;
    // The item was written back; stateImage is the new state image index, or nothing when the
    // row keeps the one it has.
    virtual void RowChanged(TPXQItem& item, std::optional<int> stateImage) = 0;
};

// A URL as a URL line or record field can hold it: line breaks dropped, the separator byte
// percent-encoded (the same URL to a server).
std::string RecordURL(std::string_view url);

// What the URL index compares: RecordURL of the URL with its scheme and host (and port) in lower
// case. Two URLs are one item exactly when their keys are equal: "HTTP://Host/a" is
// "http://host/a", but "http://host/A" is another file.
std::string URLIndexKey(std::string_view url);

// Locking: the owner thread (the "user-interface thread") makes every change: it takes m_mutex
// around each change of the lines, the URL index, an item's state, action or type group, and the
// pick indexes. Other threads (the coordinator, the parse thread) may call only the members
// marked "any thread", which take m_mutex for their reads. The owner thread's own reads need no
// lock because nobody else writes. Observers and the task's notifications are called outside the
// lock. An item pointer handed to another thread stays valid until the owner thread clears the
// list; that thread must not touch the item's fields except State() and Action().
class TPXDownloadList final {
public:
    explicit TPXDownloadList(TPXTask& task);
    ~TPXDownloadList();
    TPXDownloadList(const TPXDownloadList&) = delete;
    TPXDownloadList& operator=(const TPXDownloadList&) = delete;

    TPXTask& Task() const { return m_task; }

    // The download list file: the task file's folder, the task's name, ".dwn". Worked out from
    // the task when first needed and kept; SetFilePath replaces it (a renamed task).
    const std::filesystem::path& FilePath();
    void SetFilePath(std::filesystem::path path) { m_filePath = std::move(path); }

    // Appends the item as a new pair, indexes its URL, counts it in the task's totals, makes its
    // view row and releases its strings. Returns the item, now owned by the list.
    TPXQItem& AddItem(std::unique_ptr<TPXQItem> item);
    // Frees every item and empties the lines and the URL index.
    void Clear();

    // Reads the file when the list is empty and makes an item for every pair. A missing file
    // gives an empty list. A URL line that is no web address (scheme, "://", no control bytes) or
    // a record line whose state is not a number stops the load with an error; the items made
    // before it stay, and the remaining lines stay too so a save loses nothing. A file whose first
    // line is no address (other text, random bytes) is thus refused whole: "Not a Pellix download
    // list: <path> ...".
    TListResult LoadList();
    // Writes every line to the file atomically, CR LF ended, replacing it.
    TListResult SaveList();
    // One save check: writes the file on every eleventh call.
    TListResult PeriodicSave();
    bool HasUnsavedChanges() const { return m_unsaved.load(std::memory_order_relaxed); } // any thread
    int SaveCountdown() const { return m_saveCountdown; }
    void ResetSaveCountdown() { m_saveCountdown = 0; }

    // Picks, in list order (any thread).
    // First page waiting to be fetched: action 1 or 2 in state 0, or action 3 in state 0 or 1.
    TPXQItem* NextPage() const;
    // First resource waiting: action 1 in state 0, or action 3 in state 0 or 1.
    TPXQItem* NextResource() const;
    // First page or style sheet in state "Saved" (waiting for the parse thread).
    TPXQItem* NextSavedPage() const;
    // Among the first window pages in "Saved", in list order, the first that accept takes
    // (several parse threads skip the pages the others hold). accept runs under the list's lock.
    TPXQItem* NextSavedPageWhere(const std::function<bool(const TPXQItem&)>& accept, std::size_t window) const;
    // Among the first window waiting pages (resources) in list order, the first whose URL line
    // accept takes; nullptr when none of them does. accept runs under the list's lock.
    TPXQItem* NextPageWhere(const std::function<bool(std::string_view url)>& accept, std::size_t window) const;
    TPXQItem* NextResourceWhere(const std::function<bool(std::string_view url)>& accept, std::size_t window) const;

    // URL index (any thread): whether a URL of the list has the same key (URLIndexKey): the
    // scheme and host compare without case, the rest with it. Looks the URL up in the form the
    // list stores it (see RecordURL).
    bool ContainsURL(std::string_view url) const;
    // The type extension of the list's item for url (see TPXQItem::TypeExtension); empty when
    // it has none or the list holds no such URL. Any thread.
    std::string TypeExtensionOf(std::string_view url) const;
    std::size_t URLIndexCount() const;
    // The index's URLs in sorted order (owner thread; for the explore view and tests).
    std::vector<std::string> IndexedURLs() const;

    // Counts the items by kind and state the way the transfers count them as they end (owner
    // thread). Pairs left without an item by a load that stopped early are not counted.
    TListCounts CountStates() const;

    // Items left in "Downloading" or "Updating" go back to "None".
    void ResetInterrupted();
    // Every finished item (state above 4) is to be fetched again if changed.
    void PrepareUpdate();
    // Every failed item is to be fetched again; its stored status text stays.
    void PrepareRetry();

    // Pairs, lines and items (any thread; a line is copied out).
    std::size_t Count() const;
    std::size_t LineCount() const;
    std::string Line(std::size_t index) const;
    // The item of pair pairIndex (URL line 2 * pairIndex); null past the end or for a pair left
    // without an item by a load that stopped early. Owner thread.
    TPXQItem* Item(std::size_t pairIndex) const;

    // The explore view bound to this list, or null.
    void SetObserver(IDownloadListObserver* observer) { m_observer = observer; }
    IDownloadListObserver* Observer() const { return m_observer; }

    // Record lines: field n (from 0) of a line, and the line for an item's fields.
    static std::string RecordField(std::string_view record, int n);
    static std::string BuildRecord(const TPXQItem& item, std::string_view stored);
    // The state image of a row: the action for states 0 to 2, 4 for an error, 5 for finished
    // states; nothing (keep) for state 4.
    static std::optional<int> StateImage(int state, int action);

private:
    friend class TPXQItem;

    struct TPair {
        TPair(std::string url, std::string record, std::unique_ptr<TPXQItem> owned);
        std::string urlLine;
        std::string recordLine;
        std::unique_ptr<TPXQItem> item;
        std::uint32_t authorityEnd; // where the URL line's scheme and host end, for sorting
    };

    // A URL to look up, with what the index compares worked out once: the text as a URL line
    // holds it, where its case-blind part lies and its key's hash.
    struct TURLProbe {
        explicit TURLProbe(std::string_view url);
        TURLProbe(const TURLProbe&) = delete;
        TURLProbe& operator=(const TURLProbe&) = delete;
        std::string held; // the line's text when it differs from the URL (see RecordURL)
        std::string_view text;
        std::size_t schemeEnd = 0;
        std::size_t hostBegin = 0;
        std::size_t hostEnd = 0;
        std::size_t hash = 0;
    };

    // Hash and equality of pair numbers by the index keys of their URL lines; they take probes
    // too, so a look-up makes no key. The hash is not noexcept on purpose: the standard library
    // then keeps each node's hash, and a look-up reads a pair's line only for a likely match.
    struct TURLHash {
        using is_transparent = void;
        const std::vector<TPair>* pairs;
        std::size_t operator()(std::uint32_t pair) const;
        std::size_t operator()(const TURLProbe& probe) const { return probe.hash; }
    };
    struct TURLEqual {
        using is_transparent = void;
        const std::vector<TPair>* pairs;
        bool operator()(std::uint32_t a, std::uint32_t b) const;
        bool operator()(const TURLProbe& a, std::uint32_t b) const;
        bool operator()(std::uint32_t a, const TURLProbe& b) const { return (*this)(b, a); }
    };

    // Owner thread, under m_mutex.
    void IndexLocked(std::uint32_t pair);
    void ApplyStateLocked(TPXQItem& item, int state, int action);

    // Called by TPXQItem.
    void ChangeState(TPXQItem& item, int state);
    void ChangeAction(TPXQItem& item, int action);
    void ChangeTypeGroup(TPXQItem& item, std::string typeGroup);
    void ChangeTypeExtension(TPXQItem& item, std::string extension);
    void ReloadItem(TPXQItem& item);
    void WriteBackItem(TPXQItem& item, bool release);

    TListResult ReadFile();
    void NotifyChanged(TPXQItem& item);

    TPXTask& m_task;
    std::filesystem::path m_filePath;
    IDownloadListObserver* m_observer = nullptr;

    mutable std::mutex m_mutex;
    std::vector<TPair> m_pairs;
    std::unordered_set<std::uint32_t, TURLHash, TURLEqual> m_urlIndex;
    // Pair numbers that each pick may return; the first is the answer.
    std::set<std::uint32_t> m_waitingPages;
    std::set<std::uint32_t> m_waitingResources;
    std::set<std::uint32_t> m_savedPages;

    std::atomic<bool> m_unsaved{false};
    int m_saveCountdown = 0;
};

} // namespace pellix

// The explore view's rules without a window: its columns and cell texts, row colours by item
// state, the marks (which items each applies to, what it sets, whether the task is saved) and
// where browsing an item leads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tasks/task_list.h"

namespace pellix {

class TPXApp;
class TPXQItem;
class TPXTask;

enum TExploreColumn : int {
    kExploreMark,
    kExploreStatus,
    kExploreTitle,
    kExploreURL,
    kExploreType,
    kExploreSize,
    kExploreLastModified,
    kExploreResult,
    kExploreLevel,
    kExploreReferrer,
    kExploreColumnCount,
};

struct TExploreColumnInfo {
    const char* caption;
    int width; // pixels; 0: the default width
};

const std::array<TExploreColumnInfo, kExploreColumnCount>& ExploreColumns();

// One row's fields, read from the item's URL line and record line (the list's master copy), so
// that showing a row never touches the item's own strings.
struct TExploreRow {
    std::string url;
    int state = 0;
    std::string statusText;
    std::string typeGroup;
    int depth = 0;
    std::string parentURL;
    std::string lastModified;
    int action = 1;
    std::string title;
    std::int64_t size = 0;
};

TExploreRow ExploreRowOf(std::string_view urlLine, std::string_view recordLine);
// The text of a cell; the "Mark" column has none (it shows the state image only).
std::string ExploreCellText(const TExploreRow& row, int column);
// Text colour of a row by the item's state.
TRgb ExploreTextColour(int state);

// The state images of the "Mark" column.
enum TExploreImage : int {
    kMarkImageNone = 0,
    kMarkImageDownload = 1,
    kMarkImageMap = 2,
    kMarkImageUpdate = 3,
    kMarkImageError = 4,
    kMarkImageDone = 5,
};
// The hint of a state image ("Not marked", "Download", ...).
std::string ExploreImageHint(int image);

// The commands of the pop-up menu that mark items.
enum class TExploreMark {
    DownloadSelected,
    DownloadAll,
    DownloadErrors,
    DownloadUnmarked,
    UpdateSelected,
    UpdateAll,
    MapSelected,
    MapAll,
    UnmarkSelected,
    UnmarkAll,
};

// Whether the mark acts on the selected rows (true) or on every item of the list.
bool MarkActsOnSelection(TExploreMark mark);
// Whether the mark changes an item in this state, with this action and type group. An item
// that the running crawl holds (in transfer, being mapped or parsed) is never changed: resetting
// it would fetch it twice and let the transfer's outcome overwrite the mark.
bool MarkApplies(TExploreMark mark, int state, int action, bool isPage, bool busy);
// Whether the task file is saved after the mark.
bool MarkSavesTask(TExploreMark mark);

struct TMarkResult {
    std::size_t changed = 0;
    bool taskSaved = false;
    std::string message; // a save that failed, empty otherwise
};

// Applies the mark to the items (the selected ones, or every item of the task's list when the
// mark acts on all): each one that the mark applies to is reloaded, changed and written back;
// state 0 corrects the task's counters. Then the download list file is written (so a mark
// survives the program's end) and, where the mark says so, the task file. running: the task is
// being crawled now, so items in transfer are left alone. Owner thread.
TMarkResult ApplyMark(TPXTask& task, TExploreMark mark, const std::vector<TPXQItem*>& selected, bool running);

// A press on a row's state image: an item in state 0 toggles between action 0 and 1 and is
// written back; any other item is left alone. True when it changed.
bool ToggleMark(TPXQItem& item);

// Where browsing an item leads.
struct TExploreTarget {
    enum class TKind {
        None,       // nothing to open
        Address,    // online: the URL itself or the banner frameset file (path)
        LocalFile,  // offline in Personal Intranet Mode, or an extracted Zip entry (path)
        ZipEntry,   // offline in zip mode: entry of zipPath
        Failed,     // message says why
    };
    TKind kind = TKind::None;
    std::string path;     // the address or local file
    std::string zipPath;  // ZipEntry: the task's Zip file
    std::string entry;    // ZipEntry: the entry name of the item's file
    std::string message;  // Failed
};

inline constexpr const char* kZipFileMissing = "Zip file does not exist";

// Online: the URL with "No Ads" on, otherwise the banner frameset written for it. Offline: the
// item's file under an intranet task's destination; in zip mode the Zip entry (extract false) or
// the file under the temp folder after extracting the whole Zip there (extract true). A zip-mode
// task without its Zip file fails with "Zip file does not exist".
TExploreTarget ExploreBrowseTarget(const TPXApp& app, const TPXTask& task, const std::string& url, bool online,
                                   bool extract);

} // namespace pellix

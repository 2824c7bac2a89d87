// The zip manager's rules without a window: which zip commands are enabled, the replace prompt,
// the delete questions, what "Browse with" opens and the day zip's path.
#pragma once

#include <string>

#include "workspace/main_window_rules.h"
#include "workspace/zip_engine.h"
#include "workspace/zip_tree.h"

namespace pellix {

struct TZipCommandState {
    bool zipSelected = false;    // a node of an open Zip is selected in the zip tree
    bool rootSelected = false;   // that node is a Zip's root
    TFocusKind focus = TFocusKind::Other;
    int listSelection = 0;       // rows selected in the zip file list
    bool busy = false;           // a zip operation runs
    bool taskWritesZip = false;  // the selected Zip is the running task's
    bool firstBrowser = false;   // installed: the Chromium-family browser,
    bool secondBrowser = false;  // Firefox,
    bool textEditor = false;     // the desktop's editor for text files
};

struct TZipCommands {
    bool open = false;
    bool close = false;
    bool add = false;
    bool del = false;
    bool unzip = false;
    bool rename = false;
    bool browse = false;       // the Browse sub-menu
    bool firstBrowser = false;
    bool secondBrowser = false;
    bool textEditor = false;
    bool cancel = false;       // stop the running operation

    bool operator==(const TZipCommands&) const = default;
};

TZipCommands ZipCommands(const TZipCommandState& state);

enum class TReplaceButton { Yes, No, Cancel, All };
// What each button asks of the engine: replace this file, keep it, stop, replace every file.
TZipReplaceAction ReplaceActionOf(TReplaceButton button);

// The question before deleting a node from the tree (never a root: its Zip file goes to the trash).
std::string DeleteQuestion(const TZipNode& node);

// What "Browse with" opens: the entry, and whether the whole Zip is extracted first (a page needs
// its images and linked pages).
struct TBrowseTarget {
    std::string entry;      // empty: nothing to browse
    bool extractAll = false;
};
// entry: the entry path chosen (tree or list); pageGroup: whether its file type group is "HTML".
TBrowseTarget BrowseTargetOf(const std::string& entry, bool pageGroup);

// The day zip: "My Pellixs for " + date with "/" as "-" + ".zip" in the downloads folder.
std::string DayZipPath(const std::string& downloadsFolder, const std::string& shortDate);

} // namespace pellix

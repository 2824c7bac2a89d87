// The zip manager's rules without a window.
#include "workspace/zip_manager_rules.h"

namespace pellix {

TZipCommands ZipCommands(const TZipCommandState& state) {
    TZipCommands c;
    const bool zipFocus = state.focus == TFocusKind::ZipTree || state.focus == TFocusKind::ZipList;
    const bool base = state.zipSelected && zipFocus && !state.busy;
    // In the list the commands act on its selected rows; in the tree on the selected node.
    const bool rows = state.focus != TFocusKind::ZipList || state.listSelection > 0;
    c.open = !state.busy;
    c.close = base;
    c.unzip = base;
    // A task appends to its Zip file from a thread of its own: nothing else may write it meanwhile.
    c.add = base && !state.taskWritesZip;
    c.del = base && rows && !state.taskWritesZip;
    c.rename = base && !state.taskWritesZip;
    c.browse = base && rows;
    c.firstBrowser = c.browse && state.firstBrowser;
    c.secondBrowser = c.browse && state.secondBrowser;
    c.textEditor = c.browse && state.textEditor;
    c.cancel = state.busy;
    return c;
}

TZipReplaceAction ReplaceActionOf(TReplaceButton button) {
    switch (button) {
    case TReplaceButton::Yes: return xraReplace;
    case TReplaceButton::No: return xraSkip;
    case TReplaceButton::Cancel: return xraCancel;
    case TReplaceButton::All: return xraReplaceAll;
    }
    return xraCancel;
}

std::string DeleteQuestion(const TZipNode& node) {
    if (node.kind == TZipNodeKind::Folder) {
        return "Are you sure you want to delete the folder " + node.Caption() + " and all its contents?";
    }
    return "Are you sure you want to delete " + node.Caption() + "?";
}

TBrowseTarget BrowseTargetOf(const std::string& entry, bool pageGroup) {
    TBrowseTarget target;
    // A wildcard (a folder or a root without pages) names no one file to show.
    if (entry.empty() || entry.find('*') != std::string::npos || entry.back() == '/') {
        return target;
    }
    target.entry = entry;
    target.extractAll = pageGroup;
    return target;
}

std::string DayZipPath(const std::string& downloadsFolder, const std::string& shortDate) {
    std::string folder = downloadsFolder;
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder + DayZipFileName(shortDate);
}

} // namespace pellix

// TZipArchive: the zip manager's operations on open Zip files (open, list, add, delete, extract,
// rename), with the engine behind them; windows show the results and ask the questions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "workspace/zip_compact.h"
#include "workspace/zip_engine.h"
#include "workspace/zip_result.h"

namespace pellix {

// One open Zip file. Paths inside the archive are "/" separated; a folder path ends in "/".
// Names compare without regard to case. The lists keep their order for display; change them
// through the functions below, which keep the lookup sets beside them in step.
struct TZipObj {
    std::string path;
    std::vector<std::string> folders{""};  // "" is the root
    std::vector<std::string> entries;
    bool extracted = false;  // every entry is present in the temp folder

    bool HasEntry(const std::string& entryPath) const;
    bool HasFolder(const std::string& folderPath) const;
    // False when a name equal but for case is there already.
    bool AddEntry(const std::string& entryPath);
    bool AddFolder(const std::string& folderPath);
    // Removes every entry whose name matches one of names (case ignored), in one pass.
    void RemoveEntries(const std::vector<std::string>& names);
    void RemoveFolder(const std::string& folderPath);

private:
    // Lower-cased names, so that a lookup costs the same with 10 or 30,000 entries. Rebuilt when
    // a caller changed the lists directly.
    mutable std::unordered_set<std::string> m_entryKeys;
    mutable std::unordered_set<std::string> m_folderKeys;
    void SyncKeys() const;
};

// What an add, delete or extract did, and what the user is to be told.
struct TZipOutcome {
    int code = kZipOk;
    TZipResultView view;
    std::vector<TZipSkip> skipped;
    std::vector<std::string> entries;  // entries added (now in the Zip file) or deleted
    std::vector<std::string> folders;  // folders left empty by a delete (never the root)
    std::string status;                // status line text, when the operation has one
    // Adds: the Zip file could not be written (or opened to be extended), so files that were to go
    // in did not. entries still lists those that went in before the failure. Files skipped one by
    // one (unreadable) do not make an add fail.
    bool failed = false;
    TZipAddFault fault = TZipAddFault::None;
    int systemError = 0;  // errno of the failed write, 0 when it was no system error
    // Task mode: per file given, whether its entry is now in the Zip file.
    std::vector<bool> filesPacked;
};

// What a compaction at the end of a task did.
struct TZipCompactOutcome {
    bool due = false;        // the dead space passed the thresholds
    bool compacted = false;  // the archive was rewritten
    TZipSpace space;         // as measured before
    std::int64_t sizeAfter = 0;
    int systemError = 0;
    std::string message;     // set when a due compaction failed; the archive is as it was
};

struct TZipOpenResult {
    TZipObj* zip = nullptr;  // null when the archive could not be listed
    bool alreadyOpen = false;
    int code = kZipOk;
    TZipResultView view;
    std::vector<TZipEntry> rows;
};

struct TZipRenameResult {
    bool ok = false;
    std::string newPath;
    std::string message;  // the error shown when the rename failed
};

// A file a task has downloaded, with the page title stored as the entry's comment.
struct TZipTaskFile {
    std::string localPath;
    std::string title;
};

inline constexpr const char* kOpeningZipText = "Opening Zip File...";

// text, position of maximum; maximum 0 clears the progress.
using TZipProgressEvent = std::function<void(const std::string& text, std::int64_t position, std::int64_t maximum)>;

class TZipArchive final {
public:
    TZipArchive();
    TZipArchive(const TZipArchive&) = delete;
    TZipArchive& operator=(const TZipArchive&) = delete;

    TZipEngine& Engine() { return m_engine; }
    const std::vector<std::unique_ptr<TZipObj>>& Zips() const { return m_zips; }
    TZipObj* Find(const std::string& path);

    // Lists the whole archive, unless a Zip with exactly this path is open already.
    TZipOpenResult Open(const std::string& path);
    // A Zip that is about to be created: its folder is made, nothing is listed.
    TZipObj& CreateNode(const std::string& path);
    void Close(const std::string& path);

    // The rows of the entries that match pattern ("*.*", "pages/*.*", an entry path).
    int List(TZipObj& zip, const std::string& pattern, std::vector<TZipEntry>& rows);

    // Wizard mode: files (absolute, or relative to the current directory); action 0 add and
    // replace, 1 freshen, 2 update.
    TZipOutcome AddFiles(TZipObj& zip, const std::vector<std::string>& files, TZipAddMode action, bool usePaths,
                         bool recurse);
    // Task mode: one tick packs every queued file under its path relative to the temp folder (a
    // file outside it keeps its full path), in queue order, with its title as comment. A file that
    // cannot be read is reported in skipped and does not stop the others. When the Zip file cannot
    // be written the outcome is failed, its message names the Zip file, the first files left out
    // and the reason ("Cannot add to /d/Site.zip: disk full. Not packed: a.htm, b.png, c.css and
    // 12 more."), and the Zip file still holds its earlier entries plus those in entries; zip's
    // entry list holds exactly what the file holds.
    TZipOutcome AddTaskFiles(TZipObj& zip, const std::string& tempFolder, const std::vector<TZipTaskFile>& files);
    // An entry path or a folder wildcard ("folder/*.*").
    TZipOutcome Delete(TZipObj& zip, const std::string& entryPath);
    // Entries that are absolute or leave the folder are refused and reported in skipped.
    TZipOutcome Extract(TZipObj& zip, const std::vector<std::string>& entryPaths, const std::string& folder,
                        bool usePaths, bool overwriteAlways);
    TZipOutcome ExtractForBrowsing(TZipObj& zip, const std::string& entryPath, const std::string& folder);
    // Once per Zip; skipped while a task's file is being added.
    TZipOutcome ExtractAllForBrowsing(TZipObj& zip, const std::string& tempFolder, bool taskFileBeingAdded);
    // newName: a file name in the Zip's folder. Control bytes become blanks, blanks at either end
    // of the name go, ".zip" is added when missing and the name is cut to fit a file name with
    // room for a "(n)"; a name taken by another file gets the first free "(0)", "(1)", ... up to
    // kMaxRenameTries. Names with "/", or whose stem is only dots and blanks, are refused.
    TZipRenameResult Rename(TZipObj& zip, const std::string& newName);

    // Unused space in a task's Zip file is reclaimed once it is both this large and this share of
    // the file: below that a rewrite costs more than the space is worth.
    static constexpr std::int64_t kCompactMinDeadBytes = 1024 * 1024;
    static constexpr int kCompactMinDeadPercent = 10;
    static constexpr int kMaxRenameTries = 1000;
    static bool IsWasteful(const TZipSpace& space);
    // Measures zip's dead space and, when IsWasteful, rewrites the archive without it (entries,
    // comments, times and CRCs as they were). A failed rewrite leaves the archive as it was.
    TZipCompactOutcome CompactIfWasteful(TZipObj& zip);

    static std::string TotalsText(std::int64_t entries, std::int64_t size, std::int64_t packed, int engineCount);
    static std::string SelectionText(std::int64_t count, std::int64_t size, std::int64_t packed);

    // Every event fires on the thread that runs the operation, before it returns: the owner
    // thread for a zip manager's archive, the packing thread for a task's packs (TZipPacker).
    //
    // Status line texts while operations run ("Adding: x", "Extracting \"x\".").
    std::function<void(const std::string&)> OnStatusText;
    // While Open lists an archive: kOpeningZipText at the entries listed of the archive's entry
    // count, once per entry, then an empty text with maximum 0 (also when the listing failed).
    TZipProgressEvent OnProgress;
    // Asked before an existing file is overwritten when overwriting is not on.
    TZipReplaceEvent OnReplace;

private:
    TZipOutcome Finish(int code, const std::string& verb);
    void Register(TZipObj& zip, const std::string& entryPath);
    void Status(const std::string& text);
    void Progress(const std::string& text, std::int64_t position, std::int64_t maximum);

    TZipEngine m_engine;
    std::vector<std::unique_ptr<TZipObj>> m_zips;
    std::function<std::string(const std::string&)> m_pendingComment;
};

} // namespace pellix

// TZipEngine: every Zip file operation of the program (count, stats, list, add, delete, extract).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "links/date_time.h"
#include "workspace/zip_result.h"

namespace pellix {

struct TZipAddItem;

enum TZipOverwrite { xowAsk, xowNever, xowAlways };

// The answer to OnReplace: Yes, No, Cancel, All.
enum TZipReplaceAction { xraReplace, xraSkip, xraCancel, xraReplaceAll };

// Add modes.
enum TZipAddMode { kZipAddReplace = 0, kZipAddFreshen = 1, kZipAddUpdate = 2 };

// One entry of an archive. Names are "/" separated, as the Zip format stores them; callers that
// show or take "\" paths convert at their edge.
struct TZipEntry {
    std::string name;
    std::int64_t size = 0;
    std::int64_t compressedSize = 0;
    int ratio = 0;          // percent saved by compression
    TDateTime dateTime = 0; // local time; 0 = unset
    std::string comment;    // at most 255 bytes
    int percent = 0;        // progress of the current entry (OnStatus)
    std::int64_t bytes = 0; // bytes of the current entry done; reaches size when done
};

// A file or entry the last operation left out, and why.
struct TZipSkip {
    std::string name;
    std::string reason;
};

using TZipEntryEvent = std::function<void(const TZipEntry&)>;
// name: the entry read; data: its whole uncompressed contents.
using TZipDataEvent = std::function<void(const std::string& name, std::string data)>;
using TZipNameEvent = std::function<void(const std::string&)>;
// name: the entry being added; comment: set by the handler (cut to 255 bytes).
using TZipCommentEvent = std::function<void(const std::string& name, std::string& comment)>;
// fileName: the existing file; name: a field the handler may fill; action: the answer.
using TZipReplaceEvent =
    std::function<void(const std::string& fileName, std::string& name, TZipReplaceAction& action)>;

class TZipEngine final {
public:
    TZipEngine();
    ~TZipEngine();
    TZipEngine(const TZipEngine&) = delete;
    TZipEngine& operator=(const TZipEngine&) = delete;

    const std::string& ZipFileName() const { return m_zipFileName; }
    void SetZipFileName(std::string value) { m_zipFileName = std::move(value); }
    // Names or wildcards ("*.*", "pages/*.htm"); emptied by every operation.
    const std::vector<std::string>& FilesToProcess() const { return m_filesToProcess; }
    void SetFilesToProcess(std::vector<std::string> value) { m_filesToProcess = std::move(value); }
    int Compression() const { return m_compression; }
    void SetCompression(int value);
    bool UsePaths() const { return m_usePaths; }
    void SetUsePaths(bool value) { m_usePaths = value; }
    bool Recurse() const { return m_recurse; }
    void SetRecurse(bool value) { m_recurse = value; }
    TZipOverwrite Overwrite() const { return m_overwrite; }
    void SetOverwrite(TZipOverwrite value) { m_overwrite = value; }
    const std::string& ExtractDirectory() const { return m_extractDirectory; }
    void SetExtractDirectory(std::string value) { m_extractDirectory = std::move(value); }
    // ";" separated extensions whose files are stored, not compressed (case ignored).
    const std::string& StoredExtensions() const { return m_storedExtensions; }
    void SetStoredExtensions(std::string value) { m_storedExtensions = std::move(value); }
    // The folder that relative names in FilesToProcess are taken from. Stands in for the process's
    // current directory, which a library must not change; empty means the current directory.
    const std::string& BaseDirectory() const { return m_baseDirectory; }
    void SetBaseDirectory(std::string value) { m_baseDirectory = std::move(value); }
    bool MultidiskMode() const { return false; }

    // Ends the running operation at its next event; any thread. Cleared when an operation starts.
    void Abort() { m_abort = true; }
    bool Aborted() const { return m_abort; }

    // Every operation runs to its end on the calling thread, raises its events there and returns
    // its result as a value (a code, with Skipped(), Added(), LastError() and LastSystemError()).
    int Count(int& count);
    int FileStats(int index, TZipEntry& entry);
    // A failed add leaves a valid archive: the entries it held before and those in Added().
    int Add(TZipAddMode mode);
    int Delete();
    int Extract();
    int List();
    // While List runs (and after it): the number of entries in the archive, matching or not, so
    // that OnListing can show progress.
    std::int64_t ListTotal() const { return m_listTotal; }
    // Reads the named entries (exact names) into memory one at a time, in the archive's order, and
    // hands each to onData; names not in the archive, or that cannot be read, go to Skipped().
    int ReadEntries(const std::vector<std::string>& names, const TZipDataEvent& onData);

    // What the last operation left out (files missing, names refused), and the last failure text.
    const std::vector<TZipSkip>& Skipped() const { return m_skipped; }
    const std::string& LastError() const { return m_lastError; }
    // The entries the last add put into the archive (new or replacing), in the order of the files
    // given; after a failed add, those that went in before the failure.
    const std::vector<std::string>& Added() const { return m_added; }
    // errno of the archive write or open that made the last operation fail; 0 when the failure
    // was not a system error (or nothing failed).
    int LastSystemError() const { return m_lastSystemError; }

    // Each event fires on the thread that runs the operation, before the operation returns: the
    // owner thread for the zip manager's operations, a task's packing thread for its packs.
    TZipEntryEvent OnListing;
    TZipEntryEvent OnAdding;
    TZipEntryEvent OnUpdating;
    TZipEntryEvent OnExtracting;
    TZipNameEvent OnDeleting;
    TZipEntryEvent OnStatus;
    TZipCommentEvent OnFileComment;
    TZipReplaceEvent OnReplace;

    // True when name matches the wildcard pattern: case ignored, "\" and "/" alike, "*" also
    // crosses folders, "*.*" matches every name.
    static bool MatchesPattern(const std::string& pattern, const std::string& name);
    // The path an entry may be extracted to below the extraction folder, or empty when the name is
    // absolute, has a drive, or climbs out with "..".
    static std::string SafeEntryPath(const std::string& name, bool usePaths);

private:
    void BeginOperation();
    bool Fire(const TZipEntryEvent& event, const TZipEntry& entry);
    int Fail(int code, std::string message);
    // Records a failed system call on the archive; returns its code.
    int SystemFail(int error);
    bool MatchesFilesToProcess(const std::string& name) const;
    int CollectAddItems(std::vector<TZipAddItem>& items);
    // Archives the appender does not extend (Zip64, or more than a plain directory): libzip
    // writes a new file and renames it over the old one.
    int AddThroughLibrary(std::vector<TZipAddItem>& items, TZipAddMode mode);
    int ExtractOne(void* archive, std::int64_t index, const TZipEntry& entry, bool& replaceAll);

    std::string m_zipFileName;
    std::vector<std::string> m_filesToProcess;
    int m_compression = 6;
    bool m_usePaths = true;
    bool m_recurse = false;
    TZipOverwrite m_overwrite = xowAsk;
    std::string m_extractDirectory;
    std::string m_storedExtensions = ".ZIP;.LZH;.ARC;.ARJ;.ZOO";
    std::string m_baseDirectory;
    std::atomic<bool> m_abort{false};
    std::vector<TZipSkip> m_skipped;
    std::vector<std::string> m_added;
    std::string m_lastError;
    int m_lastSystemError = 0;
    std::int64_t m_listTotal = 0;
};

} // namespace pellix

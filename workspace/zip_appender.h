// TZipAppender: adds files to a Zip file in place, writing only the new entries and the central
// directory, so that the archive stays readable at every moment, also when the process is killed.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "workspace/zip_engine.h"
#include "workspace/zip_format.h"

namespace pellix {

// A file to be added, as the engine collected it.
struct TZipAddItem {
    std::string sourcePath;
    std::string entryName;
    std::string comment;
    std::int64_t size = 0;
    std::uint32_t dosTime = 0;
    std::uint32_t mode = 0100644;
    std::time_t mtime = 0;
    bool store = false;
    bool replaces = false;
    bool wanted = true;
    // Filled while writing.
    std::uint32_t crc = 0;
    std::int64_t packed = 0;
    bool deflated = false;
    bool written = false;
};

// One append, in three steps:
//   1. a copy of the current central directory and end record is written past the space the new
//      entries and the new directory can take, so the file ends with a valid directory of the old
//      state while the old directory is overwritten;
//   2. the new entries are written where the old directory stood;
//   3. the new directory and end record follow them, and the file is cut after them.
// Until the cut the file ends with the copy (old state); after it with the new directory.
//
// Step 1 never leaves the file's end out of a reader's reach (the last 64 KiB and the end record)
// of an end record of the old state, whatever prefix of a write a kill leaves: the file grows in
// strides, each ending with an end record of the old entries whose directory size spans the
// bytes up to it; the copy is written inside the file so grown, and a cut takes the file back to
// the copy's end record. ReadZipDirectory reads each of these states as the archive before.
//
// Runs on the calling thread and fires the engine's OnFileComment, OnAdding, OnUpdating and
// OnStatus there; the engine's Abort ends it at the next event, keeping what went in before.
// The archive stays locked against other writers until the appender goes, so that an add the
// engine hands to the library instead (NeedsLibrary) runs under the same lock.
class TZipAppender final {
public:
    // Borrows the engine's file name, compression, events and abort flag.
    explicit TZipAppender(TZipEngine& engine);
    ~TZipAppender();
    TZipAppender(const TZipAppender&) = delete;
    TZipAppender& operator=(const TZipAppender&) = delete;

    // kZipOk, kZipNothingToDo (no file is wanted by the mode), or the code of a failure with
    // LastError. A failed append leaves a valid archive: the entries it held before and those in
    // Added().
    int Append(std::vector<TZipAddItem>& items, TZipAddMode mode);
    // The archive is one this appender does not extend (Zip64 is needed, or it holds more than
    // entries and a plain directory): nothing was written, the library is to add the files.
    bool NeedsLibrary() const { return m_needsLibrary; }

    const std::vector<TZipSkip>& Skipped() const { return m_skipped; }
    const std::vector<std::string>& Added() const { return m_added; }
    const std::string& LastError() const { return m_lastError; }
    int LastSystemError() const { return m_lastSystemError; }

    // For tests: called before each write to the archive, numbered from 0 over one append, with
    // its size (1 for a cut of the file's length); returns how many of its bytes go to the file.
    // Fewer than all is a kill at that point: nothing is written after it.
    using TWriteCut = std::function<std::size_t(int write, std::size_t size)>;
    void SetWriteCut(TWriteCut cut) { m_writeCut = std::move(cut); }

private:
    struct TPacker;
    // What the steps share: the directory as read, and what is written after it.
    struct TPlan {
        std::int64_t fileSize = 0;
        TZipDirectory cd;
        std::vector<TZipDirectoryRecord> records;
        std::int64_t reserve = 0;   // bytes the new entries and both directories can take
        std::int64_t endBytes = 0;  // end record and archive comment
        std::int64_t pos = 0;       // where the next entry goes
        std::string added;          // directory records of the entries written
        std::unordered_set<std::string_view> replaced; // names of items, which outlive the plan
        std::uint32_t addedCount = 0;
    };

    // Opens and locks the archive, reads its directory, decides per file by the mode (asking the
    // comments) and bounds the space the new entries can take.
    int Plan(std::vector<TZipAddItem>& items, TZipAddMode mode, TPlan& plan);
    // Step 1.
    int WriteDirectoryCopy(TPlan& plan);
    // Step 2; entries written before an abort or a failure stay (the code says which).
    int WriteEntries(std::vector<TZipAddItem>& items, TPlan& plan);
    // Step 3: kept records in their order, then the new ones, then the cut.
    int WriteNewDirectory(TPlan& plan);
    int WriteEntry(TPacker& packer, std::int64_t offset, TZipAddItem& item, std::int64_t& written);
    std::string EndRecord(const TPlan& plan, std::uint32_t count, std::uint32_t size, std::int64_t offset) const;
    bool Fire(const TZipEntryEvent& event, const TZipEntry& entry) const;
    // Step 1 for an archive comment too long for the strides: the copy in one write.
    int WriteDirectoryCopyAtOnce(TPlan& plan);
    // Writes, cuts and flushes of the archive; false with errno set.
    bool WriteAt(const char* data, std::size_t size, std::int64_t offset);
    bool Truncate(std::int64_t size);
    bool Sync();
    int Fail(int code, std::string message);
    // Records a failed system call on the archive; returns its code.
    int SystemFail(int error);

    TZipEngine& m_engine;
    TZipFd m_fd;
    bool m_needsLibrary = false;
    std::vector<TZipSkip> m_skipped;
    std::vector<std::string> m_added;
    std::string m_lastError;
    int m_lastSystemError = 0;
    TWriteCut m_writeCut;
    int m_writes = 0;
    bool m_killed = false;
};

} // namespace pellix

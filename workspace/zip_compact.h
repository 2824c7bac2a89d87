// Zip compaction: the space of a Zip file that no entry uses any more (replaced entries, ticks cut
// short by a killed process) and a rewrite without it that never leaves a damaged archive.
#pragma once

#include <cstdint>
#include <string>

#include "workspace/zip_result.h"

namespace pellix {

struct TZipSpace {
    int code = kZipOk;         // kZipOk, or why the archive could not be read
    bool measured = false;     // false also for archives our writers leave to libzip (Zip64)
    std::int64_t fileSize = 0;
    std::int64_t liveBytes = 0;  // the entries' local headers, data and descriptors, the directory
    std::int64_t deadBytes = 0;  // fileSize - liveBytes
    std::string error;
};

// Reads the directory and every entry's local header; changes nothing.
TZipSpace MeasureZipSpace(const std::string& zipPath);

struct TZipCompaction {
    int code = kZipOk;
    bool rewritten = false;
    int systemError = 0;  // errno of the failed write, or 0
    std::string error;
    std::int64_t sizeBefore = 0;
    std::int64_t sizeAfter = 0;
};

// Copies the entries, in directory order and byte for byte (names, times, CRCs, comments, extra
// fields), into a new file beside the archive, flushes it and renames it over the archive. On any
// failure the archive is left as it was. Archives that the writers leave to libzip, and files with
// more than one name, are left alone (kZipNothingToDo).
TZipCompaction CompactZip(const std::string& zipPath);

} // namespace pellix

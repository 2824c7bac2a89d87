// ZipEntryNames and StoredZipEntries: what a Zip file holds, for tests that check what was packed;
// UnzipTest: the zip tool's own check of an archive.
#pragma once

#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace pellix::test {

// Empty when the file is missing or not a Zip.
std::set<std::string> ZipEntryNames(const std::string& zipPath);

// One entry as stored, read through libzip.
struct TStoredZipEntry {
    std::string name;
    std::uint32_t crc = 0;
    std::time_t mtime = 0;
    std::uint64_t size = 0;
    std::uint64_t packed = 0;
    std::string comment;
    bool operator==(const TStoredZipEntry&) const = default;
};

// In the archive's order; empty when it cannot be read.
std::vector<TStoredZipEntry> StoredZipEntries(const std::string& zipPath);

// True when `unzip -tq` finds no error; output (when given) gets what it printed.
bool UnzipTest(const std::string& zipPath, std::string* output = nullptr);

} // namespace pellix::test

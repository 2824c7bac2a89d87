// TZipEntrySource: reads single entries of Zip files for the internal browser, without unpacking
// the archive; safe to call from several threads at once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace pellix {

struct TZipEntryRead {
    bool found = false;
    std::string name;   // the entry read (its case may differ from the name asked for)
    std::string data;   // its whole contents
    std::string error;  // why nothing was read
};

class TZipEntrySource final {
public:
    // The entry named, or failing that the one whose name differs only in case (saved pages of
    // sites served from case-blind file systems link that way).
    TZipEntryRead Read(const std::string& zipPath, const std::string& entry);

private:
    struct TListing {
        std::int64_t size = -1;
        std::int64_t modified = 0;
        std::unordered_map<std::string, std::string> byLowerName;
    };
    // The Zip's names by lower-cased name, listed again when the file changed (a running task
    // packs into it).
    std::string CaseBlindName(const std::string& zipPath, const std::string& entry);

    std::mutex m_mutex;
    std::map<std::string, TListing> m_listings;
};

} // namespace pellix

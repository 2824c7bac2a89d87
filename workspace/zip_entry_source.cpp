#include "workspace/zip_entry_source.h"

#include <sys/stat.h>

#include "workspace/zip_engine.h"

namespace pellix {

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool ReadExact(const std::string& zipPath, const std::string& entry, TZipEntryRead& result)
{
    TZipEngine engine;
    engine.SetZipFileName(zipPath);
    engine.ReadEntries({entry}, [&](const std::string& name, std::string data) {
        result.found = true;
        result.name = name;
        result.data = std::move(data);
    });
    if (!result.found) {
        result.error = !engine.Skipped().empty() ? entry + ": " + engine.Skipped().front().reason
                                                  : engine.LastError();
    }
    return result.found;
}

} // namespace

TZipEntryRead TZipEntrySource::Read(const std::string& zipPath, const std::string& entry)
{
    TZipEntryRead result;
    if (ReadExact(zipPath, entry, result))
        return result;
    const std::string other = CaseBlindName(zipPath, entry);
    if (other.empty() || other == entry)
        return result;
    TZipEntryRead second;
    ReadExact(zipPath, other, second);
    return second.found ? second : result;
}

std::string TZipEntrySource::CaseBlindName(const std::string& zipPath, const std::string& entry)
{
    struct stat st {};
    if (::stat(zipPath.c_str(), &st) != 0)
        return {};
    std::lock_guard lock(m_mutex);
    TListing& listing = m_listings[zipPath];
    const std::int64_t modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (listing.size != static_cast<std::int64_t>(st.st_size) || listing.modified != modified) {
        listing = {};
        TZipEngine engine;
        engine.SetZipFileName(zipPath);
        engine.OnListing = [&](const TZipEntry& e) { listing.byLowerName.emplace(Lower(e.name), e.name); };
        if (engine.List() == kZipOk) {
            listing.size = static_cast<std::int64_t>(st.st_size);
            listing.modified = modified;
        }
    }
    const auto it = listing.byLowerName.find(Lower(entry));
    return it == listing.byLowerName.end() ? std::string() : it->second;
}

} // namespace pellix

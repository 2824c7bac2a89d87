// ZipEntryNames: the entry names of a Zip file, for tests that check what a run packed.
#include "tests/support/zip_entries.h"

#include "workspace/zip_engine.h"

namespace pellix::test {

std::set<std::string> ZipEntryNames(const std::string& zipPath)
{
    TZipEngine engine;
    engine.SetZipFileName(zipPath);
    engine.SetFilesToProcess({"*.*"});
    std::set<std::string> names;
    engine.OnListing = [&](const TZipEntry& entry) { names.insert(entry.name); };
    engine.List();
    return names;
}

} // namespace pellix::test

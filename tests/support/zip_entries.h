// ZipEntryNames: the entry names of a Zip file, for tests that check what a run packed.
#pragma once

#include <set>
#include <string>

namespace pellix::test {

// Empty when the file is missing or not a Zip.
std::set<std::string> ZipEntryNames(const std::string& zipPath);

} // namespace pellix::test

// WriteZipFixture: a small Zip file with the given entries, names stored as they stand (hostile
// ones included), for tests that extract from it.
#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace pellix::test {

using TZipFixtureEntries = std::vector<std::pair<std::string, std::string>>;  // name, data

// False when the file could not be written. mtime: every entry's time, 0 for now.
bool WriteZipFixture(const std::string& zipPath, const TZipFixtureEntries& entries, std::time_t mtime = 0);

} // namespace pellix::test

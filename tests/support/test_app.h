// Test applications: TPXApp objects whose folders and settings all lie in one test folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "workspace/app_settings.h"

namespace pellix::test {

// A file type group as the settings store holds it: its name and ";"-ended extensions.
struct TFileTypeGroup {
    std::string name;
    std::string extensions;
};

// Below folder: the program folder "home", the settings "registry.ini", the system temp "tmp",
// the user's home "user" and the default intranet folder "site".
TAppPaths TestAppPaths(const std::filesystem::path& folder);

// Below folder, laid out as on a user's machine: the user's home "home" holding the program folder
// "home/Pellix" and the intranet folder "home/My Intranet", the settings "config/registry.ini",
// the system temp "systmp".
TAppPaths UserHomeAppPaths(const std::filesystem::path& folder);

// An application on TestAppPaths(folder) with the given file type groups stored.
std::unique_ptr<TPXApp> MakeTestApp(const std::filesystem::path& folder, const std::vector<TFileTypeGroup>& fileTypes);

} // namespace pellix::test

// Test applications: TPXApp objects whose folders and settings all lie in one test folder.
#include "tests/support/test_app.h"

namespace pellix::test {

TAppPaths TestAppPaths(const std::filesystem::path& folder)
{
    TAppPaths paths;
    paths.programFolder = folder / "home";
    paths.settingsFile = folder / "registry.ini";
    paths.systemTemp = folder / "tmp";
    paths.homeFolder = folder / "user";
    paths.intranetDefault = folder / "site";
    return paths;
}

TAppPaths UserHomeAppPaths(const std::filesystem::path& folder)
{
    TAppPaths paths;
    paths.homeFolder = folder / "home";
    paths.programFolder = folder / "home" / "Pellix";
    paths.settingsFile = folder / "config" / "registry.ini";
    paths.systemTemp = folder / "systmp";
    paths.intranetDefault = folder / "home" / "My Intranet";
    return paths;
}

std::unique_ptr<TPXApp> MakeTestApp(const std::filesystem::path& folder, const std::vector<TFileTypeGroup>& fileTypes)
{
    auto app = std::make_unique<TPXApp>(TestAppPaths(folder));
    for (const TFileTypeGroup& group : fileTypes)
        app->Store().WriteSetting(kFileTypesKey, group.name, group.extensions);
    return app;
}

} // namespace pellix::test

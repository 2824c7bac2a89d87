#include "workspace/app_settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <type_traits>

#include "engine/task.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

class TPXAppTest : public ::testing::Test {
protected:
    TAppPaths Paths() const
    {
        return test::UserHomeAppPaths(m_temp.Path());
    }
    std::string Root() const { return m_temp.Path().string(); }

    test::TTempFolder m_temp;
};

TEST_F(TPXAppTest, EmptyStoreGivesTheDefaults)
{
    const TPXApp app(Paths());
    EXPECT_TRUE(app.BeepOnCompletion());
    EXPECT_FALSE(app.TasksViewFirst());
    EXPECT_EQ(app.Connections(), 10u);
    EXPECT_EQ(app.Priority(), 5);
    EXPECT_FALSE(app.UseProxy());
    EXPECT_EQ(app.ProxyAddress(), "");
    EXPECT_EQ(app.Skin(), "Default");
    EXPECT_FALSE(app.NoAds());
    EXPECT_EQ(app.MaxURLHistory(), 20u);
    EXPECT_EQ(app.MaxFileHistory(), 10u);
    EXPECT_EQ(app.LastCategory(), "General");
    EXPECT_EQ(app.SaveMode(), kSaveModeZip);
    EXPECT_FALSE(app.ZipLast());
    EXPECT_EQ(app.Compression(), 6);
    EXPECT_EQ(app.Compression(0), 0); // the zip wizard's own default
    EXPECT_TRUE(app.UsePaths());
    EXPECT_FALSE(app.UsePaths(false));
    EXPECT_EQ(app.ZipAction(), 0);
    EXPECT_EQ(app.DownloadListSaveInterval(), 10);
    EXPECT_EQ(app.StoredVersion(), "");
    const TWindowPosition position = app.WindowPosition();
    EXPECT_EQ(position.left, 0);
    EXPECT_EQ(position.width, 640);
    EXPECT_EQ(position.height, 480);
    EXPECT_EQ(app.TasksFolder(), Root() + "/home/Pellix/Tasks/");
    EXPECT_EQ(app.SkinsFolder(), Root() + "/home/Pellix/Skins/Default/");
    // Nothing was written by construction or by plain reads.
    EXPECT_FALSE(fs::exists(Paths().settingsFile));
}

TEST_F(TPXAppTest, NewPriorityRestartsTheCurrentTasksBalance)
{
    TPXApp app(Paths());
    TPXTask task(&app);
    task.AddPageTaken();
    task.AddPageTaken();
    task.AddResourceTaken();
    app.SetCurrentTask(&task);
    app.SetPriority(0);
    EXPECT_EQ(task.PagesTaken(), 0);
    EXPECT_EQ(task.ResourcesTaken(), 0);
    app.SetCurrentTask(nullptr);
    app.SetPriority(5); // no current task: nothing to reset
}

TEST_F(TPXAppTest, SettersWriteAtOnceForTheNextStart)
{
    {
        TPXApp app(Paths());
        app.SetBeepOnCompletion(false);
        app.SetConnections(3);
        app.SetPriority(8);
        app.SetProxyAddress("proxy.local");
        app.SetProxyPort("3128");
        app.SetSkin("Blue");
        app.SetMaxURLHistory(300);
        app.SetLastCategory("");
        app.SetSaveMode(kSaveModeIntranet);
        app.SetZipLast(true);
        app.SetWindowPosition({10, 20, 800, 600});
        app.SaveRecentItems(kRecentURLsKey, {"http://a/", "http://b/", "http://c/"});
        app.SaveRecentItems(kRecentURLsKey, {"http://new/"});
    }
    const TPXApp app(Paths());
    EXPECT_FALSE(app.BeepOnCompletion());
    EXPECT_EQ(app.Connections(), 3u);
    EXPECT_EQ(app.Priority(), 8);
    EXPECT_EQ(app.ProxyAddress(), "proxy.local");
    EXPECT_EQ(app.ProxyPort(), "3128");
    EXPECT_EQ(app.Skin(), "Blue");
    EXPECT_EQ(app.MaxURLHistory(), 300u); // not validated: readers apply their own limits
    EXPECT_EQ(app.LastCategory(), "General");
    EXPECT_EQ(app.Store().ReadSetting(kSettingsKey, "Last Category", "?"), ""); // written unchanged
    EXPECT_EQ(app.SaveMode(), kSaveModeIntranet);
    EXPECT_TRUE(app.ZipLast());
    EXPECT_EQ(app.WindowPosition().width, 800);
    EXPECT_EQ(app.Store().ReadSetting(kWindowPositionKey, "Top", ""), "20");
    EXPECT_EQ(app.RecentItems(kRecentURLsKey), (std::vector<std::string>{"http://new/"}));
}

template <typename T>
std::string Text(const T& value)
{
    if constexpr (std::is_same_v<T, std::string>)
        return value;
    else if constexpr (std::is_same_v<T, bool>)
        return value ? "1" : "0";
    else
        return std::to_string(value);
}

// One setting as a later version of the program, or an older one, finds it in the store.
struct TSettingCase {
    const char* key;
    const char* name;
    std::function<std::string(const TPXApp&)> get;
    std::function<void(TPXApp&)> set; // stores the sample
    std::string defaultText;          // what get gives without the value
    TSettingValue stored;             // what the sample leaves in the store, type included
    std::string sampleText;           // what get gives with it
};

TEST_F(TPXAppTest, EverySettingRoundTripsAndReadsItsDefaultWhenMissing)
{
    using V = TSettingValue;
    const TSettingCase cases[] = {
        {kSettingsKey, "Beep On Completion", [](const TPXApp& a) { return Text(a.BeepOnCompletion()); },
         [](TPXApp& a) { a.SetBeepOnCompletion(false); }, "1", V::Dword(0), "0"},
        {kSettingsKey, "Zip Properties First", [](const TPXApp& a) { return Text(a.TasksViewFirst()); },
         [](TPXApp& a) { a.SetTasksViewFirst(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Connections", [](const TPXApp& a) { return Text(a.Connections()); },
         [](TPXApp& a) { a.SetConnections(3); }, "10", V::Dword(3), "3"},
        {kSettingsKey, "Priority", [](const TPXApp& a) { return Text(a.Priority()); },
         [](TPXApp& a) { a.SetPriority(0); }, "5", V::Dword(0), "0"},
        {kSettingsKey, "Use Proxy", [](const TPXApp& a) { return Text(a.UseProxy()); },
         [](TPXApp& a) { a.SetUseProxy(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Proxy Address", [](const TPXApp& a) { return a.ProxyAddress(); },
         [](TPXApp& a) { a.SetProxyAddress("proxy.local"); }, "", V::String("proxy.local"), "proxy.local"},
        {kSettingsKey, "Proxy Port", [](const TPXApp& a) { return a.ProxyPort(); },
         [](TPXApp& a) { a.SetProxyPort("3128"); }, "", V::String("3128"), "3128"},
        {kSettingsKey, "Proxy Authorization", [](const TPXApp& a) { return a.ProxyAuthorization(); },
         [](TPXApp& a) { a.SetProxyAuthorization("me:secret"); }, "", V::String("me:secret"), "me:secret"},
        {kSettingsKey, "Skin", [](const TPXApp& a) { return a.Skin(); },
         [](TPXApp& a) { a.SetSkin("Blue"); }, "Default", V::String("Blue"), "Blue"},
        {kSettingsKey, "No Ads", [](const TPXApp& a) { return Text(a.NoAds()); },
         [](TPXApp& a) { a.SetNoAds(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Max URL History", [](const TPXApp& a) { return Text(a.MaxURLHistory()); },
         [](TPXApp& a) { a.SetMaxURLHistory(300); }, "20", V::Dword(300), "300"},
        {kSettingsKey, "Max File History", [](const TPXApp& a) { return Text(a.MaxFileHistory()); },
         [](TPXApp& a) { a.SetMaxFileHistory(0); }, "10", V::Dword(0), "0"},
        {kSettingsKey, "Last Category", [](const TPXApp& a) { return a.LastCategory(); },
         [](TPXApp& a) { a.SetLastCategory("Work"); }, "General", V::String("Work"), "Work"},
        {kSettingsKey, "User Agent", [](const TPXApp& a) { return a.StoredUserAgent(); },
         [](TPXApp& a) { a.SetUserAgent("Anonymous"); }, "", V::String("Anonymous"), "Anonymous"},
        {kSettingsKey, "Save Mode", [](const TPXApp& a) { return Text(a.SaveMode()); },
         [](TPXApp& a) { a.SetSaveMode(kSaveModeIntranet); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Zip Last", [](const TPXApp& a) { return Text(a.ZipLast()); },
         [](TPXApp& a) { a.SetZipLast(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Compression", [](const TPXApp& a) { return Text(a.Compression()); },
         [](TPXApp& a) { a.SetCompression(9); }, "6", V::Dword(9), "9"},
        {kSettingsKey, "Use Paths", [](const TPXApp& a) { return Text(a.UsePaths()); },
         [](TPXApp& a) { a.SetUsePaths(false); }, "1", V::Dword(0), "0"},
        {kSettingsKey, "Action", [](const TPXApp& a) { return Text(a.ZipAction()); },
         [](TPXApp& a) { a.SetZipAction(2); }, "0", V::Dword(2), "2"},
        {kSettingsKey, "Zip Folder", [](const TPXApp& a) { return a.ZipFolder(); },
         [](TPXApp& a) { a.SetZipFolder("/srv/in/"); }, "", V::String("/srv/in/"), "/srv/in/"},
        {kSettingsKey, "Last Zip Folder", [](const TPXApp& a) { return Text(a.LastZipFolder()); },
         [](TPXApp& a) { a.SetLastZipFolder(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Unzip Folder", [](const TPXApp& a) { return a.UnzipFolder(); },
         [](TPXApp& a) { a.SetUnzipFolder("/srv/out/"); }, "", V::String("/srv/out/"), "/srv/out/"},
        {kSettingsKey, "Last Unzip Folder", [](const TPXApp& a) { return Text(a.LastUnzipFolder()); },
         [](TPXApp& a) { a.SetLastUnzipFolder(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Extract Use Paths", [](const TPXApp& a) { return Text(a.ExtractUsePaths()); },
         [](TPXApp& a) { a.SetExtractUsePaths(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Extract Overwrite", [](const TPXApp& a) { return Text(a.ExtractOverwrite()); },
         [](TPXApp& a) { a.SetExtractOverwrite(true); }, "0", V::Dword(1), "1"},
        {kSettingsKey, "Max Parsed Page Size", [](const TPXApp& a) { return Text(a.MaxParsedPageSize()); },
         [](TPXApp& a) { a.SetMaxParsedPageSize(1000); }, "16777216", V::Dword(1000), "1000"},
        {kSettingsKey, "CA File", [](const TPXApp& a) { return a.CAFile(); },
         [](TPXApp& a) { a.SetCAFile("/etc/extra-ca.pem"); }, "", V::String("/etc/extra-ca.pem"), "/etc/extra-ca.pem"},
        {kSettingsKey, "Check Certificate", [](const TPXApp& a) { return Text(a.CheckCertificate()); },
         [](TPXApp& a) { a.SetCheckCertificate(false); }, "1", V::Dword(0), "0"},
        {kPellixKey, "Version", [](const TPXApp& a) { return a.StoredVersion(); },
         [](TPXApp& a) { a.SetStoredVersion("2.50"); }, "", V::String("2.50"), "2.50"},
        {kWindowPositionKey, "Left", [](const TPXApp& a) { return Text(a.WindowPosition().left); },
         [](TPXApp& a) { a.SetWindowPosition({7, 0, 640, 480}); }, "0", V::String("7"), "7"},
        {kWindowPositionKey, "Height", [](const TPXApp& a) { return Text(a.WindowPosition().height); },
         [](TPXApp& a) { a.SetWindowPosition({7, 0, 640, 600}); }, "480", V::String("600"), "600"},
    };
    const auto expectAll = [&](const TPXApp& app, bool sample) {
        for (const TSettingCase& c : cases)
            EXPECT_EQ(c.get(app), sample ? c.sampleText : c.defaultText) << c.name;
    };

    TPXApp app(Paths());
    expectAll(app, false);
    for (const TSettingCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.set(app);
        TSettingValue value;
        ASSERT_TRUE(app.Store().ReadValue(c.key, c.name, value));
        EXPECT_EQ(static_cast<int>(value.kind), static_cast<int>(c.stored.kind));
        EXPECT_TRUE(value == c.stored) << "dword " << value.dword << ", bytes " << value.bytes;
    }
    expectAll(app, true);
    expectAll(TPXApp(Paths()), true); // and at the next start

    // A value of another type is no value: the reader falls back on its default.
    for (const TSettingCase& c : cases)
        app.Store().WriteValue(c.key, c.name,
                               c.stored.kind == TSettingKind::skDword ? V::String("1") : V::Dword(1));
    expectAll(TPXApp(Paths()), false);
    for (const TSettingCase& c : cases)
        app.Store().DeleteSetting(c.key, c.name);
    expectAll(TPXApp(Paths()), false);
}

TEST_F(TPXAppTest, FolderGettersStoreDefaultsAndCreateFolders)
{
    TPXApp app(Paths());
    const std::string downloads = app.DownloadsFolder();
    EXPECT_EQ(downloads, Root() + "/home/Pellix/Downloads/");
    EXPECT_TRUE(fs::is_directory(downloads));
    EXPECT_EQ(app.Store().ReadSetting(kSettingsKey, "Downloads Folder", ""), downloads);

    const std::string temp = app.TempFolder();
    EXPECT_EQ(temp, Root() + "/systmp/Pellix/");
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_FALSE(app.Store().ValueExists(kSettingsKey, "Temp Folder"));

    const std::string intranet = app.IntranetFolder();
    EXPECT_EQ(intranet, Root() + "/home/My Intranet/");
    EXPECT_TRUE(fs::is_directory(intranet));

    EXPECT_TRUE(fs::is_directory(app.TasksFolder()));
    EXPECT_TRUE(fs::is_directory(app.ProfilesFolder()));

    // Set: a trailing "/" is added; empty restores the default; the getter creates the folder.
    app.SetDownloadsFolder(Root() + "/elsewhere/zips");
    EXPECT_EQ(app.DownloadsFolder(), Root() + "/elsewhere/zips/");
    EXPECT_TRUE(fs::is_directory(Root() + "/elsewhere/zips"));
    app.SetDownloadsFolder("");
    EXPECT_EQ(app.DownloadsFolder(), Root() + "/home/Pellix/Downloads/");
    app.SetIntranetFolder("");
    EXPECT_EQ(app.IntranetFolder(), Root() + "/home/My Intranet/");
}

TEST_F(TPXAppTest, TempFolderKeepsTheProductNameAndSparesUserData)
{
    const std::string program = Root() + "/home/Pellix/";
    const struct {
        std::string set;
        bool accepted;
        std::string stored;
    } cases[] = {
        {"/srv/cache", true, "/srv/cache/Pellix/"},
        {"/srv/cache/", true, "/srv/cache/Pellix/"},
        {"/srv/PELLIX-cache", true, "/srv/PELLIX-cache/"},
        {"/srv/my pellix/", true, "/srv/my pellix/"},
        {"/home/pellix/Downloads", true, "/home/pellix/Downloads/Pellix/"}, // only its own name counts
        {program + "Temp", true, program + "Temp/Pellix/"},
        {program + "Downloads", true, program + "Downloads/Pellix/"}, // a fresh folder of its own
        {"", false, ""},
        // Each of these would be deleted whole at exit, with the user's data in it.
        {program, false, ""},
        {program + "Tasks", false, ""},
        {program + "Tasks/General/pellix", false, ""},
        {Root() + "/home", false, ""},
        {Root() + "/home/../home/Pellix", false, ""},
        {Root() + "/home/pellix-files/../Pellix", false, ""},
        {Root(), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        TPXApp app(Paths());
        app.Store().DeleteSetting(kSettingsKey, "Temp Folder");
        EXPECT_EQ(app.SetTempFolder(c.set), c.accepted);
        EXPECT_EQ(app.Store().ReadSetting(kSettingsKey, "Temp Folder", ""), c.stored);
    }
    // A stored temp folder is what the getter gives, created.
    TPXApp app(Paths());
    ASSERT_TRUE(app.SetTempFolder(Root() + "/scratch"));
    EXPECT_EQ(app.TempFolder(), Root() + "/scratch/Pellix/");
    EXPECT_TRUE(fs::is_directory(Root() + "/scratch/Pellix"));
    EXPECT_TRUE(app.IsTempFolderDisposable(app.TempFolder()));
    EXPECT_FALSE(app.IsTempFolderDisposable("/srv/cache/"));
}

// The temp folder is asked for with every file: its look is kept for the re-check interval, but
// the start of a run always looks, so a folder swapped for a link is refused there.
TEST_F(TPXAppTest, TempFolderLooksAgainAfterTheIntervalAndAtEveryCheck)
{
    std::chrono::steady_clock::time_point now{};
    TPXApp app(Paths(), 32, [&] { return now; });
    const std::string temp = app.TempFolder();
    const fs::path folder = temp.substr(0, temp.size() - 1);
    const auto mode = [&] { return fs::status(folder).permissions() & fs::perms::all; };
    ASSERT_EQ(mode(), fs::perms::owner_all);

    // Opened up by someone else: put right at the first look after the interval.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(app.TempFolder(), temp);
    now += TSettingsStore::kRecheckInterval;
    EXPECT_EQ(app.TempFolder(), temp);
    EXPECT_EQ(mode(), fs::perms::owner_all);

    // Removed: made again, private.
    fs::remove_all(folder);
    now += TSettingsStore::kRecheckInterval;
    EXPECT_EQ(app.TempFolder(), temp);
    EXPECT_EQ(mode(), fs::perms::owner_all);

    // Replaced by a link within the interval: the check at a run's start refuses it all the same.
    fs::remove_all(folder);
    fs::create_directories(Root() + "/elsewhere");
    fs::create_directory_symlink(Root() + "/elsewhere", folder);
    std::string error;
    EXPECT_FALSE(app.CheckTempFolder(&error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    // Another folder in the settings is looked at at once.
    ASSERT_TRUE(app.SetTempFolder(Root() + "/scratch"));
    EXPECT_EQ(app.TempFolder(), Root() + "/scratch/Pellix/");
    EXPECT_TRUE(fs::is_directory(Root() + "/scratch/Pellix"));
    EXPECT_TRUE(app.CheckTempFolder(&error)) << error;
}

TEST_F(TPXAppTest, UserAgentMapping)
{
    const std::string pellix = "Pellix/2.46 (https://pellix.org/)";
    const struct {
        const char* stored;
        std::string sent;
    } cases[] = {
        {"", pellix},
        {"Pellix", pellix},
        {"Internet Explorer 4.01", "Mozilla/4.0 (compatible; MSIE 4.01; Windows 95)"},
        {"Netscape Navigator 4.05", "Mozilla/4.05 [en] (Win95; I)"},
        {"Anonymous", ""},
        {"anonymous", "anonymous"},
        {"Mozilla/5.0 (X11; Linux x86_64) Custom", "Mozilla/5.0 (X11; Linux x86_64) Custom"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        {
            TPXApp app(Paths());
            app.SetUserAgent(c.stored);
            EXPECT_EQ(app.UserAgent(), c.sent);
            EXPECT_EQ(app.StoredUserAgent(), c.stored);
        }
        EXPECT_EQ(TPXApp(Paths()).UserAgent(), c.sent); // mapped again at start-up
    }
}

TEST_F(TPXAppTest, ColourSchemeFollowsDisplayDepth)
{
    const TPXApp high(Paths(), 32);
    EXPECT_EQ(high.Colours().dark, 0x003366u);
    EXPECT_EQ(high.Colours().light, 0xCECFBDu);
    const TPXApp low(Paths(), 8);
    EXPECT_EQ(low.Colours().main, 0x004080u);
    EXPECT_EQ(low.Colours().accent, 0x0060A1u);
    EXPECT_EQ(TPXApp(Paths(), 16).Colours().main, 0x336699u);
}

} // namespace
} // namespace pellix

#include "workspace/app_settings.h"

#include <gtest/gtest.h>

#include "engine/task.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

class TPXAppTest : public ::testing::Test {
protected:
    TAppPaths Paths() const
    {
        TAppPaths paths;
        paths.homeFolder = m_temp.Path() / "home";
        paths.programFolder = m_temp.Path() / "home" / "Pellix";
        paths.settingsFile = m_temp.Path() / "config" / "registry.ini";
        paths.systemTemp = m_temp.Path() / "systmp";
        paths.intranetDefault = m_temp.Path() / "home" / "My Intranet";
        return paths;
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

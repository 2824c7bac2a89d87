// The main window's rules: recent lists, menu enabling, view switching, the day zip, arguments,
// the single-instance message and proxy detection.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"
#include "workspace/main_window_rules.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

class TMainWindowRulesTest : public ::testing::Test {
protected:
    TAppPaths Paths() const
    {
        return test::UserHomeAppPaths(m_temp.Path());
    }

    test::TTempFolder m_temp;
};

TEST(RecentListTest, AddsAtTopMovesDuplicatesAndKeepsTheMaximum)
{
    TRecentList list(kRecentURLsKey, 3);
    for (const char* item : {"a", "b", "c", "b", "d"})
        list.Add(item);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"d", "b", "c"}));

    list.SetMaximum(1);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"d"}));
    list.SetMaximum(0);
    list.Add("e");
    EXPECT_TRUE(list.Items().empty());
}

TEST(RecentListTest, MaximumIsAnEightBitCountThatDoesNotWrap)
{
    const std::vector<std::pair<std::uint32_t, int>> cases = {{0, 0}, {20, 20}, {255, 255}, {256, 255}, {300, 255}, {0xFFFFFFFFu, 255}};
    for (const auto& [setting, expected] : cases) {
        TRecentList list(kRecentZipFilesKey, setting);
        EXPECT_EQ(list.Maximum(), expected) << setting;
    }
}

TEST_F(TMainWindowRulesTest, RecentListsAreStoredAsF0F1InTheirOwnKeys)
{
    {
        TPXApp app(Paths());
        TRecentList urls(kRecentURLsKey, app.MaxURLHistory());
        TRecentList zips(kRecentZipFilesKey, app.MaxFileHistory());
        urls.Add("http://one/");
        urls.Add("http://two/");
        zips.Add("/z/a.zip");
        urls.Save(app);
        zips.Save(app);
        EXPECT_EQ(app.Store().ReadSetting(kRecentURLsKey, "F0", ""), "http://two/");
        EXPECT_EQ(app.Store().ReadSetting(kRecentURLsKey, "F1", ""), "http://one/");
        EXPECT_EQ(app.Store().ReadSetting(kRecentZipFilesKey, "F0", ""), "/z/a.zip");
    }
    TPXApp app(Paths());
    app.SetMaxURLHistory(1);
    TRecentList urls(kRecentURLsKey, app.MaxURLHistory());
    urls.Load(app);
    EXPECT_EQ(urls.Items(), (std::vector<std::string>{"http://two/"}));
    // A shorter list saved replaces the whole key: no stale "F1" is left behind.
    urls.Save(app);
    EXPECT_EQ(app.Store().ReadSetting(kRecentURLsKey, "F1", "none"), "none");
}

TEST(RecentListTest, AMissingZipIsDroppedWithItsMessage)
{
    TRecentList list(kRecentZipFilesKey, 10);
    list.Add("/gone.zip");
    list.Add("/here.zip");
    EXPECT_EQ(CheckRecentZip(list, "/here.zip", true), "");
    EXPECT_EQ(CheckRecentZip(list, "/gone.zip", false), "The file /gone.zip no longer exists.");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"/here.zip"}));
    EXPECT_EQ(RecentZipCaption(0, "/here.zip"), "&1 /here.zip");
}

TEST(MenuEnablingTest, Table)
{
    struct TCase {
        const char* name;
        TMenuState state;
        TMenuEnabling expected;
    };
    const auto enabling = [](bool zip, bool undo, bool cut, bool paste, bool first, bool second, bool add) {
        TMenuEnabling e;
        e.zipCommands = zip;
        e.undo = undo;
        e.cut = e.copy = cut;
        e.paste = paste;
        e.firstBrowser = first;
        e.secondBrowser = second;
        e.addToZip = add;
        return e;
    };
    const TCase cases[] = {
        {"nothing", {}, enabling(false, false, false, false, false, false, false)},
        {"zip selected, focus on the tree", {true, TFocusKind::ZipTree}, enabling(true, false, false, false, false, false, true)},
        {"zip selected, focus on the list", {true, TFocusKind::ZipList}, enabling(true, false, false, false, false, false, true)},
        {"zip selected, focus elsewhere", {true, TFocusKind::Other}, enabling(false, false, false, false, false, false, true)},
        {"focus on the tree, no zip", {false, TFocusKind::ZipTree}, enabling(false, false, false, false, false, false, false)},
        {"edit field, selection, undo, clipboard", {false, TFocusKind::EditField, true, true, true}, enabling(false, true, true, true, false, false, false)},
        {"edit field, nothing to do", {false, TFocusKind::EditField, false, false, false}, enabling(false, false, false, false, false, false, false)},
        {"edit field, only the clipboard", {false, TFocusKind::EditField, false, false, true}, enabling(false, false, false, true, false, false, false)},
        {"not an edit field: edit items stay off", {false, TFocusKind::Other, true, true, true}, enabling(false, false, false, false, false, false, false)},
        {"browsers looked up separately", {false, TFocusKind::Other, false, false, false, false, true}, enabling(false, false, false, false, false, true, false)},
        {"both browsers", {false, TFocusKind::Other, false, false, false, true, true}, enabling(false, false, false, false, true, true, false)},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(MenuEnabling(c.state), c.expected) << c.name;
}

TEST(ViewSwitcherTest, TitlesAndLeftPanePerView)
{
    struct TCase {
        TView view;
        const char* title;
        bool leftPane;
    };
    const TCase cases[] = {
        {TView::Home, " Pellix Home", false},
        {TView::ZipProperties, " Zip Properties", true},
        {TView::Tasks, " Tasks", false},
        {TView::Connections, " Connections", false},
        {TView::Explore, " Exploring Task: site", false},
    };
    TViewSwitcher views;
    for (const TCase& c : cases) {
        views.SwitchTo(c.view, "site");
        EXPECT_EQ(views.Title(), c.title);
        EXPECT_EQ(views.LeftPaneVisible(), c.leftPane) << c.title;
    }
    views.SwitchTo(TView::Explore);
    EXPECT_EQ(views.Title(), " Exploring Task: ");
}

TEST(ViewSwitcherTest, BrowseLinkShowsThePaneThenTogglesIt)
{
    TViewSwitcher views;
    views.SwitchTo(TView::Tasks);
    views.BrowseLink();
    EXPECT_EQ(views.View(), TView::Browse);
    EXPECT_EQ(views.Title(), " Browse - Zip Files");
    EXPECT_TRUE(views.LeftPaneVisible());
    views.BrowseLink();
    EXPECT_FALSE(views.LeftPaneVisible());
    views.BrowseLink();
    EXPECT_TRUE(views.LeftPaneVisible());

    // Switching to Browse by other means leaves the pane as it was.
    views.BrowseLink();
    views.SwitchTo(TView::Browse);
    EXPECT_FALSE(views.LeftPaneVisible());
}

TEST(ViewSwitcherTest, IntranetTabSwitchesToBrowseWithThePersonalWebTitle)
{
    TViewSwitcher views;
    views.SwitchTo(TView::ZipProperties);
    views.SelectTab(TLeftTab::Intranet);
    EXPECT_EQ(views.View(), TView::Browse);
    EXPECT_EQ(views.Title(), " Browse - Personal Web");
    views.SelectTab(TLeftTab::Zips);
    EXPECT_EQ(views.Title(), " Browse - Zip Files");
}

TEST(DayZipTest, CaptionAndFileName)
{
    EXPECT_EQ(DayZipCaption("10/12/2026"), "New - My Pellix's for 10/12/2026");
    EXPECT_EQ(DayZipFileName("10/12/2026"), "My Pellixs for 10-12-2026.zip");
    EXPECT_EQ(DayZipFileName("2026-12-10"), "My Pellixs for 2026-12-10.zip");
}

TEST(ArgumentTest, ClassifiedWhateverTheCase)
{
    const std::map<std::string, TArgumentKind> cases = {
        {"http://example.org/", TArgumentKind::Address},
        {"HTTP://EXAMPLE.ORG/", TArgumentKind::Address},
        {"Https://example.org/", TArgumentKind::Address},
        {"/t/site.pxt", TArgumentKind::TaskFile},
        {"/t/SITE.PXT", TArgumentKind::TaskFile},
        {"a.Zip", TArgumentKind::ZipFile},
        {"ftp://example.org/", TArgumentKind::Other},
        {"http:/x", TArgumentKind::Other},
        {"site.pxt.bak", TArgumentKind::Other},
        {"", TArgumentKind::Other},
    };
    for (const auto& [argument, kind] : cases)
        EXPECT_EQ(ClassifyArgument(argument), kind) << argument;
}

TEST(InstanceMessageTest, RoundTripAndRefusals)
{
    const std::vector<std::string> args = {"/a b/site.zip", "/t/x.pxt"};
    EXPECT_EQ(InstanceMessage(args), "PARAM\n/a b/site.zip\n/t/x.pxt\n");
    EXPECT_EQ(ParseInstanceMessage(InstanceMessage(args)), args);
    EXPECT_EQ(ParseInstanceMessage("PARAM\r\nx.zip\r\n"), (std::vector<std::string>{"x.zip"}));
    EXPECT_FALSE(ParseInstanceMessage("x.zip\n").has_value());
    EXPECT_FALSE(ParseInstanceMessage("").has_value());
    // An argument with a line break would arrive as two: it is not sent.
    EXPECT_EQ(InstanceMessage({"a\nb.zip", "c.zip"}), "PARAM\nc.zip\n");
    EXPECT_EQ(InstanceServerName("jo/e"), "BTXEVTWFCT-jo_e");
}

TEST(ProxyDetectionTest, FromTheEnvironment)
{
    struct TCase {
        std::map<std::string, std::string> env;
        bool found = false;
        std::string variable = {}, address = {}, port = {}, authorization = {}, noProxy = {};
    };
    const TCase cases[] = {
        {{}, false},
        {{{"http_proxy", "http://proxy.lan:3128/"}}, true, "http_proxy", "proxy.lan", "3128"},
        {{{"HTTPS_PROXY", "user:pw@10.0.0.1:8080"}, {"no_proxy", "localhost,.lan"}}, true, "HTTPS_PROXY", "10.0.0.1", "8080", "user:pw", "localhost,.lan"},
        {{{"http_proxy", "http://[::1]:3128"}}, true, "http_proxy", "[::1]", "3128"},
        {{{"http_proxy", "squid"}}, true, "http_proxy", "squid", ""},
        // An unusable value is skipped for the next variable.
        {{{"http_proxy", "http://:3128"}, {"https_proxy", "p:1"}}, true, "https_proxy", "p", "1"},
        {{{"http_proxy", "host:port"}}, false},
    };
    for (const TCase& c : cases) {
        const auto proxy = DetectProxy([&](const char* name) {
            const auto it = c.env.find(name);
            return it == c.env.end() ? std::string() : it->second;
        });
        ASSERT_EQ(proxy.has_value(), c.found) << (c.env.empty() ? "" : c.env.begin()->second);
        if (!proxy)
            continue;
        EXPECT_EQ(proxy->variable, c.variable);
        EXPECT_EQ(proxy->address, c.address);
        EXPECT_EQ(proxy->port, c.port);
        EXPECT_EQ(proxy->authorization, c.authorization);
        EXPECT_EQ(proxy->noProxy, c.noProxy);
    }
}

TEST_F(TMainWindowRulesTest, ProfileBoxListsCustomThenTheProfiles)
{
    TPXApp app(Paths());
    const std::string folder = app.ProfilesFolder();
    for (const char* name : {"Zeta.pxp", "Alpha.PXP", "notes.txt"})
        std::ofstream(folder + name) << "x";
    EXPECT_EQ(ProfileBoxItems(folder), (std::vector<std::string>{"Custom", "Alpha", "Zeta"}));
}

TEST_F(TMainWindowRulesTest, ExitRemovesTheTempFolderButKeepsUnfinishedRuns)
{
    TPXApp app(Paths());
    ASSERT_TRUE(app.SetTempFolder((m_temp.Path() / "cache").string()));
    const fs::path temp = app.TempFolder();
    fs::create_directories(temp / "extracted" / "a");
    std::ofstream(temp / "extracted" / "a" / "page.htm") << "x";
    EXPECT_TRUE(RemoveTempFolderAtExit(app));
    EXPECT_FALSE(fs::exists(temp));

    // A stopped run's saved but unpacked files are what a resume packs: they stay.
    const fs::path work = temp / "task-0123456789abcdef";
    fs::create_directories(work);
    std::ofstream(work / "index.html") << "x";
    std::ofstream(temp / "stray.tmp") << "x";
    EXPECT_TRUE(RemoveTempFolderAtExit(app));
    EXPECT_TRUE(fs::exists(work / "index.html"));
    EXPECT_FALSE(fs::exists(temp / "stray.tmp"));
}

TEST_F(TMainWindowRulesTest, ATempFolderFailingTheGuardIsNeverTouched)
{
    TPXApp app(Paths());
    // Stored behind the setter's back: no product name in it.
    const fs::path cache = m_temp.Path() / "cache";
    fs::create_directories(cache);
    std::ofstream(cache / "keep.txt") << "x";
    app.Store().WriteSetting(kSettingsKey, "Temp Folder", cache.string() + "/");
    EXPECT_FALSE(RemoveTempFolderAtExit(app));
    EXPECT_TRUE(fs::exists(cache / "keep.txt"));
}

} // namespace
} // namespace pellix

// Tests of TPXProfile: the profile file and the link test AcceptLink.
#include "links/profile.h"

#include <gtest/gtest.h>

#include <functional>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"
#include "workspace/ini_file.h"

namespace pellix {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(PELLIX_SOURCE_DIR) / "tests/fixtures/task_model";

TEST(TPXProfileTest, FileRoundTripsByteForByte)
{
    test::TTempFolder folder;
    TPXProfile profile;
    profile.SetProfileFile((kFixtures / "Docs.pxp").string());
    profile.Load();
    EXPECT_EQ(profile.ProfileName(), "Docs");
    EXPECT_EQ(profile.FileTypes(), (std::vector<std::string>{".htm", ".html", ".gif", ".js"}));
    EXPECT_EQ(profile.PageLocation(), kLocationCurrentDirectory);
    EXPECT_EQ(profile.Depth(), 3);
    EXPECT_FALSE(profile.UseStartPageTitle());
    EXPECT_EQ(profile.ExcludeFilters(), (std::vector<std::string>{"[AL]cgi,bin", "[RL].exe"}));

    profile.SetProfileFile((folder.Path() / "Profiles" / "Docs.pxp").string());
    ASSERT_TRUE(profile.Save());
    EXPECT_EQ(ReadWholeFile(folder.Path() / "Profiles" / "Docs.pxp"), ReadWholeFile(kFixtures / "Docs.pxp"));
}

TEST(TPXProfileTest, MissingFileAndKeysReadAsDefaults)
{
    test::TTempFolder folder;
    TPXProfile profile;
    profile.SetProfileFile((folder.Path() / "none.pxp").string());
    profile.SetDepth(5);
    profile.Load();
    EXPECT_EQ(profile.ProfileName(), "");
    EXPECT_TRUE(profile.FileTypes().empty());
    EXPECT_EQ(profile.PageLocation(), kLocationCurrentSite);
    EXPECT_EQ(profile.ResourceLocation(), kLocationAnywhere);
    EXPECT_EQ(profile.Depth(), -1);
    EXPECT_EQ(profile.AggressiveParser(), 1);
    EXPECT_EQ(profile.ConvertFollowedLinks(), 1);
    EXPECT_EQ(profile.ConvertUnfollowedLinks(), 1);
    EXPECT_TRUE(profile.UseStartPageTitle());

    // An empty list key leaves the list as it was; odd values are kept as read.
    const std::string path = (folder.Path() / "odd.pxp").string();
    ASSERT_TRUE(WriteFileAtomically(path, "[Profile]\r\nFile Types=\r\nPage Location=7\r\nUse Start Page Title=5\r\n"
                                          "Depth=lots\r\n\xff\xfe\x00\x01garbage"));
    profile.SetFileTypes({".gif"});
    profile.SetProfileFile(path);
    profile.Load();
    EXPECT_EQ(profile.FileTypes(), std::vector<std::string>{".gif"});
    EXPECT_EQ(profile.PageLocation(), 7);
    EXPECT_TRUE(profile.UseStartPageTitle());
    EXPECT_EQ(profile.Depth(), -1);
}

TEST(TPXProfileTest, ListsSurviveSaveAndLoadWhateverTheyHold)
{
    // Lines whose comma text begins and ends with a quote, blanks, an empty item, a lone quote.
    const std::vector<std::vector<std::string>> lists = {
        {"[AL]cgi,bin"},
        {"[AL]a b", "[PL]docs", "x\"y"},
        {""},
        {"[RL] with blank", "\"quoted\""},
    };
    test::TTempFolder folder;
    for (const std::vector<std::string>& list : lists) {
        TPXProfile profile;
        profile.SetProfileFile((folder.Path() / "p.pxp").string());
        profile.SetExcludeFilters(list);
        profile.SetIncludeFilters(list);
        ASSERT_TRUE(profile.Save());
        TPXProfile loaded;
        loaded.SetProfileFile(profile.ProfileFile());
        loaded.Load();
        EXPECT_EQ(loaded.ExcludeFilters(), list);
        EXPECT_EQ(loaded.IncludeFilters(), list);
    }
}

TEST(TPXProfileTest, SaveKeepsTheFilesOtherSections)
{
    test::TTempFolder folder;
    const std::string path = (folder.Path() / "task.pxt").string();
    ASSERT_TRUE(WriteFileAtomically(path, "[Task]\r\nTask Name=Keep\r\n[Profile]\r\nDepth=2\r\n"));
    TPXProfile profile;
    profile.SetProfileFile(path);
    profile.Load();
    profile.SetDepth(4);
    ASSERT_TRUE(profile.Save());
    const TIniFile file(path);
    EXPECT_EQ(file.ReadString("Task", "Task Name", ""), "Keep");
    EXPECT_EQ(file.ReadInteger("Profile", "Depth", 0), 4);
}

struct TAcceptCase {
    const char* name;
    const char* url;
    int level;
    const char* group;
    bool accepted;
};

using TSetup = std::function<void(TPXProfile&)>;

void CheckAccept(const TSetup& setup, const std::vector<TAcceptCase>& cases)
{
    TPXProfile profile;
    setup(profile);
    for (const TAcceptCase& c : cases)
        EXPECT_EQ(profile.AcceptLink(c.url, "http://host/docs/", c.level, c.group), c.accepted)
            << c.name << ": " << c.url;
}

TEST(TPXProfileTest, AcceptLinkSchemesAndFileTypes)
{
    CheckAccept([](TPXProfile&) {}, {
        {"http", "http://host/docs/a.html", 1, "HTML", true},
        {"https like http", "https://host/docs/a.html", 1, "HTML", true},
        {"ftp", "ftp://host/docs/a.html", 1, "HTML", false},
        {"mailto resolved against the page", "http://host/docs/mailto:someone", 1, "HTML", false},
        {"mailto any case", "http://host/docs/MailTo:x", 1, "", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetFileTypes({".HTML", ".gif"}); }, {
        {"listed, any case", "http://host/docs/a.html", 1, "HTML", true},
        {"not listed", "http://host/docs/a.png", 1, "Images", false},
        {"no extension passes", "http://host/docs/folder/", 1, "HTML", true},
        {"query counts as .html", "http://host/docs/a.php?x=1", 1, "HTML", true},
        {"unlisted script", "http://host/docs/a.js", 1, "", false},
    });
    // Scripts and style sheets are fetched wherever they lie, but only when the types are listed.
    CheckAccept([](TPXProfile& p) { p.SetFileTypes({".js", ".css"}); p.SetResourceLocation(kLocationCurrentDirectory); }, {
        {"listed script elsewhere", "http://cdn.other/lib.js", 1, "", true},
        {"listed style elsewhere", "http://cdn.other/site.css", 1, "", true},
    });
    CheckAccept([](TPXProfile& p) { p.SetResourceLocation(kLocationCurrentDirectory); }, {
        {"script elsewhere, all types", "http://cdn.other/lib.js", 1, "", false},
    });
}

TEST(TPXProfileTest, AcceptLinkDepthAndLocation)
{
    CheckAccept([](TPXProfile& p) { p.SetDepth(0); }, {
        {"start page", "http://host/docs/index.html", 0, "HTML", true},
        {"page below it", "http://host/docs/a.html", 1, "HTML", false},
        {"image on the start page", "http://host/docs/a.gif", 1, "Images", true},
        {"image deep down", "http://elsewhere/a.gif", 9, "Images", true},
    });
    CheckAccept([](TPXProfile& p) { p.SetDepth(2); }, {
        {"level 2", "http://host/docs/a.html", 2, "HTML", true},
        {"level 3", "http://host/docs/a.html", 3, "HTML", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetPageLocation(kLocationCurrentDirectory); }, {
        {"below the start folder", "http://host/docs/a/b.html", 1, "HTML", true},
        {"beside it", "http://host/other.html", 1, "HTML", false},
        {"same folder over https", "https://host/docs/a.html", 1, "HTML", true},
    });
    CheckAccept([](TPXProfile& p) { p.SetPageLocation(kLocationCurrentSite); }, {
        {"below", "http://host/docs/a/b.html", 1, "HTML", true},
        {"same site", "http://host/other.html", 1, "HTML", true},
        {"same site over https", "https://host/other.html", 1, "HTML", true},
        {"other site", "http://elsewhere/x.html", 1, "HTML", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetPageLocation(9); p.SetResourceLocation(9); }, {
        {"unknown location, page", "http://host/docs/a.html", 1, "HTML", false},
        {"unknown location, resource", "http://host/docs/a.gif", 1, "Images", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetPageLocation(kLocationAnywhere); }, {
        {"anywhere", "http://elsewhere/x.html", 1, "HTML", true},
    });
}

TEST(TPXProfileTest, AcceptLinkFilters)
{
    CheckAccept([](TPXProfile& p) { p.SetPageLocation(kLocationAnywhere); p.SetIncludeFilters({"[PL]docs"}); }, {
        {"image anywhere", "http://elsewhere/x.gif", 1, "Images", true},
        {"page with docs", "http://elsewhere/docs/x.html", 1, "HTML", true},
        {"page without", "http://elsewhere/x.html", 1, "HTML", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetExcludeFilters({"[AL]cgi,bin"}); }, {
        {"both terms", "http://host/cgi/bin/x", 1, "HTML", false},
        {"one term", "http://host/cgi/x", 1, "HTML", true},
    });
    CheckAccept([](TPXProfile& p) { p.SetExcludeFilters({"[RL].exe", "tmp"}); }, {
        {"resource line, resource", "http://host/a.exe", 1, "", false},
        {"resource line, page", "http://host/a.exe?x", 1, "HTML", true},
        {"unmarked line", "http://host/tmp/a.html", 1, "HTML", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetExcludeFilters({"", "[AL]"}); }, {
        {"lines without terms exclude nothing", "http://host/a.html", 1, "HTML", true},
    });
    CheckAccept([](TPXProfile& p) { p.SetIncludeFilters({"[AL]Docs"}); }, {
        {"terms are case-sensitive", "http://host/docs/", 1, "HTML", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetIncludeFilters({"[AL] docs"}); }, {
        {"empty first term never matches", "http://host/docs/", 1, "HTML", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetIncludeFilters({"[RL]img", "[AL]docs"}); }, {
        {"passes the second line", "http://host/docs/a.gif", 1, "Images", true},
        {"an [RL] line passes every page", "http://host/x.html", 1, "HTML", true},
        {"fails both", "http://host/x.gif", 1, "Images", false},
    });
    CheckAccept([](TPXProfile& p) { p.SetExcludeFilters({"docs"}); p.SetIncludeFilters({"docs"}); }, {
        {"exclude wins", "http://host/docs/a.html", 1, "HTML", false},
    });
}

} // namespace
} // namespace pellix

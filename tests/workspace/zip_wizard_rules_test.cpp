// The zip wizard's rules: the file name check, the add actions, the file list and the settings it
// shows and stores.
#include "workspace/zip_wizard_rules.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

namespace pellix {
namespace {

TEST(ZipWizardRulesTest, ZipFileNameCheck) {
    struct Case {
        const char* text;
        const char* expected;  // nullptr: refused
    } cases[] = {
        {"/home/u/site.zip", "/home/u/site.zip"},
        {"/home/u/site", "/home/u/site.zip"},
        {"/home/u/site.", "/home/u/site.zip"},
        {"/home/u/site.ZIP", "/home/u/site.ZIP"},
        {"/home/u/my.site.bak", "/home/u/my.site.bak"},
        {"  /home/u/site  ", "/home/u/site.zip"},
        {"/home/u/.zip", nullptr},  // an extension without a name
        {"/home/u/", nullptr},      // no file name
        {"/", nullptr},
        {"site.zip", nullptr},      // no folder
        {"u/site.zip", nullptr},    // a relative folder
        {"", nullptr},
        {"   ", nullptr},
        {"/home/u/..", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<std::string> got = CheckZipFileName(c.text);
        if (c.expected == nullptr) {
            EXPECT_FALSE(got.has_value()) << *got;
        } else {
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(*got, c.expected);
        }
    }
}

TEST(ZipWizardRulesTest, ActionsByOpenChoice) {
    struct Case {
        bool openExisting;
        int stored;
        std::array<bool, 3> enabled;
        int checked;
    } cases[] = {
        {false, 0, {true, false, false}, 0},
        {false, 2, {true, false, false}, 0},  // a new Zip is only added to
        {true, 0, {true, true, true}, 0},
        {true, 1, {true, true, true}, 1},
        {true, 2, {true, true, true}, 2},
        {true, 7, {true, true, true}, 0},     // a bad stored value falls back to add and replace
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.openExisting) + "/" + std::to_string(c.stored));
        TZipWizardActions actions = ZipWizardActions(c.openExisting, c.stored);
        EXPECT_EQ(actions.enabled, c.enabled);
        EXPECT_EQ(actions.checked, c.checked);
    }
}

TEST(ZipWizardRulesTest, OpensAnExistingFileUnlessTheUserReplacesIt) {
    EXPECT_FALSE(ZipWizardOpensExisting(false, false));
    EXPECT_FALSE(ZipWizardOpensExisting(false, true));
    EXPECT_TRUE(ZipWizardOpensExisting(true, false));  // typed name of a file that is there
    EXPECT_FALSE(ZipWizardOpensExisting(true, true));
}

TEST(ZipWizardRulesTest, FileListSortedWithoutDuplicates) {
    std::vector<std::string> list;
    AddZipWizardFiles(list, {"/b/z.txt", "/a/y.txt", "/b/z.txt"});
    AddZipWizardFiles(list, {"/a/y.txt", "/c/dir/", "/c/dir", "", "/a/x.txt"});
    EXPECT_EQ(list, (std::vector<std::string>{"/a/x.txt", "/a/y.txt", "/b/z.txt", "/c/dir"}));
}

TEST(ZipWizardRulesTest, RowsCaptionsAndEntryNames) {
    EXPECT_EQ(ZipWizardRow("/a/b/c.txt", false).fileName, "c.txt");
    EXPECT_EQ(ZipWizardRow("/a/b/c.txt", false).path, "/a/b");
    EXPECT_EQ(ZipWizardRow("/a/b", true).fileName, "");
    EXPECT_EQ(ZipWizardRow("/a/b", true).path, "/a/b");

    EXPECT_EQ(ZipWizardCaption(0), "File Zip Wizard");
    EXPECT_EQ(ZipWizardCaption(1), "File Zip Wizard - 1 file dropped.");
    EXPECT_EQ(ZipWizardCaption(3), "File Zip Wizard - 3 files dropped.");

    EXPECT_EQ(ZipWizardEntryName("/home/u/docs/a.txt", true), "home/u/docs/a.txt");
    EXPECT_EQ(ZipWizardEntryName("/home/u/docs/a.txt", false), "a.txt");
}

TEST(ZipWizardRulesTest, DefaultsUntilFinishedOnceThenStored) {
    test::TTempFolder temp;
    TPXApp app(test::UserHomeAppPaths(temp.Path()));
    TZipWizardDefaults first = ReadZipWizardDefaults(app, "", "/work/here");
    EXPECT_EQ(first.action, 0);
    EXPECT_FALSE(first.usePaths);   // not the engine's default of true
    EXPECT_EQ(first.compression, 0);  // not the engine's 6
    EXPECT_EQ(first.fileName, "/work/here/");
    EXPECT_EQ(ReadZipWizardDefaults(app, "/z/open.zip", "/work/here").fileName, "/z/open.zip");

    TZipWizardChoice choice;
    choice.zipPath = "/z/out/new.zip";
    choice.action = kZipAddUpdate;
    choice.compression = 9;
    choice.usePaths = true;
    StoreZipWizardChoice(app, choice);
    TZipWizardDefaults next = ReadZipWizardDefaults(app, "", "/work/here");
    EXPECT_EQ(next.action, 2);
    EXPECT_TRUE(next.usePaths);
    EXPECT_EQ(next.compression, 9);
    EXPECT_EQ(next.dialogFolder, "");  // "Last Zip Folder" is off

    app.SetLastZipFolder(true);
    StoreZipWizardChoice(app, choice);
    next = ReadZipWizardDefaults(app, "", "/work/here");
    EXPECT_EQ(next.dialogFolder, "/z/out/");
    EXPECT_EQ(next.fileName, "/z/out/");
}

} // namespace
} // namespace pellix

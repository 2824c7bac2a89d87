// The unzip dialog's rules: what it proposes, when it can be confirmed, what it stores, and how
// the overwrite choice and the replace prompt reach the engine.
#include "workspace/unzip_rules.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

namespace pellix {
namespace {

TEST(UnzipRulesTest, DefaultsAndWhatUnzipStores) {
    test::TTempFolder temp;
    TPXApp app(test::UserHomeAppPaths(temp.Path()));
    TUnzipDefaults first = ReadUnzipDefaults(app, false);
    EXPECT_EQ(first.folder, "");
    EXPECT_FALSE(first.allFiles);
    EXPECT_FALSE(first.usePaths);
    EXPECT_FALSE(first.overwrite);

    TUnzipChoice choice{"/out/one", true, true, true};
    StoreUnzipChoice(app, choice);
    TUnzipDefaults next = ReadUnzipDefaults(app, true);
    EXPECT_TRUE(next.allFiles);
    EXPECT_TRUE(next.usePaths);
    EXPECT_TRUE(next.overwrite);
    EXPECT_EQ(next.folder, "");  // the folder is kept only with "Last Unzip Folder"

    app.SetLastUnzipFolder(true);
    StoreUnzipChoice(app, {"/out/two", true, false, false});
    next = ReadUnzipDefaults(app, true);
    EXPECT_EQ(next.folder, "/out/two");
    EXPECT_FALSE(next.usePaths);
    EXPECT_FALSE(next.overwrite);
}

TEST(UnzipRulesTest, UnzipNeedsAFolder) {
    EXPECT_FALSE(CanUnzip(""));
    EXPECT_FALSE(CanUnzip("  \t"));
    EXPECT_TRUE(CanUnzip("/tmp"));
}

TEST(UnzipRulesTest, OverwriteRules) {
    EXPECT_EQ(UnzipOverwriteMode(true), xowAlways);
    EXPECT_EQ(UnzipOverwriteMode(false), xowAsk);
    struct Case {
        TReplaceAnswer answer;
        TZipReplaceAction action;
    } cases[] = {
        {TReplaceAnswer::Yes, xraReplace},
        {TReplaceAnswer::No, xraSkip},
        {TReplaceAnswer::Cancel, xraCancel},
        {TReplaceAnswer::All, xraReplaceAll},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplaceActionOf(c.answer), c.action);
    }
    EXPECT_EQ(ReplacePromptText("/out/a.txt", ""), "Replace File : /out/a.txt\nWith File: ");
}

} // namespace
} // namespace pellix

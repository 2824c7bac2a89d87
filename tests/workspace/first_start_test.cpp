#include "workspace/first_start.h"

#include <fstream>

#include <gtest/gtest.h>

#include "links/file_io.h"
#include "workspace/app_settings.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

TAppPaths PathsIn(const fs::path& root)
{
    return test::UserHomeAppPaths(root);
}

TEST(TFirstStartTest, SetsUpOnceAndMovesOldTaskFiles)
{
    test::TTempFolder temp;
    TPXApp app(PathsIn(temp.Path()));
    const fs::path tasks = app.TasksFolder();
    ASSERT_TRUE(WriteFileAtomically(tasks / "old.pxt", "old task"));
    ASSERT_TRUE(WriteFileAtomically(tasks / "old.dwn", "old list"));
    ASSERT_TRUE(WriteFileAtomically(tasks / "clash.PXT", "outer"));
    fs::create_directories(tasks / "General");
    ASSERT_TRUE(WriteFileAtomically(tasks / "General" / "clash.PXT", "inner"));
    ASSERT_TRUE(WriteFileAtomically(tasks / "notes.txt", "stay"));

    const TFirstStartResult first = TFirstStart(app).Run(fs::path(PELLIX_SOURCE_DIR) / "data");
    EXPECT_TRUE(first.ran);
    EXPECT_TRUE(first.fileTypesImported);
    EXPECT_EQ(app.StoredVersion(), "2.50");
    EXPECT_TRUE(fs::exists(app.ProgramFolder() + "FTypes.reg"));
    EXPECT_TRUE(fs::is_directory(app.ProgramFolder() + "Skins"));
    EXPECT_EQ(app.Store().SettingNames(kFileTypesKey).at(0), "HTML");
    EXPECT_TRUE(fs::is_directory(app.ProgramFolder() + "Downloads"));
    EXPECT_TRUE(app.Store().ValueExists(kSettingsKey, "Downloads Folder"));

    EXPECT_EQ(*ReadWholeFile(tasks / "General" / "old.pxt"), "old task");
    EXPECT_EQ(*ReadWholeFile(tasks / "General" / "old.dwn"), "old list");
    EXPECT_FALSE(fs::exists(tasks / "old.pxt"));
    // A name already taken in General is never overwritten.
    EXPECT_EQ(*ReadWholeFile(tasks / "General" / "clash.PXT"), "inner");
    EXPECT_EQ(*ReadWholeFile(tasks / "clash.PXT"), "outer");
    EXPECT_TRUE(fs::exists(tasks / "notes.txt"));

    // A user's change to the groups survives the next start.
    app.Store().DeleteSetting(kFileTypesKey, "Fonts");
    const TFirstStartResult second = TFirstStart(app).Run(fs::path(PELLIX_SOURCE_DIR) / "data");
    EXPECT_FALSE(second.ran);
    EXPECT_FALSE(app.Store().ValueExists(kFileTypesKey, "Fonts"));
}

TEST(TFirstStartTest, MissingDataFolderIsReportedButVersionStillWritten)
{
    test::TTempFolder temp;
    TPXApp app(PathsIn(temp.Path()));
    const TFirstStartResult result = TFirstStart(app).Run(temp.Path() / "no-data");
    EXPECT_TRUE(result.ran);
    EXPECT_FALSE(result.fileTypesImported);
    EXPECT_FALSE(result.problems.empty());
    EXPECT_EQ(app.StoredVersion(), "2.50");
}

TEST(TFirstStartTest, DefaultDataFolderHoldsTheFileTypes)
{
    EXPECT_TRUE(fs::exists(TFirstStart::DefaultDataFolder() / "FTypes.reg"));
}

} // namespace
} // namespace pellix

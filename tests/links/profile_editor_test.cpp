// Tests of TProfileEditor: the controls from and into a profile, and the file operations of the
// profile editor (save, rename, delete, new) with the changed flag.
#include "links/profile_editor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

// A profile saved by the task editor: parser and conversion values the editor does not show.
constexpr const char* kTaskEditorProfile =
    "[Profile]\nProfile Name=Site\nFile Types=.htm,.gif\nPage Location=0\nResource Location=1\nDepth=3\n"
    "Aggressive Parser=2\nConvert Followed Links=0\nConvert Unfollowed Links=2\nUse Start Page Title=0\n"
    "URL Filters Exclude=[RL].exe\nURL Filters Include=[PL]docs\nPage File Size Min=10\n";

TPXProfile LoadProfile(const fs::path& file)
{
    TPXProfile profile;
    profile.SetProfileFile(file.string());
    profile.Load();
    return profile;
}

TEST(TProfileEditorTest, ControlsFromProfile)
{
    struct TCase {
        int depth;
        int pageLocation;
        TDepthChoice choice;
        int levels;
        int shownPageLocation;
    };
    const TCase cases[] = {
        {-1, 0, TDepthChoice::All, 1, 0},
        {0, 1, TDepthChoice::PageOnly, 1, 1},
        {7, 2, TDepthChoice::Levels, 7, 2},
        {40, 5, TDepthChoice::Levels, 20, -1}, // beyond the box, and a location no button stands for
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.depth);
        TPXProfile profile;
        profile.SetDepth(c.depth);
        profile.SetPageLocation(c.pageLocation);
        const TProfileEditFields fields = ProfileEditFieldsOf(profile, "Name");
        EXPECT_EQ(fields.depth, c.choice);
        EXPECT_EQ(fields.levels, c.levels);
        EXPECT_EQ(fields.pageLocation, c.shownPageLocation);
        EXPECT_EQ(fields.profileName, "Name");
    }
}

TEST(TProfileEditorTest, ApplyWritesShownValuesAndKeepsTheOthers)
{
    test::TTempFolder folder;
    test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
    TProfileEditor editor(folder.Text());
    TProfileEditFields fields = editor.Select("Site");
    EXPECT_EQ(fields.depth, TDepthChoice::Levels);
    EXPECT_EQ(fields.levels, 3);
    EXPECT_FALSE(fields.allFileTypes);

    struct TCase {
        const char* name;
        std::function<void(TProfileEditFields&)> edit;
        std::function<void(const TPXProfile&)> check;
    };
    const TCase cases[] = {
        {"all levels", [](auto& f) { f.depth = TDepthChoice::All; }, [](auto& p) { EXPECT_EQ(p.Depth(), -1); }},
        {"page only", [](auto& f) { f.depth = TDepthChoice::PageOnly; }, [](auto& p) { EXPECT_EQ(p.Depth(), 0); }},
        {"levels", [](auto& f) { f.depth = TDepthChoice::Levels; f.levels = 12; },
         [](auto& p) { EXPECT_EQ(p.Depth(), 12); }},
        {"all types writes none", [](auto& f) { f.allFileTypes = true; },
         [](auto& p) { EXPECT_TRUE(p.FileTypes().empty()); }},
        {"types", [](auto& f) { f.allFileTypes = false; f.fileTypes = {".jpg"}; },
         [](auto& p) { EXPECT_EQ(p.FileTypes(), std::vector<std::string>{".jpg"}); }},
        {"locations", [](auto& f) { f.pageLocation = 2; f.resourceLocation = 0; },
         [](auto& p) { EXPECT_EQ(p.PageLocation(), 2); EXPECT_EQ(p.ResourceLocation(), 0); }},
        {"filters", [](auto& f) { f.includeFilters = {"[AL]a"}; f.excludeFilters = {}; },
         [](auto& p) {
             EXPECT_EQ(p.IncludeFilters(), std::vector<std::string>{"[AL]a"});
             EXPECT_TRUE(p.ExcludeFilters().empty());
         }},
        {"rename flag", [](auto& f) { f.useStartPageTitle = true; }, [](auto& p) { EXPECT_TRUE(p.UseStartPageTitle()); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
        TProfileEditFields edited = editor.Select("Site");
        c.edit(edited);
        ASSERT_TRUE(editor.Save(edited).ok);
        const TPXProfile saved = LoadProfile(folder.Path() / "Site.pxp");
        c.check(saved);
        // What the editor has no control for stays as the task editor wrote it.
        EXPECT_EQ(saved.AggressiveParser(), 2);
        EXPECT_EQ(saved.ConvertFollowedLinks(), 0);
        EXPECT_EQ(saved.ConvertUnfollowedLinks(), 2);
        EXPECT_EQ(saved.PageFileSizeMin(), 10);
    }
}

TEST(TProfileEditorTest, AllTypesSavesAnEmptyFileTypesValue)
{
    test::TTempFolder folder;
    test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
    TProfileEditor editor(folder.Text());
    TProfileEditFields fields = editor.Select("Site");
    fields.allFileTypes = true;
    ASSERT_TRUE(editor.Save(fields).ok);
    const std::string text = ReadWholeFile(folder.Path() / "Site.pxp").value_or("");
    EXPECT_NE(text.find("File Types=\r\n"), std::string::npos) << text;
}

TEST(TProfileEditorTest, RenameMovesTheFile)
{
    test::TTempFolder folder;
    test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
    TProfileEditor editor(folder.Text());
    TProfileEditFields fields = editor.Select("Site");
    fields.depth = TDepthChoice::PageOnly;
    editor.MarkChanged();
    ASSERT_TRUE(editor.Rename("Site2", fields).ok);
    EXPECT_FALSE(fs::exists(folder.Path() / "Site.pxp"));
    const TPXProfile renamed = LoadProfile(folder.Path() / "Site2.pxp");
    EXPECT_EQ(renamed.ProfileName(), "Site2");
    EXPECT_EQ(renamed.Depth(), 0); // the controls went along
    EXPECT_EQ(renamed.AggressiveParser(), 2);
    EXPECT_FALSE(editor.Changed());
    EXPECT_EQ(editor.SelectedName(), "Site2");
    EXPECT_EQ(editor.ProfileNames(), std::vector<std::string>{"Site2"});
}

TEST(TProfileEditorTest, NewProfileRenamedAtOnceGetsTheDefaults)
{
    test::TTempFolder folder;
    TProfileEditor editor(folder.Text());
    const TProfileEditFields fields = editor.Select(kNewProfileName);
    EXPECT_EQ(fields, ProfileEditFieldsOf(TPXProfile(), kNewProfileName));
    ASSERT_TRUE(editor.Rename("Images Only", fields).ok);
    EXPECT_FALSE(fs::exists(folder.Path() / "New Profile.pxp"));
    const TPXProfile saved = LoadProfile(folder.Path() / "Images Only.pxp");
    EXPECT_EQ(saved.ProfileName(), "Images Only");
    EXPECT_EQ(saved.AggressiveParser(), 1);
    EXPECT_EQ(saved.ConvertFollowedLinks(), 1);
    EXPECT_EQ(saved.ConvertUnfollowedLinks(), 1);
    EXPECT_EQ(saved.Depth(), -1);
}

TEST(TProfileEditorTest, RenameRefusesNamesThatWouldLoseOrEscape)
{
    test::TTempFolder folder;
    test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
    test::WriteText(folder.Path() / "Other.pxp", "[Profile]\nDepth=9\n");
    TProfileEditor editor(folder.Text());
    const TProfileEditFields fields = editor.Select("Site");
    for (const char* name : {"Other", "", "   ", "../Escape", "a/b", ".hidden", "Custom"}) {
        SCOPED_TRACE(name);
        const TProfileEditResult result = editor.Rename(name, fields);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.message.empty());
    }
    // Nothing moved or was overwritten.
    EXPECT_EQ(editor.ProfileNames(), (std::vector<std::string>{"Other", "Site"}));
    EXPECT_EQ(LoadProfile(folder.Path() / "Other.pxp").Depth(), 9);
    EXPECT_FALSE(fs::exists(folder.Path().parent_path() / "Escape.pxp"));
    // Renaming to its own name just saves.
    EXPECT_TRUE(editor.Rename("Site", fields).ok);
    EXPECT_EQ(editor.ProfileNames(), (std::vector<std::string>{"Other", "Site"}));
}

TEST(TProfileEditorTest, FailedWriteOnRenameKeepsTheOldFile)
{
    test::TTempFolder folder;
    test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
    TProfileEditor editor(folder.Text());
    const TProfileEditFields fields = editor.Select("Site");
    // A folder where the new file would go: the write fails.
    fs::create_directories(folder.Path() / "Blocked.pxp");
    EXPECT_FALSE(editor.Rename("Blocked", fields).ok);
    EXPECT_TRUE(fs::is_regular_file(folder.Path() / "Site.pxp"));
}

TEST(TProfileEditorTest, DeleteAndChangedFlag)
{
    test::TTempFolder folder;
    test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
    TProfileEditor editor(folder.Text());

    editor.MarkChanged(); // nothing selected
    EXPECT_FALSE(editor.Changed());
    editor.Select("Site");
    editor.SetLoading(true);
    editor.MarkChanged(); // while the controls are filled
    EXPECT_FALSE(editor.Changed());
    editor.SetLoading(false);
    editor.MarkChanged();
    EXPECT_TRUE(editor.Changed());
    EXPECT_EQ(TProfileEditor::SaveQuestion("Site"), "Save changes to profile: Site?");

    EXPECT_TRUE(editor.Delete().ok);
    EXPECT_FALSE(editor.Changed());
    EXPECT_FALSE(editor.HasSelection());
    EXPECT_TRUE(editor.ProfileNames().empty());
}

TEST(TProfileEditorTest, TypedNameIsWrittenButTheFileKeepsItsName)
{
    test::TTempFolder folder;
    test::WriteText(folder.Path() / "Site.pxp", kTaskEditorProfile);
    TProfileEditor editor(folder.Text());
    TProfileEditFields fields = editor.Select("Site");
    fields.profileName = "Typed";
    ASSERT_TRUE(editor.Save(fields).ok);
    EXPECT_EQ(LoadProfile(folder.Path() / "Site.pxp").ProfileName(), "Typed");
    EXPECT_EQ(editor.ProfileNames(), std::vector<std::string>{"Site"});
}

} // namespace
} // namespace pellix

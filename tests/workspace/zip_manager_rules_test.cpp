// What the zip manager's windows decide: enabled commands, the replace prompt, the delete
// questions, what "Browse with" opens, the day zip, and the text editor's program line.
#include <gtest/gtest.h>

#include "workspace/text_editor.h"
#include "workspace/zip_manager_rules.h"

using namespace pellix;

namespace {

struct TCommandCase {
    const char* name;
    TZipCommandState state;
    TZipCommands expected;
};

TZipCommandState Selected(TFocusKind focus, int rows = 0) {
    TZipCommandState s;
    s.zipSelected = true;
    s.focus = focus;
    s.listSelection = rows;
    return s;
}

} // namespace

TEST(ZipCommandsTest, FollowSelectionFocusBusyAndTheTasksZip) {
    auto with = [](TZipCommandState s, auto change) {
        change(s);
        return s;
    };
    TZipCommands all;
    all.open = all.close = all.add = all.del = all.unzip = all.rename = all.browse = true;
    TZipCommands openOnly;
    openOnly.open = true;
    TZipCommands listNoRows = all;
    listNoRows.del = listNoRows.browse = false;
    TZipCommands readOnly = all;
    readOnly.add = readOnly.del = readOnly.rename = false;
    TZipCommands busy;
    busy.cancel = true;
    TZipCommands browsers = all;
    browsers.firstBrowser = browsers.textEditor = true;

    const TCommandCase cases[] = {
        {"nothing selected", {}, openOnly},
        {"selected, focus elsewhere", Selected(TFocusKind::Other), openOnly},
        {"selected, tree focus", Selected(TFocusKind::ZipTree), all},
        {"list focus, rows selected", Selected(TFocusKind::ZipList, 2), all},
        {"list focus, no rows", Selected(TFocusKind::ZipList, 0), listNoRows},
        {"the running task writes it", with(Selected(TFocusKind::ZipTree), [](auto& s) { s.taskWritesZip = true; }),
         readOnly},
        {"an operation runs", with(Selected(TFocusKind::ZipTree), [](auto& s) { s.busy = true; }), busy},
        {"installed programs", with(Selected(TFocusKind::ZipTree), [](auto& s) {
             s.firstBrowser = true;
             s.textEditor = true;
         }),
         browsers},
        {"programs, but nothing to browse", with(Selected(TFocusKind::Other), [](auto& s) { s.firstBrowser = true; }),
         openOnly},
    };
    for (const TCommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ZipCommands(c.state), c.expected);
    }
}

TEST(ZipReplacePromptTest, EveryButtonReachesTheEngine) {
    EXPECT_EQ(ReplaceActionOf(TReplaceButton::Yes), xraReplace);
    EXPECT_EQ(ReplaceActionOf(TReplaceButton::No), xraSkip);
    EXPECT_EQ(ReplaceActionOf(TReplaceButton::Cancel), xraCancel);
    EXPECT_EQ(ReplaceActionOf(TReplaceButton::All), xraReplaceAll);
}

TEST(ZipDeleteQuestionTest, FileAndFolderCaptions) {
    TZipTree tree("/d/site.zip");
    tree.AddRows({{"pages/index.htm", 1, 1, 0, 0, "Home", 0, 0}});
    EXPECT_EQ(DeleteQuestion(*tree.FindEntry("pages/index.htm")),
              "Are you sure you want to delete index.htm   (Home)?");
    EXPECT_EQ(DeleteQuestion(*tree.FindFolder("pages/")),
              "Are you sure you want to delete the folder pages and all its contents?");
}

TEST(BrowseTargetTest, PagesExtractTheWholeZipOtherFilesOnlyThemselves) {
    struct {
        const char* entry;
        bool page;
        const char* expected;
        bool all;
    } cases[] = {
        {"site/index.htm", true, "site/index.htm", true},
        {"site/logo.gif", false, "site/logo.gif", false},
        {"site/*.*", false, "", false},  // a folder
        {"*.*", false, "", false},       // a root without pages
        {"", false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        const TBrowseTarget t = BrowseTargetOf(c.entry, c.page);
        EXPECT_EQ(t.entry, c.expected);
        EXPECT_EQ(t.extractAll, c.all);
    }
}

TEST(DayZipPathTest, SlashesOfTheDateBecomeDashes) {
    EXPECT_EQ(DayZipPath("/home/u/Downloads/", "10/12/2026"), "/home/u/Downloads/My Pellixs for 10-12-2026.zip");
    EXPECT_EQ(DayZipPath("/dl", "2026-12-10"), "/dl/My Pellixs for 2026-12-10.zip");
}

TEST(TextEditorTest, ExecLineBecomesAProgramWithTheFile) {
    using V = std::vector<std::string>;
    struct {
        const char* exec;
        V expected;
    } cases[] = {
        {"gedit %U", {"gedit", "/t/a b.htm"}},
        {"gnome-text-editor --new-window %F", {"gnome-text-editor", "--new-window", "/t/a b.htm"}},
        {"mousepad", {"mousepad", "/t/a b.htm"}},  // no field code: the file goes last
        {"\"/opt/My Editor/edit\" --name=%c %f %i", {"/opt/My Editor/edit", "--name=", "/t/a b.htm"}},
        {"kate -b %u %u", {"kate", "-b", "/t/a b.htm"}},  // the file once
        {"edit 100%%", {"edit", "100%", "/t/a b.htm"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exec);
        EXPECT_EQ(TTextEditor::ExecArguments(c.exec, "/t/a b.htm"), c.expected);
    }
}

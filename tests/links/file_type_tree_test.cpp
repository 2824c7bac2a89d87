// Tests of TFileTypeTree: building, toggling, collecting and deleting file types.
#include "links/file_type_tree.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "workspace/app_settings.h"
#include "workspace/settings_store.h"

namespace pellix {
namespace {

// Node texts with their states, in tree order.
std::vector<std::string> Picture(const TFileTypeTree& tree)
{
    std::vector<std::string> lines;
    for (const TFileTypeNode& node : tree.Nodes())
        lines.push_back((node.isGroup ? "" : "  ") + node.text + " " + std::to_string(node.state));
    return lines;
}

const std::vector<TFileTypeGroup> kGroups = {
    {"HTML", ".htm;.html;"}, {"Images", ".gif;.jpg;"}, {"Empty", ""}, {"Video", ".mpg;.mp;"}};

TEST(TFileTypeTreeTest, BuildShowsCheckStates)
{
    TFileTypeTree tree;
    tree.Build(kGroups, {".HTM", ".html", ".gif"});
    EXPECT_EQ(Picture(tree), (std::vector<std::string>{"HTML 2", "  .htm 2", "  .html 2", "Images 3", "  .gif 2",
                                                       "  .jpg 1", "Empty 0", "Video 1", "  .mpg 1", "  .mp 1"}));
    EXPECT_FALSE(tree.AllChecked());
    EXPECT_TRUE(tree.TreeEnabled());
    EXPECT_EQ(tree.Collect(), (std::vector<std::string>{".htm", ".html", ".gif"}));

    tree.Build(kGroups, {});
    EXPECT_TRUE(tree.AllChecked());
    EXPECT_FALSE(tree.TreeEnabled());
    EXPECT_TRUE(tree.Collect().empty());
}

TEST(TFileTypeTreeTest, ToggleMovesChildrenAndGroups)
{
    TFileTypeTree tree;
    tree.Build(kGroups, {".gif"});
    tree.Toggle(3); // Images, partly checked: becomes unchecked with its children
    EXPECT_EQ(tree.Nodes()[3].state, kCheckUnchecked);
    EXPECT_EQ(tree.Nodes()[4].state, kCheckUnchecked);
    tree.Toggle(3); // and checked
    EXPECT_EQ(tree.Nodes()[5].state, kCheckChecked);
    tree.Toggle(8); // .mpg: its group becomes partly checked
    EXPECT_EQ(tree.Nodes()[7].state, kCheckPartial);
    tree.Toggle(9);
    EXPECT_EQ(tree.Nodes()[7].state, kCheckChecked);
    tree.Toggle(6); // a group without extensions has no state image to click
    EXPECT_EQ(tree.Nodes()[6].state, kCheckNoImage);
    EXPECT_TRUE(tree.Changed());
    EXPECT_EQ(tree.Collect(), (std::vector<std::string>{".gif", ".jpg", ".mpg", ".mp"}));

    tree.SetAllChecked(true);
    EXPECT_TRUE(tree.Collect().empty());
}

TEST(TFileTypeTreeTest, DeleteRulesAndRebuild)
{
    test::TTempFolder folder;
    TSettingsStore store(folder.Path() / "registry.ini");
    for (const TFileTypeGroup& group : kGroups)
        store.WriteSetting(kFileTypesKey, group.name, group.data);
    TFileTypeTree tree;
    tree.Build(ReadFileTypeGroups(store), {".mp"});

    for (std::size_t i : {0, 1, 2, 3, 4, 5})
        EXPECT_FALSE(tree.CanDelete(i)) << tree.Nodes()[i].text;
    EXPECT_TRUE(tree.CanDelete(7));
    EXPECT_TRUE(tree.CanDelete(9));
    EXPECT_EQ(tree.DeleteQuestion(9), "Are you sure you want to delete the .mp file type?");
    EXPECT_EQ(tree.DeleteQuestion(7), "Are you sure you want to delete the Video file type group?");
    EXPECT_EQ(tree.GroupName(9), "Video");

    EXPECT_FALSE(tree.Delete(store, 1));
    ASSERT_TRUE(tree.Delete(store, 9));
    EXPECT_EQ(store.ReadSetting(kFileTypesKey, "Video", ""), ".mpg;");
    // The only checked extension is gone, so the rebuilt tree means every type again.
    EXPECT_TRUE(tree.AllChecked());
    ASSERT_TRUE(tree.Delete(store, 7));
    EXPECT_EQ(tree.Nodes().size(), 7u);
    EXPECT_EQ(tree.Nodes().back().text, "Empty");
}

} // namespace
} // namespace pellix

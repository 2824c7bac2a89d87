// Tests of the skin helpers: listing skins, finding a skin's images and the dialog's choice rule.
#include "workspace/skin.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

TEST(SkinTest, NamesImagesAndChoice)
{
    test::TTempFolder folder;
    TPXApp app(test::TestAppPaths(folder.Path()));
    const fs::path skins = fs::path(app.ProgramFolder()) / "Skins";
    EXPECT_TRUE(SkinNames(app).empty());
    fs::create_directories(skins / "Night");
    fs::create_directories(skins / "Default");
    test::WriteText(skins / "stray.txt", "");
    test::WriteText(skins / "Night" / "go.bmp", "x");
    EXPECT_EQ(SkinNames(app), (std::vector<std::string>{"Default", "Night"}));

    // The skin's own image, else the shipped default's, else none.
    const fs::path data = folder.Path() / "data";
    test::WriteText(data / "Skins" / "Default" / "go.bmp", "d");
    test::WriteText(data / "Skins" / "Default" / "new.bmp", "d");
    app.SetSkin("Night");
    EXPECT_EQ(SkinImage(app, "go.bmp", data), (skins / "Night" / "go.bmp").string());
    EXPECT_EQ(SkinImage(app, "new.bmp", data), (data / "Skins" / "Default" / "new.bmp").string());
    EXPECT_EQ(SkinImage(app, "map.bmp", data), "");

    TSkinChoice choice(app);
    EXPECT_TRUE(choice.Choose("Default"));
    EXPECT_EQ(app.Skin(), "Default");
    EXPECT_EQ(TPXApp(test::TestAppPaths(folder.Path())).Skin(), "Default"); // stored at once
    EXPECT_FALSE(choice.Choose("Default"));
    EXPECT_TRUE(choice.Cancel());
    EXPECT_EQ(app.Skin(), "Night");
    EXPECT_FALSE(choice.Cancel());
}

} // namespace
} // namespace pellix

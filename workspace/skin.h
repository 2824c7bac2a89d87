// TSkinChoice and the skin helpers: the skins of the program folder, the images a skin holds
// and the skin dialog's choose-then-keep-or-cancel rule.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pellix {

class TPXApp;

// The animation and the toolbar's button images of a skin, by file name.
inline constexpr const char* kSkinAnimation = "pxanim.gif";
inline constexpr const char* kSkinButtonImages[] = {"new.bmp",    "open.bmp", "dwnloads.bmp",
                                                    "pxmode.bmp", "pimode.bmp", "addtocur.bmp",
                                                    "help.bmp",   "go.bmp",   "map.bmp"};
inline constexpr const char* kDefaultSkin = "Default";
inline constexpr const char* kSelectSkinCaption = "Select Skin";

// The names of the sub-folders of the program folder's "Skins/", sorted.
std::vector<std::string> SkinNames(const TPXApp& app);

// The image file of the current skin, or of the shipped default skin below dataFolder when the
// skin lacks it (a skin may hold only some images); empty when neither has it.
std::string SkinImage(const TPXApp& app, const std::string& fileName, const std::filesystem::path& dataFolder);

// The skin dialog's rule: each choice is stored and applied at once; Cancel stores the skin that
// was current when the dialog opened.
class TSkinChoice final {
public:
    explicit TSkinChoice(TPXApp& app);
    const std::string& Original() const { return m_original; }
    // True when the stored skin changed (the caller applies it).
    bool Choose(const std::string& name);
    bool Cancel();

private:
    TPXApp& m_app;
    std::string m_original;
};

} // namespace pellix

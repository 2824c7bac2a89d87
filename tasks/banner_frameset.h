// The banner frameset "Pellix.htm": a start address shown online below the product's banner,
// for an external browser.
#pragma once

#include <string>
#include <string_view>

namespace pellix {

class TPXApp;

inline constexpr const char* kBannerFramesetName = "Pellix.htm";
// The banner page the frameset shows, written beside it: the frameset loads nothing from a host
// of ours.
inline constexpr const char* kBannerPageName = "PellixBanner.htm";

// The frameset's text for the address, its banner frame showing bannerSource; every line ended by
// a line feed, the first one empty. Quotes and angle brackets of the address are percent-encoded
// so that it cannot end its attribute.
std::string BannerFramesetText(std::string_view address, std::string_view bannerSource = kBannerPageName);
// The local banner page.
std::string BannerPageText();

struct TFramesetResult {
    bool ok = false;
    std::string path;    // the frameset file: what the browser is given
    std::string message; // why it could not be written
};

// Writes the banner page and the frameset for the address into the temp folder, replacing older
// ones.
TFramesetResult WriteBannerFrameset(const TPXApp& app, std::string_view address);

} // namespace pellix

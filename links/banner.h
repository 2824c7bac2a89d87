// The banner block that saved pages carry: an IFRAME (and a layer for old browsers) showing the banner page.
#pragma once

#include <string>
#include <string_view>

#include "links/date_time.h"

namespace pellix {

// The banner page, 468 x 60 pixels, that a task writes at the root of the saved site (a file
// beside the host folders, or an entry at the top of the Zip file). Saved pages load it with a
// relative link, so a page opened offline asks no server for it.
inline constexpr const char* kBannerPageName = "PellixBanner.htm";

// The comment that opens the block; a page that already holds it is not given a second one.
inline constexpr const char* kBannerStartComment = "<!-- Brackwell Pellix Ad Banner Insert -->";
inline constexpr const char* kBannerEndComment = "<!-- End of Brackwell Pellix Ad Banner Insert-->";

// The lines inserted right after the first BODY tag's ">" (CR LF ended, the first line empty).
std::string BannerTopBlock(std::string_view address);
// The text inserted right before the first "/BODY" tag's "<".
std::string BannerLayerBlock(std::string_view address);

// The page with the block placed: the top part after the first BODY tag and the layer before the
// first /BODY tag, each only where its tag is found. A page that already has the block (parsed
// once before, for instance by a run that was interrupted) is returned unchanged.
std::string InsertBanner(std::string page, std::string_view address);

bool HasBanner(std::string_view page);

// Takes out both parts of a block that InsertBanner placed, byte for byte, so that its links are
// not read as the page's own and a new block can take its place. False when there was none.
bool RemoveBanner(std::string& page);

// The banner address in a page saved from the folder URL pageFolder: the relative link from that
// page's local folder to the banner page at the root ("../PellixBanner.htm" for the site's top).
std::string LocalBannerAddress(std::string_view pageFolder);

// The banner page itself: "Saved with Pellix", the start address and the date (YYYY-MM-DD) in a
// 468 x 60 box, self-contained (no image, font, script or address it would load). The start
// address is shown as text, never linked.
std::string LocalBannerPage(std::string_view startURL, TDateTime date);

} // namespace pellix

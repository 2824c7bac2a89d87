// The banner block that saved pages carry: an IFRAME (and a layer for old browsers) showing the banner page.
#pragma once

#include <string>
#include <string_view>

namespace pellix {

// The banner page, 468 x 60 pixels, on the product's web server. A saved page opened offline
// simply shows an empty frame there: nothing in the block waits for it.
inline constexpr const char* kBannerAddress = "https://pellix.org/banner.htm";

// The comment that opens the block; a page that already holds it is not given a second one.
inline constexpr const char* kBannerStartComment = "<!-- Brackwell Pellix Ad Banner Insert -->";

// The lines inserted right after the first BODY tag's ">" (CR LF ended, the first line empty).
std::string BannerTopBlock(std::string_view address = kBannerAddress);
// The text inserted right before the first "/BODY" tag's "<".
std::string BannerLayerBlock(std::string_view address = kBannerAddress);

// The page with the block placed: the top part after the first BODY tag and the layer before the
// first /BODY tag, each only where its tag is found. A page that already has the block (parsed
// once before, for instance by a run that was interrupted) is returned unchanged.
std::string InsertBanner(std::string page, std::string_view address = kBannerAddress);

bool HasBanner(std::string_view page);

} // namespace pellix

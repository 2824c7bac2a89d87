// The banner block that saved pages carry.
#include "links/banner.h"

#include "links/html_parser.h"
#include "links/text_helpers.h"

namespace pellix {

namespace {

// "<" and ">" of the first tag named tag, or nothing when the page has none that closes.
bool FindWholeTag(const std::string& page, const char* tag, std::size_t& open, std::size_t& close)
{
    TPXParser parser(page, tag, ">", "");
    parser.Next();
    open = parser.TagStart();
    close = parser.TagClose();
    return open != 0 && close > open;
}

} // namespace

std::string BannerTopBlock(std::string_view address)
{
    std::string block = "\r\n";
    block += kBannerStartComment;
    block += "\r\n";
    block += "<TABLE width=100% border=\"0\" cellpadding=\"0\" cellspacing=\"0\">\r\n";
    block += "<TR>\r\n";
    block += "<TD>\r\n";
    block += "<ILAYER id=ad1 visibility=hidden height=60></ILAYER>\r\n";
    block += "<NOLAYER>\r\n";
    block += "<IFRAME SRC=\"";
    block += address;
    block += "\" width=\"100%\" height=\"60\" marginwidth=0 marginheight=0 hspace=0 vspace=0 "
             "frameborder=0 scrolling=no></IFRAME>\r\n";
    block += "</NOLAYER>\r\n";
    block += "</TD>\r\n";
    block += "</TR>\r\n";
    block += "</TABLE>\r\n";
    block += "<!-- End of Brackwell Pellix Ad Banner Insert-->\r\n";
    return block;
}

std::string BannerLayerBlock(std::string_view address)
{
    std::string block = "\r\n<layer src=\"";
    block += address;
    block += "\" visibility=hidden id=a1 width=600 onload=\"moveToAbsolute(ad1.pageX,ad1.pageY); "
             "a1.clip.height=60; a1.visibility='show';\"></layer>\r\n";
    return block;
}

std::string InsertBanner(std::string page, std::string_view address)
{
    if (HasBanner(page))
        return page;
    std::size_t open = 0;
    std::size_t close = 0;
    if (FindWholeTag(page, "BODY", open, close))
        page.insert(close, BannerTopBlock(address)); // after ">" (1-based close = 0-based next)
    if (FindWholeTag(page, "/BODY", open, close))
        page.insert(open - 1, BannerLayerBlock(address));
    return page;
}

bool HasBanner(std::string_view page)
{
    return FindText(page, kBannerStartComment) != 0;
}

} // namespace pellix

// The banner block that saved pages carry.
#include "links/banner.h"

#include <cstdio>
#include <utility>

#include "links/html_parser.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

// "<" and ">" of the first tag named tag, or nothing when the page has none that closes.
// The parser borrows the page for the look (it hands the same text back), so no copy is made.
bool FindWholeTag(std::string& page, const char* tag, std::size_t& open, std::size_t& close)
{
    TPXParser parser(std::move(page), tag, ">", "");
    parser.Next();
    open = parser.TagStart();
    close = parser.TagClose();
    page = parser.TakeText();
    return open != 0 && close > open;
}

std::string EscapeHTMLText(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default:
            // Control bytes have no place in a shown address.
            if (static_cast<unsigned char>(c) >= 0x20)
                escaped += c;
        }
    }
    return escaped;
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
    block += kBannerEndComment;
    block += "\r\n";
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

bool RemoveBanner(std::string& page)
{
    const std::size_t start = page.find(kBannerStartComment);
    if (start == std::string::npos)
        return false;
    const std::string end = std::string(kBannerEndComment) + "\r\n";
    const std::size_t stop = page.find(end, start);
    if (stop == std::string::npos)
        return false;
    const std::size_t from = start >= 2 && page.compare(start - 2, 2, "\r\n") == 0 ? start - 2 : start;
    page.erase(from, stop + end.size() - from);

    // The layer: "\r\n<layer src=\"...\" visibility=hidden id=a1 width=600 onload=...></layer>\r\n".
    constexpr std::string_view kLayerOpen = "\r\n<layer src=\"";
    constexpr std::string_view kLayerMark = "\" visibility=hidden id=a1 width=600 onload=\"moveToAbsolute(";
    constexpr std::string_view kLayerClose = "></layer>\r\n";
    for (std::size_t layer = page.find(kLayerOpen, from); layer != std::string::npos;
         layer = page.find(kLayerOpen, layer + 1)) {
        const std::size_t mark = page.find(kLayerMark, layer);
        const std::size_t close = page.find(kLayerClose, layer);
        if (mark == std::string::npos || close == std::string::npos)
            break;
        if (mark < close && page.find('"', layer + kLayerOpen.size()) == mark) {
            page.erase(layer, close + kLayerClose.size() - layer);
            break;
        }
    }
    return true;
}

std::string LocalBannerAddress(std::string_view pageFolder)
{
    return LocalRootLink(pageFolder) + kBannerPageName;
}

std::string LocalBannerPage(std::string_view startURL, TDateTime date)
{
    const TDateTimeParts parts = DecodeDateTime(date);
    char day[16];
    std::snprintf(day, sizeof day, "%04d-%02d-%02d", parts.year, parts.month, parts.day);
    // The program's colours: white on the report tables' dark blue.
    std::string page =
        "<!DOCTYPE html>\r\n"
        "<html><head><meta charset=\"utf-8\"><title>Saved with Pellix</title>\r\n"
        "<style>\r\n"
        "html,body{margin:0;padding:0;overflow:hidden;background:#004080}\r\n"
        "div{box-sizing:border-box;width:468px;height:60px;padding:9px 12px;background:#004080;"
        "color:#FFFFFF;font:13px/20px Arial,Helvetica,sans-serif;white-space:nowrap;overflow:hidden;"
        "text-overflow:ellipsis}\r\n"
        "b{font-size:15px}\r\n"
        "</style></head>\r\n"
        "<body><div><b>Saved with Pellix</b> on ";
    page += day;
    page += "<br>";
    page += EscapeHTMLText(startURL);
    page += "</div></body></html>\r\n";
    return page;
}

} // namespace pellix

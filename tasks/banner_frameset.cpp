// The banner frameset "Pellix.htm": a start address shown online below the product's banner,
// for an external browser.
#include "tasks/banner_frameset.h"

#include <filesystem>

#include "links/file_io.h"
#include "workspace/app_settings.h"

namespace pellix {

namespace {

std::string AttributeSafe(std::string_view address)
{
    std::string out;
    out.reserve(address.size());
    for (const char c : address) {
        switch (c) {
        case '"':
            out += "%22";
            break;
        case '<':
            out += "%3C";
            break;
        case '>':
            out += "%3E";
            break;
        case '\r':
        case '\n':
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string BannerFramesetText(std::string_view address, std::string_view bannerSource)
{
    std::string text = "\n";
    const auto line = [&text](std::string_view part) {
        text += part;
        text += '\n';
    };
    line("<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">");
    line("<HTML>");
    line("<FRAMESET FRAMEBORDER=NO FRAMESPACING=0 ROWS=\"60,*\" BORDER=NO>");
    line("  <FRAME SRC=\"" + AttributeSafe(bannerSource) + "\" MARGINHEIGHT=0 MARGINWIDTH=0 SCROLLING=NO>");
    line("  <FRAME SRC=\"" + AttributeSafe(address) + "\" MARGINHEIGHT=0 MARGINWIDTH=0 SCROLLING=YES>");
    line("</FRAMESET>");
    line("<NOFRAMES>");
    line("<BODY BGPROPERTIES=\"FIXED\" BGCOLOR=\"#FFFFFF\">");
    line("<BLOCKQUOTE><FONT FACE=\"VERDANA,ARIAL,HELVETICA\" SIZE=\"2\">");
    line("<P><B>Tomefold</B>");
    line("<P>Your browser does not support frames.<BR>");
    line("</FONT></BLOCKQUOTE>");
    line("</BODY>");
    line("</NOFRAMES>");
    line("</HTML>");
    return text;
}

std::string BannerPageText()
{
    return "<!DOCTYPE html>\n"
           "<html><head><meta charset=\"utf-8\"><title>Pellix</title></head>\n"
           "<body style=\"margin:0;background:#004080;color:#FFFFFF;font:bold 14px Verdana,Arial,Helvetica,sans-serif\">\n"
           "<div style=\"padding:20px 12px\">Pellix</div>\n"
           "</body></html>\n";
}

TFramesetResult WriteBannerFrameset(const TPXApp& app, std::string_view address)
{
    TFramesetResult result;
    const std::filesystem::path folder(app.TempFolder());
    const std::filesystem::path page = folder / kBannerPageName;
    const std::filesystem::path frameset = folder / kBannerFramesetName;
    std::string error;
    if (!WriteFileAtomically(page, BannerPageText(), &error) ||
        !WriteFileAtomically(frameset, BannerFramesetText(address), &error)) {
        result.message = "Cannot write " + frameset.string() + ": " + error;
        return result;
    }
    result.ok = true;
    result.path = frameset.string();
    return result;
}

} // namespace pellix

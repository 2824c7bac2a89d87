// TFileKind: what a linked file is (style sheet, script, image...), from the link's context or the reply's type.
#include "links/file_kind.h"

#include <algorithm>
#include <array>
#include <utility>

#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

// Whether a blank-separated attribute value holds token (any case), as rel="preload stylesheet".
bool HasToken(std::string_view value, std::string_view token)
{
    const std::string lower = LowerCase(value);
    std::size_t i = 0;
    while (i < lower.size()) {
        const std::size_t begin = lower.find_first_not_of(" \t\r\n\f", i);
        if (begin == std::string::npos)
            break;
        const std::size_t end = std::min(lower.find_first_of(" \t\r\n\f", begin), lower.size());
        if (std::string_view(lower).substr(begin, end - begin) == token)
            return true;
        i = end;
    }
    return false;
}

// The extension a name of this URL ends in by its address alone: after a query the one the
// query rule appends, otherwise the file's own (lowercase).
std::string AddressExtension(std::string_view url)
{
    const std::string query = QueryNameExtension(url);
    return query.empty() ? URLExtension(url) : query;
}

} // namespace

TFileKind LinkTagKind(std::string_view rel, std::string_view as)
{
    if (HasToken(rel, "stylesheet"))
        return TFileKind::StyleSheet;
    if (HasToken(rel, "modulepreload"))
        return TFileKind::Script;
    if (HasToken(rel, "icon") || HasToken(rel, "apple-touch-icon"))
        return TFileKind::Image;
    if (HasToken(rel, "preload")) {
        const std::string type = LowerCase(as);
        if (type == "style")
            return TFileKind::StyleSheet;
        if (type == "script")
            return TFileKind::Script;
        if (type == "image")
            return TFileKind::Image;
        if (type == "font")
            return TFileKind::Font;
        if (type == "audio" || type == "video")
            return TFileKind::Media;
    }
    return TFileKind::None;
}

std::string KindExtension(TFileKind kind)
{
    switch (kind) {
    case TFileKind::StyleSheet:
        return ".css";
    case TFileKind::Script:
        return ".js";
    default:
        return {};
    }
}

std::string KindGroupExtension(TFileKind kind)
{
    switch (kind) {
    case TFileKind::StyleSheet:
        return ".css";
    case TFileKind::Script:
        return ".js";
    case TFileKind::Image:
        return ".jpg";
    case TFileKind::Font:
        return ".woff2";
    case TFileKind::Media:
        return ".mp4";
    case TFileKind::None:
        break;
    }
    return {};
}

std::string ContentTypeExtension(std::string_view contentType)
{
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"text/css", ".css"},
        {"text/javascript", ".js"},
        {"application/javascript", ".js"},
        {"application/x-javascript", ".js"},
        {"text/ecmascript", ".js"},
        {"application/ecmascript", ".js"},
        {"application/json", ".json"},
        {"application/wasm", ".wasm"},
        {"image/png", ".png"},
        {"image/apng", ".apng"},
        {"image/jpeg", ".jpg"},
        {"image/jpg", ".jpg"},
        {"image/pjpeg", ".jpg"},
        {"image/gif", ".gif"},
        {"image/webp", ".webp"},
        {"image/avif", ".avif"},
        {"image/svg+xml", ".svg"},
        {"image/x-icon", ".ico"},
        {"image/vnd.microsoft.icon", ".ico"},
        {"image/bmp", ".bmp"},
        {"image/tiff", ".tif"},
        {"font/woff", ".woff"},
        {"font/woff2", ".woff2"},
        {"font/ttf", ".ttf"},
        {"font/otf", ".otf"},
        {"application/font-woff", ".woff"},
        {"application/x-font-woff", ".woff"},
        {"application/font-woff2", ".woff2"},
        {"application/x-font-ttf", ".ttf"},
        {"application/x-font-otf", ".otf"},
        {"application/vnd.ms-fontobject", ".eot"},
        {"audio/mpeg", ".mp3"},
        {"audio/ogg", ".ogg"},
        {"audio/wav", ".wav"},
        {"audio/x-wav", ".wav"},
        {"audio/webm", ".webm"},
        {"audio/mp4", ".m4a"},
        {"audio/aac", ".aac"},
        {"audio/flac", ".flac"},
        {"video/mp4", ".mp4"},
        {"video/webm", ".webm"},
        {"video/ogg", ".ogv"},
        {"video/quicktime", ".mov"},
        {"text/vtt", ".vtt"},
        {"application/pdf", ".pdf"},
    };
    std::string type = LowerCase(contentType.substr(0, contentType.find(';')));
    const std::size_t first = type.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    type = type.substr(first, type.find_last_not_of(" \t") - first + 1);
    for (const auto& [name, extension] : kTypes)
        if (name == type)
            return std::string(extension);
    return {};
}

std::string ContextTypeExtension(std::string_view url, TFileKind kind)
{
    std::string extension = KindExtension(kind);
    if (extension.empty() || AddressExtension(url) == extension)
        return {};
    return extension;
}

std::string ReplyTypeExtension(std::string_view url, std::string_view recorded, std::string_view contentType)
{
    // A browser uses a style sheet or script link as one whatever the server calls it.
    if (recorded == ".css" || recorded == ".js")
        return std::string(recorded);
    const std::string typed = ContentTypeExtension(contentType);
    if (typed.empty() || !TypedFileExtension(url).empty())
        return std::string(recorded);
    return AddressExtension(url) == typed ? std::string() : typed;
}

bool IsTypeExtension(std::string_view text)
{
    if (text.size() < 2 || text.size() > 9 || text[0] != '.')
        return false;
    return std::all_of(text.begin() + 1, text.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

} // namespace pellix

// URL rules: resolving and checking links, and mapping URLs onto local files and local links.
#include "links/url_rules.h"

#include "links/url.h"

namespace pellix {

std::string URLProtocol(std::string_view url) { return TbwURL(url).Protocol(); }
std::string URLHost(std::string_view url) { return TbwURL(url).Host(); }
std::string URLPath(std::string_view url) { return TbwURL(url).Path(); }
std::string URLDocument(std::string_view url) { return TbwURL(url).Document(); }
std::string URLQuery(std::string_view url) { return TbwURL(url).Query(); }
std::string URLAnchor(std::string_view url) { return TbwURL(url).Anchor(); }
std::string URLExtension(std::string_view) { return {}; }
std::string URLDirectory(std::string_view url) { return std::string(url); }
std::string URLAncestor(std::string_view url, int) { return std::string(url); }
std::string ResolveURL(std::string_view link, std::string_view) { return std::string(link); }
bool ValidateURL(std::string&) { return false; }
std::string ResolveAndValidateURL(std::string_view, std::string_view) { return {}; }
std::string StripAnchor(std::string_view url) { return std::string(url); }
std::string RelativeURL(std::string_view target, std::string_view) { return std::string(target); }
std::string EscapeLocalPath(std::string_view text) { return std::string(text); }
std::string LocalFileName(std::string_view root, std::string_view, std::string_view)
{
    return std::string(root) + "index.htm";
}
std::string LocalLink(std::string_view, std::string_view) { return "index.htm"; }
std::string SiteName(std::string_view) { return {}; }

} // namespace pellix

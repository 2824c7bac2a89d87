// URL rules: resolving and checking links, and mapping URLs onto local files and local links.
#include "links/url_rules.h"

#include <algorithm>
#include <array>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "links/text_helpers.h"
#include "links/url.h"

namespace pellix {

namespace {

// The local-name characters, in UTF-8 (file names and, percent-encoded, links).
constexpr std::string_view kInvertedExclamation = "\xC2\xA1"; // "/" inside a query
constexpr std::string_view kInvertedQuestion = "\xC2\xBF";    // "?"
constexpr std::string_view kBrokenBar = "\xC2\xA6";           // ":" and "|"
constexpr std::string_view kDegree = "\xC2\xB0";              // "*"

// A "extension" longer than this is no extension worth keeping when a name is cut.
constexpr std::size_t kMaxKeptExtensionBytes = 32;

// ReplaceText in place: most texts hold none of what is replaced, and are then left without a
// copy.
void ReplaceAllIn(std::string& text, std::string_view find, std::string_view replacement, bool all = true)
{
    if (ContainsText(text, find))
        text = ReplaceText(text, find, replacement, all);
}

// How many leading characters belong to the scheme for the folder rules: "https://" is one
// longer than "http://"; everything else is counted like "http://".
std::size_t SchemeLength(std::string_view url)
{
    return StartsWithText(url, "https://") ? 8 : 7;
}

// Whether the extension rule (last ".", with no "\" or ":" after it) finds an extension.
bool HasExtension(std::string_view name)
{
    const auto mark = name.find_last_of(".\\:");
    return mark != std::string_view::npos && name[mark] == '.';
}

// Browsers treat "%2e" like "." when they look for dot segments.
bool IsSingleDot(std::string_view segment)
{
    return segment == "." || SameText(segment, "%2e");
}

bool IsDoubleDot(std::string_view segment)
{
    if (segment.size() != 2 && segment.size() != 4 && segment.size() != 6)
        return false;
    return segment == ".." || SameText(segment, ".%2e") || SameText(segment, "%2e.") || SameText(segment, "%2e%2e");
}

// Cuts a name longer than limit bytes to its first bytes plus its extension, without splitting
// a UTF-8 character.
std::string FitSegment(std::string segment, std::size_t limit)
{
    if (segment.size() <= limit)
        return segment;
    std::string extension;
    if (const auto dot = segment.rfind('.'); dot != std::string::npos)
        extension = segment.substr(dot);
    if (extension.size() > kMaxKeptExtensionBytes || extension.size() >= limit)
        extension.clear();
    return segment.substr(0, Utf8CutLength(segment, limit - extension.size())) + extension;
}

// One escaped segment made fit to be a file or folder name under the root: no control bytes,
// never "." or "..", never longer than limit bytes.
std::string SafeSegment(std::string segment, std::size_t limit = kMaxLocalNameBytes)
{
    for (char& c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\')
            c = '_';
    }
    if (segment == "." || segment == "..")
        segment.assign(segment.size(), '_');
    return FitSegment(std::move(segment), limit);
}

bool IsBracketedHost(std::string_view host)
{
    return host.size() >= 2 && host.front() == '[' && host.back() == ']';
}

// The folder of a URL's host: the host, and "_" + port for a port other than the scheme's
// default. An IPv6 literal's colons become "-" (they would become "¦" like any other colon).
std::string HostFolder(const TbwURL& url)
{
    std::string host = url.Host();
    if (IsBracketedHost(host))
        std::replace(host.begin() + 1, host.end() - 1, ':', '-');
    std::string suffix;
    const int port = url.PortNumber();
    const int defaultPort = LowerCase(url.Protocol()) == "https://" ? 443 : 80;
    if (port > 0 && port != defaultPort)
        suffix = "_" + std::to_string(port);
    return SafeSegment(EscapeLocalPath(host), kMaxLocalNameBytes - suffix.size()) + suffix;
}

// Files that a browser opened from disk takes by their name's extension: a style sheet named
// ".html" is refused, a module script too. A query (a version, a size) after such a name must not
// turn it into a page.
bool IsTypedFileExtension(std::string_view extension)
{
    static constexpr std::string_view kTyped[] = {
        ".css",  ".js",   ".mjs",  ".json", ".xml",  ".txt",  ".map",  ".wasm", ".gif",  ".jpg",
        ".jpeg", ".jpe",  ".png",  ".webp", ".svg",  ".ico",  ".bmp",  ".avif", ".tif",  ".tiff",
        ".woff", ".woff2", ".ttf", ".otf",  ".eot",  ".mp3",  ".wav",  ".ogg",  ".oga",  ".opus",
        ".flac", ".m4a",  ".aac",  ".mid",  ".midi", ".mp4",  ".m4v",  ".webm", ".ogv",  ".mov",
        ".avi",  ".mpg",  ".mpeg", ".mkv",  ".vtt",  ".pdf",  ".csv",  ".zip",  ".gz",   ".tgz",
        ".bz2",  ".xz",   ".7z",   ".rar",  ".tar",  ".apng", ".jxl"};
    return std::find(std::begin(kTyped), std::end(kTyped), extension) != std::end(kTyped);
}

// The typed extension of a URL's file, in lowercase, or empty.
std::string TypedExtensionOf(const TbwURL& url)
{
    std::string extension = LowerCase(url.Extension());
    return IsTypedFileExtension(extension) ? extension : std::string();
}

// With legacy, the rule of earlier runs: every query named a page, "=gif" and "=jpg" aside.
// A type extension given for the item names the file after a query.
std::string QueryNameExtensionOf(const TbwURL& url, bool legacy = false, std::string_view typeExtension = {})
{
    if (url.Query().empty())
        return {};
    if (!typeExtension.empty())
        return std::string(typeExtension);
    if (std::string typed = legacy ? std::string() : TypedExtensionOf(url); !typed.empty())
        return typed;
    if (url.URL().find("=gif") != std::string::npos)
        return ".gif";
    if (url.URL().find("=jpg") != std::string::npos)
        return ".jpg";
    return ".html";
}

// The document part of a local name, before escaping.
std::string LocalDocument(const TbwURL& url, const std::string& fileName, bool legacy, std::string_view typeExtension)
{
    std::string document = fileName + url.Query() + QueryNameExtensionOf(url, legacy, typeExtension);
    ReplaceAllIn(document, ".asp", ".html", false);
    ReplaceAllIn(document, ".shtml", ".html", false);
    ReplaceAllIn(document, ".phtml", ".html", false);
    return document;
}

// Where a URL lives below the root: its folders (the host first, when there is one) and its
// file name. Every local name and local link is built from this one mapping, so that a link
// written into a page always names the file that the download wrote.
struct TLocalPlace {
    std::vector<std::string> folders;
    std::string name;
};

TLocalPlace LocalPlace(std::string_view text, bool legacy = false, std::string_view typeExtension = {})
{
    const TbwURL url(text);
    TLocalPlace place;
    if (!url.Host().empty()) {
        // The links of a site are nearly all on one host: its folder is made once.
        thread_local std::string lastProtocol, lastHost, lastPort, lastFolder;
        thread_local bool haveLast = false;
        if (!haveLast || url.Host() != lastHost || url.Port() != lastPort || url.Protocol() != lastProtocol) {
            lastFolder = HostFolder(url);
            lastProtocol = url.Protocol();
            lastHost = url.Host();
            lastPort = url.Port();
            haveLast = true;
        }
        place.folders.push_back(lastFolder);
    }

    // Dot segments resolve like a browser's; ".." at the top stays at the top.
    std::vector<std::string> path;
    const std::string& rawPath = url.Path();
    std::size_t start = 0;
    while (start < rawPath.size()) {
        const auto slash = std::min(rawPath.find('/', start), rawPath.size());
        const std::string_view segment(rawPath.data() + start, slash - start);
        if (IsDoubleDot(segment)) {
            if (!path.empty())
                path.pop_back();
        } else if (!segment.empty() && !IsSingleDot(segment)) {
            path.emplace_back(segment);
        }
        start = slash + 1;
    }
    std::string fileName = url.FileName();
    if (IsDoubleDot(fileName)) {
        if (!path.empty())
            path.pop_back();
        fileName.clear();
    } else if (IsSingleDot(fileName)) {
        fileName.clear();
    }

    for (const std::string& segment : path)
        place.folders.push_back(SafeSegment(EscapeLocalPath(segment)));

    const std::string name = EscapeLocalPath(LocalDocument(url, fileName, legacy, typeExtension));
    place.name = name.empty() ? std::string("index.htm") : SafeSegment(name);
    return place;
}

// Bytes that may stand in a relative link as they are: unreserved characters and a few
// sub-delimiters that mean nothing inside a path or an HTML attribute.
bool IsPlainLinkByte(unsigned char byte)
{
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9'))
        return true;
    switch (byte) {
    case '-': case '.': case '_': case '~': case '!': case '$': case '(': case ')':
    case '+': case ',': case ';': case '=': case '@': case '/':
        return true;
    default:
        return false;
    }
}

std::string EncodeLink(std::string_view text)
{
    return PercentEncode(text, [](unsigned char byte) { return !IsPlainLinkByte(byte); });
}

// The local link before percent-encoding: the path from base's local folder to target's file.
std::string LocalLinkText(std::string_view target, std::string_view base, std::string_view typeExtension)
{
    const TLocalPlace to = LocalPlace(target, false, typeExtension);
    // The links of a page are all made from one base: its place is worked out once.
    thread_local std::string lastBase;
    thread_local TLocalPlace lastFrom;
    thread_local bool haveLast = false;
    if (!haveLast || base != lastBase) {
        lastFrom = LocalPlace(base);
        lastBase.assign(base);
        haveLast = true;
    }
    const TLocalPlace& from = lastFrom;
    std::size_t common = 0;
    while (common < to.folders.size() && common < from.folders.size()
           && to.folders[common] == from.folders[common])
        ++common;
    std::string link;
    for (std::size_t i = common; i < from.folders.size(); ++i)
        link += "../";
    for (std::size_t i = common; i < to.folders.size(); ++i) {
        link += to.folders[i];
        link += '/';
    }
    link += to.name;
    return link;
}

// "about:blank", "javascript:...", "data:...", "tel:...": a scheme of its own, so the link never
// names a file of the site, however it would resolve as a relative path.
bool HasOtherScheme(std::string_view link)
{
    const auto colon = link.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isAlpha(link[0]))
        return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = link[i];
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return false;
    }
    const std::string scheme = LowerCase(link.substr(0, colon));
    return scheme != "http" && scheme != "https";
}

// Bytes a browser percent-encodes before it sends a link (blanks, quotes, angle brackets, non-ASCII),
// so the request carries "a%20b.txt" where the page wrote "a b.txt"; "%" stays, nothing is encoded
// twice. Tabs are dropped as browsers drop them.
std::string EncodeUnsafeURLBytes(std::string_view url)
{
    std::string kept(url);
    std::erase(kept, '\t');
    return PercentEncode(kept, [](unsigned char byte) {
        return byte <= 0x20 || byte >= 0x7F || byte == '"' || byte == '<' || byte == '>' || byte == '`'
            || byte == '{' || byte == '}';
    });
}

// Blanks and line breaks around a typed or found address mean nothing (browsers drop them).
std::string TrimURLSpace(std::string_view text)
{
    constexpr std::string_view kSpace = " \t\r\n\f\v";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(kSpace) - first + 1));
}

// Whether an address without "://" starts with a scheme of its own ("javascript:void(0)",
// "mailto:me@host") rather than a host and a port ("localhost:8080/x.html").
bool NamesOtherScheme(std::string_view address)
{
    const auto colon = address.find(':');
    if (colon == std::string_view::npos || colon == 0 || !HasOtherScheme(address))
        return false;
    static constexpr std::array<std::string_view, 10> kNeverHosts = {
        "javascript", "vbscript", "data", "mailto", "about", "tel", "blob", "file", "ftp", "news"};
    const std::string scheme = LowerCase(address.substr(0, colon));
    if (std::find(kNeverHosts.begin(), kNeverHosts.end(), scheme) != kNeverHosts.end())
        return true;
    // After a host's colon come only the port's digits.
    const std::string_view after = address.substr(colon + 1);
    const std::string_view port = after.substr(0, after.find_first_of("/?#"));
    return !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A host a connection can be made to by name or by address; an IPv6 literal in brackets must be
// a well-formed one.
bool IsUsableHost(const std::string& host)
{
    if (IsBracketedHost(host)) {
        // Checked before the parse, which would stop at a NUL byte.
        const std::string literal = host.substr(1, host.size() - 2);
        if (literal.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return false;
        in6_addr address{};
        return ::inet_pton(AF_INET6, literal.c_str(), &address) == 1;
    }
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F || std::string_view("<>\"`{}|^[]").find(c) != std::string_view::npos;
    });
}

} // namespace

std::string URLProtocol(std::string_view url) { return TbwURL(url).Protocol(); }
std::string URLHost(std::string_view url) { return TbwURL(url).Host(); }
std::string URLPath(std::string_view url) { return TbwURL(url).Path(); }
std::string URLDocument(std::string_view url) { return TbwURL(url).Document(); }
std::string URLQuery(std::string_view url) { return TbwURL(url).Query(); }
std::string URLAnchor(std::string_view url) { return TbwURL(url).Anchor(); }

std::string URLExtension(std::string_view url)
{
    const TbwURL parsed(url);
    if (url.find('?') != std::string_view::npos) {
        std::string typed = TypedExtensionOf(parsed);
        return typed.empty() ? std::string(".html") : typed;
    }
    return LowerCase(parsed.Extension());
}

std::string QueryNameExtension(std::string_view url)
{
    return QueryNameExtensionOf(TbwURL(url));
}

std::string TypedFileExtension(std::string_view url)
{
    return TypedExtensionOf(TbwURL(url));
}

std::string URLDirectory(std::string_view url)
{
    const std::size_t lowest = SchemeLength(url);
    // Slashes in the query or the anchor are not folders: "page#a/b" must not put the anchor
    // into the base every link of the page is resolved against.
    const std::size_t stop = std::min(url.find_first_of("?#"), url.size());
    std::size_t i = stop;
    while (i > lowest) {
        --i;
        if (url[i] == '/')
            return std::string(url.substr(0, i + 1));
    }
    return std::string(url.substr(0, stop)) + "/";
}

std::string URLAncestor(std::string_view url, int levels)
{
    std::vector<std::size_t> ends;
    for (std::size_t i = SchemeLength(url) + 1; i < url.size(); ++i)
        if (url[i] == '/')
            ends.push_back(i + 1);
    if (ends.empty())
        return std::string(url);
    const auto count = static_cast<long long>(ends.size());
    if (levels > 0 && levels < count)
        return std::string(url.substr(0, ends[static_cast<std::size_t>(count - levels - 1)]));
    return std::string(url.substr(0, ends.front()));
}

std::string ResolveURL(std::string_view link, std::string_view base)
{
    static constexpr std::array<std::string_view, 5> kAbsolute = {
        "HTTP://", "FILE://", "FTP://", "HTTPS://", "NEWS://"};
    std::string result;
    if (std::any_of(kAbsolute.begin(), kAbsolute.end(),
                    [&](std::string_view prefix) { return StartsWithText(link, prefix); })) {
        result = link;
    } else if (link.starts_with("//")) {
        // Scheme-relative: another host under the page's own scheme.
        std::string scheme = URLProtocol(base);
        if (scheme.empty())
            scheme = "http://";
        result = scheme + std::string(link.substr(2));
    } else if (link.starts_with("/")) {
        result = URLAncestor(base, 0) + std::string(link.substr(1));
    } else if (link.starts_with("../")) {
        int levels = 0;
        while (link.starts_with("../")) {
            link.remove_prefix(3);
            ++levels;
        }
        result = URLAncestor(base, levels) + std::string(link);
    } else {
        result = std::string(base) + std::string(link);
    }

    for (auto dot = result.find("/./"); dot != std::string::npos; dot = result.find("/./"))
        result.replace(dot, 3, "/");
    std::erase_if(result, [](char c) { return c == '\n' || c == '\r'; });
    ReplaceAllIn(result, "&amp;", "&");
    return result;
}

bool ValidateURL(std::string& address)
{
    address = TrimURLSpace(address);
    if (address.empty())
        return false;
    std::replace(address.begin(), address.end(), '\\', '/');
    // Parsed once, and again only where the text changes.
    TbwURL url(address);
    if (url.Protocol().empty()) {
        const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
        if (address.size() > 1 && isLetter(address[0]) && address[1] == ':')
            address.insert(0, "file://");
        else if (NamesOtherScheme(address))
            return false;
        else
            address.insert(0, "http://");
        url.SetURL(address);
    }

    if (url.Host().empty() && url.Protocol() != "file://")
        return false;
    const std::string scheme = LowerCase(url.Protocol());
    if (scheme != "http://" && scheme != "https://")
        return false;
    if (!IsUsableHost(url.Host()))
        return false;
    const int port = url.PortNumber();
    if (port < 0)
        return false;
    if (port > 0 && url.Port() != std::to_string(port)) {
        // The host and port stand right after the scheme in the text just parsed.
        address.replace(url.Protocol().size() + url.Host().size() + 1, url.Port().size(), std::to_string(port));
        url.SetURL(address);
    }

    // A folder address gets its trailing "/", in front of the anchor when there is one.
    const auto hash = address.find('#');
    const std::size_t end = hash != std::string::npos ? hash : address.size();
    const std::string_view beforeAnchor(address.data(), end);
    if (!HasExtension(url.Document()) && !beforeAnchor.ends_with('/')
        && beforeAnchor.find('?') == std::string_view::npos)
        address.insert(end, "/");

    ReplaceAllIn(address, "&amp;", "&");
    return true;
}

std::string ResolveAndValidateURL(std::string_view link, std::string_view base)
{
    if (HasOtherScheme(link))
        return {};
    std::string url = ResolveURL(link, base);
    if (!ValidateURL(url))
        return {};
    // Encoding drops tabs, which can leave something that is no address at all ("\t#").
    std::string encoded = EncodeUnsafeURLBytes(url);
    // A valid address validates to itself, unless an "&amp;" is left to undo: most links need
    // no second look.
    if (encoded == url && !ContainsText(url, "&amp;"))
        return encoded;
    return ValidateURL(encoded) ? encoded : std::string();
}

std::string StripAnchor(std::string_view url)
{
    return std::string(url.substr(0, url.find('#')));
}

std::string RelativeURL(std::string_view target, std::string_view base)
{
    const TbwURL to(target);
    const TbwURL from(base);
    if (to.Host() != from.Host())
        return std::string(target);
    std::string_view toPath = to.Path();
    std::string_view fromPath = from.Path();
    while (!fromPath.empty()) {
        const auto toEnd = toPath.find('/');
        const auto fromEnd = fromPath.find('/');
        const std::string_view toFirst = toPath.substr(0, toEnd == std::string_view::npos ? toPath.size() : toEnd + 1);
        const std::string_view fromFirst = fromPath.substr(0, fromEnd == std::string_view::npos ? fromPath.size() : fromEnd + 1);
        if (toFirst != fromFirst)
            break;
        toPath.remove_prefix(toFirst.size());
        fromPath.remove_prefix(fromFirst.size());
    }
    std::string result;
    for (const char c : fromPath)
        if (c == '/')
            result += "../";
    return result + std::string(toPath) + to.Document();
}

std::string EscapeLocalPath(std::string_view text)
{
    std::string result;
    const auto question = text.find('?');
    if (question == std::string_view::npos) {
        result = text;
    } else {
        result = text.substr(0, question);
        for (const char c : text.substr(question)) {
            if (c == '/')
                result += kInvertedExclamation;
            else if (c == '?')
                result += kInvertedQuestion;
            else
                result += c;
        }
    }
    ReplaceAllIn(result, "%20", " ");
    ReplaceAllIn(result, "&amp;", "&");
    ReplaceAllIn(result, "%3A", kBrokenBar);
    ReplaceAllIn(result, "|", kBrokenBar);
    ReplaceAllIn(result, "*", kDegree);
    ReplaceAllIn(result, ":", kBrokenBar);
    ReplaceAllIn(result, "//", "/");
    return result;
}

std::string LocalFileName(std::string_view root, std::string_view, std::string_view url,
                          std::string_view typeExtension)
{
    std::string result = WithTrailingSlash(root);
    const TLocalPlace place = LocalPlace(url, false, typeExtension);
    for (const std::string& folder : place.folders)
        result += folder + "/";
    return result + place.name;
}

std::string LegacyLocalFileName(std::string_view root, std::string_view url)
{
    const TbwURL parsed(url);
    if (parsed.Query().empty() || TypedExtensionOf(parsed).empty())
        return {};
    std::string result = WithTrailingSlash(root);
    const TLocalPlace place = LocalPlace(url, true);
    for (const std::string& folder : place.folders)
        result += folder + "/";
    return result + place.name;
}

std::string LocalRootLink(std::string_view base)
{
    std::string link;
    for (std::size_t i = LocalPlace(base).folders.size(); i > 0; --i)
        link += "../";
    return link;
}

std::string LocalLink(std::string_view target, std::string_view base, std::string_view targetTypeExtension)
{
    return EncodeLink(LocalLinkText(target, base, targetTypeExtension));
}

std::string SiteName(std::string_view url)
{
    const std::string text = ToSlashes(url);
    const std::string host = URLHost(text);
    std::string name;
    if (IsBracketedHost(host)) {
        // "[fe80::2:3]" gives "ipv6-fe80-2-3": groups joined by one "-".
        name = "ipv6";
        bool newGroup = true;
        for (const char c : std::string_view(host).substr(1, host.size() - 2)) {
            if (c == ':') {
                newGroup = true;
                continue;
            }
            if (newGroup)
                name += '-';
            name += c;
            newGroup = false;
        }
    } else if (const auto www = text.find("www."); www != std::string::npos) {
        name = text.substr(www + 4);
        name = name.substr(0, name.find('.'));
    } else {
        name = host;
        if (const auto dot = name.find('.'); dot != std::string::npos) {
            name[dot] = '_';
            name = name.substr(0, name.find('.', dot + 1));
        }
    }
    // The name becomes a file name: it stays within the host, and holds nothing a file name may not.
    name = ReplaceIllegalChars(name.substr(0, name.find_first_of("/:?#")), '_');
    if (name.find_first_not_of('.') == std::string::npos)
        return {};
    return name;
}

} // namespace pellix

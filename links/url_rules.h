// URL rules: resolving and checking links, and mapping URLs onto local files and local links.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pellix {

// The longest name of one local file or folder, in bytes. A directory entry holds 255 (NAME_MAX);
// the rest is room for what is added to a local name later: ".pxpart" for a partial body and the
// atomic writer's ".tmp<pid>-<n>" (29 bytes at most together).
inline constexpr std::size_t kMaxLocalNameBytes = 255 - 32;

// Parts of a URL text, as TbwURL splits it. URLDocument is FileName + Query.
std::string URLProtocol(std::string_view url);
std::string URLHost(std::string_view url);
std::string URLPath(std::string_view url);
std::string URLDocument(std::string_view url);
std::string URLQuery(std::string_view url);
std::string URLAnchor(std::string_view url);

// The extension used for file-type decisions, in ASCII lowercase (may be empty): the document's
// extension; for a URL holding a "?", the file's own extension when it names a file a browser
// takes by its name (see QueryNameExtension), otherwise ".html".
std::string URLExtension(std::string_view url);

// The extension appended to the local name of a URL with a query (empty without one): the file's
// own extension, in lowercase, when a browser opening it from disk goes by it (style sheets,
// scripts, images, fonts, media, data and archives: "theme.css?2024.1" and "logo.PNG?w=200" stay
// ".css" and ".png"); otherwise ".gif" or ".jpg" when the URL holds "=gif" or "=jpg"; otherwise
// ".html" (pages such as "show.asp?id=3", and files without an extension). This is the address's
// own rule; an item whose link context or reply said what it is records that instead
// (TPXQItem::TypeExtension), and every name and link of it is made with the recorded one.
std::string QueryNameExtension(std::string_view url);

// The URL's file extension, in lowercase, when it names a file a browser takes by its name (a
// style sheet, script, image, font, media file...); otherwise empty.
std::string TypedFileExtension(std::string_view url);

// The URL of the folder holding url, ending in "/" ("http://host" gives "http://host/"). The
// slashes of "http://" or "https://" never count as the folder's.
std::string URLDirectory(std::string_view url);

// The URL of an enclosing folder: levels = 1 is the parent of url's deepest folder, 2 the one
// above; 0 or more levels than there are give the server root ("http://host/").
std::string URLAncestor(std::string_view url, int levels);

// Makes link (as found in a page) absolute against base, a folder URL ending in "/".
// Links starting with a scheme of http, https, file, ftp or news (any case) are kept; "/x" is
// taken from the server root; "//host/x" takes base's scheme; leading "../" climb from base
// (never above the root); anything else is appended to base. Then "/./" collapses, line breaks
// go and "&amp;" becomes "&". A "../" inside the path is left as it is.
std::string ResolveURL(std::string_view link, std::string_view base);

// Checks an address typed, pasted or found, and normalises it in place: blanks and line breaks
// around it go, "\" becomes "/", a missing scheme becomes "http://", a port loses its leading
// zeros, a folder address gets its trailing "/" (before any anchor) and "&amp;" becomes "&".
// True only for an http:// or https:// address (any case) with a usable host and port:
//   - not empty, not only blanks;
//   - no other scheme: "javascript:...", "mailto:...", "data:..." are refused, while "host:8080/"
//     is a host and a port;
//   - a host without blanks, control bytes or any of < > " ` { } | ^ [ ], or an IPv6 literal in
//     brackets ("http://[::1]:8080/");
//   - no port, or a port of 1 to 65535 in digits ("http://h:/" counts as no port).
bool ValidateURL(std::string& address);

// ResolveURL, then ValidateURL; the empty string when the result is not usable, and for a link
// with a scheme other than http or https ("about:", "javascript:", "data:", "tel:"...). Blanks,
// quotes, angle brackets, other control bytes and non-ASCII bytes of the result are
// percent-encoded as a browser would send them ("a b.txt" gives "a%20b.txt"); tabs are dropped.
std::string ResolveAndValidateURL(std::string_view link, std::string_view base);

// url without its anchor (from the first "#").
std::string StripAnchor(std::string_view url);

// A reference from the folder of base to target, when both are on the same host (exact
// comparison): "../" per folder of base below the common ones, then the rest of target's path
// and its document. A target on another host is returned unchanged.
std::string RelativeURL(std::string_view target, std::string_view base);

// The Windows-style escaping of local names: after the first "?", "/" becomes "¡" and "?" "¿";
// then, everywhere and without regard to case, "%20" becomes " ", "&amp;" "&", "%3A" "¦",
// "|" "¦", "*" "°", ":" "¦" and "//" "/". The characters ¡ ¿ ¦ ° are written in UTF-8.
std::string EscapeLocalPath(std::string_view text);

// Local layout of a downloaded site, all under one root folder:
//   root + host + "/" + the URL's folders + name
// where name is the document (file name + query, with QueryNameExtension appended when there
// is a query, ".asp"/".shtml"/".phtml" turned into ".html"), escaped as above, or
// "index.htm" for a folder. "http://host/docs" and "http://host/docs/" give the same file.
//
// The host folder: the host, then "_" and the port when the URL names a port other than its
// scheme's default (80, or 443 for https): "http://h:8001/" is in "h_8001", while "http://h/",
// "http://h:80/" and "https://h:443/" share "h" (as do http and https of one host). An IPv6
// literal keeps its brackets with "-" for its colons: "http://[::1]:8080/" is in "[--1]_8080".
// A port that is no port (see TbwURL::PortNumber) is left out.
//
// Hostile URLs cannot leave the root: dot segments (also percent-encoded ones, "%2e%2e") are
// resolved the way a browser resolves them, with ".." at the top staying at the top; empty
// segments merge; control bytes become "_"; a host of "." or ".." is renamed; and every segment
// is cut to kMaxLocalNameBytes (its first bytes plus its extension, never splitting a UTF-8
// character; a host folder keeps its port).
//
// root is a folder text ending in "/" (one is added when missing); base does not influence
// the result.
//
// typeExtension is what the item's link context or reply said the file is (".css", ".png"; see
// TPXQItem::TypeExtension): when it is given, a name with a query ends in it instead of the
// extension the address alone gives.
std::string LocalFileName(std::string_view root, std::string_view base, std::string_view url,
                          std::string_view typeExtension = {});

// The relative link that replaces a reference to target in a page saved from the folder URL
// base: from base's local folder to target's local file, as LocalFileName lays them out.
// The result is written into pages as it is, so every byte that is not a plain ASCII URL
// character is percent-encoded (bytes of ¡ ¿ ¦ ° and other non-ASCII bytes, blank as %20,
// "%" as %25, "#", "?", quotes, "&", ":", "\" and control bytes); a browser that decodes the
// link and resolves it against the saved page's own location reaches exactly the file that
// LocalFileName names. The anchor is not part of the result; callers append it.
// targetTypeExtension is the target item's type extension (see LocalFileName).
std::string LocalLink(std::string_view target, std::string_view base, std::string_view targetTypeExtension = {});

// The name that LocalFileName gave url before a query kept a typed file's extension
// ("host/theme.css¿v=3.html" where it now gives "host/theme.css¿v=3.css"), so that files and
// links saved by earlier runs are still found. Empty when both rules give the same name.
std::string LegacyLocalFileName(std::string_view root, std::string_view url);

// The relative link from base's local folder up to the root folder ("../" per folder, the host's
// included): what a saved page puts in front of a file that the task writes at the root.
std::string LocalRootLink(std::string_view base);

// A short name for the site, used as a default task name: "http://www.example.net/" gives
// "example", "http://docs.example.net/" gives "docs_example". An IPv6 literal gives "ipv6-"
// and its groups joined by "-" ("http://[::1]/" gives "ipv6-1", "http://[fe80::2:3]/"
// "ipv6-fe80-2-3"). The name is fit to be a file name: characters illegal in file names and
// control bytes become "_"; empty when nothing usable is left ("." and ".." included), and the
// caller picks a name of its own.
std::string SiteName(std::string_view url);

} // namespace pellix

// URL rules: resolving and checking links, and mapping URLs onto local files and local links.
#pragma once

#include <string>
#include <string_view>

namespace pellix {

// Parts of a URL text, as TbwURL splits it. URLDocument is FileName + Query.
std::string URLProtocol(std::string_view url);
std::string URLHost(std::string_view url);
std::string URLPath(std::string_view url);
std::string URLDocument(std::string_view url);
std::string URLQuery(std::string_view url);
std::string URLAnchor(std::string_view url);

// The extension used for file-type decisions: ".html" for any URL holding a "?", otherwise the
// document's extension in ASCII lowercase (may be empty).
std::string URLExtension(std::string_view url);

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

// Checks an address typed, pasted or found, and normalises it in place: "\" becomes "/", a
// missing scheme becomes "http://", a folder address gets its trailing "/" (before any anchor)
// and "&amp;" becomes "&". True only for an http:// or https:// address (any case) with a host.
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
// where name is the document (file name + query, with ".gif", ".jpg" or ".html" appended when
// there is a query, ".asp"/".shtml"/".phtml" turned into ".html"), escaped as above, or
// "index.htm" for a folder. The scheme and the port take no part: http and https and every
// port of a host share the host's folder. "http://host/docs" and "http://host/docs/" give the
// same file.
//
// Hostile URLs cannot leave the root: dot segments (also percent-encoded ones, "%2e%2e") are
// resolved the way a browser resolves them, with ".." at the top staying at the top; empty
// segments merge; control bytes become "_"; a host of "." or ".." is renamed; and every segment
// is cut to fit 255 bytes (the first 250 bytes, or fewer, plus the extension).
//
// root is a folder text ending in "/" (one is added when missing); base does not influence
// the result.
std::string LocalFileName(std::string_view root, std::string_view base, std::string_view url);

// The relative link that replaces a reference to target in a page saved from the folder URL
// base: from base's local folder to target's local file, as LocalFileName lays them out.
// The result is written into pages as it is, so every byte that is not a plain ASCII URL
// character is percent-encoded (bytes of ¡ ¿ ¦ ° and other non-ASCII bytes, blank as %20,
// "%" as %25, "#", "?", quotes, "&", ":", "\" and control bytes); a browser that decodes the
// link and resolves it against the saved page's own location reaches exactly the file that
// LocalFileName names. The anchor is not part of the result; callers append it.
std::string LocalLink(std::string_view target, std::string_view base);

// A short name for the site, used as a default task name: "http://www.example.net/" gives
// "example", "http://docs.example.net/" gives "docs_example". Never holds "/" or ":".
std::string SiteName(std::string_view url);

} // namespace pellix

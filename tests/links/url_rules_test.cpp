// Tests for the URL rules: resolving, validating, and mapping URLs onto local files and links.
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "links/file_kind.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

// "¡", "¿", "¦", "°" as they appear in local file names.
const std::string kExcl = "\xC2\xA1";
const std::string kQuest = "\xC2\xBF";
const std::string kBar = "\xC2\xA6";
const std::string kDegree = "\xC2\xB0";

std::vector<std::string> Split(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (true) {
        const auto slash = path.find('/', start);
        segments.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            return segments;
        start = slash + 1;
    }
}

// What a browser opens for a relative link found in the file pagePath (absolute): it resolves
// the link's dot segments (also "%2e" ones) against the page's folder, then decodes each
// segment into file-name bytes.
std::string OpenedByBrowser(const std::string& pagePath, const std::string& link)
{
    std::vector<std::string> segments = Split(pagePath);
    segments.pop_back(); // the page's own name
    const std::vector<std::string> linkSegments = Split(link);
    for (std::size_t i = 0; i < linkSegments.size(); ++i) {
        std::string lower = linkSegments[i];
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        const bool last = i + 1 == linkSegments.size();
        if (lower == ".." || lower == ".%2e" || lower == "%2e." || lower == "%2e%2e") {
            if (segments.size() > 1)
                segments.pop_back();
            if (last)
                segments.emplace_back();
        } else if (lower == "." || lower == "%2e") {
            if (last)
                segments.emplace_back();
        } else {
            segments.push_back(PercentDecode(linkSegments[i]));
        }
    }
    std::string path;
    for (std::size_t i = 0; i < segments.size(); ++i)
        path += (i ? "/" : "") + segments[i];
    return path;
}

// The folder that a page saved from base lives in (base's own file names it).
std::string PageFile(const std::string& root, const std::string& base)
{
    return LocalFileName(root, base, base);
}

TEST(URLRulesTest, PartsAndExtension)
{
    EXPECT_EQ(URLProtocol("https://h/x"), "https://");
    EXPECT_EQ(URLHost("http://h:81/x"), "h");
    EXPECT_EQ(URLPath("http://h/a/b/c.htm"), "a/b/");
    EXPECT_EQ(URLDocument("http://h/a/c.asp?x=1#t"), "c.asp?x=1");
    EXPECT_EQ(URLQuery("http://h/a/c.asp?x=1#t"), "?x=1");
    EXPECT_EQ(URLAnchor("http://h/a/c.asp?x=1#t"), "#t");

    EXPECT_EQ(URLExtension("http://h/A.GIF"), ".gif");
    EXPECT_EQ(URLExtension("http://h/a.gif?x=1"), ".gif"); // a versioned image stays an image
    EXPECT_EQ(URLExtension("http://h/a.asp?x=1"), ".html");
    EXPECT_EQ(URLExtension("http://h/cgi?x=a.css"), ".html");
    EXPECT_EQ(URLExtension("http://h/docs"), "");
}

TEST(URLRulesTest, DirectoryAndAncestor)
{
    const struct {
        const char* url;
        const char* directory;
    } directories[] = {
        {"http://host", "http://host/"},
        {"http://host/", "http://host/"},
        {"http://host/docs", "http://host/"},
        {"http://host/docs/intro.html", "http://host/docs/"},
        {"http://host/cgi/a.asp?u=/x/y", "http://host/cgi/"},
        {"https://host", "https://host/"},
        {"HTTPS://host/a/b.html", "HTTPS://host/a/"},
        {"", "/"},
    };
    for (const auto& c : directories) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(URLDirectory(c.url), c.directory);
    }

    const struct {
        const char* url;
        int levels;
        const char* ancestor;
    } ancestors[] = {
        {"http://host/a/b/", 0, "http://host/"},
        {"http://host/a/b/", 1, "http://host/a/"},
        {"http://host/a/b/", 2, "http://host/"},
        {"http://host/a/b/", 9, "http://host/"},
        {"http://host/a/b/", -1, "http://host/"},
        {"http://host", 1, "http://host"},
        {"https://host/a/b/", 1, "https://host/a/"},
        {"https://host/a/b/", 0, "https://host/"},
    };
    for (const auto& c : ancestors) {
        SCOPED_TRACE(std::string(c.url) + " " + std::to_string(c.levels));
        EXPECT_EQ(URLAncestor(c.url, c.levels), c.ancestor);
    }
}

TEST(URLRulesTest, ResolveURL)
{
    const struct {
        const char* link;
        const char* base;
        const char* resolved;
    } cases[] = {
        {"../../x.html", "http://host/a/b/", "http://host/x.html"},
        {"../../../x.html", "http://host/a/b/", "http://host/x.html"},
        {"../x.html", "https://host/a/b/", "https://host/a/x.html"},
        {"./pic.gif", "http://host/a/", "http://host/a/pic.gif"},
        {"././pic.gif", "http://host/a/", "http://host/a/pic.gif"},
        {"/img/p.gif", "http://host/a/b/", "http://host/img/p.gif"},
        {"b.html", "http://host/a/", "http://host/a/b.html"},
        {"NeWs://group/x", "http://host/a/", "NeWs://group/x"},
        {"HTTPS://other/x", "http://host/a/", "HTTPS://other/x"},
        {"ftp://other/x", "http://host/a/", "ftp://other/x"},
        {"//cdn.example/x.js", "https://host/a/", "https://cdn.example/x.js"},
        // A "../" inside the path is left for the local mapping to resolve.
        {"a/../b.html", "http://host/d/", "http://host/d/a/../b.html"},
        {"mailto:me@host", "http://host/d/", "http://host/d/mailto:me@host"},
        {"p.asp?a=1&amp;b=2&AMP;c=3", "http://host/", "http://host/p.asp?a=1&b=2&c=3"},
        {"a\r\nb.html", "http://host/", "http://host/ab.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        EXPECT_EQ(ResolveURL(c.link, c.base), c.resolved);
    }
}

TEST(URLRulesTest, ValidateURL)
{
    const struct {
        std::string address;
        const char* after; // when valid
        bool valid;
    } cases[] = {
        {"www.example.net", "http://www.example.net/", true},
        {"http://host", "http://host/", true},
        {"http://host/a.html", "http://host/a.html", true},
        {"https://host/docs", "https://host/docs/", true},
        {"HTTPS://host/a.html", "HTTPS://host/a.html", true},
        {"host\\a\\b.html", "http://host/a/b.html", true},
        {"localhost:8080/x.html", "http://localhost:8080/x.html", true},
        {"http://host/cgi?x=1&amp;y=2", "http://host/cgi?x=1&y=2", true},
        // A folder address gets its "/" before the anchor, not inside it.
        {"http://host/docs#top", "http://host/docs/#top", true},
        {"http://host/docs/#top", "http://host/docs/#top", true},
        {"ftp://host/f.zip", "", false},
        {"C:\\pages\\a.htm", "", false},
        {"file:///x/a.htm", "", false},
        {"NEWS://group/x", "", false},
        {"http://", "", false},
        {"", "", false},
        // Blanks around an address go; blanks alone are no address.
        {"   ", "", false},
        {"\t\r\n", "", false},
        {"  http://host/a.html \n", "http://host/a.html", true},
        // Other schemes, also without "//"; a host with a port is no scheme.
        {"javascript:alert(1)", "", false},
        {"JavaScript:void(0)", "", false},
        {"javascript:1", "", false},
        {"mailto:me@host", "", false},
        {"data:text/html,<b>x</b>", "", false},
        {"about:blank", "", false},
        {"host:abc/", "", false},
        {"localhost:8080", "http://localhost:8080/", true},
        // Hosts with blanks, control bytes or markup.
        {"http://ho st/", "", false},
        {"http://host\x01/a.htm", "", false},
        {"http://h<x>/", "", false},
        {"http://h|x/", "", false},
        // The query or anchor ends the host.
        {"http://host?x=1", "http://host?x=1", true},
        {"http://host#a b", "http://host/#a b", true},
        // Ports: 1 to 65535 in digits, never wrapped or replaced by a default.
        {"http://host:65535/", "http://host:65535/", true},
        {"http://host:1/", "http://host:1/", true},
        {"http://host:0080/a.htm", "http://host:80/a.htm", true},
        {"http://host:/a.htm", "http://host:/a.htm", true},
        {"http://host:99999/", "", false},
        {"http://host:65536/", "", false},
        {"http://host:0/", "", false},
        {"http://host:-1/", "", false},
        {"http://host:8o/", "", false},
        {"http://host:18446744073709551697/", "", false},
        // IPv6 literals.
        {"http://[::1]:8080/", "http://[::1]:8080/", true},
        {"http://[::1]", "http://[::1]/", true},
        {"[::1]:8080/a.htm", "http://[::1]:8080/a.htm", true},
        {"https://[2001:db8::5]/docs", "https://[2001:db8::5]/docs/", true},
        {"http://[::ffff:127.0.0.1]/", "http://[::ffff:127.0.0.1]/", true},
        {"http://[::1/", "", false},
        {"http://[zz::1]/", "", false},
        {"http://[::1]:0/", "", false},
        {"http://[]/", "", false},
        {std::string("http://[::\0\0" "1]/", 14), "", false}, // found by fuzzing: the parse stopped at the NUL
        {"http://[::1%25eth0]/", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        std::string address = c.address;
        EXPECT_EQ(ValidateURL(address), c.valid);
        if (c.valid) {
            EXPECT_EQ(address, c.after);
            // A valid address validates to itself (ResolveAndValidateURL relies on it).
            if (!ContainsText(address, "&amp;")) {
                std::string again = address;
                EXPECT_TRUE(ValidateURL(again));
                EXPECT_EQ(again, address);
            }
        }
    }

    EXPECT_EQ(ResolveAndValidateURL("../a.html", "http://host/d/"), "http://host/a.html");
    EXPECT_EQ(ResolveAndValidateURL("news://x/y", "http://host/d/"), "");
    EXPECT_EQ(ResolveAndValidateURL("sub", "https://host/d/"), "https://host/d/sub/");
    EXPECT_EQ(ResolveAndValidateURL("http://ho st/x.htm", "http://host/d/"), "");
    EXPECT_EQ(ResolveAndValidateURL("http://host:99999/x.htm", "http://host/d/"), "");
    EXPECT_EQ(ResolveAndValidateURL("a b.htm", "http://[::1]:8080/d/"), "http://[::1]:8080/d/a%20b.htm");
    EXPECT_EQ(ResolveAndValidateURL("/x.htm", "http://[::1]:8080/d/"), "http://[::1]:8080/x.htm");
    // What comes out is always an address that validates again (a fuzzer found "\t#" with no base).
    for (const char* link : {"\t#", "\t", " #", "\t\t/"}) {
        std::string url = ResolveAndValidateURL(link, "");
        if (!url.empty()) {
            EXPECT_TRUE(ValidateURL(url)) << link;
        }
    }
}

TEST(URLRulesTest, ResolveAndValidateRefusesOtherSchemesAndEncodesUnsafeBytes)
{
    struct TCase {
        const char* link;
        const char* url;
    };
    const TCase cases[] = {
        {"about:tracing", ""},
        {"about:blank", ""},
        {"javascript:void(0)", ""},
        {"JavaScript:go('a.html')", ""},
        {"data:image/png;base64,iVBOR", ""},
        {"tel:+441234", ""},
        {"mailto:me@example.net", ""},
        {"chrome-extension://abc/x.js", ""},
        {"HTTPS://other/x.html", "HTTPS://other/x.html"},
        // Not a scheme: a colon after a slash, a query or a leading digit.
        {"a/b:c.html", "http://host/d/a/b:c.html"},
        {"x.html?t=1:2", "http://host/d/x.html?t=1:2"},
        {"1a:b.html", "http://host/d/1a:b.html"},
        // Bytes a browser would encode before sending.
        {"Visual Studio 10.rst.txt", "http://host/d/Visual%20Studio%2010.rst.txt"},
        {"a%20b.txt", "http://host/d/a%20b.txt"},
        {"q.html?x=\"y\"<z>", "http://host/d/q.html?x=%22y%22%3Cz%3E"},
        {"caf\xC3\xA9.html", "http://host/d/caf%C3%A9.html"},
        {"a\tb.html#sec 2", "http://host/d/ab.html#sec%202"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.link);
        EXPECT_EQ(ResolveAndValidateURL(c.link, "http://host/d/"), c.url);
    }
}

TEST(URLRulesTest, EncodedLinkAndSavedFileMeet)
{
    // A page in http://host/d/ links to "my file.txt": the request, the saved file and the
    // rewritten link must all agree.
    const std::string url = ResolveAndValidateURL("sub/my file.txt", "http://host/d/");
    EXPECT_EQ(url, "http://host/d/sub/my%20file.txt");
    EXPECT_EQ(LocalFileName("/r/", "", url), "/r/host/d/sub/my file.txt");
    EXPECT_EQ(LocalLink(url, "http://host/d/"), "sub/my%20file.txt");
}

TEST(URLRulesTest, StripAnchorAndRelativeURL)
{
    EXPECT_EQ(StripAnchor("http://h/a.html#x#y"), "http://h/a.html");
    EXPECT_EQ(StripAnchor("http://h/a.html"), "http://h/a.html");

    EXPECT_EQ(RelativeURL("http://host/a/b/c.html", "http://host/a/d/"), "../b/c.html");
    EXPECT_EQ(RelativeURL("http://host/a/x.asp?q=1", "http://host/a/"), "x.asp?q=1");
    EXPECT_EQ(RelativeURL("http://host/x.html", "http://host/a/b/"), "../../x.html");
    EXPECT_EQ(RelativeURL("http://other/x.html", "http://host/"), "http://other/x.html");
}

TEST(URLRulesTest, EscapeLocalPath)
{
    EXPECT_EQ(EscapeLocalPath("a%20b/c%3ad|e*f:g//h"), "a b/c" + kBar + "d" + kBar + "e" + kDegree + "f" + kBar + "g/h");
    EXPECT_EQ(EscapeLocalPath("d/show.asp?id=3/4?x"), "d/show.asp" + kQuest + "id=3" + kExcl + "4" + kQuest + "x");
    EXPECT_EQ(EscapeLocalPath("a&AMP;b&amp;amp;"), "a&b&amp;");
}

// The local file (below the root) and the link written into a page saved from http://host/docs/.
TEST(URLRulesTest, LocalFileNameAndLocalLink)
{
    const std::string base = "http://host/docs/";
    const std::string root = "/r/";
    const std::string long300(300, 'a');
    const struct {
        std::string url;
        std::string file;
        std::string link;
    } cases[] = {
        {"http://host", "host/index.htm", "../index.htm"},
        {"http://host/", "host/index.htm", "../index.htm"},
        {"http://host/docs", "host/docs/index.htm", "index.htm"},
        {"http://host/docs/", "host/docs/index.htm", "index.htm"},
        {"http://host/docs/intro.html", "host/docs/intro.html", "intro.html"},
        {"http://host/cgi/show.asp?id=3", "host/cgi/show.html" + kQuest + "id=3.html", "../cgi/show.html%C2%BFid=3.html"},
        {"http://host/pic?type=gif", "host/pic" + kQuest + "type=gif.gif", "../pic%C2%BFtype=gif.gif"},
        {"http://host/img?f=jpg", "host/img" + kQuest + "f=jpg.jpg", "../img%C2%BFf=jpg.jpg"},
        {"http://host/a%20b/x.htm", "host/a b/x.htm", "../a%20b/x.htm"},
        {"http://other/img/a.gif", "other/img/a.gif", "../../other/img/a.gif"},
        {"http://host/p.asp?x=1#top", "host/p.html" + kQuest + "x=1.html", "../p.html%C2%BFx=1.html"},
        {"http://host/q?a=b/c", "host/q" + kQuest + "a=b" + kExcl + "c.html", "../q%C2%BFa=b%C2%A1c.html"},
        {"http://host/A.ASP", "host/A.html", "../A.html"},
        {"http://host/a.shtml", "host/a.html", "../a.html"},
        {"http://host/a.phtml", "host/a.html", "../a.html"},
        {"http://host/a|b*c.htm", "host/a" + kBar + "b" + kDegree + "c.htm", "../a%C2%A6b%C2%B0c.htm"},
        {"http://host/a%23b%25.htm", "host/a%23b%25.htm", "../a%2523b%2525.htm"},
        {"http://host/it's&lt;.htm", "host/it's&lt;.htm", "../it%27s%26lt;.htm"},
        // The scheme takes no part in the layout; a port other than the scheme's default does.
        {"https://host/docs/intro.html", "host/docs/intro.html", "intro.html"},
        {"http://host:80/docs/a.htm", "host/docs/a.htm", "a.htm"},
        {"http://host:0080/docs/a.htm", "host/docs/a.htm", "a.htm"},
        {"https://host:443/docs/a.htm", "host/docs/a.htm", "a.htm"},
        {"HTTPS://host:8443/docs/a.htm", "host_8443/docs/a.htm", "../../host_8443/docs/a.htm"},
        {"http://host:8001/a.txt", "host_8001/a.txt", "../../host_8001/a.txt"},
        {"http://host:443/a.txt", "host_443/a.txt", "../../host_443/a.txt"},
        {"https://host:80/a.txt", "host_80/a.txt", "../../host_80/a.txt"},
        // A port that is no port is left out (such addresses never validate).
        {"http://host:99999/docs/a.htm", "host/docs/a.htm", "a.htm"},
        // IPv6 literals: brackets kept, colons as "-".
        {"http://[::1]:8080/x.htm", "[--1]_8080/x.htm", "../../%5B--1%5D_8080/x.htm"},
        {"http://[2001:db8::5]/", "[2001-db8--5]/index.htm", "../../%5B2001-db8--5%5D/index.htm"},
        // Dot segments resolve like a browser's, never above the host's folder.
        {"http://host/a/../b.html", "host/b.html", "../b.html"},
        {"http://host/../../etc/passwd.txt", "host/etc/passwd.txt", "../etc/passwd.txt"},
        {"http://host/docs/%2e%2e/%2E./x.htm", "host/x.htm", "../x.htm"},
        {"http://host/docs/./a.htm", "host/docs/a.htm", "a.htm"},
        {"http://host/docs/a/..", "host/docs/index.htm", "index.htm"},
        {"http://host/docs/..?x=1", "host/" + kQuest + "x=1.html", "../%C2%BFx=1.html"},
        {"http://host/a//b.htm", "host/a/b.htm", "../a/b.htm"},
        // Odd hosts.
        {"http://../a.htm", "__/a.htm", "../../__/a.htm"},
        {"http:///a.htm", "a.htm", "../../a.htm"},
        {"http://h?x/a.htm", "h/" + kQuest + "x" + kExcl + "a.htm.html", "../../h/%C2%BFx%C2%A1a.htm.html"},
        {std::string("http://host/a\0b\x01.htm", 20), "host/a_b_.htm", "../a_b_.htm"},
        // Long names keep their first bytes and their extension, leaving room for suffixes.
        {"http://host/" + long300 + ".html", "host/" + long300.substr(0, kMaxLocalNameBytes - 5) + ".html",
         "../" + long300.substr(0, kMaxLocalNameBytes - 5) + ".html"},
        {"http://host/" + long300 + "/x.htm", "host/" + long300.substr(0, kMaxLocalNameBytes) + "/x.htm",
         "../" + long300.substr(0, kMaxLocalNameBytes) + "/x.htm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(LocalFileName(root, base, c.url), root + c.file);
        EXPECT_EQ(LocalLink(c.url, base), c.link);
    }
}

// A query after a file that a browser takes by its extension (a version, a size) keeps that
// extension last, so the saved copy is accepted as what it is; pages and names without an
// extension keep the page rule. Files saved under the page rule by earlier runs are still named.
TEST(URLRulesTest, LocalNamesOfFilesWithAQuery)
{
    const std::string base = "http://host/docs/";
    const struct {
        std::string url;
        std::string file;   // below the root
        std::string link;   // from a page in base
        std::string legacy; // the name before, when it differs
        std::string group;  // FileTypeOfURL's extension
    } cases[] = {
        {"http://host/docs/style.css?v=2", "host/docs/style.css" + kQuest + "v=2.css", "style.css%C2%BFv=2.css",
         "host/docs/style.css" + kQuest + "v=2.html", ".css"},
        {"http://host/js/app.js?123", "host/js/app.js" + kQuest + "123.js", "../js/app.js%C2%BF123.js",
         "host/js/app.js" + kQuest + "123.html", ".js"},
        {"http://host/img/photo.jpg?w=200#x", "host/img/photo.jpg" + kQuest + "w=200.jpg",
         "../img/photo.jpg%C2%BFw=200.jpg", "host/img/photo.jpg" + kQuest + "w=200.html", ".jpg"},
        {"http://host/img/Logo.PNG?w=200", "host/img/Logo.PNG" + kQuest + "w=200.png",
         "../img/Logo.PNG%C2%BFw=200.png", "host/img/Logo.PNG" + kQuest + "w=200.html", ".png"},
        {"http://host/f/sans.woff2?v=4.1", "host/f/sans.woff2" + kQuest + "v=4.1.woff2",
         "../f/sans.woff2%C2%BFv=4.1.woff2", "host/f/sans.woff2" + kQuest + "v=4.1.html", ".woff2"},
        {"http://host/docs/data.json?t=1&amp;u=/a", "host/docs/data.json" + kQuest + "t=1&u=" + kExcl + "a.json",
         "data.json%C2%BFt=1%26u=%C2%A1a.json", "host/docs/data.json" + kQuest + "t=1&u=" + kExcl + "a.html", ".json"},
        // The query of a page names no type, whatever it holds.
        {"http://host/cgi/show.asp?id=3", "host/cgi/show.html" + kQuest + "id=3.html", "../cgi/show.html%C2%BFid=3.html",
         "", ".htm"},
        {"http://host/get.php?f=a.css", "host/get.php" + kQuest + "f=a.css.html", "../get.php%C2%BFf=a.css.html", "",
         ".htm"},
        // No extension: the page rule, "=gif" and "=jpg" included.
        {"http://host/thumb?w=200", "host/thumb" + kQuest + "w=200.html", "../thumb%C2%BFw=200.html", "", ".htm"},
        {"http://host/pic?type=gif", "host/pic" + kQuest + "type=gif.gif", "../pic%C2%BFtype=gif.gif", "", ".gif"},
        // Without a query nothing changes.
        {"http://host/docs/style.css", "host/docs/style.css", "style.css", "", ".css"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(LocalFileName("/r/", base, c.url), "/r/" + c.file);
        EXPECT_EQ(LocalLink(c.url, base), c.link);
        EXPECT_EQ(LegacyLocalFileName("/r/", c.url), c.legacy.empty() ? "" : "/r/" + c.legacy);
        const std::string query = QueryNameExtension(c.url);
        EXPECT_EQ(query.empty() ? URLExtension(c.url) : (query == ".html" ? ".htm" : query), c.group);
    }
}

// The name an item gets from its link's context and then its reply's Content-Type.
TEST(URLRulesTest, LocalNamesByContextAndContentType)
{
    const std::string base = "http://host/docs/";
    const struct {
        std::string url;
        TFileKind context;
        std::string contentType;
        std::string file; // below the root
    } cases[] = {
        {"http://host/docs/style.css?v=2", TFileKind::StyleSheet, "text/css", "host/docs/style.css" + kQuest + "v=2.css"},
        {"http://host/css?family=Roboto", TFileKind::StyleSheet, "text/css; charset=utf-8",
         "host/css" + kQuest + "family=Roboto.css"},
        // A style sheet or script stays one whatever the server calls it.
        {"http://host/loader?v=3", TFileKind::Script, "text/html", "host/loader" + kQuest + "v=3.js"},
        {"http://host/js/app.js?123", TFileKind::Script, "application/javascript", "host/js/app.js" + kQuest + "123.js"},
        {"http://host/docs/data.png?v=1", TFileKind::Script, "", "host/docs/data.png" + kQuest + "v=1.js"},
        {"http://host/img/photo.jpg?w=200", TFileKind::Image, "image/jpeg", "host/img/photo.jpg" + kQuest + "w=200.jpg"},
        // An address naming a typed file keeps its name, whatever the reply says.
        {"http://host/img/photo.jpg?w=200", TFileKind::Image, "image/webp", "host/img/photo.jpg" + kQuest + "w=200.jpg"},
        {"http://host/img?id=7", TFileKind::Image, "image/png", "host/img" + kQuest + "id=7.png"},
        {"http://host/img?id=7", TFileKind::Image, "application/octet-stream", "host/img" + kQuest + "id=7.html"},
        {"http://host/font?f=1", TFileKind::Font, "font/woff2", "host/font" + kQuest + "f=1.woff2"},
        {"http://host/clip?x=1", TFileKind::Media, "video/mp4", "host/clip" + kQuest + "x=1.mp4"},
        // Pages keep the page rule.
        {"http://host/cgi/show.asp?id=3", TFileKind::None, "text/html", "host/cgi/show.html" + kQuest + "id=3.html"},
        // A query on a file without an extension: the reply tells, or it stays a page.
        {"http://host/file?x=1", TFileKind::None, "application/pdf", "host/file" + kQuest + "x=1.pdf"},
        {"http://host/file?x=1", TFileKind::None, "text/plain", "host/file" + kQuest + "x=1.html"},
        {"http://host/file?x=1", TFileKind::None, "text/css", "host/file" + kQuest + "x=1.css"},
        {"http://host/pic?type=gif", TFileKind::Image, "image/gif", "host/pic" + kQuest + "type=gif.gif"},
        // Without a query the name is the address's, the type only marks what the file is.
        {"http://host/css", TFileKind::StyleSheet, "text/css", "host/css/index.htm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " " + c.contentType);
        const std::string atLink = ContextTypeExtension(c.url, c.context);
        const std::string atReply = ReplyTypeExtension(c.url, atLink, c.contentType);
        EXPECT_EQ(LocalFileName("/r/", base, c.url, atReply), "/r/" + c.file);
        // The link written into a page opens that very file.
        const std::string link = LocalLink(c.url, base, atReply);
        EXPECT_EQ((std::filesystem::path("/r/host/docs") / PercentDecode(link)).lexically_normal().string(), "/r/" + c.file);
    }
}

TEST(URLRulesTest, LinkTagKindsAndContentTypeExtensions)
{
    EXPECT_EQ(LinkTagKind("StyleSheet", ""), TFileKind::StyleSheet);
    EXPECT_EQ(LinkTagKind("alternate stylesheet", ""), TFileKind::StyleSheet);
    EXPECT_EQ(LinkTagKind("preload", "font"), TFileKind::Font);
    EXPECT_EQ(LinkTagKind("preload", "style"), TFileKind::StyleSheet);
    EXPECT_EQ(LinkTagKind("modulepreload", ""), TFileKind::Script);
    EXPECT_EQ(LinkTagKind("shortcut icon", ""), TFileKind::Image);
    EXPECT_EQ(LinkTagKind("canonical", ""), TFileKind::None);
    EXPECT_EQ(LinkTagKind("nostylesheet", ""), TFileKind::None);
    EXPECT_EQ(ContentTypeExtension(" Image/PNG ; q=1"), ".png");
    EXPECT_EQ(ContentTypeExtension("font/woff2"), ".woff2");
    EXPECT_EQ(ContentTypeExtension("text/html; charset=utf-8"), "");
    EXPECT_EQ(ContentTypeExtension(""), "");
    EXPECT_TRUE(IsTypeExtension(".woff2"));
    for (const char* bad : {"", ".", "css", "../x", ".CSS", ".a/b", ".toolongext"})
        EXPECT_FALSE(IsTypeExtension(bad)) << bad;
}

TEST(URLRulesTest, LongNamesFitOneDirectoryEntryInBytes)
{
    // 200 "¿" are 400 bytes; a cut never splits a UTF-8 character.
    std::string query;
    for (int i = 0; i < 200; ++i)
        query += "?";
    const std::string file = LocalFileName("/r/", "", "http://host/x" + query);
    const std::string name = file.substr(file.rfind('/') + 1);
    EXPECT_LE(name.size(), kMaxLocalNameBytes);
    EXPECT_TRUE(name.ends_with(".html"));
    EXPECT_EQ((name.size() - 1 - 5) % 2, 0u) << "x + whole two-byte characters + .html";

    // An extension too long to keep is dropped rather than overflowing the name.
    const std::string longExtension = LocalFileName("/r/", "", "http://host/a." + std::string(400, 'e'));
    EXPECT_LE(longExtension.size() - longExtension.rfind('/') - 1, kMaxLocalNameBytes);

    // Bytes that are no UTF-8 (a run of continuation bytes) are cut at the limit, never to nothing
    // (found by fuzzing).
    const std::string latin = LocalFileName("/r/", "", "http://host/" + std::string(300, '\x9E') + ".htm");
    EXPECT_EQ(latin, "/r/host/" + std::string(kMaxLocalNameBytes - 4, '\x9E') + ".htm");

    // A long host keeps its port.
    const std::string longHost = LocalFileName("/r/", "", "http://" + std::string(300, 'h') + ":8001/a.htm");
    const std::string hostFolder = Split(longHost)[2];
    EXPECT_LE(hostFolder.size(), kMaxLocalNameBytes);
    EXPECT_TRUE(hostFolder.ends_with("h_8001"));
}

// A cut name still takes ".pxpart" for a partial body and the atomic writer's temporary suffix
// (".tmp<pid>-<n>", 22 bytes at the most) on a real file system.
TEST(URLRulesTest, LongNamesLeaveRoomForSuffixesOnDisk)
{
    test::TTempFolder folder;
    const std::string root = folder.Text();
    std::string accented;
    for (int i = 0; i < 150; ++i)
        accented += "\xC3\xA9"; // 300 bytes of "é"
    const std::string urls[] = {
        "http://host/" + std::string(300, 'a') + ".html",
        "http://host/" + std::string(300, 'b'),
        "http://host/" + accented + ".txt",
        "http://host/d/x.asp?" + std::string(300, 'q'),
        "http://" + std::string(300, 'h') + ":8001/" + std::string(300, 'c') + "/" + std::string(300, 'd') + ".gif",
    };
    const std::string writerSuffix = ".tmp4194304-4294967295";
    for (const std::string& url : urls) {
        SCOPED_TRACE(url.substr(0, 40));
        const std::string file = LocalFileName(root, "", url);
        for (const std::string& segment : Split(file.substr(root.size()))) {
            EXPECT_LE(segment.size(), kMaxLocalNameBytes);
            EXPECT_LE(segment.size() + 7 + writerSuffix.size(), 255u);
        }
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
        ASSERT_FALSE(error) << error.message();
        // The atomic writer puts its own suffix on each of these while it writes.
        ASSERT_TRUE(WriteFileAtomically(file, "x"));
        ASSERT_TRUE(WriteFileAtomically(file + ".pxpart", "x"));
        std::ofstream longest(file + ".pxpart" + writerSuffix);
        EXPECT_TRUE(longest.good());
        // The cut name holds whole UTF-8 characters only.
        const std::string name = file.substr(file.rfind('/') + 1);
        if (url.find('\xC3') != std::string::npos) {
            EXPECT_TRUE(name.ends_with(".txt"));
            EXPECT_EQ((name.size() - 4) % 2, 0u);
        }
    }
}

// Two servers on one host name, on two ports: each keeps its own files, and the links between
// them reach the other server's files.
TEST(URLRulesTest, TwoPortsOfOneHostKeepTheirOwnFiles)
{
    test::TTempFolder folder;
    const std::string root = folder.Text();
    const std::string one = "http://h:8001/";
    const std::string two = "http://h:8002/";
    const std::string files[] = {one + "a.txt", two + "a.txt", one + "docs/b.txt", two + "docs/b.txt", "http://h:80/a.txt"};
    for (const std::string& url : files) {
        const std::string file = LocalFileName(root, "", url);
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        ASSERT_FALSE(std::filesystem::exists(file)) << url << " shares " << file;
        ASSERT_TRUE(WriteFileAtomically(file, url));
    }
    EXPECT_TRUE(std::filesystem::exists(root + "h/a.txt")) << "the default port keeps the plain host folder";
    for (const std::string& page : {one + "index.html", two + "docs/index.html", std::string("http://h/index.html")}) {
        for (const std::string& url : files) {
            SCOPED_TRACE(page + " -> " + url);
            const std::string opened = OpenedByBrowser(LocalFileName(root, "", page), LocalLink(url, URLDirectory(page)));
            EXPECT_EQ(ReadWholeFile(opened).value_or("(nothing)"), url);
        }
    }
}

// Names made one after another for addresses that differ only in host, port or scheme each get
// their own host folder, whatever came before.
TEST(URLRulesTest, HostFoldersFollowEachAddressInTurn)
{
    const struct {
        const char* url;
        const char* file;
    } cases[] = {
        {"http://h:8001/a.txt", "/r/h_8001/a.txt"},
        {"http://h/a.txt", "/r/h/a.txt"},
        {"https://h:443/a.txt", "/r/h/a.txt"},
        {"http://h:443/a.txt", "/r/h_443/a.txt"},
        {"https://h:80/a.txt", "/r/h_80/a.txt"},
        {"http://H/a.txt", "/r/H/a.txt"},
        {"http://g:8001/a.txt", "/r/g_8001/a.txt"},
        {"http://h:8001/a.txt", "/r/h_8001/a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(LocalFileName("/r/", "", c.url), c.file);
    }
}

TEST(URLRulesTest, SiteName)
{
    EXPECT_EQ(SiteName("http://www.example.net/"), "example");
    EXPECT_EQ(SiteName("http://docs.example.net/"), "docs_example");
    EXPECT_EQ(SiteName("https://docs.example.net/a/"), "docs_example");
    EXPECT_EQ(SiteName("http://localhost:8080/"), "localhost");
    EXPECT_EQ(SiteName("http:\\\\www.example.net\\"), "example");
    EXPECT_EQ(SiteName("http://www.example/x.html"), "example");
    EXPECT_EQ(SiteName("http://www.intranet:81/"), "intranet");

    // IPv6 literals, and names that would not do as file names.
    const struct {
        const char* url;
        const char* name;
    } cases[] = {
        {"http://[::1]:8080/", "ipv6-1"},
        {"http://[fe80::2:3]/x.html", "ipv6-fe80-2-3"},
        {"https://[2001:db8::5]/", "ipv6-2001-db8-5"},
        {"http://[::]/", "ipv6"},
        {"http://www.a*b|c\"d/", "a_b_c_d"},
        {"http://h<x>\x01y/", "h_x__y"},
        {"http://www../", ""},
        {"http://./", ""},
        {"http://host?x=1/y", "host"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(SiteName(c.url), c.name);
    }
}

// Thousands of hostile URLs: every file stays under its root with sane names, and the link a
// page gets, opened the way a browser opens it, names that very file.
TEST(URLRulesTest, HostileURLsStayUnderRootAndLinksMatchFiles)
{
    const std::vector<std::string> schemes = {"http://", "https://", "HTTP://", "", "ftp://", "//", "http:\\\\"};
    const std::vector<std::string> pieces = {
        "../", "..", "%2e", "%2E", ".", "/", "\\", std::string(1, '\0'), "?", "#", ":", "//", "a",
        "b.html", "%20", "%3A", "|", "*", "&amp;", "\xC3\xA9", "\xFF", std::string(300, 'x'),
        "x.y", "=gif", "%", "%2f", "\r\n", "'", "\"", "<", ">", " ", "\x01", ".asp", "%25",
        std::string(130, '?'), "index.htm", "%2e%2e/", ".%2E/"};
    const std::vector<std::string> hosts = {"host", "..", ".", "", "h%2e%2e", "a:80", "x?y", "x#y",
                                            "\xC3\xA9", "other", std::string(300, 'h'), "HOST"};
    std::mt19937 random(20240601);
    const auto pick = [&](const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
    };
    const auto hostileURL = [&] {
        std::string url = pick(schemes) + pick(hosts);
        const int count = std::uniform_int_distribution<int>(0, 8)(random);
        for (int i = 0; i < count; ++i)
            url += pick(pieces);
        return url;
    };

    const std::string root = "/srv/root/";
    for (int i = 0; i < 5000; ++i) {
        const std::string url = hostileURL();
        const std::string base = hostileURL();
        SCOPED_TRACE("url=" + url + " base=" + base);

        const std::string file = LocalFileName(root, base, url);
        ASSERT_TRUE(file.starts_with(root));
        for (const std::string& segment : Split(file.substr(root.size()))) {
            ASSERT_FALSE(segment.empty());
            ASSERT_NE(segment, ".");
            ASSERT_NE(segment, "..");
            ASSERT_LE(segment.size(), 255u);
            ASSERT_EQ(segment.find('\0'), std::string::npos);
        }

        const std::string link = LocalLink(url, base);
        for (const char c : link)
            ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::string_view("-._~!$()+,;=@/%").find(c) != std::string_view::npos)
                << "raw byte " << static_cast<int>(static_cast<unsigned char>(c)) << " in " << link;
        ASSERT_EQ(OpenedByBrowser(PageFile(root, base), link), file) << "link " << link;
    }
}

// Pages saved on disk: following each rewritten link the way a browser does finds the file
// that was written for its URL, also for names with ¡ ¿ ¦ ° and blanks.
TEST(URLRulesTest, RewrittenLinksOpenTheFilesWrittenOnDisk)
{
    test::TTempFolder folder;
    const std::string root = folder.Text();
    const std::string page = "http://host/docs/a%20b/page.html";
    const std::string pageBase = "http://host/docs/a%20b/";
    const std::string targets[] = {
        "http://host/cgi/show.asp?id=3&dir=/x/y",
        "http://host/docs/a%20b/my%20pic.gif",
        "http://host/c%3Ad|e*f.htm",
        "http://host/img?type=gif",
        "http://other.example/x/",
        "https://host/docs/",
        "http://host/docs/a%20b/../../t%2e%2e/x.htm",
    };

    const std::string pageFile = LocalFileName(root, pageBase, page);
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        const std::string file = LocalFileName(root, pageBase, target);
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        ASSERT_TRUE(WriteFileAtomically(file, target));

        const std::string opened = OpenedByBrowser(pageFile, LocalLink(target, pageBase));
        const auto content = ReadWholeFile(opened);
        ASSERT_TRUE(content.has_value()) << "nothing at " << opened;
        EXPECT_EQ(*content, target);
    }
    EXPECT_TRUE(std::filesystem::exists(root + "host/cgi/show.html" + kQuest + "id=3&dir=" + kExcl + "x" + kExcl + "y.html"));
    EXPECT_TRUE(std::filesystem::exists(root + "host/docs/a b/my pic.gif"));
}

} // namespace
} // namespace pellix

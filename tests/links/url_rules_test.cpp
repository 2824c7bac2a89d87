// Tests for the URL rules: resolving, validating, and mapping URLs onto local files and links.
#include "links/text_helpers.h"
#include "links/url_rules.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
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
    EXPECT_EQ(URLExtension("http://h/a.gif?x=1"), ".html");
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
        const char* address;
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        std::string address = c.address;
        EXPECT_EQ(ValidateURL(address), c.valid);
        if (c.valid) {
            EXPECT_EQ(address, c.after);
        }
    }

    EXPECT_EQ(ResolveAndValidateURL("../a.html", "http://host/d/"), "http://host/a.html");
    EXPECT_EQ(ResolveAndValidateURL("news://x/y", "http://host/d/"), "");
    EXPECT_EQ(ResolveAndValidateURL("sub", "https://host/d/"), "https://host/d/sub/");
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
        // The scheme and the port take no part in the layout.
        {"https://host/docs/intro.html", "host/docs/intro.html", "intro.html"},
        {"HTTPS://host:8443/docs/a.htm", "host/docs/a.htm", "a.htm"},
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
        {"http://h?x/a.htm", "h" + kQuest + "x/a.htm", "../../h%C2%BFx/a.htm"},
        {std::string("http://host/a\0b\x01.htm", 20), "host/a_b_.htm", "../a_b_.htm"},
        // Long names keep their first 250 bytes and their extension.
        {"http://host/" + long300 + ".html", "host/" + long300.substr(0, 250) + ".html", "../" + long300.substr(0, 250) + ".html"},
        {"http://host/" + long300 + "/x.htm", "host/" + long300.substr(0, 250) + "/x.htm", "../" + long300.substr(0, 250) + "/x.htm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(LocalFileName(root, base, c.url), root + c.file);
        EXPECT_EQ(LocalLink(c.url, base), c.link);
    }
}

TEST(URLRulesTest, LongNamesFitOneDirectoryEntryInBytes)
{
    // 200 "¿" are 400 bytes; a cut never splits a UTF-8 character.
    std::string query;
    for (int i = 0; i < 200; ++i)
        query += "?";
    const std::string file = LocalFileName("/r/", "", "http://host/x" + query);
    const std::string name = file.substr(file.rfind('/') + 1);
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(name.ends_with(".html"));
    EXPECT_EQ((name.size() - 1 - 5) % 2, 0u) << "x + whole two-byte characters + .html";

    // An extension too long to keep is dropped rather than overflowing the name.
    const std::string longExtension = LocalFileName("/r/", "", "http://host/a." + std::string(400, 'e'));
    EXPECT_LE(longExtension.size() - longExtension.rfind('/') - 1, 255u);
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

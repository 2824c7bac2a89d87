// Tests for URLDirectory on addresses whose query or anchor holds slashes.
#include <gtest/gtest.h>

#include "links/url_rules.h"

namespace pellix {
namespace {

TEST(URLDirectoryTest, SlashesAfterQueryOrAnchorAreNotFolders)
{
    const struct {
        const char* url;
        const char* directory;
    } cases[] = {
        {"http://host/dir/page.html#a/b/", "http://host/dir/"},
        {"http://host/dir/#top/", "http://host/dir/"},
        {"http://host/a/p.html?q=1#f/g", "http://host/a/"},
        {"http://host/a/p.html#f?x=/y/", "http://host/a/"},
        {"http://host#a/b", "http://host/"},
        {"http://host?x=/y/", "http://host/"},
        {"http://host/cgi/a.asp?u=/x/y", "http://host/cgi/"},
        // Ports and IPv6 literals are part of the server, never a folder.
        {"http://[::1]:8080", "http://[::1]:8080/"},
        {"http://[::1]:8080/a/b.html", "http://[::1]:8080/a/"},
        {"http://host:8001?x=/y", "http://host:8001/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(URLDirectory(c.url), c.directory);
    }
}

// A page's BASE tag with an anchor must not carry that anchor (and whatever it holds, such as
// a quote) into every link of the page.
TEST(URLDirectoryTest, BaseWithAnchorResolvesLinksFromItsFolder)
{
    const std::string base = URLDirectory(ResolveURL("h#t'x/other/", "http://example.org/dir/"));
    EXPECT_EQ(base, "http://example.org/dir/");
    EXPECT_EQ(ResolveAndValidateURL("img.png", base), "http://example.org/dir/img.png");
}

} // namespace
} // namespace pellix

// Tests for TbwURL: how URL texts split into their parts.
#include "links/url.h"

#include <netdb.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

namespace pellix {
namespace {

struct TParseCase {
    const char* text;
    const char* protocol;
    const char* host;
    const char* port;
    const char* path;
    const char* fileName;
    const char* extension;
    const char* query;
    const char* anchor;
};

TEST(TbwURLTest, SplitsIntoParts)
{
    const TParseCase cases[] = {
        {"http://host:8080/docs/guide/intro.html#top", "http://", "host", "8080", "docs/guide/",
         "intro.html", ".html", "", "#top"},
        {"http://host", "http://", "host", "", "", "", "", "", ""},
        {"http://host/", "http://", "host", "", "", "", "", "", ""},
        {"http://host:81", "http://", "host", "81", "", "", "", "", ""},
        // A last segment without extension or query is a folder.
        {"http://host/docs", "http://", "host", "", "docs/", "", "", "", ""},
        {"http://host/docs/", "http://", "host", "", "docs/", "", "", "", ""},
        {"http://host/a/b/c", "http://", "host", "", "a/b/c/", "", "", "", ""},
        // ...but with a query it is the document.
        {"http://host/pic?type=gif", "http://", "host", "", "", "pic", "", "?type=gif", ""},
        {"http://host/p.asp?x=1#top", "http://", "host", "", "", "p.asp", ".asp", "?x=1", "#top"},
        // The anchor is cut before the query is looked for.
        {"http://host/a.html#x?y", "http://", "host", "", "", "a.html", ".html", "", "#x?y"},
        {"http://host/d/?q=a/b", "http://", "host", "", "d/", "", "", "?q=a/b", ""},
        // Backslashes count as slashes.
        {"http:\\\\host\\a\\b.htm", "http://", "host", "", "a/", "b.htm", ".htm", "", ""},
        {"HTTPS://Host/X.GIF", "HTTPS://", "Host", "", "", "X.GIF", ".GIF", "", ""},
        // Relative texts: the first segment is taken as the host.
        {"docs/a.html", "", "docs", "", "", "a.html", ".html", "", ""},
        {"/docs/a.html", "", "", "", "docs/", "a.html", ".html", "", ""},
        {"a.html", "", "a.html", "", "", "", "", "", ""},
        // A host of "." is stored as empty.
        {"http://./x.htm", "http://", "", "", "", "x.htm", ".htm", "", ""},
        // A colon after the last dot means there is no extension.
        {"http://host/a.b:c", "http://", "host", "", "a.b:c/", "", "", "", ""},
        {"http://host/.htaccess", "http://", "host", "", "", ".htaccess", ".htaccess", "", ""},
        // The text after a colon is taken as a port.
        {"mailto:me@host", "", "mailto", "me@host", "", "", "", "", ""},
        {"", "", "", "", "", "", "", "", ""},
        // A query or an anchor ends the host, and the port.
        {"http://h?x=1", "http://", "h", "", "", "", "", "?x=1", ""},
        {"http://h#a b", "http://", "h", "", "", "", "", "", "#a b"},
        {"http://h:81?x/y", "http://", "h", "81", "", "", "", "?x/y", ""},
        {"http://h:81#t", "http://", "h", "81", "", "", "", "", "#t"},
        // IPv6 literals keep their brackets; their colons are no port.
        {"http://[::1]:8080/a.htm", "http://", "[::1]", "8080", "", "a.htm", ".htm", "", ""},
        {"http://[2001:db8::5]/d/", "http://", "[2001:db8::5]", "", "d/", "", "", "", ""},
        {"http://[::1]", "http://", "[::1]", "", "", "", "", "", ""},
        {"http://[::1]?q", "http://", "[::1]", "", "", "", "", "?q", ""},
        // A bracket closed only after the path is no literal.
        {"http://[x/]", "http://", "[x", "", "]/", "", "", "", ""},
        // Only the first "://" makes the protocol.
        {"http://host/r?u=http://x/", "http://", "host", "", "", "r", "", "?u=http://x/", ""},
    };
    for (const TParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        const TbwURL url(c.text);
        EXPECT_EQ(url.URL(), c.text);
        EXPECT_EQ(url.Protocol(), c.protocol);
        EXPECT_EQ(url.Host(), c.host);
        EXPECT_EQ(url.Port(), c.port);
        EXPECT_EQ(url.Path(), c.path);
        EXPECT_EQ(url.FileName(), c.fileName);
        EXPECT_EQ(url.Extension(), c.extension);
        EXPECT_EQ(url.Query(), c.query);
        EXPECT_EQ(url.Anchor(), c.anchor);
    }
}

TEST(TbwURLTest, PortNumberRefusesWhatIsNoPort)
{
    const struct {
        const char* text;
        int port;
    } cases[] = {
        {"http://h/", 0},
        {"http://h:/", 0},
        {"http://h:80/", 80},
        {"http://h:1", 1},
        {"http://h:65535/", 65535},
        {"http://h:000080/", 80},
        {"http://[::1]:8080/", 8080},
        {"http://[::1]/", 0},
        {"http://h:0/", -1},
        {"http://h:65536/", -1},
        {"http://h:99999/", -1},
        {"http://h:4294967376/", -1},
        {"http://h:99999999999999999999999/", -1},
        {"http://h:-1/", -1},
        {"http://h:+80/", -1},
        {"http://h: 80/", -1},
        {"http://h:8o/", -1},
        {"mailto:me@host", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TbwURL(c.text).PortNumber(), c.port);
    }
}

// The resolver takes an IPv6 literal without brackets, a name as it is.
TEST(TbwURLTest, LookupHostIsWhatTheResolverTakes)
{
    EXPECT_EQ(TbwURL("http://[::1]:8080/").LookupHost(), "::1");
    EXPECT_EQ(TbwURL("http://host:8080/").LookupHost(), "host");
    EXPECT_EQ(TbwURL("http://127.0.0.1/").LookupHost(), "127.0.0.1");
    for (const char* text : {"http://[::1]:8080/", "http://[2001:db8::5]/", "http://127.0.0.1/"}) {
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST; // no look-up on the network
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        EXPECT_EQ(::getaddrinfo(TbwURL(text).LookupHost().c_str(), nullptr, &hints, &found), 0) << text;
        if (found)
            ::freeaddrinfo(found);
    }
}

TEST(TbwURLTest, SetURLReplacesEveryPart)
{
    TbwURL url("http://host:8080/a/b.html?q=1#top");
    url.SetURL("x/");
    EXPECT_EQ(url.URL(), "x/");
    EXPECT_EQ(url.Host(), "x");
    EXPECT_EQ(url.Protocol(), "");
    EXPECT_EQ(url.Port(), "");
    EXPECT_EQ(url.Path(), "");
    EXPECT_EQ(url.FileName(), "");
    EXPECT_EQ(url.Query(), "");
    EXPECT_EQ(url.Anchor(), "");
    EXPECT_EQ(url.Document(), "");
}

TEST(TbwURLTest, AcceptsAnyBytes)
{
    const std::string texts[] = {std::string("http://h\0st/a\0b.c", 17), ":", "://", ":///:", "#?",
                                 "\xFF\xFE://\x80/\x81.\x82?\x83#\x84", std::string(5000, '/')};
    for (const std::string& text : texts) {
        const TbwURL url(text);
        EXPECT_EQ(url.URL(), text);
        EXPECT_TRUE(url.Path().empty() || url.Path().back() == '/');
    }
}

} // namespace
} // namespace pellix

// End-to-end crawl of a site that uses style sheets, modern media tags and file names with blanks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/download_list.h"
#include "engine/loop_owner_thread.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/css_scanner.h"
#include "links/file_io.h"
#include "links/text_helpers.h"
#include "tests/engine/crawl_sites.h"
#include "tests/support/crawl_fixture.h"
#include "tests/support/site_checker.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace pellix {
namespace {

// The folder of the test server's files: its host and, as it is no default port, its port.
std::string HostFolder(const test::TTestHttpServer& server)
{
    return "127.0.0.1_" + std::to_string(server.Port());
}

using namespace std::chrono_literals;
using test::TCrawlFixture;
using test::TSiteChecker;
using test::TTestHttpServer;

constexpr auto kCrawlTimeout = 90s;

TEST(ModernSiteCrawlTest, StyleSheetsMediaAndBlankNamesAreSavedWithWorkingLinks)
{
    TTestHttpServer server;
    test::ServeModernSite(server);
    test::TTempFolder folder;
    TCrawlFixture crawl(folder.Path());
    crawl.NewTask(server.Url("/index.html"));
    ASSERT_TRUE(crawl.Run(kRunRestart));
    ASSERT_TRUE(crawl.WaitComplete(kCrawlTimeout));

    // Each file fetched with a successful GET; no stray requests ("/about:tracing", "/docs/Visual/").
    std::set<std::string> requested;
    for (const test::TReceivedRequest& request : server.Requests()) {
        if (request.method == "GET")
            requested.insert(request.target);
    }
    std::set<std::string> expected;
    for (const auto& [target, body] : test::kModernSite)
        expected.insert(target);
    EXPECT_EQ(requested, expected);

    for (const auto& [target, body] : test::kModernSite) {
        const std::filesystem::path file = crawl.FileOf(server.Url(target));
        EXPECT_EQ(ReadWholeFile(file).value_or("<missing>").empty(), false) << file;
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(crawl.SiteFolder() / (HostFolder(server) + "/docs/Visual Studio 10.rst.txt")));
    // Style sheets end parsed like pages: 2 pages + 2 style sheets.
    EXPECT_EQ(crawl.CountInState(kStateParsed), 4);

    const test::TSiteReport report = TSiteChecker(crawl.SiteFolder()).Check();
    EXPECT_TRUE(report.broken.empty()) << report.Describe();
    const std::string index = ReadWholeFile(crawl.SiteFolder() / (HostFolder(server) + "/index.html")).value_or("");
    EXPECT_NE(index.find("href=\"docs/Visual%20Studio%2010.rst.txt\""), std::string::npos);
    EXPECT_NE(index.find("href=\"about:tracing\""), std::string::npos);
    EXPECT_NE(index.find("data-url_root=\"./\""), std::string::npos);

    // Every style link of the saved site (pages' style text and the style sheets) names a file.
    std::size_t styleLinks = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(crawl.SiteFolder())) {
        const std::string name = entry.path().filename().string();
        const bool sheet = name.ends_with(".css");
        if (!sheet && !name.ends_with(".html"))
            continue;
        const std::string text = ReadWholeFile(entry.path()).value_or("");
        const std::vector<TCssLink> links = sheet ? FindStyleSheetLinks(text) : FindPageStyleLinks(text);
        for (const TCssLink& link : links) {
            ++styleLinks;
            const std::filesystem::path target = entry.path().parent_path() / PercentDecode(link.value);
            EXPECT_TRUE(std::filesystem::is_regular_file(target)) << name << ": " << link.value;
        }
    }
    EXPECT_EQ(styleLinks, 5u);
}

// Addresses with a query and no telling extension: the link's context and the reply's
// Content-Type name the files. Links written before the reply told the type (the image, the
// PDF, the sheet's font and background) are put right by the runner at completion, which this
// fixture does not run; the links the context decided are right at once.
TEST(ModernSiteCrawlTest, FilesBehindAQueryAreNamedByContextAndContentType)
{
    TTestHttpServer server;
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(40, '\x01');
    server.Route("/index.html")
        .Header("Content-Type", "text/html")
        .Body("<html><head><link rel=\"stylesheet\" href=\"/css?family=Roboto\">"
              "<script src=\"/loader?v=3\"></script></head><body>"
              "<img src=\"/img?id=7\"><a href=\"/file?x=1\">pdf</a> <a href=\"show.asp?id=3\">show</a>"
              "</body></html>");
    server.Route("/css?family=Roboto")
        .Header("Content-Type", "text/css; charset=utf-8")
        .Body("@font-face { font-family: F; src: url(/font?f=1); }\nbody { background: url(/bg?id=1); }\n");
    server.Route("/loader?v=3").Header("Content-Type", "text/html").Body("document.title = 'x';\n");
    server.Route("/img?id=7").Header("Content-Type", "image/png").Body(png);
    server.Route("/bg?id=1").Header("Content-Type", "image/gif").Body("GIF89a" + std::string(20, '\x02'));
    server.Route("/font?f=1").Header("Content-Type", "font/woff2").Body("wOF2" + std::string(20, '\x03'));
    server.Route("/file?x=1").Header("Content-Type", "application/pdf").Body("%PDF-1.4\n");
    server.Route("/show.asp?id=3").Header("Content-Type", "text/html").Body("<html><body>show</body></html>");
    test::TTempFolder folder;
    TCrawlFixture crawl(folder.Path());
    crawl.NewTask(server.Url("/index.html"));
    ASSERT_TRUE(crawl.Run(kRunRestart));
    ASSERT_TRUE(crawl.WaitComplete(kCrawlTimeout));

    const std::filesystem::path host = crawl.SiteFolder() / HostFolder(server);
    const std::string q = "\xC2\xBF";
    for (const std::string& name : {"css" + q + "family=Roboto.css", "loader" + q + "v=3.js", "img" + q + "id=7.png",
                                    "bg" + q + "id=1.gif", "font" + q + "f=1.woff2", "file" + q + "x=1.pdf",
                                    "show.html" + q + "id=3.html"})
        EXPECT_TRUE(std::filesystem::is_regular_file(host / name)) << name;
    // Files that are no pages are kept byte for byte: no banner block went into them.
    EXPECT_EQ(ReadWholeFile(host / ("img" + q + "id=7.png")).value_or(""), png);
    const std::string sheet = ReadWholeFile(host / ("css" + q + "family=Roboto.css")).value_or("");
    EXPECT_EQ(sheet.find("<"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("url(font%C2%BFf=1.html)"), std::string::npos) << sheet;

    const std::string index = ReadWholeFile(host / "index.html").value_or("");
    for (const char* link : {"href=\"css%C2%BFfamily=Roboto.css\"", "src=\"loader%C2%BFv=3.js\"",
                             "href=\"show.html%C2%BFid=3.html\""})
        EXPECT_NE(index.find(link), std::string::npos) << link << "\n" << index;
    // The reply renamed the image: its list record says so, for every later name and link.
    crawl.Owner().Call([&] {
        TPXDownloadList& list = crawl.Task().DownloadList();
        EXPECT_EQ(list.TypeExtensionOf(server.Url("/img?id=7")), ".png");
        EXPECT_EQ(list.TypeExtensionOf(server.Url("/css?family=Roboto")), ".css");
        EXPECT_EQ(list.TypeExtensionOf(server.Url("/show.asp?id=3")), "");
    });
}

} // namespace
} // namespace pellix

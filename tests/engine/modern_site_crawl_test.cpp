// End-to-end crawl of a site that uses style sheets, modern media tags and file names with blanks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

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

} // namespace
} // namespace pellix

#include "workspace/offline_address.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "workspace/zip_engine.h"
#include "workspace/zip_entry_source.h"

namespace pellix {
namespace {

using test::TTempFolder;
using test::WriteText;

TEST(TOfflineAddressTest, EntriesMapToAddressesAndBack)
{
    struct Case {
        const char* entry;
        const char* address;  // after the key
        const char* back;     // the entry the address leads to
    };
    const Case cases[] = {
        {"127.0.0.1_8080/index.htm", "/127.0.0.1_8080/index.htm", "127.0.0.1_8080/index.htm"},
        {"host/docs/a page.htm", "/host/docs/a%20page.htm", "host/docs/a page.htm"},
        {"host/q#x?.htm", "/host/q%23x%3F.htm", "host/q#x?.htm"},
        {"host/caf\xc3\xa9.htm", "/host/caf%C3%A9.htm", "host/caf\xc3\xa9.htm"},
        {"host/100%.css", "/host/100%25.css", "host/100%.css"},
        {"host/sub/", "/host/sub/index.htm", "host/sub/index.htm"},
        {"/host/lead.htm", "/host/lead.htm", "host/lead.htm"},
        {"", "/index.htm", "index.htm"},
    };
    TOfflineAddress addresses;
    const std::string zip = "/home/u/Downloads/Site.zip";
    const std::string key = TOfflineAddress::ZipKey(zip);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const std::string address = addresses.AddressOfEntry(zip, c.entry);
        EXPECT_EQ(address, std::string("pellix-zip://") + key + c.address);
        const auto ref = addresses.EntryOfAddress(address);
        ASSERT_TRUE(ref);
        EXPECT_EQ(*ref, (TZipEntryRef{zip, c.back}));
    }
}

TEST(TOfflineAddressTest, LinksFollowedInsideTheCopyLeadToEntries)
{
    TOfflineAddress addresses;
    const std::string zip = "/z/Site.zip";
    const std::string base = "pellix-zip://" + TOfflineAddress::ZipKey(zip);
    addresses.AddressOfEntry(zip, "host/index.htm");
    struct Case {
        std::string address;  // as the browser asks for it
        std::optional<std::string> entry;
    };
    const Case cases[] = {
        {base + "/host/img/logo.png", "host/img/logo.png"},
        {base + "/host/page2.htm?x=1#top", "host/page2.htm"},
        {base + "/host/page2.htm#top", "host/page2.htm"},
        {base + "/host/", "host/index.htm"},
        {base, "index.htm"},
        // The browser writes the host in lower case and may escape more than we do.
        {"PELLIX-ZIP://" + TOfflineAddress::ZipKey(zip) + "/host/%70age2.htm", "host/page2.htm"},
        // Dot segments the browser left (encoded) name nothing.
        {base + "/host/%2e%2e/secret", std::nullopt},
        {base + "/../x", std::nullopt},
        // A Zip never handed over, and other schemes.
        {"pellix-zip://z0000000000000000/host/index.htm", std::nullopt},
        {"http://host/index.htm", std::nullopt},
        {"file:///z/Site.zip", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const auto ref = addresses.EntryOfAddress(c.address);
        ASSERT_EQ(ref.has_value(), c.entry.has_value());
        if (ref) {
            EXPECT_EQ(ref->zipPath, zip);
            EXPECT_EQ(ref->entry, *c.entry);
        }
    }
}

TEST(TOfflineAddressTest, KeysAreHostNamesOfTheirOwn)
{
    const std::string a = TOfflineAddress::ZipKey("/d/a.zip");
    EXPECT_NE(a, TOfflineAddress::ZipKey("/d/b.zip"));
    EXPECT_EQ(a, TOfflineAddress::ZipKey("/d/a.zip"));
    EXPECT_EQ(a.size(), 17u);
    for (const char c : a)
        EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) << a;
}

TEST(TOfflineAddressTest, WhatOpensWhere)
{
    struct Case {
        const char* address;
        TAddressKind target;
    };
    const Case cases[] = {
        {"pellix-zip://z1/host/index.htm", TAddressKind::ZipEntry},
        {"http://example.org/failed.png", TAddressKind::Online},
        {"HTTPS://example.org/", TAddressKind::Online},
        {"ftp://example.org/file", TAddressKind::Online},
        {"file:///home/u/Intranet/site/index.htm", TAddressKind::LocalFile},
        {"about:blank", TAddressKind::Other},
        {"javascript:alert(1)", TAddressKind::Other},
        {"page2.htm", TAddressKind::Other},
        {"", TAddressKind::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(TOfflineAddress::Classify(c.address), c.target);
    }
}

TEST(TOfflineAddressTest, TypedTextAndLocalPaths)
{
    struct Case {
        const char* typed;
        const char* address;
    };
    const Case cases[] = {
        {"http://example.org/", "http://example.org/"},
        {"  example.org/a  ", "http://example.org/a"},
        {"localhost:8080/page", "http://localhost:8080/page"},
        {"/home/u/Intranet/my site/index.htm", "file:///home/u/Intranet/my%20site/index.htm"},
        {"/home/u/a/../b/", "file:///home/u/b/"},
        {"file:///tmp/x.htm", "file:///tmp/x.htm"},
        {"about:blank", "about:blank"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(TOfflineAddress::AddressOfTyped(c.typed), c.address);
    }
}

TEST(TOfflineAddressTest, AddressListKeepsOneEntryPerAddressWhateverItsCase)
{
    std::vector<std::string> list;
    EXPECT_TRUE(AddToAddressList(list, "http://Example.org/A"));
    EXPECT_TRUE(AddToAddressList(list, "file:///tmp/x.htm"));
    EXPECT_FALSE(AddToAddressList(list, "HTTP://example.org/a"));
    EXPECT_EQ(list, (std::vector<std::string>{"file:///tmp/x.htm", "http://Example.org/A"}));
}

TEST(TZipEntrySourceTest, ReadsOneEntryOrItsCaseBlindTwin)
{
    TTempFolder temp;
    WriteText(temp.Path() / "site/host/index.htm", "<html>start</html>");
    WriteText(temp.Path() / "site/host/Img/Logo.PNG", "png bytes");
    const std::string zip = (temp.Path() / "Site.zip").string();
    TZipEngine engine;
    engine.SetZipFileName(zip);
    engine.SetBaseDirectory((temp.Path() / "site").string());
    engine.SetUsePaths(true);
    engine.SetFilesToProcess({"host/index.htm", "host/Img/Logo.PNG"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);

    TZipEntrySource source;
    const TZipEntryRead page = source.Read(zip, "host/index.htm");
    EXPECT_TRUE(page.found);
    EXPECT_EQ(page.data, "<html>start</html>");

    const TZipEntryRead logo = source.Read(zip, "host/img/logo.png");
    EXPECT_TRUE(logo.found);
    EXPECT_EQ(logo.name, "host/Img/Logo.PNG");
    EXPECT_EQ(logo.data, "png bytes");

    const TZipEntryRead missing = source.Read(zip, "host/none.htm");
    EXPECT_FALSE(missing.found);
    EXPECT_NE(missing.error.find("host/none.htm"), std::string::npos) << missing.error;

    // An entry packed later (a running task) is found: the listing follows the file.
    WriteText(temp.Path() / "site/host/Later.htm", "later");
    engine.SetFilesToProcess({"host/Later.htm"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);
    EXPECT_EQ(source.Read(zip, "host/later.htm").data, "later");

    const TZipEntryRead noZip = source.Read((temp.Path() / "gone.zip").string(), "host/index.htm");
    EXPECT_FALSE(noZip.found);
    EXPECT_FALSE(noZip.error.empty());
}

} // namespace
} // namespace pellix

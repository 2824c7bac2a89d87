// Tests of DecideDrop: what each kind of dropped content does.
#include "workspace/drop_decision.h"

#include <gtest/gtest.h>

namespace pellix {
namespace {

using Items = std::vector<std::string>;

TEST(DecideDropTest, ByContent)
{
    struct TCase {
        const char* name;
        TDropData data;
        TDropKind kind;
        Items items;
    };
    const TCase cases[] = {
        {"one link from a browser (uri-list and text)", {{}, {"http://example.com/a"}, "http://example.com/a"},
         TDropKind::Addresses, {"http://example.com/a/"}},
        {"address as plain text, normalised", {{}, {}, "  HTTPS://Example.com  \n"}, TDropKind::Addresses,
         {"HTTPS://Example.com/"}},
        {"several addresses", {{}, {"http://a.example/", "https://b.example/x"}, ""}, TDropKind::Addresses,
         {"http://a.example/", "https://b.example/x/"}},
        {"several addresses as text lines", {{}, {}, "http://a.example/\r\nhttp://b.example/\n"},
         TDropKind::Addresses, {"http://a.example/", "http://b.example/"}},
        {"link wins over a file list", {{"/tmp/page.htm"}, {"http://a.example/"}, "http://a.example/"},
         TDropKind::Addresses, {"http://a.example/"}},
        {"one Zip file, any case", {{"/home/u/Site.ZIP"}, {}, "file:///home/u/Site.ZIP"}, TDropKind::OpenZip,
         {"/home/u/Site.ZIP"}},
        {"one task file", {{"/home/u/Site.pxt"}, {}, ""}, TDropKind::AddTaskFile, {"/home/u/Site.pxt"}},
        {"one other file", {{"/home/u/notes.txt"}, {}, ""}, TDropKind::Ignore, {}},
        {"two Zip files go to the wizard", {{"/a.zip", "/b.zip"}, {}, ""}, TDropKind::ZipWizard,
         {"/a.zip", "/b.zip"}},
        {"several files", {{"/a.txt", "/b.png", "/c.pxt"}, {}, ""}, TDropKind::ZipWizard,
         {"/a.txt", "/b.png", "/c.pxt"}},
        {"file URI as text", {{}, {}, "file:///home/u/My%20Site.zip"}, TDropKind::OpenZip,
         {"/home/u/My Site.zip"}},
        {"path as text", {{}, {}, "/home/u/Site.pxt\n"}, TDropKind::AddTaskFile, {"/home/u/Site.pxt"}},
        {"words are not an address", {{}, {}, "hello world"}, TDropKind::Ignore, {}},
        {"other schemes are not addresses", {{}, {"mailto:a@b.c", "javascript:alert(1)"}, ""}, TDropKind::Ignore,
         {}},
        {"mixed keeps the addresses", {{"/a.zip"}, {"http://a.example/"}, ""}, TDropKind::Addresses,
         {"http://a.example/"}},
        {"nothing", {}, TDropKind::Ignore, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TDropAction action = DecideDrop(c.data);
        EXPECT_EQ(action.kind, c.kind);
        EXPECT_EQ(action.items, c.items);
    }
}

TEST(DecideDropTest, FileURIs)
{
    const std::pair<const char*, const char*> cases[] = {
        {"file:///a/b%20c.zip", "/a/b c.zip"}, {"file://localhost/x.pxt", "/x.pxt"}, {"file:/x.zip", "/x.zip"},
        {"file://server/share/x.zip", ""},    {"http://a/x.zip", ""},               {"file:///a%00b", ""},
    };
    for (const auto& [uri, path] : cases) {
        SCOPED_TRACE(uri);
        EXPECT_EQ(LocalPathOfFileURI(uri), path);
    }
}

TEST(DecideDropTest, EffectByKeys)
{
    EXPECT_EQ(DropEffect(true, false, false), TDropEffect::MoveOrLink);
    EXPECT_EQ(DropEffect(false, false, false), TDropEffect::CopyOrLink);
    EXPECT_EQ(DropEffect(true, true, false), TDropEffect::CopyOrLink);
}

} // namespace
} // namespace pellix

// Tests for TPXParser: tag and string modes, replacement, positions, hostile pages.
#include "links/html_parser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace pellix {
namespace {

// Runs a whole pass and returns the non-empty values. Fails the test if the scan does not end
// within one step per byte (plus slack): a pass must always terminate.
std::vector<std::string> Scan(const std::string& text, const std::string& tag,
    const std::string& tagEnd, const std::string& attribute, TParserMode mode)
{
    TPXParser parser(text, tag, tagEnd, attribute, mode);
    std::vector<std::string> values;
    std::size_t steps = 0;
    while (!parser.Finished()) {
        std::string value = parser.Next();
        if (!value.empty())
            values.push_back(value);
        if (++steps > text.size() + 2) {
            ADD_FAILURE() << "scan does not end";
            break;
        }
    }
    return values;
}

std::vector<std::string> Tags(
    const std::string& text, const std::string& tag, const std::string& attribute)
{
    return Scan(text, tag, ">", attribute, pmTag);
}

using TValues = std::vector<std::string>;

TEST(TPXParserTest, TagModeValues)
{
    struct TCase {
        const char* name;
        std::string text;
        const char* tag;
        const char* attribute;
        TValues expected;
    };
    const TCase cases[] = {
        { "unquoted upper case", "<A HREF=page.html>", "A", "HREF", { "page.html" } },
        { "apostrophes lower case", "<a href='page.html'>", "A", "HREF", { "page.html" } },
        { "blanks around equals", "<a href = \"page.html\">", "A", "HREF", { "page.html" } },
        { "value keeps its case", "<a HrEf=Dir/X.HTML>", "a", "href", { "Dir/X.HTML" } },
        { "name only, search goes on", "<A NAME=top>x<A HREF=b.html>", "A", "HREF", { "b.html" } },
        { "first name followed by equals", "<IMG LOWSRC=a.gif SRC=b.gif>", "IMG", "SRC",
            { "a.gif" } },
        { "name inside a longer word skipped", "<a hrefx=1 href=y.html>", "A", "HREF",
            { "y.html" } },
        { "quoted value keeps its blanks", "<a href=\"Visual Studio 10.rst.txt\">", "A", "HREF",
            { "Visual Studio 10.rst.txt" } },
        { "apostrophes keep blanks and double quotes", "<a href='my \"x\" page.html'>", "A",
            "HREF", { "my \"x\" page.html" } },
        { "blanks around a quoted value trimmed", "<a href=\" \tpage.html\r\n \">", "A", "HREF",
            { "page.html" } },
        { "unquoted value ends at a blank", "<a href=my page.html>", "A", "HREF", { "my" } },
        { "empty apostrophes do not read the next attribute", "<a href='' title=x>", "A", "HREF",
            {} },
        { "script concatenation seams are no values",
            "<img src=\" + \"a.gif\"><a href=\"' + u + '\"><a href='\" + u + \"'>", "IMG", "SRC", {} },
        { "concatenation seams in anchors", "<a href=\"' + u + '\"><a href='\" + u + \"'>", "A",
            "HREF", {} },
        { "plus inside a name is fine", "<a href=\"c++ notes.html\">", "A", "HREF",
            { "c++ notes.html" } },
        { "quoted value cannot pass the tag end", "<a href=\"a b>c\">", "A", "HREF", { "a" } },
        { "A does not find AREA or ABBR", "<AREA HREF=m.html><ABBR href=n><A HREF=a.html>", "A",
            "HREF", { "a.html" } },
        { "AREA pass finds AREA", "<AREA HREF=m.html><A HREF=a.html>", "AREA", "HREF",
            { "m.html" } },
        { "closing tag is not the tag", "</a><a href=x.html></a>", "A", "HREF", { "x.html" } },
        { "closing tag found by its own name", "<body></BODY>", "/BODY", "", {} },
        { "blank after the opening bracket", "< a href=x.html>", "A", "HREF", { "x.html" } },
        { "attribute on its own line", "<a\r\nhref=x.html\r\n>", "A", "HREF", { "x.html" } },
        { "name without equals gives nothing", "<a href class=x>", "A", "HREF", {} },
        { "name outside the tag gives nothing", "<a name=x>href=out.html<a href=in.html>", "A",
            "HREF", { "in.html" } },
        { "empty quoted value", "<a href=\"\">", "A", "HREF", {} },
        { "escaped quotes keep the backslash", "<a href=\\\"page.html\\\">", "A", "HREF",
            { "page.html\\" } },
        { "missing closing quote ends at blank", "<a href=\"abc def>", "A", "HREF", { "abc" } },
        { "missing closing quote ends at >", "<a href=\"abc>", "A", "HREF", { "abc" } },
        { "line break ends an unquoted value", "<img src=a.gif\nalt=x>", "IMG", "SRC",
            { "a.gif" } },
        { "tab ends an unquoted value", "<img src=a.gif\talt=x>", "IMG", "SRC", { "a.gif" } },
        { "several tags", "<a href=1.html><b>x</b><a href='2.html'><A HREF=\"3.html\">", "A",
            "HREF", { "1.html", "2.html", "3.html" } },
        { "unclosed tag ends the scan", "<a href=1.html><a href=2.html", "A", "HREF",
            { "1.html" } },
        { "refresh target", "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"5; URL=next.html\">", "META",
            "URL", { "next.html" } },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Tags(c.text, c.tag, c.attribute), c.expected);
    }
}

TEST(TPXParserTest, TagModePositions)
{
    // 1 '<', 4 "href", 9 '"', 10..15 "x.html", 16 '"', 17 '>'
    TPXParser parser("<a href=\"x.html\">Home</a>", "A", ">", "HREF");
    EXPECT_EQ(parser.Next(), "x.html");
    EXPECT_EQ(parser.TagStart(), 1u);
    EXPECT_EQ(parser.AttributePos(), 4u);
    EXPECT_EQ(parser.ValueStart(), 10u);
    EXPECT_EQ(parser.ValueEnd(), 16u);
    EXPECT_EQ(parser.TagClose(), 17u);
    EXPECT_EQ(parser.EndPosition(), 17u);
    EXPECT_EQ(parser.TagText(), "Home");
    EXPECT_EQ(parser.Next(), "");
    EXPECT_TRUE(parser.Finished());
}

TEST(TPXParserTest, EmptyAttributeLocatesTags)
{
    const std::string page = "<html><BODY bgcolor=white>hi</body></html>";
    TPXParser body(page, "BODY", ">", "");
    EXPECT_EQ(body.NextTagValue(), "");
    EXPECT_EQ(body.TagStart(), 7u);
    EXPECT_EQ(body.TagClose(), 26u);

    TPXParser end(page, "/BODY", ">", "");
    end.NextTagValue();
    EXPECT_EQ(end.TagStart(), 29u);
    EXPECT_EQ(end.TagClose(), 35u);

    TPXParser none("<p>no body here</p>", "BODY", ">", "");
    none.NextTagValue();
    EXPECT_EQ(none.TagStart(), 0u);
    EXPECT_TRUE(none.Finished());
}

TEST(TPXParserTest, TagTextAndOtherAttributes)
{
    TPXParser anchor("<a href=x.html>\r\n  Our \xB6products  \r\n</a>", "A", ">", "HREF");
    EXPECT_EQ(anchor.Next(), "x.html");
    EXPECT_EQ(anchor.TagText(), "Our products");

    // A pilcrow byte inside a UTF-8 character ("ö" is C3 B6) is part of the text.
    TPXParser umlaut("<a href=x.html>Sch\xC3\xB6n \xC2\xB6</a>", "A", ">", "HREF");
    EXPECT_EQ(umlaut.Next(), "x.html");
    EXPECT_EQ(umlaut.TagText(), "Sch\xC3\xB6n");

    TPXParser last("<a href=x.html>no tag follows", "A", ">", "HREF");
    EXPECT_EQ(last.Next(), "x.html");
    EXPECT_EQ(last.TagText(), "");

    TPXParser applet(
        "<APPLET CODEBASE=classes/ CODE=Main.class WIDTH=10></APPLET>", "APPLET", ">", "CODE");
    EXPECT_EQ(applet.Next(), "Main.class");
    EXPECT_EQ(applet.AttributeValue("CODEBASE"), "classes/");
    EXPECT_EQ(applet.AttributeValue("ARCHIVE"), "");

    TPXParser strings("<script>a='x/y.js'</script>", "'", "'", "", pmAnyStrings);
    EXPECT_EQ(strings.Next(), "x/y.js");
    EXPECT_EQ(strings.TagText(), "");
}

TEST(TPXParserTest, StringModes)
{
    struct TCase {
        const char* name;
        std::string text;
        const char* delimiter;
        TValues script; // mode 1
        TValues anywhere; // mode 2
    };
    const TCase cases[] = {
        { "string in a script block", "<SCRIPT>img = 'pics/a.gif';</SCRIPT>", "'", { "pics/a.gif" },
            { "pics/a.gif" } },
        { "string outside any script", "<p>img = 'pics/a.gif';</p>", "'", {}, { "pics/a.gif" } },
        { "after the script block", "<script>a='x/1.js'</script><p>b='x/2.js'</p>", "'",
            { "x/1.js" }, { "x/1.js", "x/2.js" } },
        { "script never closed", "<script>a='x/1.js'<p>", "'", {}, { "x/1.js" } },
        { "double quotes", "<img src=\"pic/x.gif\"><script>s=\"y.js\"</script>", "\"", { "y.js" },
            { "pic/x.gif", "y.js" } },
        { "rejected strings",
            "<script>a='http://host/a.gif';b='a b.gif';c='text/css';d='none';e='';"
            "f='x;y.js';g='<b>.x'</script>",
            "'", {}, {} },
        { "pair across a tag resumes at its closing quote", "it's <b> 'a/b.gif' </b>", "'", {},
            { "a/b.gif" } },
        { "no > after the string", "<script></script> 'a/b.gif'", "'", {}, {} },
        { "unpaired delimiter ends the scan", "<p>'a/b.gif</p>", "'", {}, {} },
        { "line break counts as a blank", "<p>don't\nknow.we've</p>", "'", {}, {} },
        { "opening script tag attributes are not its body",
            "<script data-url_root=\"./\" src=\"x/a.js\">v=\"y/b.js\"</script>", "\"",
            { "y/b.js" }, { "./", "x/a.js", "y/b.js" } },
        { "an unpaired quote before a script pairs into its body", "<p>it's</p><script>a='x/1.js'</script>", "'",
            { "x/1.js" }, { "x/1.js" } },
        { "markup between two scripts",
            "<script>a='x/1.js'</script><p class='c'>q</p><script src='s.js'>b='x/2.js'</script>", "'",
            { "x/1.js", "x/2.js" }, { "x/1.js", "s.js", "x/2.js" } },
        { "a tag written in a script's string shifts the pairs", "<script>d='<script>';a='x/1.js'</script>'y/2.js'>",
            "'", {}, { "y/2.js" } },
        { "strings after the last script", "<script>a='x/1.js'</script>" + std::string(200, ' ') + "'y/2.js'>",
            "'", { "x/1.js" }, { "x/1.js", "y/2.js" } },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Scan(c.text, c.delimiter, c.delimiter, "", pmScriptStrings), c.script);
        EXPECT_EQ(Scan(c.text, c.delimiter, c.delimiter, "", pmAnyStrings), c.anywhere);
    }
}

TEST(TPXParserTest, StringModePositions)
{
    TPXParser parser("<script>x='ab/c'</script>", "'", "'", "", pmScriptStrings);
    EXPECT_EQ(parser.Next(), "ab/c");
    EXPECT_EQ(parser.Position(), 11u);
    EXPECT_EQ(parser.ValueStart(), 12u);
    EXPECT_EQ(parser.ValueEnd(), 15u);
    EXPECT_EQ(parser.EndPosition(), 16u);
}

// Replaces every value found by f(value) and returns the rebuilt page.
template <typename F>
std::string ReplaceAll(const std::string& text, const std::string& tag, const std::string& tagEnd,
    const std::string& attribute, TParserMode mode, F f, TValues* found = nullptr)
{
    TPXParser parser(text, tag, tagEnd, attribute, mode);
    while (!parser.Finished()) {
        const std::string value = parser.Next();
        if (value.empty())
            continue;
        if (found)
            found->push_back(value);
        parser.ReplaceValue(f(value));
    }
    EXPECT_EQ(parser.Source(), text) << "the source must stay as given";
    return parser.TakeText();
}

TEST(TPXParserTest, ReplacementRebuildsThePageExactly)
{
    struct TCase {
        const char* name;
        std::string text;
        const char* tag;
        const char* tagEnd;
        const char* attribute;
        TParserMode mode;
        std::function<std::string(const std::string&)> convert;
        std::string expected;
    };
    const auto prefix = [](std::string p) { return [p](const std::string& v) { return p + v; }; };
    const TCase cases[] = {
        { "longer, every quoting style",
            "<a href=a.html>A</a><a href='b.html'>B</a><A HREF = \"c.html\">C</A>", "A", ">",
            "HREF", pmTag, prefix("host/"),
            "<a href=host/a.html>A</a><a href='host/b.html'>B</a><A HREF = \"host/c.html\">C</A>" },
        { "shorter", "<img src=pictures/photo.gif><img src=\"pictures/x.gif\">", "IMG", ">", "SRC",
            pmTag, [](const std::string&) { return std::string("p"); },
            "<img src=p><img src=\"p\">" },
        { "value right at the start", "'a/b'>", "'", "'", "", pmAnyStrings, prefix("x"),
            "'xa/b'>" },
        { "strings in script", "<script>a='x/1.js';b='x/2.js'</script>", "'", "'", "",
            pmScriptStrings, prefix("local/"),
            "<script>a='local/x/1.js';b='local/x/2.js'</script>" },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReplaceAll(c.text, c.tag, c.tagEnd, c.attribute, c.mode, c.convert), c.expected);
    }
}

TEST(TPXParserTest, LongerReplacementKeepsTheScanInStep)
{
    const std::string page = "<a href=1.html><a href=2.html>text<a href=3.html>";
    TValues found;
    const std::string big(1000, 'z');
    const std::string out = ReplaceAll(
        page, "A", ">", "HREF", pmTag, [&](const std::string&) { return big; }, &found);
    EXPECT_EQ(found, (TValues { "1.html", "2.html", "3.html" }));
    EXPECT_EQ(out, "<a href=" + big + "><a href=" + big + ">text<a href=" + big + ">");
}

TEST(TPXParserTest, ReplaceValueCornerCases)
{
    // Same text: no change recorded; second call for one value overrides the first; a call
    // after an empty result changes nothing.
    TPXParser parser("<a href=a.html><a name=x><a href=b.html>", "A", ">", "HREF");
    EXPECT_EQ(parser.Next(), "a.html");
    parser.ReplaceValue("a.html");
    EXPECT_EQ(parser.ReplacementCount(), 0u);
    parser.ReplaceValue("first");
    parser.ReplaceValue("second");
    EXPECT_EQ(parser.Next(), "");
    parser.ReplaceValue("must not appear");
    EXPECT_EQ(parser.Next(), "b.html");
    parser.ReplaceValue("c.html");
    parser.ReplaceValue("b.html"); // back to the original: nothing to change
    EXPECT_EQ(parser.Text(), "<a href=second><a name=x><a href=b.html>");
}

TEST(TPXParserTest, SecondPassOverRebuiltPage)
{
    // The owner runs the passes one after another, each over the previous pass's result.
    std::string page = "<a href=a.html><img src=b.gif></a>";
    page = ReplaceAll(page, "A", ">", "HREF", pmTag, [](const std::string& v) { return "x/" + v; });
    page
        = ReplaceAll(page, "IMG", ">", "SRC", pmTag, [](const std::string& v) { return "y/" + v; });
    EXPECT_EQ(page, "<a href=x/a.html><img src=y/b.gif></a>");
}

TEST(TPXParserTest, HostileInputsEndCleanly)
{
    std::string nulValue = "<a href=a";
    nulValue += '\0';
    nulValue += "b.html>";
    const std::string longLink(100 * 1024, 'l');
    struct TCase {
        const char* name;
        std::string text;
        TValues expected;
    };
    const TCase cases[] = {
        { "empty page", "", {} },
        { "lone <", "<", {} },
        { "< as the last byte", "<a href=x.html><", { "x.html" } },
        { "tag name at the end", "<a", {} },
        { "attribute name at the end", "<a href", {} },
        { "equals at the end", "<a href=", {} },
        { "only brackets", "<<<<>>>><><", {} },
        { "NUL inside a value", nulValue, { std::string("a\0b.html", 8) } },
        { "link of 100 kB", "<a href=\"" + longLink + "\">", { longLink } },
        { "high bytes", "<a href=\xE9\xFF\x80.html>\xFF<", { "\xE9\xFF\x80.html" } },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Tags(c.text, "A", "HREF"), c.expected);
        for (const char* d : { "'", "\"" }) {
            Scan(c.text, d, d, "", pmScriptStrings);
            Scan(c.text, d, d, "", pmAnyStrings);
        }
        TPXParser locate(c.text, "BODY", ">", "");
        locate.NextTagValue();
    }
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Inputs shaped to make a naive scanner quadratic. Each takes milliseconds when the pass is
// linear and many minutes when it is not; the bound only catches the latter.
TEST(TPXParserTest, PathologicalPagesStayLinear)
{
    constexpr std::size_t kSize = 2 * 1024 * 1024;
    auto repeat = [](const std::string& unit) {
        std::string s;
        s.reserve(kSize + unit.size());
        while (s.size() < kSize)
            s += unit;
        return s;
    };
    struct TCase {
        const char* name;
        std::string text;
    };
    const TCase cases[] = {
        { "tags without the attribute", repeat("<a name=x>") },
        { "one tag with 2 MB of attributes", "<a " + repeat("x=y ") + "href=z.html>" },
        { "strings and no > at all", repeat("'a/b' ") },
        { "strings and no script", repeat("'a/b'>") },
        { "script openings never closed", repeat("<script>'a/b'>") },
        { "unclosed quotes", repeat("<a href=\"x ") },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        Tags(c.text, "A", "HREF");
        Scan(c.text, "'", "'", "", pmScriptStrings);
        Scan(c.text, "'", "'", "", pmAnyStrings);
        const double seconds = Seconds(start);
        RecordProperty(c.name, std::to_string(seconds));
        EXPECT_LT(seconds, 20.0);
    }
}

TEST(TPXParserTest, FiveMegabytePageWithThousandsOfReplacements)
{
    std::string page;
    std::size_t links = 0;
    while (page.size() < 5 * 1024 * 1024) {
        page += "<p>Item " + std::to_string(links) + "</p><a href=\"page" + std::to_string(links)
            + ".html\">link</a>\n";
        ++links;
    }
    const auto start = std::chrono::steady_clock::now();
    std::size_t replaced = 0;
    const std::string out = ReplaceAll(page, "A", ">", "HREF", pmTag, [&](const std::string& v) {
        ++replaced;
        return "../site/" + v;
    });
    const double seconds = Seconds(start);
    RecordProperty("seconds", std::to_string(seconds));
    RecordProperty("links", std::to_string(links));
    EXPECT_EQ(replaced, links);
    EXPECT_EQ(out.size(), page.size() + links * std::string("../site/").size());
    EXPECT_EQ(out.substr(0, 46), "<p>Item 0</p><a href=\"../site/page0.html\">link");
    EXPECT_LT(seconds, 20.0); // linear: a fraction of a second; one move per link: minutes
}

// Leaving out passes for absent tags, and ending a pass once it found them all, are only safe if
// the counts hold every tag a scan could find.
TEST(TPXParserTest, TagCountsInAgreesWithTheTagScan)
{
    const std::vector<std::string> pages = {
        "<html><A href=x>1</A><img\nsrc=y></html>",
        "< \n\"=iMg src=a><IMG2 src=b><a-b href=c><!-- <frame src=d> --></body>",
        "<<a<<script src=s><", "", "no tags at all", "<", "<\n", "text <META URL=u",
        "<a title='<a href=x>'>1</a><A HREF=y><a\rhref=z><img src=i><a>"};
    const std::vector<std::string> tags = {"A", "IMG", "IMG2", "FRAME", "SCRIPT", "META", "BODY", "HTML", "B"};
    for (const std::string& page : pages) {
        const std::map<std::string, std::size_t, std::less<>> counts = TagCountsIn(page);
        for (const std::string& tag : tags) {
            // Every place the scan can stop at, tags inside other tags included.
            std::size_t found = 0;
            TPXParser parser(page, tag, ">", "");
            for (parser.FindTag(); parser.TagStart() != 0; parser.FindTag()) {
                ++found;
                parser.SetPosition(parser.TagStart() + 1);
            }
            const auto count = counts.find(tag);
            EXPECT_EQ(count == counts.end() ? 0 : count->second, found) << tag << " in " << page;

            // A pass limited to the count finds the same values as one that reads to the end.
            const auto values = [&](std::size_t limit) {
                TPXParser pass(page, tag, ">", "HREF");
                pass.SetTagLimit(limit);
                std::vector<std::string> seen;
                while (!pass.Finished())
                    seen.push_back(pass.Next());
                return seen;
            };
            if (found != 0) {
                EXPECT_EQ(values(found), values(0)) << tag << " in " << page;
            }
        }
    }
}

TEST(TPXParserTest, EditsThatMayChangeTheTagCountsAreTold)
{
    struct TCase {
        std::string text;
        std::size_t start;
        std::string written;
        bool mayChange;
    };
    const TCase cases[] = {
        {"<a href=\"x.html\">", 9, "y.html", false},   // an attribute's value
        {"<a href=x.html>", 8, "y.html", false},         // unquoted, after "="
        {"<img src=x>", 9, "a<b", true},                 // brings a "<"
        {"<\"x.html\" src=a>", 2, "img/x.html", true},  // becomes the tag's name
        {"<ab", 2, "c", true},                           // inside a name
        {"<\n x", 3, "img", true},                       // after the bytes skipped before a name
        {"x", 0, "img", false},
        {"a<", 2, "img", true},                          // right after a "<"
    };
    for (const TCase& c : cases)
        EXPECT_EQ(EditMayChangeTagCounts(c.text, c.start, c.written), c.mayChange) << c.text << " at " << c.start;
}

} // namespace
} // namespace pellix

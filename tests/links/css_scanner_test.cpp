// Tests for the CSS scanner: links of style sheets and of style text in pages, and their edits.
#include "links/css_scanner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace pellix {
namespace {

using TValues = std::vector<std::string>;

TValues Values(const std::vector<TCssLink>& links)
{
    TValues values;
    for (const TCssLink& link : links)
        values.push_back(link.value);
    return values;
}

// Every link's position names its value in the scanned text.
void ExpectPositionsMatch(const std::string& text, const std::vector<TCssLink>& links)
{
    for (const TCssLink& link : links) {
        const std::string written = text.substr(link.start, link.length);
        if (written.find('\\') == std::string::npos) {
            EXPECT_EQ(written, link.value);
        }
    }
}

TEST(CssScannerTest, StyleSheetLinks)
{
    struct TCase {
        const char* name;
        std::string css;
        TValues expected;
    };
    const TCase cases[] = {
        { "unquoted", "body { background: url(img/a.png) }", { "img/a.png" } },
        { "quotes and blanks", "a{b:url( \"x y.png\" )} c{d:URL(  'z.gif'  )}", { "x y.png", "z.gif" } },
        { "unquoted trimmed", "a{b:url(  c.png  )}", { "c.png" } },
        { "import string and import url", "@import \"a.css\";\n@IMPORT url(b.css) screen;\n@import 'c.css';",
            { "a.css", "b.css", "c.css" } },
        { "other strings are not links", "@charset \"utf-8\"; p::before { content: \"url(x.png)\" }", {} },
        { "comments skipped", "/* url(no.png) @import 'no.css'; */ a{b:url(yes.png)}", { "yes.png" } },
        { "longer names are not url()", "a{b:myurl(no.png); c: image-set(url(one.png) 1x)}", { "one.png" } },
        { "fonts with format strings", "@font-face{src:url(f.woff2) format(\"woff2\"),url('f.woff')}",
            { "f.woff2", "f.woff" } },
        { "empty and blank values", "a{b:url();c:url( );d:url('')}", {} },
        { "blank inside unquoted is no url", "a{b:url(a b.png)} c{d:url(ok.png)}", { "ok.png" } },
        { "unclosed url", "a{b:url(x.png", {} },
        { "string cut by a line break", "a{b:url('x\n.png')} c{d:url(ok.png)}", { "ok.png" } },
        { "escapes undone", "a{b:url('it\\'s.png')} c{d:url(d\\(2\\).png)} e{f:url('\\31 x.png')}",
            { "it's.png", "d(2).png", "\\31 x.png" } },
        { "html-escaped quotes", "background:url(&quot;a.png&quot;);x:url(&#39;b c.png&#39;)",
            { "a.png", "b c.png" } },
        { "import needs its string next", "@import; a{content:'x.css'}", {} },
        { "data and anchors are found, the owner decides",
            "a{b:url(data:image/png;base64,iVB)} c{filter:url(#f)}", { "data:image/png;base64,iVB", "#f" } },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TCssLink> links = FindStyleSheetLinks(c.css);
        EXPECT_EQ(Values(links), c.expected);
        ExpectPositionsMatch(c.css, links);
    }

    const std::vector<TCssLink> quoting = FindStyleSheetLinks("a{b:url(u.png);c:url('q.png')}@import \"i.css\";");
    ASSERT_EQ(quoting.size(), 3u);
    EXPECT_FALSE(quoting[0].quoted);
    EXPECT_TRUE(quoting[1].quoted);
    EXPECT_TRUE(quoting[2].quoted);
}

TEST(CssScannerTest, PageStyleLinks)
{
    struct TCase {
        const char* name;
        std::string html;
        TValues expected;
    };
    const TCase cases[] = {
        { "style block", "<html><STYLE type=text/css>@import 'a.css'; p{b:url(b.png)}</STYLE><p>url(no.png)</p>",
            { "a.css", "b.png" } },
        { "style attributes", "<div style=\"background:url('c.png')\"><p STYLE='x:url(d.png)'><i style=e:url(e.png)>",
            { "c.png", "d.png", "e.png" } },
        { "attribute value may hold >", "<a title=\"a>b\" style=\"x:url(f.png)\">", { "f.png" } },
        { "other attributes ignored", "<a href=\"url(no.png)\" data-style=\"url(no2.png)\">", {} },
        { "script bodies skipped", "<script>s='<div style=\"x:url(no.png)\">'</script><b style=\"x:url(g.png)\">",
            { "g.png" } },
        { "comments skipped", "<!-- <p style=\"x:url(no.png)\"> --><p style=\"x:url(h.png)\">", { "h.png" } },
        { "unclosed style block", "<style>p{b:url(i.png)}", { "i.png" } },
        { "unclosed attribute", "<p style=\"x:url(j.png)", { "j.png" } },
        { "no tags", "just url(x.png) text < and > signs", {} },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TCssLink> links = FindPageStyleLinks(c.html);
        EXPECT_EQ(Values(links), c.expected);
        ExpectPositionsMatch(c.html, links);
    }
}

TEST(CssScannerTest, EditsRebuildTheTextOnce)
{
    const std::string css = "a{b:url(x.png)} @import 'y.css'; c{d:url( \"z z.gif\" )}";
    std::vector<TTextEdit> edits;
    for (const TCssLink& link : FindStyleSheetLinks(css))
        edits.push_back({ link.start, link.length, "L/" + link.value });
    EXPECT_EQ(ApplyTextEdits(css, edits), "a{b:url(L/x.png)} @import 'L/y.css'; c{d:url( \"L/z z.gif\" )}");

    // Overlapping or out-of-range edits are left out rather than corrupting the text.
    EXPECT_EQ(ApplyTextEdits("abcdef", { { 1, 2, "X" }, { 2, 1, "Y" }, { 4, 9, "Z" }, { 5, 1, "W" } }),
        "aXdeW");
    EXPECT_EQ(ApplyTextEdits("abc", {}), "abc");

    EXPECT_EQ(UnquotedCssURL("a b(1)'\"\\.png"), "a%20b%281%29%27%22%5C.png");
}

TEST(CssScannerTest, HostileTextEndsInLinearTime)
{
    const std::vector<std::string> texts = {
        std::string(200000, '<'),
        std::string(200000, '"'),
        std::string(100000, '\\'),
        [] { std::string s; for (int i = 0; i < 40000; ++i) s += "url("; return s; }(),
        [] { std::string s; for (int i = 0; i < 40000; ++i) s += "<style>"; return s; }(),
        [] { std::string s; for (int i = 0; i < 40000; ++i) s += "<p style="; return s; }(),
        [] { std::string s; for (int i = 0; i < 40000; ++i) s += "@import"; return s; }(),
        [] { std::string s; for (int i = 0; i < 20000; ++i) s += "/*"; return s; }(),
    };
    for (const std::string& text : texts) {
        const auto start = std::chrono::steady_clock::now();
        (void)FindStyleSheetLinks(text);
        (void)FindPageStyleLinks(text);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << text.substr(0, 20);
    }
}

// What a link of a sheet is: an @import's a style sheet, a url() inside @font-face a font, and
// the rule after it no font again.
TEST(CssScannerTest, ImportAndFontFaceLinksAreMarked)
{
    const std::string css = "@import 'a?v=1'; @import url(b?v=2) screen;\n"
                            "@font-face { font-family: F; src: url(f?x=1) format('woff2'), url('g?x=2'); }\n"
                            "body { background: url(bg?id=1); } @media print { p { background: url(p?id=2) } }";
    std::vector<std::string> marks;
    for (const TCssLink& link : FindStyleSheetLinks(css))
        marks.push_back(link.value + (link.import ? " import" : "") + (link.fontFace ? " font" : ""));
    EXPECT_EQ(marks, (std::vector<std::string>{"a?v=1 import", "b?v=2 import", "f?x=1 font", "g?x=2 font",
                                               "bg?id=1", "p?id=2"}));
}

} // namespace
} // namespace pellix

// Tests for the shared text, file-name and folder helpers.
#include "links/text_helpers.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

TEST(TextHelpersTest, FileNames)
{
    EXPECT_EQ(FileNameNoExt("/a/b/site.pxt"), "site");
    EXPECT_EQ(FileNameNoExt("/a.d/b"), "b");
    EXPECT_EQ(FileNameNoExt("x.tar.gz"), "x.tar");
    EXPECT_EQ(FileNameNoExt(""), "");

    EXPECT_EQ(ReplaceIllegalChars("a\\b/c:d*e?f\"g<h>i|j", '_'), "a_b_c_d_e_f_g_h_i_j");
    // Control bytes never reach a file name either.
    EXPECT_EQ(ReplaceIllegalChars(std::string("a\0b\x01" "c\td\ne\x1F" "f\x7F" "g\x80", 14), '_'), "a_b_c_d_e_f_g\x80");
    EXPECT_EQ(ToBackslashes("a/b\\c"), "a\\b\\c");
    EXPECT_EQ(ToSlashes("a/b\\c"), "a/b/c");
}

TEST(TextHelpersTest, UniqueFileNameSkipsTakenNames)
{
    test::TTempFolder folder;
    const std::string site = folder.Text() + "site.pxt";
    EXPECT_EQ(UniqueFileName(site), site);
    ASSERT_TRUE(WriteFileAtomically(site, "x"));
    EXPECT_EQ(UniqueFileName(site), folder.Text() + "site(0).pxt");
    ASSERT_TRUE(WriteFileAtomically(folder.Text() + "site(0).pxt", "x"));
    EXPECT_EQ(UniqueFileName(site), folder.Text() + "site(1).pxt");

    // A dangling link still takes the name; a dot in a folder is no extension.
    std::filesystem::create_directory(folder.Path() / "d.x");
    std::filesystem::create_symlink(folder.Path() / "missing", folder.Path() / "d.x" / "name");
    EXPECT_EQ(UniqueFileName(folder.Text() + "d.x/name"), folder.Text() + "d.x/name(0)");
}

// The search ends: a name the system cannot hold gives up at once, and a folder full of the
// numbered names gives up after kUniqueNameTries of them. Both answer empty.
TEST(TextHelpersTest, UniqueFileNameGivesUp)
{
    test::TTempFolder folder;
    ASSERT_TRUE(WriteFileAtomically(folder.Text() + "Title.zip", "x"));
    // The system sees only "Title" up to the NUL; it exists whatever number follows.
    EXPECT_EQ(UniqueFileName(folder.Text() + std::string("Title\0x.zip", 11)), "");

    const std::string site = folder.Text() + "site.pxt";
    ASSERT_TRUE(WriteFileAtomically(site, "x"));
    for (int n = 0; n < kUniqueNameTries; ++n)
        std::ofstream(folder.Text() + "site(" + std::to_string(n) + ").pxt").put('x');
    EXPECT_EQ(UniqueFileName(site), "");
    std::filesystem::remove(folder.Text() + "site(" + std::to_string(kUniqueNameTries - 1) + ").pxt");
    EXPECT_EQ(UniqueFileName(site), folder.Text() + "site(" + std::to_string(kUniqueNameTries - 1) + ").pxt");
}

TEST(TextHelpersTest, FileStemFromTitle)
{
    std::string accented;
    for (int i = 0; i < 100; ++i)
        accented += "\xC3\xA9"; // 200 bytes of "é"
    const struct {
        std::string title;
        std::string stem;
    } cases[] = {
        {"Pellix Docs", "Pellix Docs"},
        {"Docs: Intro / Part 1", "Docs Intro Part 1"},
        {std::string("Home\0Page", 9), "Home Page"},
        {"  \tWelcome\r\n to   the\x7F site  ", "Welcome to the site"},
        {"Version 2.0.", "Version 2.0"},
        {".hidden", "hidden"},
        {"..", ""},
        {".", ""},
        {"...", ""},
        {"", ""},
        {"   ", ""},
        {"\\/:*?\"<>|", ""},
        {std::string("\0\x01\x02", 3), ""},
        {" . : . ", ""},
        {"Caf\xC3\xA9 \xE2\x80\x94 Menu", "Caf\xC3\xA9 \xE2\x80\x94 Menu"},
        {std::string(400, 'x'), std::string(kMaxTitleStemBytes, 'x')},
        // The cut keeps whole UTF-8 characters, and trims what it leaves at the end.
        {"a" + accented, "a" + accented.substr(0, kMaxTitleStemBytes - 2)},
        {std::string(kMaxTitleStemBytes - 1, 'y') + " .z", std::string(kMaxTitleStemBytes - 1, 'y')},
        {std::string(400, '\xA0'), std::string(kMaxTitleStemBytes, '\xA0')}, // no UTF-8: cut at the limit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.substr(0, 40));
        EXPECT_EQ(FileStemFromTitle(c.title), c.stem);
    }
}

TEST(TextHelpersTest, ElapsedText)
{
    EXPECT_EQ(ElapsedText(EncodeTime(0, 0, 0)), "0 Min 0 Sec");
    EXPECT_EQ(ElapsedText(EncodeTime(0, 5, 7)), "5 Min 7 Sec");
    EXPECT_EQ(ElapsedText(EncodeTime(2, 0, 30)), "2 Hrs 0 Min 30 Sec");
    // Whole days are dropped.
    EXPECT_EQ(ElapsedText(3 + EncodeTime(1, 2, 3)), "1 Hrs 2 Min 3 Sec");
}

TEST(TextHelpersTest, TextBetweenAndAfter)
{
    EXPECT_EQ(TextBetween("<html><Title>My Page</TITLE>", "<TITLE>", "</TITLE>"), "My Page");
    EXPECT_EQ(TextBetween("<title>x", "<TITLE>", "</TITLE>"), "");
    EXPECT_EQ(TextBetween("</title><title>x", "<TITLE>", "</TITLE>"), "");
    EXPECT_EQ(TextBetween("", "<TITLE>", "</TITLE>"), "");

    EXPECT_EQ(TextAfter("Incomplete (1234 bytes)", "(", " bytes)"), "1234");
    EXPECT_EQ(TextAfter("a) b (c) d", "(", ")"), "c");
    EXPECT_EQ(TextAfter("Incomplete", "(", ")"), "");
    EXPECT_EQ(TextAfter("x (12", "(", ")"), "");
}

TEST(TextHelpersTest, CleanText)
{
    EXPECT_EQ(CleanText("  A\r\nTitle\xC2\xB6  "), "ATitle");
    EXPECT_EQ(CleanText("a\xB6" "b"), "ab");
    // 0xB6 inside a UTF-8 character ("ж" is D0 B6) is kept.
    EXPECT_EQ(CleanText("\xD0\xB6"), "\xD0\xB6");
    EXPECT_EQ(CleanText("   "), "");
}

TEST(TextHelpersTest, DecodeHtmlEntities)
{
    const struct {
        const char* text;
        const char* decoded;
    } cases[] = {
        {"CMake Reference Documentation &mdash; CMake 3.25.1", "CMake Reference Documentation \u2014 CMake 3.25.1"},
        {"Tom &amp; Jerry &lt;3&gt;", "Tom & Jerry <3>"},
        {"&#246;l &#xF6;l &#XF6;l", "\u00f6l \u00f6l \u00f6l"},
        {"&#128512;", "\U0001F600"},
        {"a & b; &unknown; &#; &#xZZ; &#1114112; &#55296; &#9;", "a & b; &unknown; &#; &#xZZ; &#1114112; &#55296; &#9;"},
        {"&amp;amp; &", "&amp; &"},
        {"&verylongname-that-is-not-an-entity;", "&verylongname-that-is-not-an-entity;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeHtmlEntities(c.text), c.decoded) << c.text;
}

TEST(TextHelpersTest, FieldOf)
{
    EXPECT_EQ(FieldOf("a|b||d", '|', 0), "a");
    EXPECT_EQ(FieldOf("a|b||d", '|', 2), "");
    EXPECT_EQ(FieldOf("a|b||d", '|', 3), "d");
    EXPECT_EQ(FieldOf("a|b||d", '|', 4), "");
    EXPECT_EQ(FieldOf("a|b", '|', -1), "");
    EXPECT_EQ(FieldOf("", '|', 0), "");
}

TEST(TextHelpersTest, FindReplaceAndContainsIgnoreCase)
{
    EXPECT_EQ(FindText("Hello World", "WORLD"), 7u);
    EXPECT_EQ(FindText("abcabc", "ABC", 2), 4u);
    EXPECT_EQ(FindText("abcabc", "abc", 5), 0u);
    EXPECT_EQ(FindText("abcabc", "abc", 100), 0u);
    EXPECT_EQ(FindText("abc", ""), 0u);
    EXPECT_EQ(FindText("ab", "abc"), 0u);
    // Only ASCII letters fold; other bytes compare exactly.
    EXPECT_EQ(FindText("x\xC3\x89", "\xC3\xA9"), 0u);

    EXPECT_TRUE(ContainsText("Content-Type: TEXT/HTML", "text/html"));
    EXPECT_FALSE(ContainsText("abc", "abd"));
    EXPECT_FALSE(ContainsText("abc", ""));
    // Patterns that start with letters are found at their first other byte: every place counts.
    EXPECT_TRUE(ContainsText("http://x/MailTo:y", "mailto:"));
    EXPECT_FALSE(ContainsText("http://x/mailto", "mailto:"));
    EXPECT_EQ(FindText("a: mailtx: mailto: mailto:", "MAILTO:"), 12u);
    EXPECT_EQ(FindText("a: mailtx: mailto: mailto:", "MAILTO:", 13), 20u);
    EXPECT_EQ(FindText("ab.c", "ab.cd"), 0u);
    EXPECT_EQ(FindText("xab.c", "AB.C"), 2u);

    EXPECT_EQ(ReplaceText("a.ASP b.asp", ".asp", ".html", false), "a.html b.asp");
    EXPECT_EQ(ReplaceText("a.ASP b.asp", ".asp", ".html", true), "a.html b.html");
    // Replaced text is not scanned again.
    EXPECT_EQ(ReplaceText("&amp;amp;", "&amp;", "&", true), "&amp;");
    EXPECT_EQ(ReplaceText("aaa", "a", "aa", true), "aaaaaa");
    EXPECT_EQ(ReplaceText("abc", "", "x", true), "abc");

    // A pattern led by a byte without case (found by a byte search): near misses before the
    // match, the match at the very end, the start position honoured, a UTF-8 lead byte.
    EXPECT_EQ(FindText("%2 %2x %20", "%20"), 8u);
    EXPECT_EQ(FindText("a/b//", "//"), 4u);
    EXPECT_EQ(FindText("//a//", "//", 2), 4u);
    EXPECT_EQ(FindText("//a/", "//", 2), 0u);
    EXPECT_EQ(FindText("&AMP;&amp", "&amp;"), 1u);
    EXPECT_EQ(FindText("xÂ¦y", "Â¦Y"), 2u);
    EXPECT_EQ(FindText("xÂ¦", "Â¦y"), 0u);
    EXPECT_EQ(ReplaceText("a%3ab%3A", "%3A", "|", true), "a|b|");
}

TEST(TextHelpersTest, CaseFoldingTouchesOnlyAsciiLetters)
{
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        const bool upper = i >= 'A' && i <= 'Z';
        const bool lower = i >= 'a' && i <= 'z';
        SCOPED_TRACE(i);
        EXPECT_EQ(LowerChar(c), upper ? static_cast<char>(i + 32) : c);
        EXPECT_EQ(UpperChar(c), lower ? static_cast<char>(i - 32) : c);
    }
    EXPECT_EQ(LowerCase("Ab-\xC3\x89Z"), "ab-\xC3\x89z");
    EXPECT_EQ(UpperCase("Ab-\xC3\xA9z"), "AB-\xC3\xA9Z");

    EXPECT_TRUE(SameText("Content-Length", "content-LENGTH"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_FALSE(SameText("\xC3\x89", "\xC3\xA9"));

    EXPECT_TRUE(StartsWithText("HTTPS://host/", "https://"));
    EXPECT_TRUE(StartsWithText("anything", ""));
    EXPECT_FALSE(StartsWithText("http:/", "http://"));
    EXPECT_FALSE(StartsWithText("xhttp://", "http://"));
}

TEST(TextHelpersTest, TrailingSlashAndHexDigits)
{
    EXPECT_EQ(WithTrailingSlash("/srv/site"), "/srv/site/");
    EXPECT_EQ(WithTrailingSlash("/srv/site/"), "/srv/site/");
    EXPECT_EQ(WithTrailingSlash(""), ""); // no folder is not the root folder
    EXPECT_EQ(WithTrailingSlash("/"), "/");

    const std::string digits = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        const auto at = digits.find(LowerChar(c));
        SCOPED_TRACE(i);
        EXPECT_EQ(HexDigit(c), at == std::string::npos ? -1 : static_cast<int>(at));
    }
    EXPECT_EQ(PercentDecode("%4a%4A%g1%4"), "JJ%g1%4");
}

TEST(TextHelpersTest, Utf8CutLengthSplitsNoCharacter)
{
    const struct {
        std::string text;
        std::size_t limit;
        std::size_t kept;
    } cases[] = {
        {"abc", 5, 3},
        {"abcdef", 4, 4},
        {"ab\xC3\xA9", 3, 2},                         // "é" is not cut in half
        {"\xE2\x82\xAC\xE2\x82\xAC", 4, 3},           // nor the second "€"
        {"a\xF0\x9F\x98\x80", 4, 1},
        {"\xF0\x9F\x98\x80", 3, 3},                   // a lone character is cut rather than lost
        {"x\x80\x80\x80\x80\x80", 4, 4},             // not UTF-8: cut where the limit falls
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Utf8CutLength(c.text, c.limit), c.kept);
    }
}

TEST(TextHelpersTest, NumberOf)
{
    EXPECT_EQ(NumberOf("1,234,567"), 1234567);
    EXPECT_EQ(NumberOf(" 42 "), 42);
    EXPECT_EQ(NumberOf("-7"), -7);
    EXPECT_EQ(NumberOf("12,345,678,901,234"), 12345678901234);
    EXPECT_EQ(NumberOf(""), 0);
    EXPECT_EQ(NumberOf("12 bytes"), 0);
    EXPECT_EQ(NumberOf("99999999999999999999"), 0);
}

TEST(TextHelpersTest, FilesAndSubfolders)
{
    test::TTempFolder folder;
    for (const char* name : {"b.pxt", "a.PXT", "c.pxp", "noext"})
        ASSERT_TRUE(WriteFileAtomically(folder.Path() / name, ""));
    std::filesystem::create_directory(folder.Path() / "General");
    std::filesystem::create_directory(folder.Path() / "Work.pxt");

    EXPECT_EQ(FilesIn(folder.Text(), "*.pxt"), (std::vector<std::string>{"a.PXT", "b.pxt"}));
    EXPECT_EQ(FilesIn(folder.Text(), "*.*"), (std::vector<std::string>{"a.PXT", "b.pxt", "c.pxp", "noext"}));
    EXPECT_EQ(FilesIn(folder.Text(), "?.px?"), (std::vector<std::string>{"a.PXT", "b.pxt", "c.pxp"}));
    EXPECT_EQ(SubfoldersOf(folder.Text()), (std::vector<std::string>{"General", "Work.pxt"}));

    EXPECT_TRUE(FilesIn(folder.Text() + "missing/", "*").empty());
    EXPECT_TRUE(SubfoldersOf(folder.Text() + "missing/").empty());
}

} // namespace
} // namespace pellix

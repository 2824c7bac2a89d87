// Tests for comma text: joining lists into one stored value and reading them back.
#include "links/comma_text.h"

#include <gtest/gtest.h>

namespace pellix {
namespace {

using TItems = std::vector<std::string>;

TEST(CommaTextTest, JoinQuotesOnlyWhereNeeded)
{
    EXPECT_EQ(JoinCommaText({}), "");
    EXPECT_EQ(JoinCommaText({"a", "b.html", "c"}), "a,b.html,c");
    EXPECT_EQ(JoinCommaText({"two words", "x,y", "say \"hi\"", "tab\there"}),
              "\"two words\",\"x,y\",\"say \"\"hi\"\"\",\"tab\there\"");
    EXPECT_EQ(JoinCommaText({"a", ""}), "a,\"\"");
}

TEST(CommaTextTest, SplitReadsBlanksAndCommasAsSeparators)
{
    const struct {
        const char* text;
        TItems items;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a,b,c", {"a", "b", "c"}},
        {"a b  c", {"a", "b", "c"}},
        {" a , b ", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a"}},
        {"\"two words\",x", {"two words", "x"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"\"open", {"open"}},
        {"\"a\"b", {"a", "b"}},
        {"\"\"", {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitCommaText(c.text), c.items);
    }
}

TEST(CommaTextTest, RoundTripKeepsEveryItem)
{
    const TItems lists[] = {
        {"plain"},
        {"", "a", ""},
        {" lead", "trail ", "in,side", "\"", "\"\"", "new\nline", std::string("nul\0x", 5)},
        {"\xC3\xA9t\xC3\xA9", "*.gif", "http://host/a b?x=1"},
    };
    for (const TItems& items : lists)
        EXPECT_EQ(SplitCommaText(JoinCommaText(items)), items);
}

} // namespace
} // namespace pellix

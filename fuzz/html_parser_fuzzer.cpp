// Fuzz target for TPXParser: every pass of a page, replacing every value, with checked invariants.
#include "links/html_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct TPass {
    const char* tag;
    const char* tagEnd;
    const char* attribute;
    pellix::TParserMode mode;
};

constexpr TPass kPasses[] = {
    { "FRAME", ">", "SRC", pellix::pmTag },
    { "A", ">", "HREF", pellix::pmTag },
    { "IMG", ">", "SRC", pellix::pmTag },
    { "INPUT", ">", "SRC", pellix::pmTag },
    { "META", ">", "URL", pellix::pmTag },
    { "BODY", ">", "BACKGROUND", pellix::pmTag },
    { "BGSOUND", ">", "SRC", pellix::pmTag },
    { "AREA", ">", "HREF", pellix::pmTag },
    { "APPLET", ">", "CODE", pellix::pmTag },
    { "LINK", ">", "HREF", pellix::pmTag },
    { "SCRIPT", ">", "SRC", pellix::pmTag },
    { "VIDEO", ">", "POSTER", pellix::pmTag },
    { "IMG", ">", "SRCSET", pellix::pmTag },
    { "BODY", ">", "", pellix::pmTag },
    { "/BODY", ">", "", pellix::pmTag },
    { "'", "'", "", pellix::pmScriptStrings },
    { "\"", "\"", "", pellix::pmScriptStrings },
    { "'", "'", "", pellix::pmAnyStrings },
    { "\"", "\"", "", pellix::pmAnyStrings },
};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// One pass replacing each value by a text chosen from the value (longer, shorter, empty or the
// same), checking what the scan reports against the page it was given.
std::string RunPass(const std::string& page, const TPass& pass, std::uint8_t style)
{
    pellix::TPXParser parser(page, pass.tag, pass.tagEnd, pass.attribute, pass.mode);
    std::size_t steps = 0;
    std::size_t lastStart = 0;
    std::int64_t growth = 0;
    while (!parser.Finished()) {
        Check(++steps <= page.size() + 2);
        const std::string value = parser.Next();
        if (value.empty())
            continue;
        Check(parser.ValueStart() > lastStart);
        lastStart = parser.ValueStart();
        Check(page.compare(parser.ValueStart() - 1, value.size(), value) == 0);
        (void)parser.TagText();
        (void)parser.AttributeValue("CODEBASE");
        std::string replacement;
        switch ((style + steps) % 4) {
        case 0:
            replacement = "../host/" + value + "#x";
            break;
        case 1:
            replacement = value.substr(0, value.size() / 2);
            break;
        case 2:
            replacement = value;
            break;
        default:
            replacement = std::string(value.rbegin(), value.rend()) + value;
            break;
        }
        if (replacement != value)
            growth += static_cast<std::int64_t>(replacement.size())
                - static_cast<std::int64_t>(value.size());
        parser.ReplaceValue(replacement);
    }
    Check(parser.Source() == page);
    std::string out = parser.TakeText();
    Check(static_cast<std::int64_t>(out.size()) == static_cast<std::int64_t>(page.size()) + growth);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t style = data[0];
    std::string page(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (const TPass& pass : kPasses)
        page = RunPass(page, pass, style);
    return 0;
}

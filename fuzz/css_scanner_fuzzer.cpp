// Fuzz target for the CSS scanner: style sheets and pages, with every link replaced.
#include "links/css_scanner.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Links come in ascending, non-overlapping order inside the text; replacing each with a longer
// text grows the result by exactly the added bytes.
void CheckLinks(const std::string& text, const std::vector<pellix::TCssLink>& links)
{
    std::size_t end = 0;
    std::vector<pellix::TTextEdit> edits;
    std::size_t growth = 0;
    for (const pellix::TCssLink& link : links) {
        Check(link.start >= end);
        Check(link.length > 0 && link.start + link.length <= text.size());
        Check(!link.value.empty() && link.value.size() <= link.length);
        end = link.start + link.length;
        const std::string replacement = pellix::UnquotedCssURL(link.value) + "/x";
        growth += replacement.size() - link.length;
        edits.push_back({link.start, link.length, replacement});
    }
    Check(pellix::ApplyTextEdits(text, edits).size() == text.size() + growth);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckLinks(text, pellix::FindStyleSheetLinks(text));
    CheckLinks(text, pellix::FindPageStyleLinks(text));
    return 0;
}

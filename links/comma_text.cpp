// Comma text: lists kept in one stored value, joined by "," with quoting where needed.
#include "links/comma_text.h"

namespace pellix {

namespace {

// Blanks and control bytes separate unquoted items.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool NeedsQuotes(std::string_view item)
{
    if (item.empty())
        return true;
    for (const char c : item)
        if (IsBlank(c) || c == ',' || c == '"' || c == 0x7F)
            return true;
    return false;
}

} // namespace

std::string JoinCommaText(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += ',';
        const std::string& item = items[i];
        if (!NeedsQuotes(item)) {
            text += item;
            continue;
        }
        text += '"';
        for (const char c : item) {
            if (c == '"')
                text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

std::vector<std::string> SplitCommaText(std::string_view text)
{
    std::vector<std::string> items;
    std::size_t pos = 0;
    const auto skipBlanks = [&] {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
    };
    skipBlanks();
    while (pos < text.size()) {
        std::string item;
        if (text[pos] == '"') {
            ++pos;
            while (pos < text.size()) {
                if (text[pos] == '"') {
                    if (pos + 1 < text.size() && text[pos + 1] == '"') {
                        item += '"';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                item += text[pos++];
            }
        } else {
            while (pos < text.size() && !IsBlank(text[pos]) && text[pos] != ',')
                item += text[pos++];
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (pos < text.size() && text[pos] == ',') {
            ++pos;
            skipBlanks();
        }
    }
    return items;
}

} // namespace pellix

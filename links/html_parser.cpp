// TPXParser: forward scanner that finds one attribute of one tag, or quoted strings, in a page.
#include "links/html_parser.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "links/text_helpers.h"

namespace pellix {

namespace {

bool IsAsciiAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Skipped between "<" and the tag name (a tab deliberately is not).
bool IsTagNameLead(char c)
{
    return c == '\n' || c == '\r' || c == ' ' || c == '"' || c == '\'' || c == '=';
}

// What may follow an attribute name for it to count as that attribute.
bool IsAttributeNameEnd(char c) { return c == ' ' || c == '"' || c == '\'' || c == '='; }

bool IsValueLead(char c)
{
    return c == '\n' || c == '\r' || c == ' ' || c == '"' || c == '\'' || c == '=' || c == '\\';
}

// An unquoted value also ends at a tab or line break: otherwise "src=a.gif<LF>alt=x" would read
// as one value and rewriting it would swallow the next attribute.
bool IsValueEnd(char c) { return IsBlank(c) || c == '"' || c == '\'' || c == '>'; }

// 1-based position of the first occurrence of pattern that starts at or after from and ends at
// or before limit; 0 when there is none. Letters compare through the lowercase table.
std::size_t FindIn(std::string_view text, std::string_view pattern, std::size_t from,
    std::size_t limit, bool ignoreCase)
{
    if (pattern.empty() || from == 0)
        return 0;
    limit = std::min(limit, text.size());
    if (from > limit || pattern.size() > limit - from + 1)
        return 0;
    const std::size_t lastStart = limit - pattern.size(); // 0-based
    const char first = pattern[0];
    const char firstLower = LowerChar(first);
    const bool caseless = ignoreCase && firstLower >= 'a' && firstLower <= 'z';
    std::size_t i = from - 1;
    while (i <= lastStart) {
        if (caseless) {
            while (i <= lastStart && LowerChar(text[i]) != firstLower)
                ++i;
            if (i > lastStart)
                return 0;
        } else {
            const void* hit = std::memchr(text.data() + i, first, lastStart - i + 1);
            if (hit == nullptr)
                return 0;
            i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        }
        std::size_t k = 1;
        if (ignoreCase) {
            while (k < pattern.size() && LowerChar(text[i + k]) == LowerChar(pattern[k]))
                ++k;
        } else {
            while (k < pattern.size() && text[i + k] == pattern[k])
                ++k;
        }
        if (k == pattern.size())
            return i + 1;
        ++i;
    }
    return 0;
}

bool ContainsNoCase(std::string_view text, std::string_view pattern)
{
    return FindIn(text, pattern, 1, text.size(), true) != 0;
}

constexpr std::string_view kScriptOpen = "<script";
constexpr std::string_view kScriptClose = "/script";

} // namespace

TPXParser::TPXParser(
    std::string text, std::string tag, std::string tagEnd, std::string attribute, TParserMode mode)
    : m_text(std::move(text))
    , m_tag(std::move(tag))
    , m_tagEnd(std::move(tagEnd))
    , m_attribute(std::move(attribute))
    , m_mode(mode)
{
    m_nextGreater.pattern = ">";
    m_nextLess.pattern = "<";
    m_scriptOpen.pattern = kScriptOpen;
    m_scriptOpen.ignoreCase = true;
    m_scriptClose.pattern = kScriptClose;
    m_scriptClose.ignoreCase = true;
    m_scriptTagEnd.pattern = ">";
}

std::string TPXParser::Next()
{
    if (Finished())
        return {};
    if (!m_started) {
        m_started = true; // the first search starts where the owner put it, position 1 by default
    } else {
        m_position = m_endPosition + 1;
    }
    return m_mode != pmTag ? NextDelimitedValue() : NextTagValue();
}

void TPXParser::FindTag()
{
    const std::size_t n = m_text.size();
    const char* const data = m_text.data();
    for (;;) {
        // Every "<" of a page is a candidate, so the search for it is made here directly: the
        // general FindIn costs more than the few bytes between two tags.
        const void* hit = m_position >= 1 && m_position <= n ? std::memchr(data + m_position - 1, '<', n - m_position + 1)
                                                             : nullptr;
        m_tagStart = hit == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(hit) - data) + 1;
        m_position = m_tagStart + 1;
        if (m_tagStart == 0)
            return;
        while (m_position <= n && IsTagNameLead(At(m_position)))
            ++m_position;
        if (m_tag.size() > n + 1 - m_position)
            continue;
        std::size_t k = 0;
        while (k < m_tag.size() && LowerChar(At(m_position + k)) == LowerChar(m_tag[k]))
            ++k;
        if (k < m_tag.size())
            continue;
        const std::size_t after = m_position + m_tag.size();
        if (after > n || !IsAsciiAlnum(At(after)))
            return;
    }
}

std::string TPXParser::NextTagValue()
{
    m_value.clear();
    if (m_text.empty()) {
        m_endPosition = 0; // nothing to scan: end the pass instead of looping on an empty page
        return {};
    }
    if (m_tagLimit != 0 && m_tagsFound == m_tagLimit) {
        m_tagStart = 0;
        m_endPosition = 0; // the rest of the page holds no such tag
        return {};
    }
    FindTag();
    if (m_tagStart == 0) {
        m_endPosition = 0;
        return {};
    }
    ++m_tagsFound;
    m_tagClose = FindIn(m_text, m_tagEnd, m_tagStart, m_text.size(), true);
    m_endPosition = m_tagClose;
    if (m_tagClose == 0)
        return {}; // a tag that never closes ends the scan

    std::size_t attributePos = 0;
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;
    if (!ReadAttribute(m_attribute, attributePos, valueStart, valueEnd))
        return {};
    m_attributePos = attributePos;
    m_valueStart = valueStart;
    m_valueEnd = valueEnd;
    m_value.assign(m_text, valueStart - 1, valueEnd - valueStart);
    return m_value;
}

bool TPXParser::ReadAttribute(std::string_view name, std::size_t& attributePos,
    std::size_t& valueStart, std::size_t& valueEnd) const
{
    if (name.empty() || m_tagStart == 0 || m_tagClose == 0)
        return false;
    // A name found beyond the tag's closing text never gives a value, so the search stops there;
    // searching on through the rest of the page would make every tag without the attribute
    // cost the whole page.
    std::size_t from = m_tagStart;
    for (;;) {
        attributePos = FindIn(m_text, name, from, m_tagClose - 1, true);
        if (attributePos == 0)
            return false;
        valueStart = attributePos + name.size();
        if (IsAttributeNameEnd(At(valueStart)))
            break;
        from = valueStart; // the name was part of a longer word
    }

    bool equalsSeen = false;
    char quote = 0;
    while (valueStart <= m_tagClose && IsValueLead(At(valueStart))) {
        const char c = At(valueStart);
        ++valueStart;
        if (c == '=')
            equalsSeen = true;
        if (c == '"' || (c == '\'' && equalsSeen)) {
            quote = c;
            break;
        }
    }
    if (valueStart > m_tagClose || !equalsSeen)
        return false;

    const std::size_t limit = std::min(m_text.size(), m_tagClose + m_tagEnd.size() - 1);
    valueEnd = 0;
    if (quote != 0) {
        // A quoted value runs to its own closing quote within the tag, blanks and all
        // ("Visual Studio 10.txt" is one file name, not "Visual").
        const std::size_t close = FindIn(m_text, std::string_view(&quote, 1), valueStart, limit, false);
        if (close != 0) {
            valueEnd = close;
            while (valueStart < valueEnd && IsBlank(At(valueStart)))
                ++valueStart;
            while (valueEnd > valueStart && IsBlank(At(valueEnd - 1)))
                --valueEnd;
            // Script-written markup: in document.write("<img src=" + "a.gif") the quotes hold
            // the seam of a string concatenation (" + ", "' + url + '"), never a link.
            if (valueEnd > valueStart) {
                const char other = quote == '"' ? '\'' : '"';
                const char first = At(valueStart);
                const char last = At(valueEnd - 1);
                if (first == '+' || last == '+' || first == other || last == other)
                    return false;
            }
        }
    }
    if (valueEnd == 0) {
        // Unquoted, or the quote never closes inside the tag: the value ends at a blank.
        valueEnd = valueStart;
        while (valueEnd <= limit && !IsValueEnd(At(valueEnd)))
            ++valueEnd;
    }
    return true;
}

std::string TPXParser::NextDelimitedValue()
{
    m_value.clear();
    const std::size_t n = m_text.size();
    if (m_text.empty() || m_tag.empty() || m_tagEnd.empty()) {
        m_endPosition = 0; // nothing can ever match: end the pass
        return {};
    }
    if (m_mode == pmScriptStrings) {
        // Only values inside script bodies count. A pair of delimiters that starts before a body
        // and ends inside it spans the script tag's ">" and so resumes at its second one: the scan
        // may as well start at the body, and end when no body is left.
        const std::size_t body = NextScriptPosition(m_position + m_tag.size());
        if (body == 0) {
            m_position = 0;
            return {};
        }
        m_position = std::max(m_position, body - m_tag.size());
    }
    m_position = FindIn(m_text, m_tag, m_position, n, false);
    if (m_position == 0)
        return {};
    const std::size_t afterOpen = m_position + m_tag.size();
    m_endPosition = FindIn(m_text, m_tagEnd, afterOpen, n, false);
    if (m_endPosition == 0)
        return {};

    const std::size_t greater = FindCached(m_nextGreater, m_position);
    if (greater == 0 || greater < m_endPosition) {
        // The pair spans a tag boundary; resume at this closing delimiter, which may open a string.
        m_endPosition -= 1;
        return {};
    }

    m_valueStart = afterOpen;
    m_valueEnd = m_endPosition - 1;
    if (m_mode == pmScriptStrings && !InsideScript(m_valueStart))
        return {};

    const std::string_view value(m_text.data() + afterOpen - 1, m_endPosition - afterOpen);
    if (value.empty())
        return {};
    for (char c : value) {
        if (IsBlank(c) || c == ';' || c == ':' || c == '<')
            return {};
    }
    if (ContainsNoCase(value, "text/css") || ContainsNoCase(value, "text/javascript"))
        return {};
    if (value.find_first_of("./") == std::string_view::npos)
        return {};
    m_value.assign(value);
    return m_value;
}

bool TPXParser::InsideScript(std::size_t position)
{
    if (position < m_scriptLimit) {
        // The scan went back (the owner moved it): rebuild from the start.
        m_scriptScan = 1;
        m_lastScript = 0;
    }
    m_scriptLimit = position;
    for (;;) {
        const std::size_t open = FindCached(m_scriptOpen, m_scriptScan);
        if (open == 0 || open + kScriptOpen.size() - 1 > position)
            break;
        m_lastScript = open;
        m_scriptScan = open + 1;
    }
    if (m_lastScript == 0)
        return false;
    // Only the body counts: a string in the opening tag's attributes (data-root="./") is markup,
    // and rewriting it breaks the script that reads it.
    const std::size_t bodyStart = FindCached(m_scriptTagEnd, m_lastScript);
    if (bodyStart == 0 || position <= bodyStart)
        return false;
    const std::size_t close = FindCached(m_scriptClose, m_lastScript + 1);
    return close != 0 && position < close;
}

std::size_t TPXParser::NextScriptPosition(std::size_t position)
{
    const std::size_t n = m_text.size();
    while (position <= n) {
        if (InsideScript(position))
            return position;
        if (m_lastScript != 0) {
            // Before the body of the script that holds position: the body is next.
            const std::size_t bodyStart = FindCached(m_scriptTagEnd, m_lastScript);
            if (bodyStart != 0 && position <= bodyStart) {
                position = bodyStart + 1;
                continue;
            }
        }
        // After that body, or before any script: the next script's opening tag.
        const std::size_t open = FindCached(m_scriptOpen, m_scriptScan);
        if (open == 0)
            return 0;
        position = std::max(position + 1, open + kScriptOpen.size());
    }
    return 0;
}

std::size_t TPXParser::FindCached(TForwardFinder& finder, std::size_t from) const
{
    if (finder.known && from >= finder.from && (finder.result == 0 || finder.result >= from)) {
        return finder.result;
    }
    finder.from = from;
    finder.result = FindIn(m_text, finder.pattern, from, m_text.size(), finder.ignoreCase);
    finder.known = true;
    return finder.result;
}

void TPXParser::ReplaceValue(const std::string& newValue)
{
    if (m_value.empty())
        return;
    if (!m_replacements.empty() && m_replacements.back().start == m_valueStart) {
        if (newValue == m_value) {
            m_replacements.pop_back();
        } else {
            m_replacements.back().text = newValue;
        }
        return;
    }
    if (newValue == m_value)
        return;
    if (!m_replacements.empty()
        && m_valueStart < m_replacements.back().start + m_replacements.back().length) {
        m_replacementsSorted = false;
    }
    m_replacements.push_back(TReplacement { m_valueStart, m_value.size(), newValue });
}

std::string TPXParser::TagText() const
{
    if (m_tagStart == 0)
        return {};
    const std::size_t greater
        = (m_tagEnd == ">" && m_tagClose != 0) ? m_tagClose : FindCached(m_nextGreater, m_tagStart);
    if (greater == 0)
        return {};
    const std::size_t less = FindCached(m_nextLess, greater + 1);
    if (less == 0)
        return {};
    return CleanText(std::string_view(m_text).substr(greater, less - greater - 1));
}

std::string TPXParser::AttributeValue(std::string_view name) const
{
    std::size_t attributePos = 0;
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;
    if (!ReadAttribute(name, attributePos, valueStart, valueEnd))
        return {};
    return m_text.substr(valueStart - 1, valueEnd - valueStart);
}

std::string TPXParser::Text() const
{
    if (m_replacements.empty())
        return m_text;

    std::vector<const TReplacement*> order;
    order.reserve(m_replacements.size());
    for (const TReplacement& replacement : m_replacements)
        order.push_back(&replacement);
    if (!m_replacementsSorted) {
        // Only when the owner moved the scan backwards; the later replacement of a value wins, and
        // one that overlaps an earlier-placed one is dropped rather than corrupting the page.
        std::stable_sort(order.begin(), order.end(),
            [](const TReplacement* a, const TReplacement* b) { return a->start < b->start; });
        std::vector<const TReplacement*> kept;
        for (const TReplacement* replacement : order) {
            if (!kept.empty() && kept.back()->start == replacement->start) {
                kept.back() = replacement;
            } else {
                kept.push_back(replacement);
            }
        }
        order = std::move(kept);
    }

    std::size_t size = m_text.size();
    for (const TReplacement* replacement : order)
        size += replacement->text.size();
    std::string out;
    out.reserve(size);
    std::size_t copied = 0; // 0-based: bytes of the source already emitted
    for (const TReplacement* replacement : order) {
        const std::size_t start = replacement->start - 1;
        if (start < copied)
            continue;
        out.append(m_text, copied, start - copied);
        out += replacement->text;
        copied = start + replacement->length;
    }
    out.append(m_text, copied, std::string::npos);
    return out;
}

std::string TPXParser::TakeText()
{
    std::string out = m_replacements.empty() ? std::move(m_text) : Text();
    m_text.clear();
    m_replacements.clear();
    m_replacementsSorted = true;
    m_endPosition = 0;
    return out;
}

std::map<std::string, std::size_t, std::less<>> TagCountsIn(std::string_view text)
{
    std::map<std::string, std::size_t, std::less<>> names;
    char upper[32];
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (;;) {
        const void* hit = i < n ? std::memchr(text.data() + i, '<', n - i) : nullptr;
        if (hit == nullptr)
            return names;
        i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) + 1;
        while (i < n && IsTagNameLead(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < n && IsAsciiAlnum(text[i]))
            ++i;
        if (i == start)
            continue;
        // A page repeats a few names many times: a name already found costs no new string.
        const std::size_t size = i - start;
        if (size <= sizeof upper) {
            for (std::size_t k = 0; k < size; ++k)
                upper[k] = UpperChar(text[start + k]);
            const std::string_view name(upper, size);
            if (const auto found = names.find(name); found != names.end())
                ++found->second;
            else
                names.emplace(name, 1);
            continue;
        }
        std::string name(text.substr(start, size));
        for (char& c : name)
            c = UpperChar(c);
        ++names[std::move(name)];
    }
}

bool EditMayChangeTagCounts(std::string_view text, std::size_t start, std::string_view written)
{
    if (written.find('<') != std::string_view::npos)
        return true;
    std::size_t i = std::min(start, text.size());
    while (i > 0 && IsAsciiAlnum(text[i - 1]))
        --i;
    while (i > 0 && IsTagNameLead(text[i - 1]))
        --i;
    return i > 0 && text[i - 1] == '<';
}

std::string RebuildLinkList(std::string_view value, const TListLinkConvert& convert)
{
    std::string rebuilt;
    std::size_t i = 0;
    while (i < value.size()) {
        const std::size_t begin = value.find_first_not_of(" \t\r\n\f,", i);
        rebuilt.append(value, i, (begin == std::string_view::npos ? value.size() : begin) - i);
        if (begin == std::string_view::npos)
            break;
        std::size_t end = value.find_first_of(" \t\r\n\f", begin);
        if (end == std::string_view::npos)
            end = value.size();
        std::size_t linkEnd = end;
        while (linkEnd > begin && value[linkEnd - 1] == ',')
            --linkEnd; // "a.png," ends an item without a descriptor
        const std::string link(value.substr(begin, linkEnd - begin));
        std::optional<std::string> converted;
        if (!link.empty() && link[0] != '#')
            converted = convert(link, begin);
        rebuilt += converted ? *converted : link;
        // The descriptor ("2x", "480w") runs to the next comma.
        std::size_t next = linkEnd == end ? value.find(',', end) : linkEnd;
        if (next == std::string_view::npos)
            next = value.size();
        rebuilt.append(value, linkEnd, next - linkEnd);
        i = next;
    }
    return rebuilt;
}

} // namespace pellix

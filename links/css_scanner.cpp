// CSS scanner: finds the links of style text (url(...) and @import) with their byte positions.
#include "links/css_scanner.h"

#include <algorithm>
#include <cctype>

#include "links/text_helpers.h"

namespace pellix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool IsNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
        || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// End of a string that opens at open (a quote): the position of its closing quote, or of the
// line break or end that cuts it short. Backslash escapes are stepped over.
std::size_t StringEnd(std::string_view css, std::size_t open)
{
    const char quote = css[open];
    std::size_t i = open + 1;
    while (i < css.size()) {
        const char c = css[i];
        if (c == quote || c == '\n' || c == '\r' || c == '\f')
            return i;
        i += c == '\\' ? 2 : 1;
    }
    return css.size();
}

// Hands [begin, end) of css to the visitor as a link when it holds anything but blanks. The
// link object is reused for every link of a scan, so a scan allocates nothing per link.
void AddLink(TCssLink& link, const TCssLinkVisitor& visit, std::string_view css, std::size_t begin,
    std::size_t end, std::size_t offset, bool quoted)
{
    while (begin < end && IsBlank(css[begin]))
        ++begin;
    while (end > begin && IsBlank(css[end - 1]))
        --end;
    if (begin >= end)
        return;
    // "\(" stands for "(": the link is the unescaped text. Hex escapes are rare in links and
    // stay as written.
    std::string& value = link.value;
    value.clear();
    for (std::size_t i = begin; i < end; ++i) {
        const char c = css[i];
        if (c == '\\' && i + 1 < end && !std::isxdigit(static_cast<unsigned char>(css[i + 1]))
            && css[i + 1] != '\n' && css[i + 1] != '\r' && css[i + 1] != '\f') {
            value += css[++i];
        } else {
            value += c;
        }
    }
    link.start = begin + offset;
    link.length = end - begin;
    link.quoted = quoted;
    visit(link);
}

// Past the rest of a broken url(...): everything up to its ")", as a browser skips it.
std::size_t SkipBadURL(std::string_view css, std::size_t i)
{
    while (i < css.size() && css[i] != ')')
        i += css[i] == '\\' ? 2 : 1;
    return std::min(i + 1, css.size());
}

// The value of url( at open (the "u"); returns the position after the closing ")" or, for a
// value that never closes, the end. Adds the link when the value is complete.
std::size_t ReadURL(TCssLink& link, const TCssLinkVisitor& visit, std::string_view css,
    std::size_t open, std::size_t offset)
{
    std::size_t i = open + 4;
    while (i < css.size() && IsBlank(css[i]))
        ++i;
    if (i >= css.size())
        return css.size();
    if (css[i] == '"' || css[i] == '\'') {
        const std::size_t end = StringEnd(css, i);
        if (end >= css.size() || css[end] != css[i])
            return SkipBadURL(css, end); // cut short by a line break: nothing to follow
        std::size_t close = end + 1;
        while (close < css.size() && IsBlank(css[close]))
            ++close;
        if (close < css.size() && css[close] == ')') {
            AddLink(link, visit, css, i + 1, end, offset, true);
            return close + 1;
        }
        return SkipBadURL(css, close);
    }
    // Unquoted: up to ")", blanks allowed only before it.
    std::size_t end = i;
    while (end < css.size() && css[end] != ')' && css[end] != '"' && css[end] != '\''
        && css[end] != '(') {
        end += css[end] == '\\' ? 2 : 1;
    }
    if (end >= css.size() || css[end] != ')')
        return SkipBadURL(css, end);
    std::size_t begin = i;
    std::size_t valueEnd = end;
    while (valueEnd > begin && IsBlank(css[valueEnd - 1]))
        --valueEnd;
    // Inside a style attribute quotes come HTML-escaped.
    for (std::string_view quote : { std::string_view("&quot;"), std::string_view("&#39;"),
             std::string_view("&apos;"), std::string_view("&#34;") }) {
        const std::string_view value = css.substr(begin, valueEnd - begin);
        if (value.size() > 2 * quote.size() && value.starts_with(quote) && value.ends_with(quote)) {
            AddLink(link, visit, css, begin + quote.size(), valueEnd - quote.size(), offset, true);
            return end + 1;
        }
    }
    for (std::size_t k = begin; k < valueEnd; ++k) {
        if (IsBlank(css[k]))
            return end + 1; // "url(a b)" is not a url
    }
    AddLink(link, visit, css, begin, valueEnd, offset, false);
    return end + 1;
}

// The scan of VisitStyleSheetLinks, with the link object the caller reuses.
void ScanStyleSheet(TCssLink& link, std::string_view css, const TCssLinkVisitor& visit, std::size_t offset)
{
    bool import = false; // an @import waits for its string
    bool fontFaceDue = false; // "@font-face" seen, its "{" not yet
    link.fontFace = false;
    std::size_t i = 0;
    while (i < css.size()) {
        const char c = css[i];
        if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            const std::size_t end = css.find("*/", i + 2);
            i = end == std::string_view::npos ? css.size() : end + 2;
        } else if (c == '"' || c == '\'') {
            const std::size_t end = StringEnd(css, i);
            if (import && end < css.size() && css[end] == c) {
                link.import = true;
                AddLink(link, visit, css, i + 1, end, offset, true);
            }
            import = false;
            i = end + 1;
        } else if (c == '\\') {
            i += 2;
        } else if (c == '@') {
            import = StartsWithText(css.substr(i + 1), "import") && (i + 7 >= css.size() || !IsNameByte(css[i + 7]));
            fontFaceDue = StartsWithText(css.substr(i + 1), "font-face")
                          && (i + 10 >= css.size() || !IsNameByte(css[i + 10]));
            ++i;
            while (i < css.size() && (IsNameByte(css[i]) || css[i] == '\\'))
                i += css[i] == '\\' ? 2 : 1;
        } else if (IsNameByte(c)) {
            // A whole name at once, so "myurl(" is never taken for "url(".
            const std::size_t begin = i;
            while (i < css.size() && (IsNameByte(css[i]) || css[i] == '\\'))
                i += css[i] == '\\' ? 2 : 1;
            if (i - begin == 3 && i < css.size() && css[i] == '(' && SameText(css.substr(begin, 3), "url")) {
                link.import = import;
                i = ReadURL(link, visit, css, begin, offset);
                import = false;
            }
        } else {
            if (c == ';' || c == '{' || c == '}')
                import = false;
            // An @font-face rule holds declarations only: its block ends at the next "}".
            if (c == '{') {
                link.fontFace = fontFaceDue;
                fontFaceDue = false;
            } else if (c == '}') {
                link.fontFace = false;
            } else if (c == ';') {
                fontFaceDue = false;
            }
            ++i;
        }
    }
}

} // namespace

void VisitStyleSheetLinks(std::string_view css, const TCssLinkVisitor& visit, std::size_t offset)
{
    TCssLink link;
    ScanStyleSheet(link, css, visit, offset);
}

std::vector<TCssLink> FindStyleSheetLinks(std::string_view css, std::size_t offset)
{
    std::vector<TCssLink> links;
    VisitStyleSheetLinks(css, [&links](const TCssLink& link) { links.push_back(link); }, offset);
    return links;
}

void VisitPageStyleLinks(std::string_view html, const TCssLinkVisitor& visit)
{
    TCssLink link;
    const auto addFrom = [&link, &visit](std::string_view html, std::size_t begin, std::size_t end) {
        ScanStyleSheet(link, html.substr(begin, end - begin), visit, begin);
    };

    std::size_t i = 0;
    const std::size_t n = html.size();
    while (i < n) {
        const std::size_t open = html.find('<', i);
        if (open == std::string_view::npos)
            break;
        if (html.compare(open, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", open + 4);
            i = end == std::string_view::npos ? n : end + 3;
            continue;
        }
        std::size_t k = open + 1;
        const std::size_t nameBegin = k;
        while (k < n && ((html[k] >= 'a' && html[k] <= 'z') || (html[k] >= 'A' && html[k] <= 'Z')
                   || (html[k] >= '0' && html[k] <= '9')))
            ++k;
        if (k == nameBegin) {
            i = open + 1; // "</x>", "<!DOCTYPE>", or a bare "<"
            continue;
        }
        const std::string_view name = html.substr(nameBegin, k - nameBegin);

        // Attributes up to the tag's ">"; quoted values may hold ">".
        for (;;) {
            while (k < n && (IsBlank(html[k]) || html[k] == '/'))
                ++k;
            if (k >= n || html[k] == '>')
                break;
            const std::size_t attributeBegin = k;
            while (k < n && !IsBlank(html[k]) && html[k] != '=' && html[k] != '>' && html[k] != '/')
                ++k;
            if (k == attributeBegin) {
                ++k; // a stray "=": step over it
                continue;
            }
            const std::string_view attribute = html.substr(attributeBegin, k - attributeBegin);
            std::size_t v = k;
            while (v < n && IsBlank(html[v]))
                ++v;
            if (v >= n || html[v] != '=')
                continue; // no value
            ++v;
            while (v < n && IsBlank(html[v]))
                ++v;
            std::size_t valueBegin = v;
            std::size_t valueEnd = v;
            if (v < n && (html[v] == '"' || html[v] == '\'')) {
                const std::size_t close = html.find(html[v], v + 1);
                valueBegin = v + 1;
                valueEnd = close == std::string_view::npos ? n : close;
                k = close == std::string_view::npos ? n : close + 1;
            } else {
                while (valueEnd < n && !IsBlank(html[valueEnd]) && html[valueEnd] != '>')
                    ++valueEnd;
                k = valueEnd;
            }
            if (SameText(attribute, "style"))
                addFrom(html, valueBegin, valueEnd);
        }
        i = k < n ? k + 1 : n;

        // Raw text elements: a style body is style text; nothing in a script body is a tag.
        const bool style = SameText(name, "style");
        const bool script = SameText(name, "script");
        if ((style || script) && i < n) {
            const std::size_t close = FindText(html, style ? "</style" : "</script", i + 1);
            const std::size_t end = close == 0 ? n : close - 1;
            if (style)
                addFrom(html, i, end);
            i = end;
        }
    }
}

std::vector<TCssLink> FindPageStyleLinks(std::string_view html)
{
    std::vector<TCssLink> links;
    VisitPageStyleLinks(html, [&links](const TCssLink& link) { links.push_back(link); });
    return links;
}

std::string ApplyTextEdits(std::string_view text, const std::vector<TTextEdit>& edits)
{
    std::size_t size = text.size();
    for (const TTextEdit& edit : edits)
        size += edit.text.size();
    std::string out;
    out.reserve(size);
    std::size_t copied = 0;
    for (const TTextEdit& edit : edits) {
        if (edit.start < copied || edit.start > text.size() || edit.length > text.size() - edit.start)
            continue;
        out.append(text.substr(copied, edit.start - copied));
        out += edit.text;
        copied = edit.start + edit.length;
    }
    out.append(text.substr(copied));
    return out;
}

std::string UnquotedCssURL(std::string_view link)
{
    return PercentEncode(link, [](unsigned char byte) {
        return IsBlank(static_cast<char>(byte)) || byte == '(' || byte == ')' || byte == '"' || byte == '\''
            || byte == '\\';
    });
}

} // namespace pellix

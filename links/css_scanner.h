// CSS scanner: finds the links of style text (url(...) and @import) with their byte positions.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

// One link found in style text.
struct TCssLink {
    std::size_t start = 0;  // 0-based offset of the value's first byte in the scanned text
    std::size_t length = 0; // bytes of the value as written
    std::string value;      // the value, with "\x" escapes of non-hex characters undone
    // Written in quotes: a replacement may hold "(", ")" and blanks. An unquoted url() value
    // may not, so a replacement there must percent-encode them.
    bool quoted = false;
    bool import = false;   // the link of an @import: a style sheet
    bool fontFace = false; // inside an @font-face rule: a font
};

// A value to put in place of bytes [start, start + length) of a text.
struct TTextEdit {
    std::size_t start = 0;
    std::size_t length = 0;
    std::string text;
};

// Receives the links of a scan one at a time. The link is the scan's own, reused for the next
// one: copy what must outlive the call.
using TCssLinkVisitor = std::function<void(const TCssLink& link)>;

// Links of a style sheet, in text order: every url(...) value (quoted or not, any letter case)
// and the string of an @import rule. Comments and other strings are skipped, so
// content: "url(x)" gives nothing. The value is trimmed of blanks; empty values are left out.
// An HTML-escaped quote pair (url(&quot;x&quot;), as pages write inside style attributes)
// counts as quotes. offset is added to every start (the style text's place in a page).
// Linear in the size of css; never fails.
std::vector<TCssLink> FindStyleSheetLinks(std::string_view css, std::size_t offset = 0);
// The same links handed to visit as they are found, in constant memory however many there are.
void VisitStyleSheetLinks(std::string_view css, const TCssLinkVisitor& visit, std::size_t offset = 0);

// Links of the style text inside a page: the bodies of <style> elements and the values of
// style="..." attributes of every tag, with starts counted from the beginning of html. Script
// bodies and comments are skipped. Linear in the size of html.
std::vector<TCssLink> FindPageStyleLinks(std::string_view html);
void VisitPageStyleLinks(std::string_view html, const TCssLinkVisitor& visit);

// text with the edits made, in one copy. Edits must be in ascending order of start; one that
// overlaps the previous one or reaches past the end is left out.
std::string ApplyTextEdits(std::string_view text, const std::vector<TTextEdit>& edits);

// A link to stand unquoted in url(...): blanks, quotes, parentheses and backslashes
// percent-encoded (a browser decodes them again when it opens a local file).
std::string UnquotedCssURL(std::string_view link);

} // namespace pellix

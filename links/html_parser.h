// TPXParser: forward scanner that finds one attribute of one tag, or quoted strings, in a page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

// How a parser reads the page. The values are the profile's "Aggressive Parser" setting.
enum TParserMode : std::uint8_t {
    pmTag = 0, // values of Attribute in tags named Tag
    pmScriptStrings = 1, // delimited strings inside script blocks only
    pmAnyStrings = 2, // delimited strings anywhere
};

// One pass over one page. The scanner never fails: malformed markup gives empty values, which
// the owner skips, and the scan always ends (EndPosition() or Position() becomes 0).
//
// Positions are 1-based byte positions, 0 meaning "none". They always refer to Source(), the
// page as it was handed in: ReplaceValue() only records the new text, and Text() builds the
// changed page in one copy, so a page with thousands of links costs linear time. Because the
// scan only moves forward past each replaced value, the values found are the same as if each
// replacement had been made in place at once.
class TPXParser final {
public:
    // tag: tag name ("A", "/BODY") or, in the string modes, the opening delimiter.
    // tagEnd: ">" in tag mode, or the closing delimiter. attribute: empty in the string modes.
    TPXParser(std::string text, std::string tag, std::string tagEnd, std::string attribute,
        TParserMode mode = pmTag);

    // Advances and returns the next value. An empty result only means nothing usable was found
    // at this place; the scan is over when Finished() is true.
    std::string Next();
    bool Finished() const { return m_endPosition == 0 || m_position == 0; }

    // Moves to the next tag named Tag at or after Position(), setting TagStart() and Position().
    void FindTag();
    // Tag mode: the page holds at most count tags named Tag (TagCountsIn), so the scan ends once
    // it has found that many instead of reading on to the end. 0: no limit.
    void SetTagLimit(std::size_t count) { m_tagLimit = count; }
    // Tag-mode step: the value of Attribute in the next tag named Tag. With an empty attribute it
    // only locates the tag (TagStart() and TagClose()).
    std::string NextTagValue();
    // String-mode step: the next delimited string that looks like a relative link.
    std::string NextDelimitedValue();

    // Replaces the value last returned (only right after a non-empty one). A second call for the
    // same value overrides the first.
    void ReplaceValue(const std::string& newValue);

    // The text after the current tag's ">" up to the next "<", with line breaks removed and blanks
    // trimmed (an anchor's link text); empty when there is no current tag.
    std::string TagText() const;

    // The value of another attribute of the current tag, read by the same rules (an applet's
    // CODEBASE beside its CODE); empty when there is no current tag.
    std::string AttributeValue(std::string_view name) const;

    // The page with every replacement so far. Builds a copy: call it once, when the pass is over.
    std::string Text() const;
    // The same, moving the page out of the parser; the parser must not be used afterwards.
    std::string TakeText();
    const std::string& Source() const { return m_text; }
    std::size_t ReplacementCount() const { return m_replacements.size(); }

    const std::string& Tag() const { return m_tag; }
    const std::string& TagEnd() const { return m_tagEnd; }
    const std::string& Attribute() const { return m_attribute; }
    TParserMode Mode() const { return m_mode; }
    const std::string& Value() const { return m_value; }

    std::size_t Position() const { return m_position; }
    // Where the next search starts; the next Next() starts there instead of at position 1 when
    // it is the first call.
    void SetPosition(std::size_t position) { m_position = position; }
    // Tag mode: the current tag's closing text; string modes: the closing delimiter; 0 when over.
    std::size_t EndPosition() const { return m_endPosition; }
    std::size_t TagStart() const { return m_tagStart; }
    std::size_t TagClose() const { return m_tagClose; }
    std::size_t AttributePos() const { return m_attributePos; }
    std::size_t ValueStart() const { return m_valueStart; }
    // Tag mode: first position after the value; string modes: position of its last byte.
    std::size_t ValueEnd() const { return m_valueEnd; }

private:
    struct TReplacement {
        std::size_t start; // 1-based
        std::size_t length; // bytes of Source() replaced
        std::string text;
    };

    // Caches the first occurrence of a fixed pattern at or after a position. Queries made with
    // rising positions cost linear time in total, which keeps repeated look-aheads (the next ">",
    // the enclosing script block) from turning a pass quadratic.
    struct TForwardFinder {
        std::string_view pattern;
        bool ignoreCase = false;
        bool known = false;
        std::size_t from = 0; // position of the last search
        std::size_t result = 0; // its result (0: none at or after from)
    };

    std::size_t FindCached(TForwardFinder& finder, std::size_t from) const;
    bool ReadAttribute(std::string_view name, std::size_t& attributePos, std::size_t& valueStart,
        std::size_t& valueEnd) const;
    bool InsideScript(std::size_t position);
    // The first position at or after position that InsideScript accepts; 0 when there is none.
    std::size_t NextScriptPosition(std::size_t position);
    char At(std::size_t position) const { return m_text[position - 1]; }

    std::string m_text;
    std::string m_tag;
    std::string m_tagEnd;
    std::string m_attribute;
    std::size_t m_position = 1;
    std::size_t m_endPosition = 1;
    std::size_t m_tagStart = 0;
    std::size_t m_tagClose = 0;
    std::size_t m_attributePos = 0;
    std::string m_value;
    std::size_t m_valueStart = 0;
    std::size_t m_valueEnd = 0;
    TParserMode m_mode = pmTag;
    bool m_started = false;
    std::size_t m_tagLimit = 0; // SetTagLimit
    std::size_t m_tagsFound = 0;

    std::vector<TReplacement> m_replacements;
    bool m_replacementsSorted = true;

    mutable TForwardFinder m_nextGreater; // ">" (string modes, TagText)
    mutable TForwardFinder m_nextLess; // "<" (TagText)
    TForwardFinder m_scriptOpen; // "<script"
    TForwardFinder m_scriptClose; // "/script"
    TForwardFinder m_scriptTagEnd; // ">" closing the opening script tag
    std::size_t m_scriptScan = 1; // next position to look for "<script" from
    std::size_t m_lastScript = 0; // last "<script" ending at or before m_scriptLimit
    std::size_t m_scriptLimit = 0; // the position the script state was built for
};

// The tag names a pass in tag mode could find in text, in uppercase, each with how often it
// stands there: after each "<" (and the blanks, quotes and "=" the scanner skips there), the run
// of ASCII letters and digits. A pass for a tag that is not in the set finds nothing, so the
// caller may leave it out; a pass finds a tag at most that often.
std::map<std::string, std::size_t, std::less<>> TagCountsIn(std::string_view text);

// Whether writing written in place of the bytes of text from 0-based start on may change what
// TagCountsIn finds: only when it brings a "<" of its own, or when it begins inside the name of a
// tag that opens just before it (a "<", the bytes skipped after it, and name letters).
bool EditMayChangeTagCounts(std::string_view text, std::size_t start, std::string_view written);

// A list attribute's value (srcset: "a.png 1x, b.png 2x"): each link is handed to convert with its
// offset in the value, and the value is rebuilt with the links convert returned in place (nothing:
// the link stays), blanks, descriptors and commas kept. Anchors ("#x") are not handed over.
using TListLinkConvert = std::function<std::optional<std::string>(const std::string& link, std::size_t offset)>;
std::string RebuildLinkList(std::string_view value, const TListLinkConvert& convert);

} // namespace pellix

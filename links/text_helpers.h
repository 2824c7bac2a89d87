// Text, file-name and folder helpers shared by every subsystem.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "links/date_time.h"

namespace pellix {

// The file name of a path without its folder and without its extension (from the last ".").
std::string FileNameNoExt(std::string_view path);

// How many numbered names UniqueFileName tries before it gives up.
inline constexpr int kUniqueNameTries = 1000;

// path itself when nothing exists there; otherwise folder + name + "(0)" + extension, then
// "(1)", "(2)"... the first that is free. Empty when none of the first kUniqueNameTries
// numbered names is free, and for a path holding a NUL byte (no file can have that name):
// callers must test for it.
std::string UniqueFileName(const std::string& path);

// Every \ / : * ? " < > | and every control byte (0x00 to 0x1F, 0x7F) becomes c.
std::string ReplaceIllegalChars(std::string_view text, char c);

// The longest stem FileStemFromTitle gives, in bytes: with ".zip", a "(n)" of UniqueFileName
// and a writer's temporary suffix the name still fits a directory entry.
inline constexpr std::size_t kMaxTitleStemBytes = 150;

// A file stem (a name without its extension) made of a page title: illegal characters and
// control bytes become blanks, runs of blanks become one, blanks and dots go from both ends (no
// hidden file, no "." or ".."), and the rest is cut to kMaxTitleStemBytes without splitting a
// UTF-8 character. Empty when nothing usable is left: the caller falls back to a name of its own.
std::string FileStemFromTitle(std::string_view title);

// How many of the first bytes of text, at most limit, to keep so that no UTF-8 character is
// split. At most 3 continuation bytes are stepped back; more are bytes of another encoding, which
// are cut at limit (never to nothing).
std::size_t Utf8CutLength(std::string_view text, std::size_t limit);

// Every "/" becomes "\", or the reverse.
std::string ToBackslashes(std::string_view text);
std::string ToSlashes(std::string_view text);

// The time-of-day part of time (whole days are dropped) as "H Hrs M Min S Sec", or
// "M Min S Sec" when H is 0, numbers without padding.
std::string ElapsedText(TDateTime time);

// The text between the first startMarker and the first endMarker of the whole text. Markers
// are given in uppercase and found on an ASCII-uppercase copy; the result keeps the original
// case. Empty when either is missing or the end marker comes first.
std::string TextBetween(std::string_view text, std::string_view startMarker,
                        std::string_view endMarker);

// The text after the first startMarker and before the next endMarker, exact comparison; empty
// when either is missing. Reads the count out of "Incomplete (1234 bytes)".
std::string TextAfter(std::string_view text, std::string_view startMarker,
                      std::string_view endMarker);

// Deletes line feeds, carriage returns and pilcrows (¶, as UTF-8 or as a lone 0xB6 byte that
// is not part of a UTF-8 character), then trims blanks at both ends.
std::string CleanText(std::string_view text);

// ASCII lowercase of every byte value, other bytes mapping to themselves (UTF-8 is compared byte
// for byte). A table: the page and style scanners lower every byte they search, and one load
// costs them fewer instructions than a compare-and-add.
inline constexpr std::array<unsigned char, 256> kLowerCaseTable = [] {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i - 'A' + 'a' : i);
    return table;
}();

// ASCII letters lowered (or raised); every other byte (UTF-8 included) kept.
constexpr char LowerChar(char c)
{
    return static_cast<char>(kLowerCaseTable[static_cast<unsigned char>(c)]);
}
constexpr char UpperChar(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);

// Whether a and b are equal when ASCII letter case is ignored.
constexpr bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    return true;
}

// Whether text begins with prefix when ASCII letter case is ignored (an exact test is
// std::string_view::starts_with).
constexpr bool StartsWithText(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

// The text with "/" appended, unless it is empty or already ends in "/" (a folder or a folder URL).
std::string WithTrailingSlash(std::string_view text);

// The value of a hexadecimal digit of either case, 0 to 15; -1 for any other byte.
constexpr int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Blanks and tabs removed at both ends.
std::string TrimBlanks(std::string_view text);

// Character references replaced by the UTF-8 characters they stand for: numeric ones ("&#8212;",
// "&#x2014;") and the named ones that titles use ("&amp;", "&mdash;", "&nbsp;" and the like).
// Unknown names, bad numbers and a lone "&" stay as they are.
std::string DecodeHtmlEntities(std::string_view text);

// Every byte for which encode is true becomes "%" and two uppercase hexadecimal digits.
std::string PercentEncode(std::string_view text, bool (*encode)(unsigned char byte));

// Every "%" followed by two hexadecimal digits becomes that byte; anything else is kept as it is.
std::string PercentDecode(std::string_view text);

// Field n (from 0) of text split at every delimiter; empty when there is no such field.
std::string FieldOf(std::string_view text, char delimiter, int n);

// Replaces the first or every occurrence of find, ignoring ASCII letter case; replaced text is
// not scanned again. An empty find changes nothing.
std::string ReplaceText(std::string_view text, std::string_view find,
                        std::string_view replacement, bool all);

// The 1-based position of the first occurrence of pattern at or after the 1-based position
// from, ignoring ASCII letter case; 0 when absent (or when pattern is empty). Allocates nothing.
std::size_t FindText(std::string_view text, std::string_view pattern, std::size_t from = 1);

// Whether part occurs in text, ignoring ASCII letter case. An empty part is not found.
bool ContainsText(std::string_view text, std::string_view part);

// The integer written in text once every "," is removed ("1,234" gives 1234); surrounding
// blanks are allowed; 0 when the text holds no integer or it does not fit.
std::int64_t NumberOf(std::string_view text);

// Names (not paths) of the files in folder that match mask ("*" and "?" wildcards, ASCII case
// ignored; "*.*" matches every name), sorted. Empty when the folder does not exist.
std::vector<std::string> FilesIn(const std::string& folder, std::string_view mask);

// Names of the subfolders of folder, without "." and "..", sorted. Empty when the folder does
// not exist.
std::vector<std::string> SubfoldersOf(const std::string& folder);

} // namespace pellix

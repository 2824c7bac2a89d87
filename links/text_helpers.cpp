// Text, file-name and folder helpers shared by every subsystem.
#include "links/text_helpers.h"

#include <cstdint>
#include <cstring>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace pellix {

namespace {

// 0-based index of pattern in text at or after from, ignoring ASCII case; npos when absent.
std::size_t FindNoCase(std::string_view text, std::string_view pattern, std::size_t from)
{
    if (pattern.empty() || pattern.size() > text.size())
        return std::string_view::npos;
    const std::size_t last = text.size() - pattern.size();
    const char first = LowerChar(pattern.front());
    // A first byte that has no other case ("%", "&", "/") is found with memchr.
    const bool caseless = first == pattern.front() && (first < 'a' || first > 'z');
    if (!caseless) {
        // A pattern that starts with a letter ("mailto:") is looked for at its first byte that has
        // no other case: memchr finds the few places to compare.
        const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
        const std::size_t fixed = static_cast<std::size_t>(
            std::find_if(pattern.begin(), pattern.end(), [&](char c) { return !isLetter(c); }) - pattern.begin());
        if (fixed < pattern.size()) {
            for (std::size_t i = from; i <= last;) {
                const void* at = std::memchr(text.data() + i + fixed, pattern[fixed], last - i + 1);
                if (at == nullptr)
                    return std::string_view::npos;
                i = static_cast<std::size_t>(static_cast<const char*>(at) - text.data()) - fixed;
                std::size_t k = 0;
                while (k < pattern.size() && LowerChar(text[i + k]) == LowerChar(pattern[k]))
                    ++k;
                if (k == pattern.size())
                    return i;
                ++i;
            }
            return std::string_view::npos;
        }
    }
    for (std::size_t i = from; i <= last; ++i) {
        if (caseless) {
            const void* at = std::memchr(text.data() + i, first, last - i + 1);
            if (at == nullptr)
                return std::string_view::npos;
            i = static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
        } else if (LowerChar(text[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < pattern.size() && LowerChar(text[i + k]) == LowerChar(pattern[k]))
            ++k;
        if (k == pattern.size())
            return i;
    }
    return std::string_view::npos;
}

// Whether name matches a wildcard mask ("*" any run, "?" one byte), ignoring ASCII case.
bool MatchesMask(std::string_view name, std::string_view mask)
{
    std::size_t n = 0;
    std::size_t m = 0;
    std::size_t starMask = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || LowerChar(mask[m]) == LowerChar(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

std::vector<std::string> EntriesOf(const std::string& folder, bool wantFolders,
                                   std::string_view mask)
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error)
        return names;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            break;
        std::error_code statusError;
        const bool isFolder = it->is_directory(statusError);
        if (statusError || isFolder != wantFolders)
            continue;
        std::string name = it->path().filename().string();
        if (wantFolders || MatchesMask(name, mask))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::string FileNameNoExt(std::string_view path)
{
    if (const auto slash = path.rfind('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    return std::string(path.substr(0, path.rfind('.')));
}

std::string UniqueFileName(const std::string& path)
{
    // The system would see the name only up to the NUL, which exists: the search would never end.
    if (path.find('\0') != std::string::npos)
        return {};
    std::error_code error;
    // symlink_status: a dangling link still occupies the name.
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return path;
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    auto dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = path.size();
    const std::string stem = path.substr(0, dot);
    const std::string extension = path.substr(dot);
    for (int n = 0; n < kUniqueNameTries; ++n) {
        std::string candidate = stem + "(" + std::to_string(n) + ")" + extension;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, error)))
            return candidate;
    }
    return {};
}

std::string ReplaceIllegalChars(std::string_view text, char c)
{
    static constexpr std::string_view kIllegal = "\\/:*?\"<>|";
    std::string result(text);
    for (char& ch : result) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F || kIllegal.find(ch) != std::string_view::npos)
            ch = c;
    }
    return result;
}

std::string FileStemFromTitle(std::string_view title)
{
    const std::string replaced = ReplaceIllegalChars(title, ' ');
    std::string stem;
    for (const char c : replaced) {
        if (c == ' ' && (stem.empty() || stem.back() == ' '))
            continue;
        stem += c;
    }
    const auto trimmed = [](std::string& text) {
        const auto first = text.find_first_not_of(". ");
        if (first == std::string::npos) {
            text.clear();
            return;
        }
        text = text.substr(first, text.find_last_not_of(". ") - first + 1);
    };
    trimmed(stem);
    if (stem.size() > kMaxTitleStemBytes) {
        stem.resize(Utf8CutLength(stem, kMaxTitleStemBytes));
        trimmed(stem);
    }
    return stem;
}

std::size_t Utf8CutLength(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text.size();
    const auto continues = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    std::size_t keep = limit;
    while (keep > 0 && limit - keep < 3 && continues(keep))
        --keep;
    return keep == 0 || continues(keep) ? limit : keep;
}

std::string ToBackslashes(std::string_view text)
{
    std::string result(text);
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

std::string ToSlashes(std::string_view text)
{
    std::string result(text);
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

std::string ElapsedText(TDateTime time)
{
    if (!std::isfinite(time))
        time = 0;
    const TDateTimeParts parts = DecodeDateTime(time);
    const std::string minSec = std::to_string(parts.minute) + " Min " + std::to_string(parts.second) + " Sec";
    if (parts.hour > 0)
        return std::to_string(parts.hour) + " Hrs " + minSec;
    return minSec;
}

namespace {

// Where marker first stands in the upper-cased text, without making that copy of a whole page: a
// marker with a lower-case letter is never there, any other is found ignoring case.
std::size_t FindInUpperCase(std::string_view text, std::string_view marker)
{
    if (std::any_of(marker.begin(), marker.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
        return std::string::npos;
    return FindNoCase(text, marker, 0);
}

} // namespace

std::string TextBetween(std::string_view text, std::string_view startMarker,
                        std::string_view endMarker)
{
    const auto start = FindInUpperCase(text, startMarker);
    const auto end = FindInUpperCase(text, endMarker);
    if (start == std::string::npos || end == std::string::npos || end < start + startMarker.size())
        return {};
    const std::size_t from = start + startMarker.size();
    return std::string(text.substr(from, end - from));
}

std::string TextAfter(std::string_view text, std::string_view startMarker,
                      std::string_view endMarker)
{
    const auto start = text.find(startMarker);
    if (startMarker.empty() || start == std::string_view::npos)
        return {};
    const std::size_t from = start + startMarker.size();
    const auto end = text.find(endMarker, from);
    if (endMarker.empty() || end == std::string_view::npos)
        return {};
    return std::string(text.substr(from, end - from));
}

std::string CleanText(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n' || byte == '\r')
            continue;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xB6) {
            ++i;
            continue;
        }
        if (byte >= 0xC2 && byte <= 0xF4) {
            // Keep a whole UTF-8 character: its continuation bytes may be 0xB6 too.
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            std::size_t k = 1;
            while (k < length && i + k < text.size()
                   && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80)
                ++k;
            if (k == length) {
                result.append(text.substr(i, length));
                i += length - 1;
                continue;
            }
        }
        if (byte == 0xB6)
            continue;
        result += text[i];
    }
    const auto first = result.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return result.substr(first, result.find_last_not_of(' ') - first + 1);
}

std::string FieldOf(std::string_view text, char delimiter, int n)
{
    if (n < 0)
        return {};
    std::size_t start = 0;
    for (int field = 0; field < n; ++field) {
        const auto next = text.find(delimiter, start);
        if (next == std::string_view::npos)
            return {};
        start = next + 1;
    }
    const auto end = text.find(delimiter, start);
    return std::string(text.substr(start, end == std::string_view::npos ? text.size() - start : end - start));
}

std::string ReplaceText(std::string_view text, std::string_view find,
                        std::string_view replacement, bool all)
{
    if (find.empty())
        return std::string(text);
    std::string result;
    result.reserve(text.size());
    std::size_t from = 0;
    while (true) {
        const auto at = FindNoCase(text, find, from);
        if (at == std::string_view::npos)
            break;
        result.append(text.substr(from, at - from));
        result.append(replacement);
        from = at + find.size();
        if (!all)
            break;
    }
    result.append(text.substr(from));
    return result;
}

std::size_t FindText(std::string_view text, std::string_view pattern, std::size_t from)
{
    const std::size_t start = from == 0 ? 0 : from - 1;
    const auto at = FindNoCase(text, pattern, start);
    return at == std::string_view::npos ? 0 : at + 1;
}

bool ContainsText(std::string_view text, std::string_view part)
{
    return FindNoCase(text, part, 0) != std::string_view::npos;
}

std::int64_t NumberOf(std::string_view text)
{
    std::string digits;
    digits.reserve(text.size());
    for (const char c : text)
        if (c != ',')
            digits += c;
    const auto first = digits.find_first_not_of(' ');
    if (first == std::string::npos)
        return 0;
    const auto last = digits.find_last_not_of(' ');
    const char* begin = digits.data() + first;
    const char* end = digits.data() + last + 1;
    if (*begin == '+')
        ++begin;
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end)
        return 0;
    return value;
}

std::vector<std::string> FilesIn(const std::string& folder, std::string_view mask)
{
    if (mask.empty() || mask == "*.*")
        mask = "*";
    return EntriesOf(folder, false, mask);
}

std::vector<std::string> SubfoldersOf(const std::string& folder)
{
    return EntriesOf(folder, true, {});
}

std::string LowerCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = LowerChar(c);
    return out;
}

std::string UpperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = UpperChar(c);
    return out;
}

std::string WithTrailingSlash(std::string_view text)
{
    std::string out(text);
    if (!out.empty() && out.back() != '/')
        out += '/';
    return out;
}

std::string TrimBlanks(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string PercentEncode(std::string_view text, bool (*encode)(unsigned char byte))
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (encode(byte)) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}


namespace {

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The named references page titles commonly carry.
char32_t NamedEntity(std::string_view name)
{
    static const std::pair<std::string_view, char32_t> kNames[] = {
        {"amp", U'&'},       {"lt", U'<'},         {"gt", U'>'},        {"quot", U'"'},     {"apos", U'\''},
        {"nbsp", 0xA0},      {"copy", 0xA9},       {"reg", 0xAE},       {"trade", 0x2122},  {"mdash", 0x2014},
        {"ndash", 0x2013},   {"hellip", 0x2026},   {"laquo", 0xAB},     {"raquo", 0xBB},    {"lsquo", 0x2018},
        {"rsquo", 0x2019},   {"ldquo", 0x201C},    {"rdquo", 0x201D},   {"bull", 0x2022},   {"middot", 0xB7},
        {"euro", 0x20AC},    {"pound", 0xA3},      {"sect", 0xA7},      {"deg", 0xB0},      {"auml", 0xE4},
        {"ouml", 0xF6},      {"uuml", 0xFC},       {"Auml", 0xC4},      {"Ouml", 0xD6},     {"Uuml", 0xDC},
        {"szlig", 0xDF},     {"eacute", 0xE9},     {"egrave", 0xE8},    {"aacute", 0xE1},   {"agrave", 0xE0},
        {"ccedil", 0xE7},    {"ntilde", 0xF1},     {"oslash", 0xF8},    {"aring", 0xE5},    {"times", 0xD7},
    };
    for (const auto& [entity, c] : kNames)
        if (entity == name)
            return c;
    return 0;
}

} // namespace

std::string DecodeHtmlEntities(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == '&' ? text.find(';', i + 1) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 12) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        char32_t c = 0;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t value = 0;
            bool ok = !digits.empty();
            for (const char d : digits) {
                const int v = hex ? HexDigit(d) : (d >= '0' && d <= '9' ? d - '0' : -1);
                if (v < 0 || value > 0x10FFFF) {
                    ok = false;
                    break;
                }
                value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
            }
            // Nothing a file name could not hold: no controls, no surrogates, nothing past Unicode.
            if (ok && value >= 0x20 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF))
                c = value;
        } else {
            c = NamedEntity(name);
        }
        if (c == 0) {
            out += text[i];
            continue;
        }
        AppendUtf8(out, c);
        i = end;
    }
    return out;
}

} // namespace pellix

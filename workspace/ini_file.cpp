#include "workspace/ini_file.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "links/file_io.h"
#include "links/text_helpers.h"

namespace pellix {

namespace {

bool HasControl(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 && c != '\t')
            return true;
    return false;
}

bool UsableSection(const std::string& name)
{
    return !name.empty() && name == TrimBlanks(name) && !HasControl(name)
           && name.find(']') == std::string::npos;
}

bool UsableKey(const std::string& key)
{
    return !key.empty() && key == TrimBlanks(key) && !HasControl(key) && key.find('=') == std::string::npos
           && key[0] != '[' && key[0] != ';';
}

// The text of an integer within [min, max]: optional sign and decimal digits, or "0x"/"$" and
// hexadecimal digits.
bool ParseInteger(const std::string& raw, std::int64_t min, std::int64_t max, std::int64_t& out)
{
    const std::string text = TrimBlanks(raw);
    if (text.empty())
        return false;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        begin += 2;
        base = 16;
    } else if (text[0] == '$') {
        begin += 1;
        base = 16;
    } else if (text[0] == '+') {
        begin += 1;
    }
    if (begin == end || (*begin == '-' && (base == 16 || text[0] == '+')))
        return false;
    std::int64_t value = 0;
    const auto result = std::from_chars(begin, end, value, base);
    if (result.ec != std::errc() || result.ptr != end || value < min || value > max)
        return false;
    out = value;
    return true;
}

// Blanks around a value and one pair of enclosing quotes are not part of it.
std::string ValueOf(const std::string& text)
{
    std::string value = TrimBlanks(text);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

// The text to write so that ValueOf gives value back.
std::string EncodeValue(std::string value)
{
    for (char& c : value)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    const bool needsQuotes = value != TrimBlanks(value)
                             || (value.size() >= 2 && value.front() == '"' && value.back() == '"');
    return needsQuotes ? "\"" + value + "\"" : value;
}

} // namespace

TIniFile::TIniFile(std::filesystem::path file) : m_file(std::move(file))
{
    if (const std::optional<std::string> content = ReadWholeFile(m_file))
        Parse(*content);
}

TIniFile::TIniFile(std::filesystem::path file, const std::string& content) : m_file(std::move(file))
{
    Parse(content);
}

void TIniFile::Parse(const std::string& content)
{
    m_sections.clear();
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();

        const std::string trimmed = TrimBlanks(line);
        if (!trimmed.empty() && trimmed[0] == '[') {
            TSection section;
            section.hasHeader = true;
            const std::size_t close = trimmed.find(']');
            section.name = TrimBlanks(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            section.header = std::move(line);
            m_sections.push_back(std::move(section));
            continue;
        }
        if (m_sections.empty())
            m_sections.push_back(TSection{}); // lines before the first header
        TLine entry;
        const std::size_t equals = line.find('=');
        if (!trimmed.empty() && trimmed[0] != ';' && equals != std::string::npos) {
            entry.key = TrimBlanks(line.substr(0, equals));
            if (!entry.key.empty()) {
                entry.isEntry = true;
                entry.value = ValueOf(line.substr(equals + 1));
            }
        }
        entry.raw = std::move(line);
        m_sections.back().lines.push_back(std::move(entry));
    }
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& section) const
{
    for (const TSection& s : m_sections)
        if (s.hasHeader && SameText(s.name, section))
            return &s;
    return nullptr;
}

TIniFile::TSection* TIniFile::FindSection(const std::string& section)
{
    for (TSection& s : m_sections)
        if (s.hasHeader && SameText(s.name, section))
            return &s;
    return nullptr;
}

const TIniFile::TLine* TIniFile::FindEntry(const TSection& section, const std::string& key)
{
    for (const TLine& line : section.lines)
        if (line.isEntry && SameText(line.key, key))
            return &line;
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const
{
    const TSection* s = FindSection(section);
    const TLine* line = s ? FindEntry(*s, key) : nullptr;
    return line ? line->value : defaultValue;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const
{
    std::int64_t value = 0;
    const TSection* s = FindSection(section);
    const TLine* line = s ? FindEntry(*s, key) : nullptr;
    if (!line || !ParseInteger(line->value, std::numeric_limits<int>::min(),
                               std::numeric_limits<int>::max(), value))
        return defaultValue;
    return static_cast<int>(value);
}

std::int64_t TIniFile::ReadInt64(const std::string& section, const std::string& key,
                                 std::int64_t defaultValue) const
{
    std::int64_t value = 0;
    const TSection* s = FindSection(section);
    const TLine* line = s ? FindEntry(*s, key) : nullptr;
    if (!line || !ParseInteger(line->value, std::numeric_limits<std::int64_t>::min(),
                               std::numeric_limits<std::int64_t>::max(), value))
        return defaultValue;
    return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const
{
    const TSection* s = FindSection(section);
    const TLine* line = s ? FindEntry(*s, key) : nullptr;
    if (!line)
        return defaultValue;
    const std::string text = TrimBlanks(line->value);
    if (SameText(text, "true"))
        return true;
    if (SameText(text, "false"))
        return false;
    std::int64_t value = 0;
    if (!ParseInteger(text, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max(), value))
        return defaultValue;
    return value != 0;
}

double TIniFile::ReadFloat(const std::string& section, const std::string& key, double defaultValue) const
{
    const TSection* s = FindSection(section);
    const TLine* line = s ? FindEntry(*s, key) : nullptr;
    if (!line)
        return defaultValue;
    std::string text = TrimBlanks(line->value);
    if (!text.empty() && text[0] == '+')
        text.erase(0, 1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value,
                                        std::chars_format::general);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()
        || !std::isfinite(value))
        return defaultValue;
    return value;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    if (!UsableSection(section) || !UsableKey(key))
        return false;
    const std::string encoded = EncodeValue(value);
    TSection* s = FindSection(section);
    if (!s) {
        // Keep a blank line between sections, as people write them.
        if (!m_sections.empty()) {
            const TSection& last = m_sections.back();
            const bool endsBlank = last.lines.empty() ? !last.hasHeader : TrimBlanks(last.lines.back().raw).empty();
            if (!endsBlank)
                m_sections.back().lines.push_back(TLine{});
        }
        TSection fresh;
        fresh.hasHeader = true;
        fresh.name = section;
        fresh.header = "[" + section + "]";
        m_sections.push_back(std::move(fresh));
        s = &m_sections.back();
    }
    for (TLine& line : s->lines)
        if (line.isEntry && SameText(line.key, key)) {
            line.value = ValueOf(encoded);
            line.raw = line.key + "=" + encoded;
            return true;
        }
    // After the last key, or else after the last non-blank line, so trailing blank lines stay
    // between this section and the next.
    std::size_t at = 0;
    for (std::size_t i = 0; i < s->lines.size(); ++i)
        if (s->lines[i].isEntry || !TrimBlanks(s->lines[i].raw).empty())
            at = i + 1;
    TLine line;
    line.isEntry = true;
    line.key = key;
    line.value = ValueOf(encoded);
    line.raw = key + "=" + encoded;
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    return true;
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteInt64(const std::string& section, const std::string& key, std::int64_t value)
{
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::WriteFloat(const std::string& section, const std::string& key, double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return WriteString(section, key, std::string(buffer, result.ptr));
}

bool TIniFile::SectionExists(const std::string& section) const
{
    return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const
{
    const TSection* s = FindSection(section);
    return s && FindEntry(*s, key);
}

std::vector<std::string> TIniFile::ReadSections() const
{
    std::vector<std::string> names;
    for (const TSection& s : m_sections) {
        if (!s.hasHeader)
            continue;
        bool seen = false;
        for (const std::string& n : names)
            seen = seen || SameText(n, s.name);
        if (!seen)
            names.push_back(s.name);
    }
    return names;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const
{
    std::vector<std::string> keys;
    const TSection* s = FindSection(section);
    if (!s)
        return keys;
    for (const TLine& line : s->lines) {
        if (!line.isEntry)
            continue;
        bool seen = false;
        for (const std::string& k : keys)
            seen = seen || SameText(k, line.key);
        if (!seen)
            keys.push_back(line.key);
    }
    return keys;
}

void TIniFile::EraseSection(const std::string& section)
{
    std::erase_if(m_sections, [&](const TSection& s) { return s.hasHeader && SameText(s.name, section); });
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key)
{
    if (TSection* s = FindSection(section))
        std::erase_if(s->lines, [&](const TLine& line) { return line.isEntry && SameText(line.key, key); });
}

std::string TIniFile::Text() const
{
    std::string text;
    for (const TSection& s : m_sections) {
        if (s.hasHeader) {
            text += s.header;
            text += "\r\n";
        }
        for (const TLine& line : s.lines) {
            text += line.raw;
            text += "\r\n";
        }
    }
    return text;
}

bool TIniFile::Save(bool ownerOnly, std::string* error) const
{
    return WriteFileAtomically(m_file, Text(), error, ownerOnly);
}

} // namespace pellix

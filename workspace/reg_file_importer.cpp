#include "workspace/reg_file_importer.h"

#include <optional>
#include <vector>

#include "links/file_io.h"
#include "links/text_helpers.h"
#include "workspace/settings_store.h"

namespace pellix {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Logical lines: CR LF or LF ends, a trailing "\" joins the next line.
std::vector<std::string> LogicalLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    bool continuing = false;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line = continuing ? TrimBlanks(line) : line;
        if (continuing)
            lines.back() += line;
        else
            lines.push_back(line);
        std::string& current = lines.back();
        while (!current.empty() && IsBlank(current.back()))
            current.pop_back();
        continuing = !current.empty() && current.back() == '\\' && current.find('[') != 0;
        if (continuing)
            current.pop_back();
    }
    return lines;
}

// A quoted text at pos; REGEDIT4 escapes only \\ and \", other backslashes stand for themselves.
bool QuotedText(const std::string& line, std::size_t& pos, std::string& out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"')
            return true;
        if (c == '\\' && pos < line.size() && (line[pos] == '\\' || line[pos] == '"')) {
            out += line[pos++];
            continue;
        }
        out += c;
    }
    return false;
}

bool ParseDword(const std::string& digits, std::uint32_t& value)
{
    if (digits.empty() || digits.size() > 8)
        return false;
    value = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
}

bool ParseHexBytes(const std::string& text, std::string& bytes)
{
    bytes.clear();
    std::string digits;
    std::size_t start = 0;
    const std::string trimmed = TrimBlanks(text);
    if (trimmed.empty())
        return true;
    while (start <= trimmed.size()) {
        std::size_t end = trimmed.find(',', start);
        if (end == std::string::npos)
            end = trimmed.size();
        const std::string item = TrimBlanks(trimmed.substr(start, end - start));
        start = end + 1;
        if (item.empty() || item.size() > 2)
            return false;
        int value = 0;
        for (char c : item) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            value = value * 16 + d;
        }
        bytes += static_cast<char>(value);
    }
    return true;
}

// The store's key path for a registry path, when it lies under the current user's root.
std::optional<std::string> UserKey(const std::string& registryPath)
{
    const std::size_t slash = registryPath.find('\\');
    const std::string root = registryPath.substr(0, slash);
    if (!SameText(root, "HKEY_CURRENT_USER") && !SameText(root, "HKCU"))
        return std::nullopt;
    return TSettingsStore::NormaliseKey(slash == std::string::npos ? "" : registryPath.substr(slash));
}

} // namespace

TRegImportResult TRegFileImporter::ImportFile(const std::filesystem::path& file)
{
    const std::optional<std::string> text = ReadWholeFile(file);
    if (!text) {
        TRegImportResult result;
        result.message = "cannot read " + file.string();
        return result;
    }
    return ImportText(*text);
}

TRegImportResult TRegFileImporter::ImportText(const std::string& text)
{
    TRegImportResult result;
    std::string content = text;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
        content.erase(0, 3);
    const std::vector<std::string> lines = LogicalLines(content);

    std::size_t index = 0;
    while (index < lines.size() && TrimBlanks(lines[index]).empty())
        ++index;
    if (index == lines.size() || TrimBlanks(lines[index]) != "REGEDIT4") {
        result.message = "not a REGEDIT4 file";
        return result;
    }
    ++index;

    std::vector<TSettingChange> changes;
    std::optional<std::string> key; // none: values are skipped
    for (; index < lines.size(); ++index) {
        const std::string line = TrimBlanks(lines[index]);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            key.reset();
            if (line.size() < 3 || line.back() != ']') {
                ++result.linesSkipped;
                continue;
            }
            std::string path = line.substr(1, line.size() - 2);
            const bool remove = path[0] == '-';
            if (remove)
                path.erase(0, 1);
            const std::optional<std::string> target = UserKey(path);
            if (!target) {
                ++result.linesSkipped;
                continue;
            }
            TSettingChange change;
            change.op = remove ? TSettingChange::coDeleteKey : TSettingChange::coCreateKey;
            change.key = *target;
            changes.push_back(change);
            if (!remove)
                key = target;
            continue;
        }
        if (!key) {
            ++result.linesSkipped;
            continue;
        }
        std::string name;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!QuotedText(line, pos, name)) {
            ++result.linesSkipped;
            continue;
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=') {
            ++result.linesSkipped;
            continue;
        }
        const std::string data = TrimBlanks(line.substr(pos + 1));
        TSettingChange change;
        change.key = *key;
        change.name = name;
        bool understood = true;
        if (data == "-") {
            change.op = TSettingChange::coDeleteValue;
        } else if (!data.empty() && data[0] == '"') {
            std::size_t at = 0;
            std::string value;
            understood = QuotedText(data, at, value) && at == data.size();
            change.value = TSettingValue::String(value);
        } else if (SameText(data.substr(0, 6), "dword:")) {
            std::uint32_t value = 0;
            understood = ParseDword(TrimBlanks(data.substr(6)), value);
            change.value = TSettingValue::Dword(value);
        } else if (SameText(data.substr(0, 4), "hex:")) {
            std::string bytes;
            understood = ParseHexBytes(data.substr(4), bytes);
            change.value = TSettingValue::Binary(bytes);
        } else {
            understood = false; // hex(n): and other types have no place in this store
        }
        if (!understood) {
            ++result.linesSkipped;
            continue;
        }
        if (change.op == TSettingChange::coSetValue)
            ++result.valuesWritten;
        changes.push_back(std::move(change));
    }

    if (!m_store.ApplyChanges(changes)) {
        result.message = "cannot save the settings: " + m_store.LastError();
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace pellix

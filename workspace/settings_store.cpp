#include "workspace/settings_store.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "links/file_io.h"
#include "links/text_helpers.h"

namespace pellix {

TSettingValue TSettingValue::String(std::string text)
{
    TSettingValue v;
    v.kind = TSettingKind::skString;
    v.bytes = std::move(text);
    return v;
}

TSettingValue TSettingValue::Dword(std::uint32_t value)
{
    TSettingValue v;
    v.kind = TSettingKind::skDword;
    v.dword = value;
    return v;
}

TSettingValue TSettingValue::Double(double value)
{
    TSettingValue v;
    v.kind = TSettingKind::skDouble;
    v.number = value;
    return v;
}

TSettingValue TSettingValue::Binary(std::string data)
{
    TSettingValue v;
    v.kind = TSettingKind::skBinary;
    v.bytes = std::move(data);
    return v;
}

bool TSettingValue::operator==(const TSettingValue& other) const
{
    if (kind != other.kind)
        return false;
    switch (kind) {
    case TSettingKind::skDword:
        return dword == other.dword;
    case TSettingKind::skDouble:
        return number == other.number || (std::isnan(number) && std::isnan(other.number));
    default:
        return bytes == other.bytes;
    }
}

namespace {


// Whether path is a strict descendant of parent ("\A\B" under "\A"); both normalised.
bool IsUnder(const std::string& path, const std::string& parent)
{
    if (parent == "\\")
        return path.size() > 1;
    if (path.size() <= parent.size() + 1 || path[parent.size()] != '\\')
        return false;
    return SameText(path.substr(0, parent.size()), parent);
}

bool UsableKey(const std::string& key)
{
    for (unsigned char c : key)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

const char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char c)
{
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

// The byte written as two hex digits at text[at], or -1 when there are not two.
int HexByteAt(std::string_view text, std::size_t at)
{
    if (at + 2 > text.size())
        return -1;
    const int hi = HexDigit(text[at]);
    const int lo = HexDigit(text[at + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

std::string EscapeText(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                AppendHexByte(out, c);
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

// Reads a quoted text starting at pos (on the opening quote); pos ends after the closing quote.
bool UnescapeText(const std::string& line, std::size_t& pos, std::string& out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size())
            return false;
        const char e = line[pos++];
        switch (e) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case 'x': {
            const int byte = HexByteAt(line, pos);
            if (byte < 0)
                return false;
            out += static_cast<char>(byte);
            pos += 2;
            break;
        }
        default:
            return false;
        }
    }
    return false; // no closing quote: the line was cut
}

std::string DoubleText(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatValue(const TSettingValue& value)
{
    switch (value.kind) {
    case TSettingKind::skString:
        return EscapeText(value.bytes);
    case TSettingKind::skDword: {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(value.dword));
        return buffer;
    }
    case TSettingKind::skDouble:
        return "double:" + DoubleText(value.number) + ";";
    case TSettingKind::skBinary: {
        std::string out = "hex:";
        for (std::size_t i = 0; i < value.bytes.size(); ++i) {
            const auto c = static_cast<unsigned char>(value.bytes[i]);
            if (i > 0)
                out += ',';
            AppendHexByte(out, c);
        }
        return out + ";";
    }
    }
    return {};
}

// Parses the text after "=". Doubles and binary data end in ";" and dwords have exactly eight
// digits, so a value cut short is never taken for a different one.
bool ParseValue(const std::string& line, std::size_t pos, TSettingValue& value)
{
    const std::string_view rest(line.data() + pos, line.size() - pos);
    if (!rest.empty() && rest[0] == '"') {
        std::string text;
        if (!UnescapeText(line, pos, text) || pos != line.size())
            return false;
        value = TSettingValue::String(std::move(text));
        return true;
    }
    if (rest.substr(0, 6) == "dword:") {
        const std::string_view digits = rest.substr(6);
        if (digits.size() != 8)
            return false;
        std::uint32_t n = 0;
        for (char c : digits) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            n = n * 16 + static_cast<std::uint32_t>(d);
        }
        value = TSettingValue::Dword(n);
        return true;
    }
    if (rest.substr(0, 7) == "double:") {
        std::string_view text = rest.substr(7);
        if (text.empty() || text.back() != ';')
            return false;
        text.remove_suffix(1);
        double d = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), d);
        if (result.ec != std::errc() || result.ptr != text.data() + text.size())
            return false;
        value = TSettingValue::Double(d);
        return true;
    }
    if (rest.substr(0, 4) == "hex:") {
        std::string_view text = rest.substr(4);
        if (text.empty() || text.back() != ';')
            return false;
        text.remove_suffix(1);
        std::string bytes;
        std::size_t i = 0;
        while (i < text.size()) {
            const int byte = HexByteAt(text, i);
            if (byte < 0)
                return false;
            bytes += static_cast<char>(byte);
            i += 2;
            if (i < text.size()) {
                if (text[i] != ',')
                    return false;
                ++i;
            }
        }
        value = TSettingValue::Binary(std::move(bytes));
        return true;
    }
    return false;
}

std::string ValueText(const TSettingValue& value)
{
    switch (value.kind) {
    case TSettingKind::skDword:
        return std::to_string(value.dword);
    case TSettingKind::skDouble:
        return DoubleText(value.number);
    default:
        return value.bytes;
    }
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

} // namespace

TSettingsStore::TSettingsStore(std::filesystem::path file)
    : TSettingsStore(std::move(file), [] { return std::chrono::steady_clock::now(); })
{
}

TSettingsStore::TSettingsStore(std::filesystem::path file, TClock clock)
    : m_file(std::move(file)), m_clock(std::move(clock))
{
    std::lock_guard lock(m_mutex);
    RefreshLocked(TRefresh::Now);
}

std::filesystem::path TSettingsStore::DefaultPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (config && config[0] == '/')
        base = config;
    else
        base = std::filesystem::path(HomeFolder()) / ".config";
    return base / "Pellix" / "registry.ini";
}

std::string TSettingsStore::NormaliseKey(const std::string& key)
{
    std::string out = "\\";
    for (char c : key) {
        if (c == '\\' && out.back() == '\\')
            continue; // drop empty components
        out += c;
    }
    while (out.size() > 1 && out.back() == '\\')
        out.pop_back();
    return out;
}

void TSettingsStore::NoteCheckedLocked() const
{
    m_checked = true;
    m_lastCheck = m_clock();
}

void TSettingsStore::RefreshLocked(TRefresh when) const
{
    // Settings are read for every file a task fetches: within the interval the values in memory
    // stand, and a look at the file costs nothing but the clock.
    if (when == TRefresh::Due && m_checked && m_clock() - m_lastCheck < kRecheckInterval)
        return;
    NoteCheckedLocked();
    struct stat st {};
    if (::stat(m_file.c_str(), &st) != 0) {
        // No file (yet, or removed by someone): start from an empty store.
        if (m_haveStamp)
            m_keys.clear();
        m_haveStamp = false;
        return;
    }
    if (m_haveStamp && st.st_dev == m_device && st.st_ino == m_inode && st.st_size == m_size
        && st.st_mtim.tv_sec == m_mtime.tv_sec && st.st_mtim.tv_nsec == m_mtime.tv_nsec)
        return;

    const std::optional<std::string> content = ReadWholeFile(m_file);
    if (!content) {
        m_lastError = "cannot read " + m_file.string();
        return;
    }
    m_haveStamp = true;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_size = st.st_size;
    m_mtime = st.st_mtim;

    m_keys.clear();
    TKey* current = nullptr;
    std::size_t start = 0;
    const std::string& text = *content;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool terminated = end != std::string::npos;
        if (!terminated)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            // A header cut short has no closing bracket; its values are then dropped too.
            current = nullptr;
            if (line.size() >= 2 && line.back() == ']') {
                const std::string path = NormaliseKey(line.substr(1, line.size() - 2));
                current = FindKeyLocked(path);
                if (!current) {
                    m_keys.push_back(TKey{path, {}});
                    current = &m_keys.back();
                }
            }
            continue;
        }
        if (!current)
            continue;
        std::string name;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!UnescapeText(line, pos, name)) {
            continue;
        }
        if (pos >= line.size() || line[pos] != '=')
            continue;
        TSettingValue value;
        if (!ParseValue(line, pos + 1, value))
            continue;
        bool replaced = false;
        for (TEntry& entry : current->entries)
            if (SameText(entry.name, name)) {
                entry.value = value;
                replaced = true;
                break;
            }
        if (!replaced)
            current->entries.push_back(TEntry{std::move(name), std::move(value)});
    }
}

bool TSettingsStore::SaveLocked()
{
    std::string text = "; Pellix settings. Written by the program; each line is one value.\n";
    for (const TKey& key : m_keys) {
        text += '\n';
        text += '[';
        text += key.path;
        text += "]\n";
        for (const TEntry& entry : key.entries) {
            text += entry.name.empty() ? std::string("@") : EscapeText(entry.name);
            text += '=';
            text += FormatValue(entry.value);
            text += '\n';
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    std::string error;
    if (!WriteFileAtomically(m_file, text, &error)) {
        m_lastError = error;
        return false;
    }
    struct stat st {};
    if (::stat(m_file.c_str(), &st) == 0) {
        m_haveStamp = true;
        m_device = st.st_dev;
        m_inode = st.st_ino;
        m_size = st.st_size;
        m_mtime = st.st_mtim;
    }
    NoteCheckedLocked();
    return true;
}

TSettingsStore::TKey* TSettingsStore::FindKeyLocked(const std::string& normalisedKey) const
{
    for (TKey& key : m_keys)
        if (SameText(key.path, normalisedKey))
            return &key;
    return nullptr;
}

TSettingsStore::TKey& TSettingsStore::CreateKeyLocked(const std::string& normalisedKey)
{
    if (TKey* key = FindKeyLocked(normalisedKey))
        return *key;
    m_keys.push_back(TKey{normalisedKey, {}});
    return m_keys.back();
}

const TSettingValue* TSettingsStore::FindValueLocked(const std::string& key,
                                                     const std::string& name) const
{
    RefreshLocked();
    const TKey* k = FindKeyLocked(NormaliseKey(key));
    if (!k)
        return nullptr;
    for (const TEntry& entry : k->entries)
        if (SameText(entry.name, name))
            return &entry.value;
    return nullptr;
}

void TSettingsStore::SetValueLocked(const std::string& key, const std::string& name,
                                    const TSettingValue& value)
{
    TKey& k = CreateKeyLocked(NormaliseKey(key));
    for (TEntry& entry : k.entries)
        if (SameText(entry.name, name)) {
            entry.value = value;
            return;
        }
    k.entries.push_back(TEntry{name, value});
}

bool TSettingsStore::DeleteValueLocked(const std::string& key, const std::string& name)
{
    TKey* k = FindKeyLocked(NormaliseKey(key));
    if (!k)
        return false;
    for (auto it = k->entries.begin(); it != k->entries.end(); ++it)
        if (SameText(it->name, name)) {
            k->entries.erase(it);
            return true;
        }
    return false;
}

bool TSettingsStore::DeleteKeyLocked(const std::string& key)
{
    const std::string path = NormaliseKey(key);
    const auto before = m_keys.size();
    std::erase_if(m_keys, [&](const TKey& k) { return SameText(k.path, path) || IsUnder(k.path, path); });
    return m_keys.size() != before;
}

int TSettingsStore::ReadSetting(const std::string& key, const std::string& name, int defaultValue) const
{
    std::lock_guard lock(m_mutex);
    const TSettingValue* v = FindValueLocked(key, name);
    if (!v || v->kind != TSettingKind::skDword)
        return defaultValue;
    return static_cast<int>(v->dword);
}

bool TSettingsStore::ReadSetting(const std::string& key, const std::string& name, bool defaultValue) const
{
    std::lock_guard lock(m_mutex);
    const TSettingValue* v = FindValueLocked(key, name);
    if (!v || v->kind != TSettingKind::skDword)
        return defaultValue;
    return v->dword != 0;
}

double TSettingsStore::ReadSetting(const std::string& key, const std::string& name,
                                   double defaultValue) const
{
    std::lock_guard lock(m_mutex);
    const TSettingValue* v = FindValueLocked(key, name);
    if (!v || v->kind != TSettingKind::skDouble)
        return defaultValue;
    return v->number;
}

std::string TSettingsStore::ReadSetting(const std::string& key, const std::string& name,
                                        const std::string& defaultValue) const
{
    std::lock_guard lock(m_mutex);
    const TSettingValue* v = FindValueLocked(key, name);
    if (!v || v->kind != TSettingKind::skString)
        return defaultValue;
    return v->bytes;
}

std::string TSettingsStore::ReadSetting(const std::string& key, const std::string& name,
                                        const char* defaultValue) const
{
    return ReadSetting(key, name, std::string(defaultValue ? defaultValue : ""));
}

bool TSettingsStore::ReadBinaryBool(const std::string& key, const std::string& name,
                                    bool defaultValue) const
{
    std::lock_guard lock(m_mutex);
    const TSettingValue* v = FindValueLocked(key, name);
    if (!v)
        return defaultValue;
    if (v->kind == TSettingKind::skDword)
        return v->dword != 0;
    if (v->kind != TSettingKind::skBinary || v->bytes.empty())
        return defaultValue;
    for (char c : v->bytes)
        if (c != 0)
            return true;
    return false;
}

bool TSettingsStore::ReadValue(const std::string& key, const std::string& name,
                               TSettingValue& value) const
{
    std::lock_guard lock(m_mutex);
    const TSettingValue* v = FindValueLocked(key, name);
    if (!v)
        return false;
    value = *v;
    return true;
}

bool TSettingsStore::WriteSetting(const std::string& key, const std::string& name, int value)
{
    return WriteValue(key, name, TSettingValue::Dword(static_cast<std::uint32_t>(value)));
}

bool TSettingsStore::WriteSetting(const std::string& key, const std::string& name, bool value)
{
    return WriteValue(key, name, TSettingValue::Dword(value ? 1 : 0));
}

bool TSettingsStore::WriteSetting(const std::string& key, const std::string& name, double value)
{
    return WriteValue(key, name, TSettingValue::Double(value));
}

bool TSettingsStore::WriteSetting(const std::string& key, const std::string& name,
                                  const std::string& value)
{
    return WriteValue(key, name, TSettingValue::String(value));
}

bool TSettingsStore::WriteSetting(const std::string& key, const std::string& name, const char* value)
{
    return WriteValue(key, name, TSettingValue::String(value ? value : ""));
}

bool TSettingsStore::WriteValue(const std::string& key, const std::string& name,
                                const TSettingValue& value)
{
    if (!UsableKey(key))
        return false;
    std::lock_guard lock(m_mutex);
    RefreshLocked(TRefresh::Now);
    SetValueLocked(key, name, value);
    return SaveLocked();
}

bool TSettingsStore::DeleteSetting(const std::string& key, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    RefreshLocked(TRefresh::Now);
    if (!DeleteValueLocked(key, name))
        return false;
    return SaveLocked();
}

bool TSettingsStore::DeleteKey(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    RefreshLocked(TRefresh::Now);
    if (!DeleteKeyLocked(key))
        return false;
    return SaveLocked();
}

bool TSettingsStore::ApplyChanges(const std::vector<TSettingChange>& changes)
{
    std::lock_guard lock(m_mutex);
    RefreshLocked(TRefresh::Now);
    for (const TSettingChange& change : changes) {
        if (!UsableKey(change.key))
            continue;
        switch (change.op) {
        case TSettingChange::coSetValue:
            SetValueLocked(change.key, change.name, change.value);
            break;
        case TSettingChange::coDeleteValue:
            DeleteValueLocked(change.key, change.name);
            break;
        case TSettingChange::coCreateKey:
            CreateKeyLocked(NormaliseKey(change.key));
            break;
        case TSettingChange::coDeleteKey:
            DeleteKeyLocked(change.key);
            break;
        }
    }
    return SaveLocked();
}

std::vector<std::string> TSettingsStore::SettingNames(const std::string& key) const
{
    std::lock_guard lock(m_mutex);
    RefreshLocked();
    std::vector<std::string> names;
    if (const TKey* k = FindKeyLocked(NormaliseKey(key)))
        for (const TEntry& entry : k->entries)
            names.push_back(entry.name);
    return names;
}

std::vector<std::string> TSettingsStore::SettingValues(const std::string& key) const
{
    std::lock_guard lock(m_mutex);
    RefreshLocked();
    std::vector<std::string> values;
    if (const TKey* k = FindKeyLocked(NormaliseKey(key)))
        for (const TEntry& entry : k->entries)
            values.push_back(ValueText(entry.value));
    return values;
}

bool TSettingsStore::ValueExists(const std::string& key, const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    return FindValueLocked(key, name) != nullptr;
}

bool TSettingsStore::KeyExists(const std::string& key) const
{
    std::lock_guard lock(m_mutex);
    RefreshLocked();
    const std::string path = NormaliseKey(key);
    for (const TKey& k : m_keys)
        if (SameText(k.path, path) || IsUnder(k.path, path))
            return true;
    return false;
}

std::vector<std::string> TSettingsStore::SubKeyNames(const std::string& key) const
{
    std::lock_guard lock(m_mutex);
    RefreshLocked();
    const std::string path = NormaliseKey(key);
    const std::size_t skip = path == "\\" ? 1 : path.size() + 1;
    std::vector<std::string> names;
    for (const TKey& k : m_keys) {
        if (!IsUnder(k.path, path))
            continue;
        const std::string child = k.path.substr(skip, k.path.find('\\', skip) - skip);
        bool seen = false;
        for (const std::string& n : names)
            seen = seen || SameText(n, child);
        if (!seen)
            names.push_back(child);
    }
    return names;
}

std::string TSettingsStore::LastError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

} // namespace pellix

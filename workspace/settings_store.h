// TSettingsStore: the per-user settings store ("registry"), one typed INI-style file on disk.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace pellix {

enum class TSettingKind {
    skString, // bytes
    skDword,  // 32-bit integer; booleans are 0/1
    skDouble, // floating point
    skBinary, // raw bytes (REGEDIT "hex:")
};

// One typed value as the store holds it.
struct TSettingValue {
    TSettingKind kind = TSettingKind::skString;
    std::uint32_t dword = 0;
    double number = 0.0;
    std::string bytes; // string or binary data

    static TSettingValue String(std::string text);
    static TSettingValue Dword(std::uint32_t value);
    static TSettingValue Double(double value);
    static TSettingValue Binary(std::string data);
    bool operator==(const TSettingValue& other) const;
};

// One edit for ApplyChanges, which saves a whole batch with a single file write.
struct TSettingChange {
    enum TOp { coSetValue, coDeleteValue, coCreateKey, coDeleteKey };
    TOp op = coSetValue;
    std::string key;
    std::string name;
    TSettingValue value;
};

// Key paths look like "\Software\Brackwell\Pellix\Settings" (a missing leading "\" is added,
// trailing ones dropped); key paths and value names compare without regard to ASCII case, as
// the registry does, and keep the case they were first written with. The empty value name is
// the key's default value. Every write is saved at once and atomically, and is seen by this store's
// reads at once. Another process's writes (the desktop program and the command line share the
// file) are seen too: a read looks at the file's identity at most once per kRecheckInterval and
// reads it again when it was replaced, so reads of an unchanged file cost no system call; a write
// always looks first, so it never saves over values it has not seen. All operations are
// thread-safe.
//
// File format (one section per key, values in stored order):
//   [\Software\Brackwell\Pellix\Settings]
//   "Skin"="Default"            string; \\ \" \r \n \t \0 and \xHH escape other bytes
//   "Connections"=dword:0000000a  always eight digits
//   "Ratio"=double:0.25;        doubles and binary data end in ";" so a cut one is noticed
//   "Flag"=hex:01,00;
//   @="default value"
// A file cut short at any byte loads what it still holds completely; a torn last line is dropped.
class TSettingsStore final {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kRecheckInterval{200};

    explicit TSettingsStore(std::filesystem::path file);
    // clock stands in for the steady clock (tests step it).
    TSettingsStore(std::filesystem::path file, TClock clock);
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    // $XDG_CONFIG_HOME/Pellix/registry.ini, else ~/.config/Pellix/registry.ini.
    static std::filesystem::path DefaultPath();

    const std::filesystem::path& Path() const { return m_file; }

    // The stored value read as the default's type; the default when the key or value is missing
    // or holds another type.
    int ReadSetting(const std::string& key, const std::string& name, int defaultValue) const;
    bool ReadSetting(const std::string& key, const std::string& name, bool defaultValue) const;
    double ReadSetting(const std::string& key, const std::string& name, double defaultValue) const;
    std::string ReadSetting(const std::string& key, const std::string& name,
                            const std::string& defaultValue) const;
    // Without this overload a string literal default would pick the bool reader.
    std::string ReadSetting(const std::string& key, const std::string& name,
                            const char* defaultValue) const;
    // A value stored as raw bytes read as a boolean (any non-zero byte); a dword is accepted too.
    bool ReadBinaryBool(const std::string& key, const std::string& name, bool defaultValue) const;
    // The raw typed value, when present.
    bool ReadValue(const std::string& key, const std::string& name, TSettingValue& value) const;

    // Creates the key when missing. False when the file could not be written (the value is still
    // held in memory for this process) or the key path is unusable (control characters).
    bool WriteSetting(const std::string& key, const std::string& name, int value);
    bool WriteSetting(const std::string& key, const std::string& name, bool value);
    bool WriteSetting(const std::string& key, const std::string& name, double value);
    bool WriteSetting(const std::string& key, const std::string& name, const std::string& value);
    bool WriteSetting(const std::string& key, const std::string& name, const char* value);
    bool WriteValue(const std::string& key, const std::string& name, const TSettingValue& value);

    // Removes one value; true when it was there and the store was saved.
    bool DeleteSetting(const std::string& key, const std::string& name);
    // Removes the key, its values and all its sub-keys; true when something was removed.
    bool DeleteKey(const std::string& key);
    // Applies a batch of edits and saves once. False when the file could not be written.
    bool ApplyChanges(const std::vector<TSettingChange>& changes);

    // Value names of a key in stored order, and in the same order their data as text (strings as
    // they are, dwords in decimal, doubles in shortest form, binary data as its bytes).
    std::vector<std::string> SettingNames(const std::string& key) const;
    std::vector<std::string> SettingValues(const std::string& key) const;
    bool ValueExists(const std::string& key, const std::string& name) const;
    // A key exists when it was created or when a sub-key of it exists.
    bool KeyExists(const std::string& key) const;
    // Names (last path component) of the direct sub-keys, in stored order.
    std::vector<std::string> SubKeyNames(const std::string& key) const;

    // The last save or load failure, for diagnostics.
    std::string LastError() const;

    // The key path in its canonical form ("\A\B"); used by the importer and tests.
    static std::string NormaliseKey(const std::string& key);

private:
    struct TEntry {
        std::string name;
        TSettingValue value;
    };
    struct TKey {
        std::string path;
        std::vector<TEntry> entries;
    };

    // Due: only when kRecheckInterval has passed since the last look at the file.
    enum class TRefresh { Due, Now };
    void RefreshLocked(TRefresh when = TRefresh::Due) const;
    void NoteCheckedLocked() const;
    bool SaveLocked();
    TKey* FindKeyLocked(const std::string& normalisedKey) const;
    TKey& CreateKeyLocked(const std::string& normalisedKey);
    const TSettingValue* FindValueLocked(const std::string& key, const std::string& name) const;
    void SetValueLocked(const std::string& key, const std::string& name, const TSettingValue& value);
    bool DeleteValueLocked(const std::string& key, const std::string& name);
    bool DeleteKeyLocked(const std::string& key);

    std::filesystem::path m_file;
    TClock m_clock;
    mutable std::mutex m_mutex;
    mutable std::vector<TKey> m_keys;
    mutable std::string m_lastError;
    // Identity of the file as last read or written, to notice another process's writes.
    mutable bool m_haveStamp = false;
    mutable dev_t m_device = 0;
    mutable ino_t m_inode = 0;
    mutable off_t m_size = 0;
    mutable std::timespec m_mtime{};
    mutable bool m_checked = false;
    mutable std::chrono::steady_clock::time_point m_lastCheck{};
};

// One value of the store, described once: its key path, its value name and what a reader gets
// when it is missing. T is how it is stored, as the ReadSetting and WriteSetting overloads do it:
// int and bool as dwords (a bool as 0 or 1), double as a double, std::string as a string.
template <typename T>
struct TSetting {
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, bool> || std::is_same_v<T, double>
                      || std::is_same_v<T, std::string>,
                  "the store holds int, bool, double and string settings");
    // A string default is a literal, so that settings can be constants.
    using TDefault = std::conditional_t<std::is_same_v<T, std::string>, const char*, T>;

    const char* key;
    const char* name;
    TDefault defaultValue;

    T Read(const TSettingsStore& store) const { return store.ReadSetting(key, name, defaultValue); }
    // For a reader with a default of its own (the zip wizard's, a task's current value).
    T Read(const TSettingsStore& store, const T& fallback) const
    {
        return store.ReadSetting(key, name, fallback);
    }
    bool Write(TSettingsStore& store, const T& value) const { return store.WriteSetting(key, name, value); }
};

} // namespace pellix

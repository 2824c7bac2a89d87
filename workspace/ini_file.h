// TIniFile: a Windows-style INI file (task and profile files) that keeps the file's layout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pellix {

// The whole file is held in memory; reads and writes work on that copy and Save() writes it back
// atomically with CR LF line ends. Sections and keys are looked up without regard to ASCII case;
// a written key keeps its place, a new key is appended after the last key of its section, a new
// section is appended at the end; lines the reader does not understand (comments, stray text)
// and all other sections are written back as they were read.
//
// Values are read as Windows does: blanks around key and value are dropped and one pair of
// enclosing double quotes is removed. A written value that would not read back unchanged that
// way (leading or trailing blanks, enclosing quotes) is written inside double quotes. Line breaks
// and NUL bytes in a written value become blanks, so a value can never inject a line.
class TIniFile final {
public:
    // Loads the file; a missing or unreadable file starts empty.
    explicit TIniFile(std::filesystem::path file);
    // An in-memory file with the given content (Save() still writes to file).
    TIniFile(std::filesystem::path file, const std::string& content);

    const std::filesystem::path& FileName() const { return m_file; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Decimal (optional sign) or 0x/$ hexadecimal within 32 bits; anything else reads as the default.
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
    std::int64_t ReadInt64(const std::string& section, const std::string& key,
                           std::int64_t defaultValue) const;
    // An integer value: non-zero is true; a non-numeric value reads as the default.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    // A finite decimal number ("." as decimal point); anything else reads as the default.
    double ReadFloat(const std::string& section, const std::string& key, double defaultValue) const;

    // False only for an unusable section or key name (empty, control characters, "=" in a key,
    // "]" in a section); nothing is written then.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);
    bool WriteInt64(const std::string& section, const std::string& key, std::int64_t value);
    bool WriteBool(const std::string& section, const std::string& key, bool value); // "1" / "0"
    // Shortest text that reads back as the same double.
    bool WriteFloat(const std::string& section, const std::string& key, double value);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // Section names in file order.
    std::vector<std::string> ReadSections() const;
    // Key names of a section in file order.
    std::vector<std::string> ReadSection(const std::string& section) const;
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& key);

    // The file's content as Save() writes it.
    std::string Text() const;
    // Writes the file atomically; ownerOnly creates it with mode 0600 (files holding passwords).
    bool Save(bool ownerOnly = false, std::string* error = nullptr) const;

private:
    struct TLine {
        bool isEntry = false;
        std::string key;   // entries: the key as written (blanks trimmed)
        std::string value; // entries: the value as read (trimmed, quotes removed)
        std::string raw;   // the line as it stands in the file, without its line end
    };
    struct TSection {
        bool hasHeader = false;
        std::string name;   // trimmed name between the brackets
        std::string header; // the header line as read
        std::vector<TLine> lines;
    };

    void Parse(const std::string& content);
    const TSection* FindSection(const std::string& section) const;
    TSection* FindSection(const std::string& section);
    static const TLine* FindEntry(const TSection& section, const std::string& key);

    std::filesystem::path m_file;
    std::vector<TSection> m_sections;
};

} // namespace pellix

// TRegFileImporter: imports a REGEDIT4 text file into the settings store.
#pragma once

#include <filesystem>
#include <string>

namespace pellix {

class TSettingsStore;

struct TRegImportResult {
    bool ok = false;          // the file was read, had the header and the store was saved
    int valuesWritten = 0;
    int linesSkipped = 0;     // lines that were not understood or name another root
    std::string message;      // why ok is false
};

// Understands the "REGEDIT4" header, [HKEY_CURRENT_USER\...] sections (also "HKCU"), [-...] to
// delete a key, "name"="text" with \" and \\ escapes, @= for the default value, dword:, hex:,
// "name"=- to delete a value, ";" comments and lines continued with a trailing "\". Sections of
// other roots and lines it does not understand are skipped. All values of a file are saved to the
// store with one write.
class TRegFileImporter final {
public:
    explicit TRegFileImporter(TSettingsStore& store) : m_store(store) {}

    TRegImportResult ImportFile(const std::filesystem::path& file);
    TRegImportResult ImportText(const std::string& text);

private:
    TSettingsStore& m_store;
};

} // namespace pellix

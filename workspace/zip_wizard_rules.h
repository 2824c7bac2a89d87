// Zip wizard rules: the file name check, the add actions, the file list and the settings the
// wizard shows and stores.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "workspace/zip_wizard_choice.h"

namespace pellix {

class TPXApp;

inline constexpr const char* kZipWizardCaption = "File Zip Wizard";
inline constexpr const char* kInvalidZipFileNameText =
    "A valid Zip filename is required.\nHint:  Pellix requires the full path and filename.";

// The three actions' radio buttons: which are enabled and which is checked.
struct TZipWizardActions {
    std::array<bool, 3> enabled{true, true, true};
    int checked = kZipAddReplace;
};

// A new Zip can only be added to; an existing one takes all three actions.
TZipWizardActions ZipWizardActions(bool openExisting, int action);

// The Zip file name the field holds, made usable (".zip" added when there is no extension), or
// nothing when it lacks an absolute folder, a file name, or a name besides the extension.
std::optional<std::string> CheckZipFileName(const std::string& text);

// Whether the wizard opens the named file or creates it: a file that exists is opened unless the
// user chose to replace that very file; one that does not exist is created.
bool ZipWizardOpensExisting(bool fileExists, bool replaceConfirmed);

// Adds files to the wizard's list, which stays sorted without duplicates; trailing "/" on folders
// are dropped, so a folder added twice is one row.
void AddZipWizardFiles(std::vector<std::string>& list, const std::vector<std::string>& files);

// A row of the "Add Files:" list. A folder has an empty file name and its full path as path.
struct TZipWizardRow {
    std::string fileName;
    std::string path;
};
TZipWizardRow ZipWizardRow(const std::string& file, bool isFolder);

// "File Zip Wizard", or with dropped files "File Zip Wizard - 2 files dropped.".
std::string ZipWizardCaption(std::size_t droppedCount);

// The entry a file gets: its full path without the leading "/" when path names are saved, else
// its file name.
std::string ZipWizardEntryName(const std::string& file, bool usePaths);

// What the wizard shows when it opens.
struct TZipWizardDefaults {
    int action = kZipAddReplace;
    bool usePaths = false;
    int compression = 0;
    std::string dialogFolder;  // first folder of both file dialogs; empty: the current folder
    std::string fileName;      // the field's text
};
// presetZip: the caller's Zip file, if any; currentFolder: the process's current folder.
TZipWizardDefaults ReadZipWizardDefaults(const TPXApp& app, const std::string& presetZip,
                                         const std::string& currentFolder);

// Finish: "Compression", "Use Paths" and "Action"; with "Last Zip Folder" on, also the chosen
// Zip's folder as "Zip Folder", so the next wizard starts there.
void StoreZipWizardChoice(TPXApp& app, const TZipWizardChoice& choice);

} // namespace pellix

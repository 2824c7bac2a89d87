// TZipWizardPreset and TZipWizardChoice: what the zip wizard is opened with and what it hands back.
#pragma once

#include <string>
#include <vector>

#include "workspace/zip_engine.h"

namespace pellix {

struct TZipWizardPreset {
    std::string zipPath;                    // the selected Zip file (Add), empty for New File Zip
    bool openExisting = false;              // zipPath names an existing Zip to add to
    std::vector<std::string> droppedFiles;  // files dropped onto the program, absolute paths
};

struct TZipWizardChoice {
    std::string zipPath;                // absolute, ends in an extension (".zip" added when missing)
    bool openExisting = false;          // open that Zip (true) or create it empty (false)
    // The user confirmed replacing the file of that name in the "New Zip File" dialog; it is
    // deleted when the choice is carried out, not before, so a cancelled wizard loses nothing.
    bool replaceExisting = false;
    TZipAddMode action = kZipAddReplace;
    std::vector<std::string> files;     // sorted, no duplicates; folders have no trailing "/"
    int compression = 0;                // 0 to 9
    bool usePaths = false;
    bool recurse = false;
};

} // namespace pellix

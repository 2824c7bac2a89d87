// Unzip dialog rules: what the dialog proposes, when it can be confirmed, what it stores, and how
// its "Overwrite existing files" choice and the replace prompt's answers reach the engine.
#pragma once

#include <string>

#include "workspace/unzip_choice.h"
#include "workspace/zip_engine.h"

namespace pellix {

class TPXApp;

inline constexpr const char* kUnzipCaption = "Unzip";

// The dialog's controls when it opens.
struct TUnzipDefaults {
    std::string folder;
    bool allFiles = true;
    bool usePaths = false;
    bool overwrite = false;
};
TUnzipDefaults ReadUnzipDefaults(const TPXApp& app, bool allFiles);

// "&Unzip" is enabled only while the field holds a folder name (blanks alone are none).
bool CanUnzip(const std::string& field);

// "&Unzip": both options; with "Last Unzip Folder" on, the folder as "Unzip Folder".
void StoreUnzipChoice(TPXApp& app, const TUnzipChoice& choice);

// Overwriting on replaces every file; off, each existing file is asked about.
TZipOverwrite UnzipOverwriteMode(bool overwrite);

// The replace prompt's text and what its buttons (Yes, No, Cancel, All) tell the engine.
enum class TReplaceAnswer { Yes, No, Cancel, All };
std::string ReplacePromptText(const std::string& fileName, const std::string& name);
TZipReplaceAction ReplaceActionOf(TReplaceAnswer answer);

} // namespace pellix

// Carrying out the zip wizard's and the unzip dialog's choices on the zip manager's archives, with
// progress; archive.Engine().Abort() from any thread cancels the running one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workspace/unzip_choice.h"
#include "workspace/zip_archive.h"
#include "workspace/zip_wizard_choice.h"

namespace pellix {

// text: the entry being handled; done of total entries (total 0 while unknown).
using TZipJobProgress = std::function<void(const std::string& text, std::int64_t done, std::int64_t total)>;

struct TZipWizardJobResult {
    TZipObj* zip = nullptr;  // the Zip in archive, null when it could not be opened or created
    bool opened = false;     // an existing Zip was opened (and listed, unless already open)
    TZipOpenResult open;     // the listing, when opened
    TZipOutcome outcome;     // the add; its view holds what the user is told
};

// Opens the chosen Zip in archive, or creates it (a file of that name is deleted first only when
// the choice says the user confirmed replacing it; otherwise it is opened and added to), then adds
// the choice's files with its action, paths, recursion and compression. Runs on the calling
// thread; nothing else may use archive meanwhile.
TZipWizardJobResult PerformZipWizardChoice(TZipArchive& archive, const TZipWizardChoice& choice,
                                           const TZipJobProgress& progress = {});

// Extracts zip's entries into the choice's folder: every entry ("All Files") or those matching
// selected (entry paths or "folder/*.*"). Names that are absolute or climb out of the folder are
// refused and listed in the outcome's message. When overwriting is off, archive.OnReplace is
// asked about each existing file.
TZipOutcome PerformUnzipChoice(TZipArchive& archive, TZipObj& zip, const TUnzipChoice& choice,
                               const std::vector<std::string>& selected, const TZipJobProgress& progress = {});

// The files an add of these paths takes: folders count their files when recursing.
std::int64_t CountFilesToAdd(const std::vector<std::string>& files, bool recurse);

} // namespace pellix

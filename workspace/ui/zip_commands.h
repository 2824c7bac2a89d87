// TZipDialogCommands: the zip manager's "File Zip" and "Unzip" commands from dialog to result: the zip
// wizard or the unzip dialog, the choice carried out with progress and Cancel, the result shown.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

#include "tasks/ui/message_box.h"
#include "workspace/zip_choice_jobs.h"

namespace pellix {

class TPXApp;

class TZipDialogCommands final {
public:
    // The wizard preset as given; on OK the Zip is opened or created in archive and the files are
    // added. Returns what was done (zip null when the wizard was cancelled or the Zip could not be
    // opened; the message has been shown).
    static TZipWizardJobResult FileZip(QWidget* parent, TPXApp& app, TZipArchive& archive,
                                       const TZipWizardPreset& preset, const TMessageHandler& messages = {});
    // The unzip dialog, then the extraction of zip (every entry, or those matching selected).
    // False when the dialog was cancelled.
    static bool Unzip(QWidget* parent, TPXApp& app, TZipArchive& archive, TZipObj& zip, bool allFiles,
                      const std::vector<std::string>& selected, const TMessageHandler& messages = {});

    // The result table's message for outcome, if it has one.
    static void ShowOutcome(QWidget* parent, const TZipOutcome& outcome, const TMessageHandler& messages);
};

} // namespace pellix

#include "workspace/ui/zip_commands.h"

#include "workspace/ui/unzip_dialog.h"
#include "workspace/ui/zip_job_dialog.h"
#include "workspace/ui/zip_wizard.h"

namespace pellix {

void TZipDialogCommands::ShowOutcome(QWidget* parent, const TZipOutcome& outcome, const TMessageHandler& messages)
{
    if (outcome.view.message.empty() || outcome.view.kind == TZipMessageKind::None)
        return;
    const QMessageBox::Icon icon =
        outcome.view.kind == TZipMessageKind::Error ? QMessageBox::Critical : QMessageBox::Information;
    ShowMessage(messages, parent, icon, QString::fromStdString(outcome.view.message));
}

TZipWizardJobResult TZipDialogCommands::FileZip(QWidget* parent, TPXApp& app, TZipArchive& archive,
                                          const TZipWizardPreset& preset, const TMessageHandler& messages)
{
    const std::optional<TZipWizardChoice> choice = TZipWizard::Run(parent, app, preset);
    if (!choice)
        return {};
    TZipWizardJobResult result;
    TZipJobDialog::Run(
        parent, archive, "Adding files to " + QString::fromStdString(choice->zipPath) + "...",
        [&](const TZipJobProgress& progress) { result = PerformZipWizardChoice(archive, *choice, progress); },
        messages);
    ShowOutcome(parent, result.outcome, messages);
    return result;
}

bool TZipDialogCommands::Unzip(QWidget* parent, TPXApp& app, TZipArchive& archive, TZipObj& zip, bool allFiles,
                         const std::vector<std::string>& selected, const TMessageHandler& messages)
{
    const std::optional<TUnzipChoice> choice = TUnzipDialog::Run(parent, app, allFiles);
    if (!choice)
        return false;
    TZipOutcome outcome;
    TZipJobDialog::Run(
        parent, archive, "Unzipping to " + QString::fromStdString(choice->folder) + "...",
        [&](const TZipJobProgress& progress) { outcome = PerformUnzipChoice(archive, zip, *choice, selected, progress); },
        messages);
    ShowOutcome(parent, outcome, messages);
    return true;
}

} // namespace pellix

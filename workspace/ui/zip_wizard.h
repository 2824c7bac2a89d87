// TZipWizard: the "File Zip Wizard": which Zip file, what to add to it and how.
#pragma once

#include <QWidget>

#include <optional>

#include "workspace/zip_wizard_choice.h"

namespace pellix {

class TPXApp;

class TZipWizard final {
public:
    // Modal; nothing when the user cancelled. Reads and writes the wizard's settings in app.
    static std::optional<TZipWizardChoice> Run(QWidget* parent, TPXApp& app, const TZipWizardPreset& preset);
};

} // namespace pellix

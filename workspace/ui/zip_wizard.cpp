#include "workspace/ui/zip_wizard.h"

namespace pellix {

// Stand-in until the wizard's pages exist.
std::optional<TZipWizardChoice> TZipWizard::Run(QWidget*, TPXApp&, const TZipWizardPreset&) { return std::nullopt; }

} // namespace pellix

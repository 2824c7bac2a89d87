#include "workspace/ui/unzip_dialog.h"

namespace pellix {

// Stand-in until the dialog exists.
std::optional<TUnzipChoice> TUnzipDialog::Run(QWidget*, TPXApp&, bool) { return std::nullopt; }

} // namespace pellix

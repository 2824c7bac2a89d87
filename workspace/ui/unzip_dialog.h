// TUnzipDialog: the "Unzip" dialog: destination folder, which files and the two options.
#pragma once

#include <QWidget>

#include <optional>

#include "workspace/unzip_choice.h"

namespace pellix {

class TPXApp;

class TUnzipDialog final {
public:
    // Modal; allFiles presets "All Files" (a root is selected) or "Selected Files". Nothing when
    // the user cancelled. Reads and writes the dialog's settings in app.
    static std::optional<TUnzipChoice> Run(QWidget* parent, TPXApp& app, bool allFiles);
};

} // namespace pellix

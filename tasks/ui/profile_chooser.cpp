#include "tasks/ui/profile_chooser.h"

#include "workspace/app_settings.h"

namespace pellix {

TProfileChooser::TProfileChooser(TPXApp& app, const QString&, QWidget* parent) : QDialog(parent), m_app(app) {
    setWindowTitle("Auto-Pellix");
}

TProfileChooser::~TProfileChooser() = default;

} // namespace pellix

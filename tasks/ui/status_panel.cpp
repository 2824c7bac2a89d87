#include "tasks/ui/status_panel.h"

#include "workspace/session.h"

namespace pellix {

TStatusPanel::TStatusPanel(TSession& session, QWidget* parent) : QWidget(parent), m_session(session) {}

TStatusPanel::~TStatusPanel() = default;

void TStatusPanel::ApplySkin() {}

} // namespace pellix

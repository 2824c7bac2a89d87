#include "tasks/ui/connections_view.h"

#include "tasks/ui/status_panel.h"
#include "workspace/session.h"

namespace pellix {

TConnectionsView::TConnectionsView(TSession& session, TStatusPanel& statusPanel, QWidget* parent)
    : QWidget(parent), m_session(session), m_statusPanel(statusPanel) {}

TConnectionsView::~TConnectionsView() = default;

void TConnectionsView::SetConnections(int) {}

void TConnectionsView::SetPriority(int) {}

} // namespace pellix

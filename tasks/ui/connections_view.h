// TConnectionsView: the Connections view: one row per connection slot with its state and bytes,
// and the priority and connections sliders that act on the run.
#pragma once

#include <QWidget>

namespace pellix {

class TSession;
class TStatusPanel;

class TConnectionsView final : public QWidget {
    Q_OBJECT
public:
    TConnectionsView(TSession& session, TStatusPanel& statusPanel, QWidget* parent = nullptr);
    ~TConnectionsView() override;

    // The connections slider and the slots follow n (the stored "Connections" at activation).
    void SetConnections(int n);
    // The priority slider follows the stored "Priority".
    void SetPriority(int priority);

private:
    TSession& m_session;
    TStatusPanel& m_statusPanel;
};

} // namespace pellix

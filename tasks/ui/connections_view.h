// TConnectionsView: the Connections view: one row per connection slot with its state and bytes,
// and the priority and connections sliders that act on the run.
#pragma once

#include <QWidget>

class QLabel;
class QSlider;
class QTimer;
class QTreeView;

namespace pellix {

class TSession;
class TSlotTableModel;
class TStatusPanel;

// Rows are read from the slot list on a timer while the view is shown, never once per change.
class TConnectionsView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 250;

    TConnectionsView(TSession& session, TStatusPanel& statusPanel, QWidget* parent = nullptr);
    ~TConnectionsView() override;

    // The connections slider and the slots follow n (the stored "Connections" at activation).
    void SetConnections(int n);
    // The priority slider follows the stored "Priority".
    void SetPriority(int priority);
    // Shows the slot list's changes (the timer calls it).
    void Flush();

    TSlotTableModel& Model() { return *m_model; }
    QTreeView* lvSockets = nullptr;
    QSlider* tbSockets = nullptr;
    QLabel* lblSockets = nullptr;
    QSlider* tbPriority = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void tbSocketsChange();
    void tbPriorityChange();

    TSession& m_session;
    TStatusPanel& m_statusPanel;
    TSlotTableModel* m_model = nullptr;
    QTimer* m_timer = nullptr;
    bool m_following = false; // the slider follows the slot list: no store
};

} // namespace pellix

// TStatusPanel: the live status of the current task at the bottom of the main window: counters,
// LEDs, the rate chart and the status line, drawn from the core's status model.
#pragma once

#include <QWidget>

namespace pellix {

class TSession;

class TStatusPanel final : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanel(TSession& session, QWidget* parent = nullptr);
    ~TStatusPanel() override;

    // Re-applies the colours and images of the current skin.
    void ApplySkin();

private:
    TSession& m_session;
};

} // namespace pellix

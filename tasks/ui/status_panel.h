// TStatusPanel: the live status of the current task at the bottom of the main window: counters,
// LEDs, the rate chart and the status line, drawn from the core's status model.
#pragma once

#include <QWidget>

#include "workspace/session_observer.h"

class QLabel;
class QLCDNumber;
class QProgressBar;
class QTimer;
class QToolButton;

namespace pellix {

class TRateChart;
class TSession;

// The panel reads the status model on its own timer: events from the core only mark it stale,
// so a busy crawl costs one repaint per tick at most.
class TStatusPanel final : public QWidget, private ISessionObserver {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 250;

    explicit TStatusPanel(TSession& session, QWidget* parent = nullptr);
    ~TStatusPanel() override;

    // Re-applies the colours and images of the current skin.
    void ApplySkin();
    // Shows what changed in the status model since the last call (the timer calls it).
    void Flush();
    // The main window disables Run while it starts a run and enables it when the run ends.
    void SetRunEnabled(bool enabled);

    QLabel* lblTaskName = nullptr;
    QToolButton* btnRun = nullptr;
    QToolButton* btnStop = nullptr;
    QProgressBar* gaugePages = nullptr;
    QProgressBar* gaugeRes = nullptr;
    QProgressBar* gaugeErrors = nullptr;
    QLCDNumber* ledTotalBytes = nullptr;
    QLCDNumber* ledTotalBytesDec = nullptr;
    QLCDNumber* ledHour = nullptr;
    QLCDNumber* ledMin = nullptr;
    QLCDNumber* ledSec = nullptr;
    QLCDNumber* ledRate = nullptr;
    QLCDNumber* ledRateDec = nullptr;
    TRateChart* chartStats = nullptr;
    QLabel* lblStatus = nullptr;
    QProgressBar* ProgressBar = nullptr;

signals:
    // Run: the task list runs the bound task; Stop: the main window stops it.
    void RunRequested();
    void StopRequested();

private:
    void OnProgress(const std::string& text, std::int64_t position, std::int64_t maximum) override;
    void OnTaskChanged(TPXTask& task) override;
    void OnTaskCompleted(TPXTask& task, const std::string& report) override;

    void ShowTask();
    void ShowCounters();
    void ShowLine();

    TSession& m_session;
    QTimer* m_timer = nullptr;
    bool m_runEnabled = true;
};

} // namespace pellix

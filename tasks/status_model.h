// TStatusModel: the status panel's data without widgets: the bound task, its counters and LED
// values, the three chart series and the status line, with change flags for the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "links/date_time.h"

namespace pellix {

class TPXTask;

// What the panel's gauges and LED displays show.
struct TStatusCounters {
    int pagesProgress = 0;
    int pagesMax = 0;
    std::string pagesCaption;
    int resourcesProgress = 0;
    int resourcesMax = 0;
    std::string resourcesCaption;
    int errorsProgress = 0;
    int errorsMax = 0;
    std::string errorsCaption;
    std::int64_t totalKBytes = 0; // ledTotalBytes
    int totalKBytesDecimal = 0;   // ledTotalBytesDec: one truncated decimal
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int rate = 0;                 // ledRate: whole "Kb/sec", at most 999
    int rateDecimals = 0;         // ledRateDec: two truncated decimals

    bool operator==(const TStatusCounters&) const = default;
};

struct TChartPoint {
    double x = 0; // elapsed seconds
    double y = 0;
};

// Change flags, OR-ed as things change and taken by the window's timer.
inline constexpr unsigned kStatusTaskChanged = 1;     // bound task, name, buttons
inline constexpr unsigned kStatusCountersChanged = 2;
inline constexpr unsigned kStatusChartChanged = 4;
inline constexpr unsigned kStatusLineChanged = 8;     // status text and progress gauge

// Owner thread only.
class TStatusModel final {
public:
    TStatusModel();
    // Unbinds the task (its progress notification is removed).
    ~TStatusModel();
    TStatusModel(const TStatusModel&) = delete;
    TStatusModel& operator=(const TStatusModel&) = delete;

    // Empties the chart series and zeroes every gauge and LED.
    void ResetStatus();
    // Binds a task (or none with nullptr): name, buttons, counters, and the task's progress
    // notification routed to TaskProgress.
    void BindTask(TPXTask* task);
    TPXTask* Task() const { return m_task; }
    const std::string& TaskName() const { return m_taskName; }
    bool RunEnabled() const { return m_task != nullptr; }
    bool StopEnabled() const { return m_task != nullptr; }

    void RefreshCounters();
    const TStatusCounters& Counters() const { return m_counters; }
    // The counters for a task's values, as the panel shows them.
    static TStatusCounters ComputeCounters(const TPXTask& task);

    // The task's progress notification.
    void TaskProgress(const std::string& text, std::int64_t position, std::int64_t maximum);
    // The status line; position = maximum hides the progress gauge.
    void ShowStatus(const std::string& text, std::int64_t position, std::int64_t maximum);
    const std::string& StatusText() const { return m_statusText; }
    bool ProgressVisible() const { return m_progressVisible; }
    std::int64_t ProgressPosition() const { return m_progressPosition; }
    std::int64_t ProgressMaximum() const { return m_progressMaximum; }

    // One chart sample for the bound task's elapsed time, at most one per second and never on a
    // whole minute; connections is the slider's value.
    void AddRateSample(int connections);
    const std::vector<TChartPoint>& TransferRate() const { return m_transferRate; }
    const std::vector<TChartPoint>& TotalKBytes() const { return m_totalKBytes; }
    const std::vector<TChartPoint>& Connections() const { return m_connections; }

    // The changes since the last call (kStatus... flags).
    unsigned TakeChanges();

private:
    TPXTask* m_task = nullptr;
    std::string m_taskName;
    TStatusCounters m_counters;
    std::string m_statusText = "Ready";
    bool m_progressVisible = false;
    std::int64_t m_progressPosition = 0;
    std::int64_t m_progressMaximum = 0;
    std::vector<TChartPoint> m_transferRate;
    std::vector<TChartPoint> m_totalKBytes;
    std::vector<TChartPoint> m_connections;
    unsigned m_changes = 0;
};

} // namespace pellix

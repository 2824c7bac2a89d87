#include "tasks/status_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/task.h"

namespace pellix {

namespace {

struct TElapsed {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    std::int64_t total = 0; // seconds
};

// The time-of-day part of an elapsed date-time, as the LED displays show it.
TElapsed SplitElapsed(TDateTime elapsed)
{
    const TDateTimeParts parts = DecodeDateTime(elapsed);
    TElapsed result;
    result.hours = parts.hour;
    result.minutes = parts.minute;
    result.seconds = parts.second;
    result.total = std::int64_t{parts.hour} * 3600 + parts.minute * 60 + parts.second;
    return result;
}

} // namespace

TStatusModel::TStatusModel() = default;

TStatusModel::~TStatusModel()
{
    if (m_task)
        m_task->SetOnProgress(nullptr);
}

void TStatusModel::ResetStatus()
{
    m_transferRate.clear();
    m_totalKBytes.clear();
    m_connections.clear();
    m_counters = TStatusCounters{};
    m_changes |= kStatusChartChanged | kStatusCountersChanged;
}

void TStatusModel::BindTask(TPXTask* task)
{
    if (m_task && m_task != task)
        m_task->SetOnProgress(nullptr);
    m_task = task;
    if (task) {
        m_taskName = task->TaskName();
        task->SetOnProgress([this](const std::string& text, std::int64_t position, std::int64_t maximum) {
            TaskProgress(text, position, maximum);
        });
        RefreshCounters();
    } else {
        m_taskName.clear();
    }
    m_changes |= kStatusTaskChanged;
}

TStatusCounters TStatusModel::ComputeCounters(const TPXTask& task)
{
    TStatusCounters c;
    c.pagesProgress = task.PagesSaved();
    c.pagesMax = task.TotalPages();
    c.pagesCaption = std::to_string(c.pagesProgress) + "/" + std::to_string(c.pagesMax) + " -> ";
    c.resourcesProgress = task.ResourcesSaved();
    c.resourcesMax = task.TotalResources();
    c.resourcesCaption = std::to_string(c.resourcesProgress) + "/" + std::to_string(c.resourcesMax) + " -> ";
    c.errorsProgress = task.PageErrors() + task.ResourceErrors();
    c.errorsMax = task.TotalPages() + task.TotalResources();
    c.errorsCaption = std::to_string(c.errorsProgress) + "/" + std::to_string(c.errorsMax) + " -> ";

    const std::int64_t bytes = std::max<std::int64_t>(0, task.TotalBytes());
    c.totalKBytes = bytes / 1024;
    c.totalKBytesDecimal = static_cast<int>((bytes % 1024) * 10 / 1024);
    const TElapsed elapsed = SplitElapsed(task.ElapsedTime());
    c.hours = elapsed.hours;
    c.minutes = elapsed.minutes;
    c.seconds = elapsed.seconds;
    if (elapsed.total > 0) {
        c.rate = static_cast<int>(std::min<std::int64_t>(999, c.totalKBytes / elapsed.total));
        c.rateDecimals = static_cast<int>((c.totalKBytes * 100 / elapsed.total) % 100);
    }
    return c;
}

void TStatusModel::RefreshCounters()
{
    if (!m_task)
        return;
    TStatusCounters counters = ComputeCounters(*m_task);
    if (counters == m_counters)
        return;
    m_counters = std::move(counters);
    m_changes |= kStatusCountersChanged;
}

void TStatusModel::TaskProgress(const std::string& text, std::int64_t position, std::int64_t maximum)
{
    if (text.empty()) {
        RefreshCounters();
    } else if (position == maximum) {
        m_statusText.clear();
        m_progressVisible = false;
        m_changes |= kStatusLineChanged;
    } else {
        ShowStatus(text, position, maximum);
    }
}

void TStatusModel::ShowStatus(const std::string& text, std::int64_t position, std::int64_t maximum)
{
    // Only the latest text is kept; the window shows it on its next timer tick, so frequent
    // progress never slows down whoever reports it.
    m_statusText = text;
    m_progressVisible = position != maximum;
    m_progressPosition = position;
    m_progressMaximum = maximum;
    m_changes |= kStatusLineChanged;
}

void TStatusModel::AddRateSample(int connections)
{
    if (!m_task)
        return;
    const TElapsed elapsed = SplitElapsed(m_task->ElapsedTime());
    if (elapsed.seconds == 0)
        return;
    const double s = static_cast<double>(elapsed.total);
    if (!m_totalKBytes.empty() && s <= std::round(m_totalKBytes.back().x))
        return;
    const double kbytes = static_cast<double>(m_task->TotalBytes()) / 1024.0;
    m_totalKBytes.push_back({s, kbytes});
    m_transferRate.push_back({s, kbytes / s});
    m_connections.push_back({s, static_cast<double>(connections)});
    m_changes |= kStatusChartChanged;
}

unsigned TStatusModel::TakeChanges()
{
    return std::exchange(m_changes, 0u);
}

} // namespace pellix

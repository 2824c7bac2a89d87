#include "tasks/run_task_choice.h"

#include <algorithm>

namespace pellix {

namespace {

// Counters that disagree (a task file edited by hand, a run killed between two saves) never show
// a negative count.
std::string Count(int value) { return std::to_string(std::max(value, 0)); }

TRunSummaryRow Row(const char* caption, int pages, int media)
{
    return {caption, {Count(pages), Count(media), Count(std::max(pages, 0) + std::max(media, 0))}};
}

} // namespace

TRunTaskChoice::TRunTaskChoice(const TPXTask& task)
{
    const int pagesSaved = task.PagesSaved();
    const int resourcesSaved = task.ResourcesSaved();
    const int pageErrors = task.PageErrors();
    const int resourceErrors = task.ResourceErrors();
    m_errors = std::max(pageErrors, 0) + std::max(resourceErrors, 0);
    m_caption = "Pellix - Run Task (" + task.TaskName() + ")";
    m_summary = {
        Row("Downloaded", pagesSaved - pageErrors, resourcesSaved - resourceErrors),
        Row("Queued", task.TotalPages() - pagesSaved, task.TotalResources() - resourcesSaved),
        TRunSummaryRow{"New/Modified", {"", "", ""}},
        Row("Errors", pageErrors, resourceErrors),
    };
    const TTaskStatus status = task.Status();
    if (status != kStatusZipped && status != kStatusTaskComplete)
        m_heading = "This task was previously run but is incomplete.";
    else if (m_errors > 0)
        m_heading = "This task has run to completion but contains some URL's. which failed to download.";
    else
        m_heading = "This task has successfully run to completion.";
}

bool TRunTaskChoice::ModeEnabled(TRunMode mode) const
{
    switch (mode) {
    case kRunRestart:
    case kRunResume:
    case kRunSmartUpdate:
        return true;
    case kRunSmartRecovery:
        return m_errors > 0;
    default:
        return false;
    }
}

std::string TRunTaskChoice::ModeCaption(TRunMode mode)
{
    switch (mode) {
    case kRunRestart: return "Restart";
    case kRunResume: return "Resume";
    case kRunSmartUpdate: return "SmartUpdate";
    case kRunSmartRecovery: return "SmartRecovery";
    default: return {};
    }
}

std::string TRunTaskChoice::ModeDescription(TRunMode mode)
{
    switch (mode) {
    case kRunRestart: return "Reruns the task again from the start.";
    case kRunResume: return "Resumes the task from where it was last stopped.";
    case kRunSmartUpdate: return "Reruns the task and downloads only items which are new or have changed.";
    case kRunSmartRecovery: return "Retry downloading URL's which have failed";
    default: return {};
    }
}

} // namespace pellix

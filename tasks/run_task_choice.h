// TRunTaskChoice: what the run dialog shows for a task that has run before: the summary cells, the
// text above them, which run modes may be chosen and what each one does.
#pragma once

#include <array>
#include <string>

#include "engine/task.h"

namespace pellix {

// One row of the summary: "Pages", "Media" and "Total" cells.
struct TRunSummaryRow {
    std::string caption;
    std::array<std::string, 3> cells;
};

class TRunTaskChoice final {
public:
    // Reads the task's name, status and counters once; the dialog shows a snapshot.
    explicit TRunTaskChoice(const TPXTask& task);

    const std::string& Caption() const { return m_caption; }
    const std::string& Heading() const { return m_heading; }
    // "Downloaded", "Queued", "New/Modified", "Errors".
    const std::array<TRunSummaryRow, 4>& Summary() const { return m_summary; }
    int Errors() const { return m_errors; }
    bool ModeEnabled(TRunMode mode) const;

    // The mode checked when the dialog opens, whatever the previous run's mode was.
    static constexpr TRunMode kInitialMode = kRunResume;
    // The radio button's caption and the description shown when it is checked; empty for a mode
    // the dialog does not offer.
    static std::string ModeCaption(TRunMode mode);
    static std::string ModeDescription(TRunMode mode);

private:
    std::string m_caption;
    std::string m_heading;
    std::array<TRunSummaryRow, 4> m_summary;
    int m_errors = 0;
};

} // namespace pellix

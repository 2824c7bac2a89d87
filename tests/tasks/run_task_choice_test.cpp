// The run dialog's content by task state and counters: the text above the summary, the summary
// cells and which run modes may be chosen.
#include <gtest/gtest.h>

#include <string>

#include "engine/task.h"
#include "tasks/run_task_choice.h"

using namespace pellix;

namespace {

struct TCounters {
    int totalPages, pagesSaved, pageErrors, totalResources, resourcesSaved, resourceErrors;
};

void SetCounters(TPXTask& task, const TCounters& c)
{
    task.SetTotalPages(c.totalPages);
    task.SetPagesSaved(c.pagesSaved);
    task.SetPageErrors(c.pageErrors);
    task.SetTotalResources(c.totalResources);
    task.SetResourcesSaved(c.resourcesSaved);
    task.SetResourceErrors(c.resourceErrors);
}

const char* const kIncomplete = "This task was previously run but is incomplete.";
const char* const kCompleteWithErrors =
    "This task has run to completion but contains some URL's. which failed to download.";
const char* const kComplete = "This task has successfully run to completion.";

} // namespace

TEST(TRunTaskChoiceTest, HeadingAndRecoveryByStatusAndErrors)
{
    struct TCase {
        TTaskStatus status;
        int pageErrors;
        int resourceErrors;
        const char* heading;
        bool recovery;
    };
    const TCase cases[] = {
        {kStatusZipped, 0, 0, kComplete, false},
        {kStatusTaskComplete, 0, 0, kComplete, false},
        {kStatusZipped, 1, 0, kCompleteWithErrors, true},
        {kStatusTaskComplete, 0, 2, kCompleteWithErrors, true},
        {kStatusStopped, 1, 1, kIncomplete, true},
        {kStatusStopped, 0, 0, kIncomplete, false},
        {kStatusComplete, 0, 3, kIncomplete, true}, // packed not yet: still incomplete
        {kStatusIncomplete, 0, 0, kIncomplete, false},
        {kStatusUnscheduled, 4, 0, kIncomplete, true},
        {kStatusScheduled, 0, 0, kIncomplete, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + std::to_string(c.pageErrors) + "/" +
                     std::to_string(c.resourceErrors));
        TPXTask task;
        task.SetStatus(c.status);
        SetCounters(task, {10, 10, c.pageErrors, 10, 10, c.resourceErrors});
        const TRunTaskChoice choice(task);
        EXPECT_EQ(choice.Heading(), c.heading);
        EXPECT_EQ(choice.ModeEnabled(kRunSmartRecovery), c.recovery);
        // The other three are always offered; mapping is never a choice here.
        EXPECT_TRUE(choice.ModeEnabled(kRunRestart));
        EXPECT_TRUE(choice.ModeEnabled(kRunResume));
        EXPECT_TRUE(choice.ModeEnabled(kRunSmartUpdate));
        EXPECT_FALSE(choice.ModeEnabled(kRunMap));
    }
}

TEST(TRunTaskChoiceTest, SummaryCellsFromCounters)
{
    struct TCase {
        const char* name;
        TCounters counters;
        std::array<std::array<const char*, 3>, 4> rows; // Downloaded, Queued, New/Modified, Errors
    };
    const TCase cases[] = {
        {"stopped half way", {20, 12, 2, 50, 30, 5},
         {{{"10", "25", "35"}, {"8", "20", "28"}, {"", "", ""}, {"2", "5", "7"}}}},
        {"complete, no errors", {3, 3, 0, 4, 4, 0},
         {{{"3", "4", "7"}, {"0", "0", "0"}, {"", "", ""}, {"0", "0", "0"}}}},
        {"every item failed", {1, 1, 1, 0, 0, 0},
         {{{"0", "0", "0"}, {"0", "0", "0"}, {"", "", ""}, {"1", "0", "1"}}}},
        // Counters out of step (a hand-edited file) never show a negative count.
        {"inconsistent", {1, 5, 7, 0, 2, 0},
         {{{"0", "2", "2"}, {"0", "0", "0"}, {"", "", ""}, {"7", "0", "7"}}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TPXTask task;
        task.SetStatus(kStatusStopped);
        SetCounters(task, c.counters);
        const TRunTaskChoice choice(task);
        const char* const captions[] = {"Downloaded", "Queued", "New/Modified", "Errors"};
        for (std::size_t row = 0; row < 4; ++row) {
            EXPECT_EQ(choice.Summary()[row].caption, captions[row]);
            for (std::size_t cell = 0; cell < 3; ++cell)
                EXPECT_EQ(choice.Summary()[row].cells[cell], c.rows[row][cell]) << captions[row] << " " << cell;
        }
    }
}

TEST(TRunTaskChoiceTest, CaptionNamesTheTask)
{
    TPXTask task;
    task.SetTaskName("www.example.com");
    EXPECT_EQ(TRunTaskChoice(task).Caption(), "Pellix - Run Task (www.example.com)");
}

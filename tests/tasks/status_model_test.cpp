// The status panel's data: counters, LED values, chart samples and the status line.
#include "tasks/status_model.h"

#include <gtest/gtest.h>

#include "engine/task.h"

namespace pellix {
namespace {

TDateTime Elapsed(int hours, int minutes, int seconds)
{
    return EncodeTime(hours, minutes, seconds);
}

TEST(TStatusModelTest, LedValuesAreTruncated)
{
    TPXTask task;
    task.SetTotalBytes(1536);
    task.SetElapsedTime(Elapsed(0, 0, 3));
    TStatusCounters c = TStatusModel::ComputeCounters(task);
    EXPECT_EQ(c.totalKBytes, 1);
    EXPECT_EQ(c.totalKBytesDecimal, 5);
    EXPECT_EQ(c.rate, 0);
    EXPECT_EQ(c.rateDecimals, 33);
    EXPECT_EQ(c.seconds, 3);

    task.SetTotalBytes(std::int64_t{5} * 1024 * 1024 * 1024 + 1023); // beyond 32 bits
    task.SetElapsedTime(Elapsed(1, 2, 3));
    c = TStatusModel::ComputeCounters(task);
    EXPECT_EQ(c.totalKBytes, std::int64_t{5} * 1024 * 1024);
    EXPECT_EQ(c.totalKBytesDecimal, 9);
    EXPECT_EQ((std::vector<int>{c.hours, c.minutes, c.seconds}), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(c.rate, 999); // 1419 Kb/sec does not fit the display

    task.SetElapsedTime(0);
    c = TStatusModel::ComputeCounters(task);
    EXPECT_EQ(c.rate, 0);
    EXPECT_EQ(c.rateDecimals, 0);
}

TEST(TStatusModelTest, GaugesFromTheTaskCounters)
{
    TPXTask task;
    task.SetTotalPages(10);
    task.SetPagesSaved(4);
    task.SetTotalResources(20);
    task.SetResourcesSaved(7);
    task.SetPageErrors(1);
    task.SetResourceErrors(2);
    const TStatusCounters c = TStatusModel::ComputeCounters(task);
    EXPECT_EQ(c.pagesCaption, "4/10 -> ");
    EXPECT_EQ(c.resourcesCaption, "7/20 -> ");
    EXPECT_EQ(c.errorsCaption, "3/30 -> ");
    EXPECT_EQ(c.errorsMax, 30);
}

TEST(TStatusModelTest, RateSamplesAtMostOncePerSecondAndNeverOnAWholeMinute)
{
    TPXTask task;
    TStatusModel model;
    model.BindTask(&task);
    task.SetTotalBytes(61 * 1024);
    task.SetElapsedTime(Elapsed(0, 1, 0));
    model.AddRateSample(10);
    EXPECT_TRUE(model.TotalKBytes().empty());

    task.SetElapsedTime(Elapsed(0, 1, 1));
    model.AddRateSample(10);
    model.AddRateSample(4); // same second
    ASSERT_EQ(model.TotalKBytes().size(), 1u);
    EXPECT_DOUBLE_EQ(model.TotalKBytes()[0].x, 61);
    EXPECT_DOUBLE_EQ(model.TotalKBytes()[0].y, 61);
    EXPECT_DOUBLE_EQ(model.TransferRate()[0].y, 1);
    EXPECT_DOUBLE_EQ(model.Connections()[0].y, 10);
    EXPECT_TRUE(model.TakeChanges() & kStatusChartChanged);

    model.ResetStatus();
    EXPECT_TRUE(model.TransferRate().empty());
    EXPECT_EQ(model.Counters(), TStatusCounters{});
}

TEST(TStatusModelTest, BindingRoutesTheTaskProgress)
{
    TPXTask task;
    task.SetTaskName("Site");
    TStatusModel model;
    EXPECT_FALSE(model.RunEnabled());
    model.BindTask(&task);
    EXPECT_TRUE(model.RunEnabled() && model.StopEnabled());
    EXPECT_EQ(model.TaskName(), "Site");
    model.TakeChanges();

    task.NotifyProgress("Opening task....", 1, 100);
    EXPECT_EQ(model.StatusText(), "Opening task....");
    EXPECT_TRUE(model.ProgressVisible());
    task.NotifyProgress("Opening task....", 100, 100);
    EXPECT_EQ(model.StatusText(), "");
    EXPECT_FALSE(model.ProgressVisible());

    task.SetPagesSaved(2);
    task.SetTotalPages(3);
    task.NotifyProgress("", 0, 0);
    EXPECT_EQ(model.Counters().pagesCaption, "2/3 -> ");
    EXPECT_EQ(model.TakeChanges(), kStatusLineChanged | kStatusCountersChanged);

    model.BindTask(nullptr);
    EXPECT_FALSE(model.RunEnabled());
    EXPECT_EQ(model.TaskName(), "");
    task.NotifyProgress("after unbinding", 1, 2); // no longer routed here
    EXPECT_EQ(model.StatusText(), "");
}

} // namespace
} // namespace pellix

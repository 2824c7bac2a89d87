// Tests for TZipTimer: periodic ticks on the owner thread, and the ticks that do not wait for the
// clock (a write fault, a completed download once parsing is idle).
#include "workspace/zip_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "engine/download_thread.h"
#include "engine/loop_owner_thread.h"
#include "links/parse_thread.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"

namespace pellix {
namespace {

using namespace std::chrono_literals;
using TClock = TLoopOwnerThread::TClock;

// A suspended parse thread and coordinator, and a timer that counts its ticks.
struct TTimerHarness {
    test::TTempFolder folder;
    std::unique_ptr<TPXApp> app = test::MakeTestApp(folder.Path(), {});
    TLoopOwnerThread owner;
    TThreadParse parse{owner};
    TThreadDownload coordinator{owner, app.get()};
    int ticks = 0;               // owner thread
    bool offOwnerThread = false; // owner thread
    TZipTimer timer{owner, parse, coordinator, [this] {
                        ++ticks;
                        offOwnerThread = offOwnerThread || !owner.IsOwnerThread();
                    }};

    int Ticks()
    {
        int n = 0;
        owner.Call([&] { n = ticks; });
        return n;
    }
    bool WaitTicks(int n) { return owner.WaitUntil([&] { return ticks >= n; }, TClock::now() + 10s); }
};

TEST(TZipTimerTest, TicksEveryPeriodOnTheOwnerThreadWhileOn)
{
    TTimerHarness h;
    h.timer.SetInterval(5ms);
    EXPECT_FALSE(h.timer.On());
    h.timer.SetOn(true);
    ASSERT_TRUE(h.WaitTicks(3));
    h.timer.SetOn(false);
    h.timer.Stop();
    const int ticks = h.Ticks();
    // Nothing runs once Stop returned, also what the owner thread still had queued.
    ASSERT_TRUE(h.owner.WaitIdle(TClock::now() + 10s));
    EXPECT_EQ(h.Ticks(), ticks);
    h.owner.Call([&] { EXPECT_FALSE(h.offOwnerThread); });
}

TEST(TZipTimerTest, FaultAndSettledRunTickWithoutThePeriod)
{
    TTimerHarness h;
    h.timer.SetInterval(0ms); // no periodic ticks at all
    h.timer.SetOn(true);
    h.timer.TickSoon();
    ASSERT_TRUE(h.WaitTicks(1));

    // The parse thread is idle, so a completed download settles at once and ticks.
    h.timer.BeginRun();
    EXPECT_FALSE(h.timer.Settled());
    h.timer.SettleAfterCompletion();
    ASSERT_TRUE(h.WaitTicks(2));
    EXPECT_TRUE(h.timer.Settled());
    // The next run starts unsettled.
    h.timer.BeginRun();
    EXPECT_FALSE(h.timer.Settled());
}

} // namespace
} // namespace pellix

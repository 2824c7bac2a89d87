// Tests for TLoopOwnerThread: order, synchronous calls, re-entry, many producers, stop.
#include "engine/loop_owner_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pellix {
namespace {

using namespace std::chrono_literals;

TLoopOwnerThread::TClock::time_point Deadline() { return TLoopOwnerThread::TClock::now() + 10s; }

// Waits, without sleeping, for a condition that another thread makes true.
template <typename F> bool SpinUntil(F condition)
{
    const auto deadline = Deadline();
    while (!condition()) {
        if (TLoopOwnerThread::TClock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(TLoopOwnerThreadTest, RunsPostedWorkInOrderOnItsOwnThread)
{
    TLoopOwnerThread loop;
    std::vector<int> seen; // touched only on the owner thread
    bool allOnOwner = true;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_TRUE(loop.Post([&, i] {
            allOnOwner = allOnOwner && loop.IsOwnerThread();
            seen.push_back(i);
        }));
    }
    EXPECT_FALSE(loop.IsOwnerThread());
    ASSERT_TRUE(loop.WaitIdle(Deadline()));
    EXPECT_EQ(loop.QueuedCount(), 0u);
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(seen[i], i);
    EXPECT_TRUE(allOnOwner);
}

TEST(TLoopOwnerThreadTest, CallWaitsForItsResultAfterEarlierWork)
{
    TLoopOwnerThread loop;
    int counter = 0;
    for (int i = 0; i < 100; ++i)
        loop.Post([&] { ++counter; });
    int seenByCall = -1;
    std::thread::id ranOn;
    ASSERT_TRUE(loop.Call([&] {
        seenByCall = counter;
        ranOn = std::this_thread::get_id();
    }));
    EXPECT_EQ(seenByCall, 100);
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(TLoopOwnerThreadTest, CallOnTheOwnerThreadRunsInline)
{
    TLoopOwnerThread loop;
    std::vector<std::string> steps;
    ASSERT_TRUE(loop.Call([&] {
        steps.push_back("outer");
        EXPECT_TRUE(loop.Call([&] {
            steps.push_back("inner");
            EXPECT_TRUE(loop.Call([&] { steps.push_back("innermost"); }));
        }));
        steps.push_back("outer again");
    }));
    EXPECT_EQ(steps, (std::vector<std::string> { "outer", "inner", "innermost", "outer again" }));
}

TEST(TLoopOwnerThreadTest, ManyThreadsPostingAndCalling)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 2000;
    TLoopOwnerThread loop;
    std::vector<int> lastFrom(kThreads, -1); // owner thread only
    bool perThreadOrderKept = true;
    int total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                auto record = [&, t, i] {
                    perThreadOrderKept = perThreadOrderKept && lastFrom[t] == i - 1;
                    lastFrom[t] = i;
                    ++total;
                };
                // Mix both ways in: order must hold across them.
                if (i % 10 == 0)
                    EXPECT_TRUE(loop.Call(record));
                else
                    EXPECT_TRUE(loop.Post(record));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    int finalTotal = 0;
    ASSERT_TRUE(loop.Call([&] { finalTotal = total; }));
    EXPECT_EQ(finalTotal, kThreads * kEach);
    EXPECT_TRUE(perThreadOrderKept);
}

TEST(TLoopOwnerThreadTest, ExceptionsReachTheCallerOrTheSinkAndTheLoopGoesOn)
{
    TLoopOwnerThread loop;
    EXPECT_THROW(loop.Call([] { throw std::runtime_error("disk full"); }), std::runtime_error);

    std::promise<std::string> reported;
    loop.SetErrorSink([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            reported.set_value(e.what());
        }
    });
    loop.Post([] { throw std::runtime_error("bad page"); });
    auto future = reported.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get(), "bad page");

    bool ran = false;
    EXPECT_TRUE(loop.Call([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(TLoopOwnerThreadTest, StopRunsQueuedWorkAndRefusesNewWork)
{
    auto loop = std::make_unique<TLoopOwnerThread>();
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    int counter = 0;
    std::atomic<bool> blocked{false};
    loop->Post([opened, &blocked] {
        blocked = true;
        opened.wait();
    });
    // Only once the loop is held does the queue count below mean the worker's call is in it.
    ASSERT_TRUE(SpinUntil([&] { return blocked.load(); }));
    for (int i = 0; i < 100; ++i)
        loop->Post([&] { ++counter; });

    // A worker's Call waiting in the queue when the stop comes must still run and return.
    bool workerCallRan = false;
    bool workerCallResult = false;
    std::thread worker([&] { workerCallResult = loop->Call([&] { workerCallRan = true; }); });
    ASSERT_TRUE(SpinUntil([&] { return loop->QueuedCount() == 101; }));

    std::thread stopper([&] { loop->Stop(); });
    ASSERT_TRUE(SpinUntil([&] { return loop->Stopping(); }));

    // Refused at once, without waiting for the blocked loop.
    bool lateRan = false;
    EXPECT_FALSE(loop->Post([&] { lateRan = true; }));
    EXPECT_FALSE(loop->Call([&] { lateRan = true; }));

    gate.set_value();
    stopper.join();
    worker.join();
    EXPECT_EQ(counter, 100);
    EXPECT_TRUE(workerCallRan);
    EXPECT_TRUE(workerCallResult);
    EXPECT_FALSE(lateRan);
    EXPECT_EQ(loop->CompletedCount(), 102u);

    loop->Stop(); // again: harmless
    loop.reset();
}

TEST(TLoopOwnerThreadTest, StopFromTheOwnerThreadDrainsWhatWasQueuedBefore)
{
    TLoopOwnerThread loop;
    std::vector<std::string> steps;
    bool postRefused = false;
    bool inlineCallRan = false;
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    loop.Post([opened] { opened.wait(); });
    loop.Post([&] {
        loop.Stop(); // only requests the stop: the owner thread cannot join itself
        postRefused = !loop.Post([&] { steps.push_back("late"); });
        inlineCallRan = loop.Call([&] { steps.push_back("inline"); });
        steps.push_back("stopper");
    });
    loop.Post([&] { steps.push_back("queued before the stop"); });
    gate.set_value();
    loop.Stop();
    EXPECT_TRUE(postRefused);
    EXPECT_TRUE(inlineCallRan);
    EXPECT_EQ(steps, (std::vector<std::string> { "inline", "stopper", "queued before the stop" }));
}

TEST(TLoopOwnerThreadTest, WaitUntilSeesChangesMadeOnTheOwnerThread)
{
    TLoopOwnerThread loop;
    int counter = 0; // owner thread only
    std::thread producer([&] {
        for (int i = 0; i < 500; ++i)
            loop.Post([&] { ++counter; });
    });
    EXPECT_TRUE(loop.WaitUntil([&] { return counter == 500; }, Deadline()));
    producer.join();

    const auto past = TLoopOwnerThread::TClock::now();
    EXPECT_FALSE(loop.WaitUntil([&] { return counter == 501; }, past));

    bool onOwner = false;
    loop.Call([&] { onOwner = loop.WaitUntil([&] { return counter == 500; }, past); });
    EXPECT_TRUE(onOwner);

    loop.Stop();
    EXPECT_TRUE(loop.WaitUntil([&] { return counter == 500; }, Deadline()));
    EXPECT_FALSE(loop.WaitUntil([&] { return counter == 0; }, Deadline()));
    EXPECT_TRUE(loop.WaitIdle(Deadline()));
}

} // namespace
} // namespace pellix

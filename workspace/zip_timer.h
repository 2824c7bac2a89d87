// TZipTimer: the zip timer of a run: a thread that posts a tick to the owner thread every period
// while it is on, and that paces the run's completion checks between the ticks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace pellix {

class IOwnerThread;
class TThreadDownload;
class TThreadParse;

// Threads: the timer's own thread only waits and posts; every tick (onTick) runs on the owner
// thread. The other functions may be called from any thread, except Stop and the destructor,
// which wait for the owner thread and so must not be called on it.
//
// Besides the periodic ticks it wakes for three things, so that a finished crawl never waits for
// the clock:
// - PageSaved: once the parse thread runs out of saved pages, the coordinator is woken for its
//   completion check (a parsed page that queued nothing wakes nobody else);
// - SettleAfterCompletion: once the parse thread has finished the page in hand, the run is
//   Settled and a tick is posted at once;
// - TickSoon: a tick is posted at once (a write fault was recorded).
// A zero interval gives no periodic ticks (the caller ticks by hand); the others still come.
class TZipTimer final {
public:
    using TTickEvent = std::function<void()>;
    static constexpr std::chrono::milliseconds kDefaultInterval{1000};

    // Borrows the parse thread and the coordinator, which must outlive the timer's thread.
    TZipTimer(IOwnerThread& owner, TThreadParse& parse, TThreadDownload& coordinator, TTickEvent onTick);
    ~TZipTimer();
    TZipTimer(const TZipTimer&) = delete;
    TZipTimer& operator=(const TZipTimer&) = delete;

    // Ends the thread; ticks it posted before run first, and none runs once Stop returns.
    // Idempotent.
    void Stop();

    bool On() const;
    void SetOn(bool on);
    std::chrono::milliseconds Interval() const;
    void SetInterval(std::chrono::milliseconds interval);

    // A run begins: not settled, and a settle still pending from an earlier run is dropped.
    void BeginRun();
    void PageSaved();
    void SettleAfterCompletion();
    void TickSoon();
    // The parse thread finished after the coordinator's completion in this run.
    bool Settled() const;

private:
    // Makes change under the lock and wakes the timer thread.
    void Change(const std::function<void()>& change);
    void Loop();
    void PostTick();
    // Timer thread, unlocked: waits in bounded steps until the parse thread is idle; false when
    // the timer is stopped meanwhile.
    bool WaitParseIdleForSettle();

    IOwnerThread& m_owner;
    TThreadParse& m_parse;
    TThreadDownload& m_coordinator;
    TTickEvent m_onTick;
    std::shared_ptr<bool> m_alive; // posted ticks check it (owner thread)
    bool m_stopped = false;        // Stop ran (the caller's thread)

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_on = false;
    bool m_terminate = false;
    bool m_settleRequested = false;
    bool m_settled = false;
    bool m_parseWatch = false;      // a page was saved: wake the coordinator once parsing is idle
    bool m_tickSoon = false;
    std::uint64_t m_pagesSaved = 0; // pages saved so far, for m_parseWatch
    std::uint64_t m_runGeneration = 0;
    std::chrono::milliseconds m_interval = kDefaultInterval;
    std::thread m_thread;
};

} // namespace pellix

// TThreadSchedule: the scheduler thread: once a second it has the owner thread start the first
// due task of the task list, when no task is busy.
#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "links/date_time.h"

namespace pellix {

class IOwnerThread;
class TPXTask;
class TTaskList;

// The thread owns no data: every look at the tasks happens in CheckSchedule on the owner thread,
// run there synchronously (the thread waits for it), so it is serialised with all window work.
// It is created running; Terminate ends it at its next check without waiting for it, and the
// destructor terminates and joins. The destructor may run on any thread, the owner thread
// included: a check posted but not run yet is then dropped, and one that is running is waited for.
class TThreadSchedule final {
public:
    static constexpr std::chrono::milliseconds kPeriod{1000};

    // Starts the task (the runner's start task); false when the start was refused.
    using TStartEvent = std::function<bool(const std::shared_ptr<TPXTask>&)>;
    // A run the task list cannot see (its task is in a category that is not shown) still counts
    // as busy: the runner says whether a run is on.
    using TBusyEvent = std::function<bool()>;

    TThreadSchedule(IOwnerThread& owner, TStartEvent start, TBusyEvent busy = nullptr,
                    std::chrono::milliseconds period = kPeriod);
    ~TThreadSchedule();
    TThreadSchedule(const TThreadSchedule&) = delete;
    TThreadSchedule& operator=(const TThreadSchedule&) = delete;

    // Owner thread. The task list whose rows are looked at; null: none (nothing starts).
    void SetTaskList(TTaskList* list);
    // Owner thread. Where "now" comes from (tests pin it).
    void SetClock(std::function<TDateTime()> clock);

    // Any thread. The loop ends at its next check; nothing waits for it.
    void Terminate();
    bool Terminated() const;
    // Any thread. The next check comes at once instead of after the rest of the period (a task
    // was just scheduled "Now").
    void Wake();
    // How many checks have run (any thread).
    std::uint64_t Checks() const;
    // Any thread but the owner thread: waits until at least count checks have run; false when
    // the timeout passed first.
    bool WaitForChecks(std::uint64_t count, std::chrono::milliseconds timeout) const;

    // Owner thread: one check. Returns the task started, if any.
    std::shared_ptr<TPXTask> CheckSchedule();

private:
    void Execute();

    // What a posted check needs after the object may be gone: it runs only while alive.
    struct TShared {
        std::mutex checkMutex; // held while a check runs
        bool alive = true;
    };

    IOwnerThread& m_owner;
    std::shared_ptr<TShared> m_shared = std::make_shared<TShared>();
    TStartEvent m_start;
    TBusyEvent m_busy;
    std::chrono::milliseconds m_period;

    // Owner thread.
    TTaskList* m_list = nullptr;
    std::function<TDateTime()> m_clock;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_terminate = false;
    bool m_woken = false;
    std::uint64_t m_checks = 0;
    std::thread m_thread; // last: started when everything above is ready
};

} // namespace pellix

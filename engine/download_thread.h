// TThreadDownload: the download coordinator: collects finished transfers, hands waiting items
// to idle slots by the "Priority" rule, keeps the download list saved and notices completion.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "links/date_time.h"

namespace pellix {

class IOwnerThread;
class TPXApp;
class TPXQItem;
class TPXSocket;
class TPXTask;
class TSlotList;
class TStatusModel;

// The coordinator's own thread only waits and paces; every look at the slots and the list and
// every change happens on the owner thread, inside synchronous calls or passes posted there. It
// waits at most one cycle, and wakes at once when items are queued (Wake) and on stop; a transfer
// that ends, however it ends, has a pass posted to the owner thread (PassSoon) without waking it. While the task holds a write fault (a full or read-only disk) it starts no transfer and
// never completes the task; it goes on collecting transfers until the run is stopped.
class TThreadDownload final {
public:
    static constexpr std::chrono::milliseconds kCycle{1000};

    // Created suspended. app may be null (tests): "Priority" then comes from SetPriority.
    TThreadDownload(IOwnerThread& owner, TPXApp* app);
    // Ends the thread; must not run on the owner thread while a cycle waits for it.
    ~TThreadDownload();
    TThreadDownload(const TThreadDownload&) = delete;
    TThreadDownload& operator=(const TThreadDownload&) = delete;

    // Owner thread. Sets the task, the slots (whose transfers will wake the coordinator) and the
    // status panel (may be null), marks the slots downloading, clears the stop flag, resumes.
    void Start(TPXTask& task, TSlotList& slots, TStatusModel* status);
    // Owner thread. Sets the stop flag; the next pass saves the list and suspends.
    void Stop();
    // Any thread: work may be waiting (items queued, a transfer ended).
    void Wake();
    // Any thread: one pass (collect, hand out work) runs on the owner thread soon, as the
    // coordinator's own would; requests made while one waits share it. Nothing while suspended
    // or stopped (the coordinator's thread saves and suspends).
    void PassSoon();

    bool Stopped() const;
    bool Suspended() const;
    // Waits until the thread has suspended itself (stopped or finished); false on timeout.
    bool WaitSuspended(std::chrono::milliseconds timeout) const;
    // Passes of the main loop (collect, hand out work) made since construction, and a wait until
    // there have been count of them; false on timeout.
    std::uint64_t Passes() const;
    bool WaitForPasses(std::uint64_t count, std::chrono::milliseconds timeout) const;

    // Overrides the "Priority" setting (0 pages first ... 10 media files first).
    void SetPriority(std::optional<int> priority);
    // Where "now" comes from for the elapsed time (tests pin it).
    void SetClock(std::function<TDateTime()> clock);
    // Owner thread, after the task reached status 5 and was saved.
    std::function<void(TPXTask&)> OnComplete;

    // The "Priority" rule: whether the next pick tries a page first.
    static bool PageFirst(int pagesTaken, int resourcesTaken, int priority);
    // Picks by that rule and counts the pick in the task's pages or resources taken. Owner thread.
    static TPXQItem* ChooseItem(TPXTask& task, int priority);
    // Which waiting items of the chosen kind a pick may take (servers below their connection
    // limit) and which it takes first (servers an idle slot is still connected to), among the
    // first kPickWindow waiting in list order. Unset: every item, none first.
    struct TPickRule {
        std::function<bool(std::string_view url)> allowed;
        std::function<bool(std::string_view url)> preferred;
    };
    static constexpr std::size_t kPickWindow = 64;
    static TPXQItem* ChooseItem(TPXTask& task, int priority, const TPickRule& rule);
    // Records a finished transfer in its item and the task's counters. Owner thread.
    static void FinishTransfer(TPXSocket& slot, TPXTask& task);

private:
    enum class TStepResult { Again, Done, Finished };

    // Coalesces PassSoon's posts, and keeps a posted pass from running once the coordinator is gone.
    struct TPassGate {
        std::mutex mutex; // held by a posted pass while it runs
        bool alive = true;
        std::atomic<bool> posted{false};
    };

    void Execute();
    // Owner thread: one pass of the run started as generation; false (nothing done) when that
    // run is suspended or stopping. finished: this pass completed the task.
    bool Pass(std::uint64_t generation, bool& finished);
    void Refresh(TPXTask* task, TSlotList& slots, TStatusModel* status);
    TStepResult Step(TPXTask* task, TSlotList& slots);
    // The first item picked ahead for the idle slot that is still waiting, taken from the
    // reserve; nullptr (the slot's items back to waiting) when its connection is gone.
    TPXQItem* NextAhead(TPXSocket& slot, TPXTask& task, TSlotList& slots);
    static void ReturnAhead(TPXSocket& slot, TPXTask* task, TSlotList& slots);
    // Picks ahead for the slot where that pays, then starts the item's transfer there.
    void StartOn(TPXSocket& slot, TPXQItem& item, TPXTask& task, TSlotList& slots);
    void PickAheadFor(TPXSocket& slot, TPXQItem& item, TPXTask& task, TSlotList& slots);
    int CurrentPriority() const;
    TDateTime CurrentTime() const;

    IOwnerThread& m_owner;
    TPXApp* m_app;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;        // wake, start, stop, terminate
    mutable std::condition_variable m_suspendCv; // the thread suspended itself, or made a pass
    TPXTask* m_task = nullptr;
    TSlotList* m_slots = nullptr;
    TStatusModel* m_status = nullptr;
    bool m_running = false;   // resumed and not yet suspended
    bool m_stop = false;
    bool m_woken = false;
    bool m_terminated = false;
    std::uint64_t m_generation = 0; // counts starts
    std::uint64_t m_passes = 0;
    std::optional<int> m_priority;
    std::function<TDateTime()> m_clock;
    std::shared_ptr<TPassGate> m_passGate = std::make_shared<TPassGate>();

    std::thread m_thread;
};

} // namespace pellix

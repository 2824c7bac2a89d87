// TLoopOwnerThread: the owner thread as a plain event-loop thread (command line and tests).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/owner_thread.h"

namespace pellix {

// A thread that runs queued functions one at a time, in order, until stopped.
//
// Stop: the work queued before the stop runs to the end (so no waiting Call is abandoned and
// no posted change is lost), then the thread ends. From the moment Stop is called, Post (from
// any thread) and Call from another thread refuse new work and return false at once; a Call on
// the owner thread still runs inline, as part of the function that makes it.
class TLoopOwnerThread final : public IOwnerThread {
public:
    using TClock = std::chrono::steady_clock;
    using TErrorSink = std::function<void(std::exception_ptr)>;

    TLoopOwnerThread();
    // Stops as Stop() does. Must not run on the owner thread itself.
    ~TLoopOwnerThread() override;
    TLoopOwnerThread(const TLoopOwnerThread&) = delete;
    TLoopOwnerThread& operator=(const TLoopOwnerThread&) = delete;

    bool Post(std::function<void()> fn) override;
    bool Call(std::function<void()> fn) override;
    bool IsOwnerThread() const override;

    // Refuses new work, lets the queued work run, and waits for the thread to end. Called on
    // the owner thread (from a queued function) it only requests the stop and returns.
    void Stop();
    bool Stopping() const;

    // Waits until predicate, evaluated on the owner thread, holds; it is evaluated again after
    // each further function has run. False when the deadline passes first, or when the loop has
    // ended with the predicate false. On the owner thread it evaluates the predicate once, since
    // the loop cannot advance while its own thread waits.
    bool WaitUntil(const std::function<bool()>& predicate, TClock::time_point deadline);
    // Waits until nothing is queued or running. False at the deadline, or on the owner thread.
    bool WaitIdle(TClock::time_point deadline);

    // Receives, on the owner thread, what a posted function throws (a Call hands it to its
    // caller instead). Without a sink such exceptions are dropped; the loop goes on either way.
    void SetErrorSink(TErrorSink sink);
    // Functions run so far, Call and Post alike (inline calls excluded).
    std::uint64_t CompletedCount() const;
    // Functions waiting in the queue (not the one running).
    std::size_t QueuedCount() const;

private:
    // A Call's caller waits on its own state, so a finished function wakes only its caller.
    // Shared: the loop may still signal it after the caller has seen it done and gone on.
    struct TCallState {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::exception_ptr error;
    };
    struct TWork {
        std::function<void()> fn;
        std::shared_ptr<TCallState> call; // set for a Call
    };

    void Loop();

    mutable std::mutex m_mutex;
    std::condition_variable m_workCv; // work queued or stop requested
    std::condition_variable m_doneCv; // a function finished, or the loop ended (WaitUntil, WaitIdle)
    std::deque<TWork> m_queue;
    bool m_stopRequested = false;
    bool m_running = false;
    bool m_finished = false;
    std::uint64_t m_completed = 0;
    TErrorSink m_errorSink;

    std::mutex m_joinMutex;
    std::thread m_thread;
};

} // namespace pellix

// TQtOwnerThread: the owner thread as the Qt main thread, reached through queued calls.
#pragma once

#include <QObject>

#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <condition_variable>

#include "engine/owner_thread.h"

namespace pellix {

// Runs queued functions on the thread the object lives on (the GUI thread), one at a time, in
// order. A batch gives the event loop back after a few milliseconds so painting and input stay
// responsive during a crawl. A nested event loop (a modal dialog opened by a function) does not
// start the next function inside the running one: the queue waits until the running one returns.
// Windows therefore open dialogs from their own timer slot, never inside a core event.
class TQtOwnerThread final : public QObject, public IOwnerThread {
    Q_OBJECT
public:
    explicit TQtOwnerThread(QObject* parent = nullptr);
    ~TQtOwnerThread() override;

    bool Post(std::function<void()> fn) override;
    bool Call(std::function<void()> fn) override;
    bool IsOwnerThread() const override;

    // On the owner thread: refuses new work from now on and runs what is queued, so no waiting
    // Call is abandoned and no posted change is lost. Called at shut-down, before the session goes.
    void Stop();
    // On the owner thread: runs fn on a thread of its own while this thread keeps serving posted
    // work, and returns once fn has returned. Ending a session needs it: its threads hand their
    // last work to the owner thread and wait for it.
    void RunElsewhere(const std::function<void()>& fn);
    // The longest single function run so far (for the responsiveness figures).
    std::chrono::microseconds LongestStep() const;

private:
    struct TCallState {
        bool done = false;
        std::exception_ptr error;
    };
    struct TWork {
        std::function<void()> fn;
        TCallState* call = nullptr; // set for a Call; lives on the waiting caller's stack
    };

    void ScheduleDrainLocked();
    void Drain();
    // Runs one queued function; false when the queue was empty.
    bool RunOne();

    mutable std::mutex m_mutex;
    std::condition_variable m_doneCv;
    std::deque<TWork> m_queue;
    bool m_stopped = false;
    bool m_drainPosted = false;
    bool m_running = false; // owner thread only
    std::chrono::microseconds m_longest{0};
};

} // namespace pellix

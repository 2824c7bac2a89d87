// TLoopOwnerThread: the owner thread as a plain event-loop thread (command line and tests).
#include "engine/loop_owner_thread.h"

#include <utility>

namespace pellix {

namespace {

// The loop whose thread this is; null on every other thread.
thread_local const TLoopOwnerThread* t_currentLoop = nullptr;

} // namespace

TLoopOwnerThread::TLoopOwnerThread()
    : m_thread([this] { Loop(); })
{
}

TLoopOwnerThread::~TLoopOwnerThread() { Stop(); }

bool TLoopOwnerThread::Post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopRequested)
            return false;
        m_queue.push_back(TWork { std::move(fn), nullptr });
    }
    m_workCv.notify_one();
    return true;
}

bool TLoopOwnerThread::Call(std::function<void()> fn)
{
    if (IsOwnerThread()) {
        // Queuing it would wait on ourselves.
        fn();
        return true;
    }
    auto state = std::make_shared<TCallState>();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopRequested)
            return false;
        m_queue.push_back(TWork { std::move(fn), state });
    }
    m_workCv.notify_one();
    {
        // Queued work always runs, even through a stop, so this wait ends.
        std::unique_lock<std::mutex> lock(state->mutex);
        state->cv.wait(lock, [&] { return state->done; });
    }
    if (state->error)
        std::rethrow_exception(state->error);
    return true;
}

bool TLoopOwnerThread::IsOwnerThread() const { return t_currentLoop == this; }

void TLoopOwnerThread::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = true;
    }
    m_workCv.notify_all();
    if (IsOwnerThread())
        return;
    std::lock_guard<std::mutex> joinLock(m_joinMutex);
    if (m_thread.joinable())
        m_thread.join();
}

bool TLoopOwnerThread::Stopping() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopRequested;
}

bool TLoopOwnerThread::WaitUntil(
    const std::function<bool()>& predicate, TClock::time_point deadline)
{
    if (IsOwnerThread())
        return predicate();
    for (;;) {
        bool holds = false;
        std::uint64_t before = 0;
        const bool ran = Call([&] {
            holds = predicate();
            std::lock_guard<std::mutex> lock(m_mutex);
            before = m_completed;
        });
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!ran) {
            // Stopping: once the loop has ended nothing changes any more, so the predicate can
            // be read here.
            if (!m_doneCv.wait_until(lock, deadline, [&] { return m_finished; }))
                return false;
            lock.unlock();
            return predicate();
        }
        if (holds)
            return true;
        // before + 1 is the evaluation itself; wait for something else to have run.
        if (!m_doneCv.wait_until(
                lock, deadline, [&] { return m_completed > before + 1 || m_finished; }))
            return false;
    }
}

bool TLoopOwnerThread::WaitIdle(TClock::time_point deadline)
{
    if (IsOwnerThread())
        return false;
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_doneCv.wait_until(
        lock, deadline, [&] { return (m_queue.empty() && !m_running) || m_finished; });
}

void TLoopOwnerThread::SetErrorSink(TErrorSink sink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errorSink = std::move(sink);
}

std::uint64_t TLoopOwnerThread::CompletedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_completed;
}

std::size_t TLoopOwnerThread::QueuedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

void TLoopOwnerThread::Loop()
{
    t_currentLoop = this;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workCv.wait(lock, [&] { return !m_queue.empty() || m_stopRequested; });
        if (m_queue.empty())
            break; // stop requested and everything queued before it has run
        TWork work = std::move(m_queue.front());
        m_queue.pop_front();
        m_running = true;
        lock.unlock();

        std::exception_ptr error;
        try {
            work.fn();
        } catch (...) {
            error = std::current_exception();
        }
        // Captured state dies here, on the owner thread, before a waiting caller goes on.
        work.fn = nullptr;
        if (error && work.call == nullptr) {
            lock.lock();
            TErrorSink sink = m_errorSink;
            lock.unlock();
            if (sink) {
                try {
                    sink(error);
                } catch (...) {
                    // The sink is the last resort; its own failure must not end the loop.
                }
            }
        }

        if (work.call != nullptr) {
            {
                std::lock_guard<std::mutex> callLock(work.call->mutex);
                work.call->error = error;
                work.call->done = true;
            }
            work.call->cv.notify_one();
            work.call.reset();
        }

        lock.lock();
        m_running = false;
        ++m_completed;
        m_doneCv.notify_all();
    }
    m_finished = true;
    m_doneCv.notify_all();
}

} // namespace pellix

#include "workspace/ui/qt_owner_thread.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <thread>

namespace pellix {
namespace {

// How long one batch may hold the event loop before painting and input get their turn.
constexpr auto kBatchBudget = std::chrono::milliseconds(8);

} // namespace

TQtOwnerThread::TQtOwnerThread(QObject* parent) : QObject(parent) {}

TQtOwnerThread::~TQtOwnerThread() { Stop(); }

bool TQtOwnerThread::Post(std::function<void()> fn) {
    std::lock_guard lock(m_mutex);
    if (m_stopped) return false;
    m_queue.push_back(TWork{std::move(fn), nullptr});
    ScheduleDrainLocked();
    return true;
}

bool TQtOwnerThread::Call(std::function<void()> fn) {
    if (IsOwnerThread()) {
        fn();
        return true;
    }
    TCallState state;
    std::unique_lock lock(m_mutex);
    if (m_stopped) return false;
    m_queue.push_back(TWork{std::move(fn), &state});
    ScheduleDrainLocked();
    m_doneCv.wait(lock, [&] { return state.done; });
    lock.unlock();
    if (state.error) std::rethrow_exception(state.error);
    return true;
}

bool TQtOwnerThread::IsOwnerThread() const { return QThread::currentThread() == thread(); }

void TQtOwnerThread::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    // Stop runs on the owner thread, so nothing else drains: run the rest here.
    while (RunOne()) {
    }
}

void TQtOwnerThread::RunElsewhere(const std::function<void()>& fn) {
    QEventLoop loop;
    std::thread worker([&] {
        fn();
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

std::chrono::microseconds TQtOwnerThread::LongestStep() const {
    std::lock_guard lock(m_mutex);
    return m_longest;
}

void TQtOwnerThread::ScheduleDrainLocked() {
    if (m_drainPosted) return;
    m_drainPosted = true;
    QMetaObject::invokeMethod(this, [this] { Drain(); }, Qt::QueuedConnection);
}

void TQtOwnerThread::Drain() {
    {
        std::lock_guard lock(m_mutex);
        m_drainPosted = false;
    }
    // Inside a nested event loop of a running function: the outer batch goes on once it returns.
    if (m_running) return;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < kBatchBudget) {
        if (!RunOne()) return;
    }
    std::lock_guard lock(m_mutex);
    if (!m_queue.empty()) ScheduleDrainLocked();
}

bool TQtOwnerThread::RunOne() {
    TWork work;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) return false;
        work = std::move(m_queue.front());
        m_queue.pop_front();
    }
    std::exception_ptr error;
    const auto start = std::chrono::steady_clock::now();
    m_running = true;
    try {
        work.fn();
    } catch (...) {
        error = std::current_exception();
    }
    m_running = false;
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::lock_guard lock(m_mutex);
    if (took > m_longest) m_longest = took;
    if (work.call) {
        work.call->error = error;
        work.call->done = true;
        m_doneCv.notify_all();
    }
    return true;
}

} // namespace pellix

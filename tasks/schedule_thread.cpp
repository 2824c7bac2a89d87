// TThreadSchedule: the scheduler thread: once a second it has the owner thread start the first
// due task of the task list, when no task is busy.
#include "tasks/schedule_thread.h"

#include "engine/owner_thread.h"
#include "engine/task.h"
#include "tasks/task_list.h"

namespace pellix {

TThreadSchedule::TThreadSchedule(IOwnerThread& owner, TStartEvent start, TBusyEvent busy,
                                 std::chrono::milliseconds period)
    : m_owner(owner), m_start(std::move(start)), m_busy(std::move(busy)), m_period(period)
{
    m_thread = std::thread([this] { Execute(); });
}

TThreadSchedule::~TThreadSchedule()
{
    Terminate();
    {
        std::lock_guard check(m_shared->checkMutex);
        m_shared->alive = false;
    }
    if (m_thread.joinable())
        m_thread.join();
}

void TThreadSchedule::SetTaskList(TTaskList* list)
{
    m_list = list;
}

void TThreadSchedule::SetClock(std::function<TDateTime()> clock)
{
    m_clock = std::move(clock);
}

void TThreadSchedule::Terminate()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
    }
    m_cv.notify_all();
}

bool TThreadSchedule::Terminated() const
{
    std::lock_guard lock(m_mutex);
    return m_terminate;
}

void TThreadSchedule::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_cv.notify_all();
}

std::uint64_t TThreadSchedule::Checks() const
{
    std::lock_guard lock(m_mutex);
    return m_checks;
}

bool TThreadSchedule::WaitForChecks(std::uint64_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_checks >= count; });
}

std::shared_ptr<TPXTask> TThreadSchedule::CheckSchedule()
{
    // The free-resources gauge of old systems has no counterpart here.
    if (!m_list || m_list->AnyTaskRunning() || (m_busy && m_busy()))
        return nullptr; // one task at a time
    const TDateTime now = m_clock ? m_clock() : Now();
    std::shared_ptr<TPXTask> task = m_list->FindDueTask(now);
    if (!task)
        return nullptr;
    if (!m_start || !m_start(task)) {
        // A start refused without a change to the task (another process runs it) would be
        // refused again every second; the task waits until it is saved again.
        m_list->MarkRefused(*task);
        return nullptr;
    }
    return task;
}

void TThreadSchedule::Execute()
{
    std::unique_lock lock(m_mutex);
    while (!m_terminate) {
        m_woken = false;
        lock.unlock();
        // Posted rather than called, so that the end never waits for an owner thread that is
        // busy destroying this object; the loop still waits until the check has run.
        auto done = std::make_shared<bool>(false);
        const bool posted = m_owner.Post([this, shared = m_shared, done] {
            std::lock_guard check(shared->checkMutex);
            if (!shared->alive)
                return;
            CheckSchedule();
            std::lock_guard state(m_mutex);
            *done = true;
            m_cv.notify_all();
        });
        lock.lock();
        // Refused once the owner thread has stopped (shut-down): the loop then only waits for
        // its end.
        if (posted)
            m_cv.wait(lock, [&] { return *done || m_terminate; });
        ++m_checks;
        m_cv.notify_all();
        m_cv.wait_for(lock, m_period, [this] { return m_terminate || m_woken; });
    }
}

} // namespace pellix

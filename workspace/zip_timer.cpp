// TZipTimer: the zip timer of a run: a thread that posts a tick to the owner thread every period
// while it is on, and that paces the run's completion checks between the ticks.
#include "workspace/zip_timer.h"

#include <algorithm>

#include "engine/download_thread.h"
#include "engine/owner_thread.h"
#include "links/parse_thread.h"

namespace pellix {

namespace {

// Waits on the parse thread are cut into steps this long, so that a long page holds up neither
// the ticks nor Stop.
constexpr std::chrono::milliseconds kParseWaitStep{100};
// How long a completed run waits for the parse thread before it is settled anyway.
constexpr std::chrono::seconds kSettleLimit{60};

} // namespace

TZipTimer::TZipTimer(IOwnerThread& owner, TThreadParse& parse, TThreadDownload& coordinator, TTickEvent onTick)
    : m_owner(owner), m_parse(parse), m_coordinator(coordinator), m_onTick(std::move(onTick)),
      m_alive(std::make_shared<bool>(true))
{
    m_thread = std::thread([this] { Loop(); });
}

TZipTimer::~TZipTimer() { Stop(); }

void TZipTimer::Change(const std::function<void()>& change)
{
    {
        std::lock_guard lock(m_mutex);
        change();
    }
    m_cv.notify_all();
}

void TZipTimer::Stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    Change([this] { m_terminate = true; });
    if (m_thread.joinable())
        m_thread.join();
    m_owner.Call([this] { *m_alive = false; });
}

bool TZipTimer::On() const
{
    std::lock_guard lock(m_mutex);
    return m_on;
}

void TZipTimer::SetOn(bool on)
{
    Change([this, on] { m_on = on; });
}

std::chrono::milliseconds TZipTimer::Interval() const
{
    std::lock_guard lock(m_mutex);
    return m_interval;
}

void TZipTimer::SetInterval(std::chrono::milliseconds interval)
{
    Change([this, interval] { m_interval = interval; });
}

void TZipTimer::BeginRun()
{
    std::lock_guard lock(m_mutex);
    ++m_runGeneration;
    m_settled = false;
    m_settleRequested = false;
}

void TZipTimer::PageSaved()
{
    Change([this] {
        m_parseWatch = true;
        ++m_pagesSaved;
    });
}

void TZipTimer::SettleAfterCompletion()
{
    Change([this] { m_settleRequested = true; });
}

void TZipTimer::TickSoon()
{
    Change([this] { m_tickSoon = true; });
}

bool TZipTimer::Settled() const
{
    std::lock_guard lock(m_mutex);
    return m_settled;
}

void TZipTimer::PostTick()
{
    std::shared_ptr<bool> alive = m_alive;
    m_owner.Post([this, alive] {
        if (*alive && m_onTick)
            m_onTick();
    });
}

bool TZipTimer::WaitParseIdleForSettle()
{
    using TClock = std::chrono::steady_clock;
    const TClock::time_point giveUp = TClock::now() + kSettleLimit;
    bool idle = false;
    while (!idle && TClock::now() < giveUp) {
        idle = m_parse.WaitForIdle(TClock::now() + kParseWaitStep);
        std::lock_guard check(m_mutex);
        if (m_terminate)
            return false;
    }
    return true;
}

void TZipTimer::Loop()
{
    using TClock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    TClock::time_point nextTick = TClock::now() + m_interval;
    while (!m_terminate) {
        const bool ticking = m_on && m_interval.count() > 0;
        const auto woken = [&] { return m_terminate || m_settleRequested || m_parseWatch || m_tickSoon; };
        if (ticking)
            m_cv.wait_until(lock, nextTick, woken);
        else
            m_cv.wait(lock, [&] { return woken() || (m_on && m_interval.count() > 0); });
        if (m_terminate)
            break;
        if (m_tickSoon) {
            m_tickSoon = false;
            lock.unlock();
            PostTick();
            lock.lock();
            continue;
        }
        if (m_settleRequested) {
            m_settleRequested = false;
            const std::uint64_t generation = m_runGeneration;
            lock.unlock();
            if (!WaitParseIdleForSettle())
                return;
            lock.lock();
            // A new run began meanwhile: this completion is not its own.
            if (generation == m_runGeneration) {
                m_settled = true;
                lock.unlock();
                PostTick();
                lock.lock();
            }
            continue;
        }
        if (m_parseWatch) {
            const std::uint64_t saved = m_pagesSaved;
            TClock::time_point until = TClock::now() + kParseWaitStep;
            if (ticking)
                until = std::min(until, nextTick);
            lock.unlock();
            const bool idle = m_parse.WaitForIdle(until);
            if (idle)
                m_coordinator.Wake();
            lock.lock();
            // A page saved during the wait is watched again.
            if (idle && saved == m_pagesSaved)
                m_parseWatch = false;
        }
        if (!ticking) {
            nextTick = TClock::now() + m_interval;
            continue;
        }
        if (TClock::now() >= nextTick) {
            nextTick += m_interval;
            if (nextTick < TClock::now())
                nextTick = TClock::now() + m_interval;
            lock.unlock();
            PostTick();
            lock.lock();
        }
    }
}

} // namespace pellix

// ISessionObserver and TSessionEvents: what a window or the command line follows of the core, and
// the hub that hands each event to every subscriber.
#include "workspace/session_observer.h"

#include <algorithm>

namespace pellix {

void TSessionEvents::Subscribe(ISessionObserver& observer)
{
    std::lock_guard lock(m_mutex);
    if (std::find(m_observers.begin(), m_observers.end(), &observer) == m_observers.end())
        m_observers.push_back(&observer);
}

void TSessionEvents::Unsubscribe(ISessionObserver& observer)
{
    std::lock_guard lock(m_mutex);
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), &observer), m_observers.end());
    ++m_generation;
}

template <typename TCall>
void TSessionEvents::Fire(const TCall& call)
{
    std::vector<ISessionObserver*> round;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        round = m_observers;
        generation = m_generation;
    }
    // No lock is held while a subscriber runs: it may subscribe, unsubscribe or fire itself.
    for (ISessionObserver* observer : round) {
        {
            std::lock_guard lock(m_mutex);
            if (m_generation != generation &&
                std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
                continue;
        }
        call(*observer);
    }
}

void TSessionEvents::StatusText(const std::string& text)
{
    Fire([&](ISessionObserver& o) { o.OnStatusText(text); });
}

void TSessionEvents::Message(TRunnerMessageKind kind, const std::string& text)
{
    Fire([&](ISessionObserver& o) { o.OnMessage(kind, text); });
}

void TSessionEvents::Progress(const std::string& text, std::int64_t position, std::int64_t maximum)
{
    Fire([&](ISessionObserver& o) { o.OnProgress(text, position, maximum); });
}

void TSessionEvents::TaskAdded(TPXTask& task)
{
    Fire([&](ISessionObserver& o) { o.OnTaskAdded(task); });
}

void TSessionEvents::TaskChanged(TPXTask& task)
{
    Fire([&](ISessionObserver& o) { o.OnTaskChanged(task); });
}

void TSessionEvents::TaskCompleted(TPXTask& task, const std::string& report)
{
    Fire([&](ISessionObserver& o) { o.OnTaskCompleted(task, report); });
}

void TSessionEvents::TaskStopped(TPXTask& task, const std::string& message)
{
    Fire([&](ISessionObserver& o) { o.OnTaskStopped(task, message); });
}

void TSessionEvents::Beep()
{
    Fire([&](ISessionObserver& o) { o.OnBeep(); });
}

void TSessionEvents::ItemsCleared(TPXTask& task)
{
    Fire([&](ISessionObserver& o) { o.OnItemsCleared(task); });
}

void TSessionEvents::ItemAdded(TPXTask& task, TPXQItem& item)
{
    Fire([&](ISessionObserver& o) { o.OnItemAdded(task, item); });
}

void TSessionEvents::ItemChanged(TPXTask& task, TPXQItem& item, std::optional<int> stateImage)
{
    Fire([&](ISessionObserver& o) { o.OnItemChanged(task, item, stateImage); });
}

void TSessionEvents::SlotChanged(std::size_t index)
{
    Fire([&](ISessionObserver& o) { o.OnSlotChanged(index); });
}

void TSessionEvents::ZipPacked(TPXTask& task, std::size_t entries)
{
    Fire([&](ISessionObserver& o) { o.OnZipPacked(task, entries); });
}

} // namespace pellix

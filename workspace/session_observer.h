// ISessionObserver and TSessionEvents: what a window or the command line follows of the core, and
// the hub that hands each event to every subscriber.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

class TPXQItem;
class TPXTask;

enum class TRunnerMessageKind { Information, Error };

// Every event has an empty default, so a subscriber overrides only what it shows. Unless an event
// says otherwise it fires on the owner thread, where the subscriber may look at tasks, items and
// slots directly; it must not block there.
class ISessionObserver {
public:
    virtual ~ISessionObserver() = default;

    // A status line text ("Starting Task...", "Ready"); throttling is the subscriber's.
    virtual void OnStatusText(const std::string& /*text*/) {}
    // A message the user must see (an error or an information box).
    virtual void OnMessage(TRunnerMessageKind /*kind*/, const std::string& /*text*/) {}
    // Long work with a known end ("Opening Zip File..."): position of maximum; maximum 0 clears.
    virtual void OnProgress(const std::string& /*text*/, std::int64_t /*position*/, std::int64_t /*maximum*/) {}

    // A task was created and saved, scheduled "Now".
    virtual void OnTaskAdded(TPXTask& /*task*/) {}
    // A task's status changed (started, stopped, completed, rescheduled) and it was saved.
    virtual void OnTaskChanged(TPXTask& /*task*/) {}
    // A run completed (status 6 or 7, possibly rescheduled since), with the completion report.
    virtual void OnTaskCompleted(TPXTask& /*task*/, const std::string& /*report*/) {}
    // The runner stopped a run itself because a local write failed (TPXTask::WriteFault says
    // which file and why); the task is "Download Stopped" and can be resumed. The message was
    // also given to OnMessage.
    virtual void OnTaskStopped(TPXTask& /*task*/, const std::string& /*message*/) {}
    // "Beep On Completion" is on and a task completed.
    virtual void OnBeep() {}

    // The current task's download list: rows cleared, an item added or loaded, an item written
    // back (stateImage set when its state image changed). Items change often during a crawl:
    // subscribers mark and flush on a timer, they do not repaint per call.
    virtual void OnItemsCleared(TPXTask& /*task*/) {}
    virtual void OnItemAdded(TPXTask& /*task*/, TPXQItem& /*item*/) {}
    virtual void OnItemChanged(TPXTask& /*task*/, TPXQItem& /*item*/, std::optional<int> /*stateImage*/) {}
    // A connection slot's row changed (TSlotList::TakeChangedRows has the rows).
    virtual void OnSlotChanged(std::size_t /*index*/) {}
    // A pack went into the task's Zip file: how many entries were added.
    virtual void OnZipPacked(TPXTask& /*task*/, std::size_t /*entries*/) {}
};

// The subscribers of one session. Subscribe and Unsubscribe may be called from any thread, also
// from inside an event; an observer unsubscribed during a round gets no further calls of it.
// Events are delivered on the thread that fires them, in subscription order.
class TSessionEvents final {
public:
    void Subscribe(ISessionObserver& observer);
    void Unsubscribe(ISessionObserver& observer);

    void StatusText(const std::string& text);
    void Message(TRunnerMessageKind kind, const std::string& text);
    void Progress(const std::string& text, std::int64_t position, std::int64_t maximum);
    void TaskAdded(TPXTask& task);
    void TaskChanged(TPXTask& task);
    void TaskCompleted(TPXTask& task, const std::string& report);
    void TaskStopped(TPXTask& task, const std::string& message);
    void Beep();
    void ItemsCleared(TPXTask& task);
    void ItemAdded(TPXTask& task, TPXQItem& item);
    void ItemChanged(TPXTask& task, TPXQItem& item, std::optional<int> stateImage);
    void SlotChanged(std::size_t index);
    void ZipPacked(TPXTask& task, std::size_t entries);

private:
    template <typename TCall>
    void Fire(const TCall& call);

    std::mutex m_mutex;
    std::vector<ISessionObserver*> m_observers;
    std::uint64_t m_generation = 0; // counts unsubscriptions, so a round can skip the removed
};

} // namespace pellix

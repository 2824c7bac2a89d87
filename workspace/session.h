// TSession: the core as every program assembles it: status model, connection slots, parse thread,
// download coordinator and task runner, wired once, with the events that windows follow.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "workspace/session_observer.h"

namespace pellix {

class IOwnerThread;
class TPXApp;
class TPXTask;
class TSlotList;
class TStatusModel;
class TTaskRunner;
class TThreadDownload;
class TThreadParse;
class TThreadSchedule;

struct TLoadTaskResult {
    std::shared_ptr<TPXTask> task; // null when the file was refused
    std::string message;           // why, when refused
};

// Construction, in this order: the events hub, the status model, the slot list (on the owner
// thread, with the stored "Connections"), the parse thread and the coordinator (both suspended),
// the task runner (its zip timer and packing threads); then the wiring, each hook set once here:
// a saved page wakes the parse thread and reaches the runner, queued items wake the coordinator,
// the coordinator's completion reaches the runner, a changed number of connections is stored,
// a changed connection row becomes a slot-changed event; last the scheduler thread, running, which
// starts due tasks through the runner once the desktop gives it a task list to look at.
//
// Destruction, on any thread but the owner thread: the scheduler thread is told to end and
// joined first (so nothing starts any more); a run still going is stopped and waited for;
// then the runner (its threads end, ticks already posted run first), the coordinator is stopped
// and waited for, the parse thread goes, the slots go on the owner thread (their transfers end
// first: they wake the coordinator), then the coordinator, the status model and the hub. The
// owner thread must outlive the session.
class TSession final {
public:
    // parseThreads: pages parsed at a time; 0: TThreadParse::DefaultThreadCount.
    TSession(TPXApp& app, IOwnerThread& owner, unsigned parseThreads = 0);
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    TPXApp& App() { return m_app; }
    IOwnerThread& Owner() { return m_owner; }
    TSessionEvents& Events() { return *m_events; }
    TStatusModel& Status() { return *m_status; }
    TSlotList& Slots() { return *m_slots; }
    TThreadParse& Parser() { return *m_parse; }
    TThreadDownload& Coordinator() { return *m_coordinator; }
    TTaskRunner& Runner() { return *m_runner; }
    TThreadSchedule& Scheduler() { return *m_scheduler; }

    // Owner thread. A task from its task file; a file that is missing or no task file is refused
    // with the reason and left untouched.
    TLoadTaskResult LoadTask(const std::string& taskFile);
    // Owner thread. The number of connections for this process only (a command-line switch): the
    // stored setting stays as it is, also when the slider moves with the end of a run.
    void OverrideConnections(int n);
    // Not on the owner thread: stops the run in progress, if any, and waits until it settled.
    void StopAndSettle(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    TPXApp& m_app;
    IOwnerThread& m_owner;
    std::unique_ptr<TSessionEvents> m_events;
    std::unique_ptr<TStatusModel> m_status;
    std::unique_ptr<TSlotList> m_slots;
    std::unique_ptr<TThreadParse> m_parse;
    std::unique_ptr<TThreadDownload> m_coordinator;
    std::unique_ptr<TTaskRunner> m_runner;
    std::unique_ptr<TThreadSchedule> m_scheduler;
    bool m_storeConnections = true; // owner thread
};

} // namespace pellix

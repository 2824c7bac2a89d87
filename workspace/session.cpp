// TSession: the core as every program assembles it: status model, connection slots, parse thread,
// download coordinator and task runner, wired once, with the events that windows follow.
#include "workspace/session.h"

#include <filesystem>

#include "engine/download_thread.h"
#include "engine/owner_thread.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/parse_thread.h"
#include "tasks/schedule_thread.h"
#include "tasks/status_model.h"
#include "workspace/app_settings.h"
#include "workspace/task_runner.h"

namespace pellix {

TSession::TSession(TPXApp& app, IOwnerThread& owner, unsigned parseThreads)
    : m_app(app), m_owner(owner), m_events(std::make_unique<TSessionEvents>()),
      m_status(std::make_unique<TStatusModel>())
{
    m_owner.Call([this] {
        m_slots = std::make_unique<TSlotList>(m_owner);
        m_slots->SetConnections(static_cast<int>(m_app.Connections()));
    });
    m_parse = std::make_unique<TThreadParse>(m_owner,
                                             parseThreads > 0 ? parseThreads : TThreadParse::DefaultThreadCount());
    m_coordinator = std::make_unique<TThreadDownload>(m_owner, &m_app);
    m_runner = std::make_unique<TTaskRunner>(m_app, m_owner, *m_slots, *m_coordinator, *m_parse, m_status.get(),
                                             *m_events);
    m_parse->SetOnItemsQueued([this] { m_coordinator->PassSoon(); });
    m_owner.Call([this] {
        m_slots->OnPageSaved = [this](TPXQItem&) {
            m_parse->Wake();
            m_runner->PageSaved();
        };
        m_slots->OnConnectionsChanged = [this](int n) {
            if (m_storeConnections)
                m_app.SetConnections(static_cast<std::uint32_t>(n));
        };
        m_slots->OnRowChanged = [this](std::size_t index) { m_events->SlotChanged(index); };
        m_coordinator->OnComplete = [this](TPXTask&) { m_runner->DownloadComplete(); };
    });
    m_scheduler = std::make_unique<TThreadSchedule>(
        m_owner, [this](const std::shared_ptr<TPXTask>& task) { return m_runner->StartTask(task).ok; },
        [this] { return m_runner->RunningTask() != nullptr; });
}

TSession::~TSession()
{
    m_scheduler.reset();
    StopAndSettle();
    // The status model and the application hold the current task by pointer; the runner's
    // reference to it goes with the runner.
    m_owner.Call([this] {
        m_status->BindTask(nullptr);
        m_app.SetCurrentTask(nullptr);
    });
    m_runner.reset();
    m_owner.Call([this] { m_coordinator->Stop(); });
    m_coordinator->WaitSuspended(std::chrono::seconds(30));
    m_parse->SetOnItemsQueued(nullptr);
    m_parse.reset();
    m_owner.Call([this] {
        m_coordinator->OnComplete = nullptr;
        m_slots.reset();
    });
    m_coordinator.reset();
    m_owner.Call([this] { m_status.reset(); });
}

TLoadTaskResult TSession::LoadTask(const std::string& taskFile)
{
    TLoadTaskResult result;
    const std::string file = std::filesystem::absolute(taskFile).lexically_normal().string();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        result.message = "Task file not found: " + file;
        return result;
    }
    auto task = std::make_shared<TPXTask>(&m_app);
    task->SetTaskFile(file);
    if (!task->Load(&result.message))
        return result;
    result.task = std::move(task);
    return result;
}

void TSession::OverrideConnections(int n)
{
    m_storeConnections = false;
    m_slots->SetConnections(n);
}

void TSession::StopAndSettle(std::chrono::milliseconds timeout)
{
    bool stopped = false;
    m_owner.Call([&] {
        if (auto task = m_runner->RunningTask()) {
            m_runner->StopTask(*task);
            stopped = true;
        }
    });
    if (stopped)
        m_runner->WaitRunSettled(timeout);
}

} // namespace pellix

#include "engine/download_thread.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>

#include "engine/connection_slot.h"
#include "engine/download_list.h"
#include "engine/owner_thread.h"
#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "tasks/status_model.h"
#include "workspace/app_settings.h"

namespace pellix {

TThreadDownload::TThreadDownload(IOwnerThread& owner, TPXApp* app) : m_owner(owner), m_app(app)
{
    m_thread = std::thread([this] { Execute(); });
}

TThreadDownload::~TThreadDownload()
{
    {
        // Waits for a posted pass in progress; later ones do nothing.
        std::lock_guard lock(m_passGate->mutex);
        m_passGate->alive = false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_terminated = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TThreadDownload::Start(TPXTask& task, TSlotList& slots, TStatusModel* status)
{
    slots.SetDownloading(true);
    // Every transfer that ends has a pass run, so the next item goes out at once.
    slots.OnTransferEnded = [this] { PassSoon(); };
    {
        std::lock_guard lock(m_mutex);
        m_task = &task;
        m_slots = &slots;
        m_status = status;
        m_stop = false;
        m_running = true;
        m_woken = true;
        ++m_generation;
    }
    m_cv.notify_all();
}

void TThreadDownload::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        if (m_slots)
            m_slots->SetDownloading(false);
    }
    m_cv.notify_all();
}

void TThreadDownload::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_cv.notify_all();
}

void TThreadDownload::PassSoon()
{
    std::shared_ptr<TPassGate> gate = m_passGate;
    if (gate->posted.exchange(true))
        return;
    const bool posted = m_owner.Post([this, gate] {
        // Cleared first: a transfer that ends while this pass runs asks for another.
        gate->posted.store(false);
        std::lock_guard gateLock(gate->mutex);
        if (!gate->alive)
            return;
        std::uint64_t generation = 0;
        {
            std::lock_guard lock(m_mutex);
            generation = m_generation;
        }
        bool finished = false;
        if (!Pass(generation, finished))
            return;
        {
            std::lock_guard lock(m_mutex);
            ++m_passes;
        }
        m_suspendCv.notify_all();
    });
    if (!posted) {
        gate->posted.store(false);
        Wake();
    }
}

bool TThreadDownload::Pass(std::uint64_t generation, bool& finished)
{
    TPXTask* task = nullptr;
    TSlotList* slots = nullptr;
    TStatusModel* status = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || m_stop || generation != m_generation || !m_slots)
            return false;
        task = m_task;
        slots = m_slots;
        status = m_status;
    }
    Refresh(task, *slots, status);
    TStepResult result = TStepResult::Done;
    while (!Stopped()) {
        result = Step(task, *slots);
        if (result != TStepResult::Again)
            break;
    }
    if (result == TStepResult::Finished) {
        finished = true;
        if (OnComplete && task)
            OnComplete(*task);
        {
            // In the same owner-thread call, so no later pass of this run completes the task
            // again; a start that OnComplete made wins over the suspension.
            std::lock_guard lock(m_mutex);
            if (generation == m_generation)
                m_running = false;
        }
        m_suspendCv.notify_all();
    }
    return true;
}

bool TThreadDownload::Stopped() const
{
    std::lock_guard lock(m_mutex);
    return m_stop;
}

bool TThreadDownload::Suspended() const
{
    std::lock_guard lock(m_mutex);
    return !m_running;
}

bool TThreadDownload::WaitForPasses(std::uint64_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_suspendCv.wait_for(lock, timeout, [&] { return m_passes >= count || m_terminated; });
}

std::uint64_t TThreadDownload::Passes() const
{
    std::lock_guard lock(m_mutex);
    return m_passes;
}

bool TThreadDownload::WaitSuspended(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_suspendCv.wait_for(lock, timeout, [this] { return !m_running || m_terminated; });
}

void TThreadDownload::SetPriority(std::optional<int> priority)
{
    std::lock_guard lock(m_mutex);
    m_priority = priority;
}

void TThreadDownload::SetClock(std::function<TDateTime()> clock)
{
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

int TThreadDownload::CurrentPriority() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_priority)
            return *m_priority;
    }
    return m_app ? m_app->Priority() : 5;
}

TDateTime TThreadDownload::CurrentTime() const
{
    std::function<TDateTime()> clock;
    {
        std::lock_guard lock(m_mutex);
        clock = m_clock;
    }
    return clock ? clock() : Now();
}

bool TThreadDownload::PageFirst(int pagesTaken, int resourcesTaken, int priority)
{
    const int taken = pagesTaken + resourcesTaken;
    if (taken == 0)
        return true;
    return std::abs(priority - 10) / 10.0 >= static_cast<double>(pagesTaken) / taken;
}

TPXQItem* TThreadDownload::ChooseItem(TPXTask& task, int priority)
{
    return ChooseItem(task, priority, TPickRule{});
}

TPXQItem* TThreadDownload::ChooseItem(TPXTask& task, int priority, const TPickRule& rule)
{
    TPXDownloadList& list = task.DownloadList();
    const auto next = [&](bool pages) -> TPXQItem* {
        const auto where = [&](const std::function<bool(std::string_view)>& accept) {
            return pages ? list.NextPageWhere(accept, kPickWindow) : list.NextResourceWhere(accept, kPickWindow);
        };
        TPXQItem* item = nullptr;
        if (rule.preferred)
            item = where([&](std::string_view url) { return rule.preferred(url) && (!rule.allowed || rule.allowed(url)); });
        if (!item && rule.allowed)
            item = where(rule.allowed);
        else if (!item)
            item = pages ? list.NextPage() : list.NextResource();
        return item;
    };
    const auto page = [&]() -> TPXQItem* {
        TPXQItem* item = next(true);
        if (item)
            task.AddPageTaken();
        return item;
    };
    const auto resource = [&]() -> TPXQItem* {
        TPXQItem* item = next(false);
        if (item)
            task.AddResourceTaken();
        return item;
    };
    if (PageFirst(task.PagesTaken(), task.ResourcesTaken(), priority)) {
        if (TPXQItem* item = page())
            return item;
        return resource();
    }
    if (TPXQItem* item = resource())
        return item;
    return page();
}

void TThreadDownload::FinishTransfer(TPXSocket& slot, TPXTask& task)
{
    TPXQItem* item = slot.QItem();
    if (!item)
        return;
    item->Reload();
    // The transfer gave its item back to the queue (its file could not be written for a reason
    // the whole run shares): a resume fetches it; nothing to count.
    if (item->State() == kStateNone)
        return;
    // A worker that ended without recording an outcome leaves its item failed, not stuck.
    if (slot.Driver().State() == hsError || item->State() == kStateDownloading ||
        item->State() == kStateUpdating) {
        item->SetState(kStateError);
        item->WriteBack(true);
    }
    const bool page = item->IsPage();
    if (page)
        task.AddPagesSaved(1);
    else
        task.AddResourcesSaved(1);
    if (item->State() == kStateError) {
        if (page)
            task.AddPageErrors(1);
        else
            task.AddResourceErrors(1);
        return;
    }
    // Only a file that was written can be packed (an update that found it unchanged wrote none);
    // pages and style sheets are packed after the parse thread has rewritten their links.
    if (!item->IsLinkSource() && !task.IntranetMode() && item->State() == kStateSaved)
        task.AppendToZipQueue(item->LocalPath(), item);
}

void TThreadDownload::Refresh(TPXTask* task, TSlotList& slots, TStatusModel* status)
{
    for (std::size_t i = 0; i < slots.Count(); ++i) {
        TPXSocket& slot = slots.Slot(i);
        if (slot.QItem()) {
            slot.CopyFromDriver();
            if (slot.Driver().TransferFinished()) {
                if (task)
                    FinishTransfer(slot, *task);
                slot.Driver().SetState(hsIdle);
                slot.Driver().FreeWorker();
            }
            if (status)
                status->RefreshCounters();
        }
        if (slot.RefreshRow())
            slots.MarkRowChanged(i);
    }
    if (task) {
        task->SetElapsedTime(CurrentTime() - task->RunStartTime());
        if (status && status->Task() == task)
            status->AddRateSample(slots.Connections());
    }
}

TThreadDownload::TStepResult TThreadDownload::Step(TPXTask* task, TSlotList& slots)
{
    // Stop runs on this thread too: a step queued before it must not start new work after it.
    if (Stopped())
        return TStepResult::Done;
    TPXSocket* idle = slots.FirstIdleSlot();
    if (!idle)
        return TStepResult::Done;
    if (slots.Count() > static_cast<std::size_t>(slots.Connections())) {
        ReturnAhead(*idle, task, slots);
        slots.FreeSlot(*idle);
        return TStepResult::Done;
    }
    if (!task)
        return TStepResult::Done;
    // After a local write failed for good (full or read-only disk) every new transfer would fail
    // the same way: none is started, and the run waits to be stopped with its items kept.
    if (task->WriteFault())
        return TStepResult::Done;
    // A free slot whose connection carries GETs sent ahead reads their replies in turn.
    for (std::size_t i = 0; i < slots.Count(); ++i) {
        TPXSocket& slot = slots.Slot(i);
        if (!slot.Idle() || slot.Ahead().empty())
            continue;
        if (TPXQItem* item = NextAhead(slot, *task, slots)) {
            StartOn(slot, *item, *task, slots);
            return TStepResult::Again;
        }
    }
    // Kept connections are used again where the priority rule leaves a choice, and no server
    // gets more than its share of the slots.
    std::map<std::string, int> busy;
    std::set<std::string> connected;
    for (std::size_t i = 0; i < slots.Count(); ++i) {
        const TPXSocket& slot = slots.Slot(i);
        if (!slot.Idle())
            ++busy[slot.ServerKey()];
        else if (std::string to = slot.ConnectedTo(); !to.empty())
            connected.insert(std::move(to));
    }
    const int limit = slots.PerHostLimit();
    TPickRule rule;
    const bool limited =
        std::any_of(busy.begin(), busy.end(), [&](const auto& entry) { return entry.second >= limit; });
    if (limited || slots.AnyPickedAhead())
        rule.allowed = [&](std::string_view url) {
            if (slots.PickedAhead(url))
                return false;
            if (!limited)
                return true;
            const auto found = busy.find(ServerKeyOf(url));
            return found == busy.end() || found->second < limit;
        };
    if (!connected.empty())
        rule.preferred = [&](std::string_view url) { return connected.count(ServerKeyOf(url)) != 0; };
    if (TPXQItem* item = ChooseItem(*task, CurrentPriority(), rule)) {
        item->Reload();
        TPXSocket* slot = slots.IdleSlotFor(ServerKeyOf(item->URL()));
        StartOn(*slot, *item, *task, slots);
        return TStepResult::Again;
    }
    if (slots.BusyCount() > 0 || task->DownloadList().NextSavedPage())
        return TStepResult::Done;
    task->SetStatus(kStatusComplete);
    task->DownloadList().SaveList();
    task->Save();
    slots.SetDownloading(false);
    return TStepResult::Finished;
}

TPXQItem* TThreadDownload::NextAhead(TPXSocket& slot, TPXTask& task, TSlotList& slots)
{
    // The connection that carried their GETs is gone (the server closed it, a reply ended it):
    // the items wait again as if they had never been picked, and go wherever the rule sends them.
    const std::string connectedTo = slot.ConnectedTo();
    if (connectedTo.empty() || connectedTo != ServerKeyOf(slot.Ahead().front().url)) {
        ReturnAhead(slot, &task, slots);
        return nullptr;
    }
    for (TPXSocket::TAhead ahead; slots.TakeAhead(slot, ahead);) {
        ahead.item->Reload();
        if (ahead.item->State() == kStateNone)
            return ahead.item;
        task.ReturnTaken(ahead.page);
    }
    return nullptr;
}

void TThreadDownload::ReturnAhead(TPXSocket& slot, TPXTask* task, TSlotList& slots)
{
    for (TPXSocket::TAhead ahead; slots.TakeAhead(slot, ahead);)
        if (task)
            task->ReturnTaken(ahead.page);
}

void TThreadDownload::StartOn(TPXSocket& slot, TPXQItem& item, TPXTask& task, TSlotList& slots)
{
    PickAheadFor(slot, item, task, slots);
    slot.StartTransfer(item, task, m_app);
}

void TThreadDownload::PickAheadFor(TPXSocket& slot, TPXQItem& item, TPXTask& task, TSlotList& slots)
{
    const int depth = slots.PipelineDepth();
    if (depth <= 1 || slot.Ahead().size() + 1 >= static_cast<std::size_t>(depth))
        return;
    // Only on a kept connection to the item's server, straight to it (a proxy may not keep
    // the order of replies), that an HTTP/1.1 reply has shown to carry more.
    const std::string server = ServerKeyOf(item.URL());
    if (slot.ConnectedTo() != server || !slot.Driver().HTTP().CanSendAhead())
        return;
    if (m_app && m_app->UseProxy() && !m_app->ProxyAddress().empty())
        return;
    // A free slot serves a waiting item sooner than a place in a queue: requests go ahead only
    // when no other slot could take them.
    int otherIdle = 0;
    int busyHere = 0;
    for (std::size_t i = 0; i < slots.Count(); ++i) {
        const TPXSocket& other = slots.Slot(i);
        if (&other == &slot)
            continue;
        if (other.Idle())
            ++otherIdle;
        else if (other.ServerKey() == server)
            ++busyHere;
    }
    if (otherIdle > 0 && busyHere + 1 < slots.PerHostLimit())
        return;
    TPickRule rule;
    rule.allowed = [&](std::string_view url) {
        return url != item.URL() && !slots.PickedAhead(url) && ServerKeyOf(url) == server;
    };
    const int priority = CurrentPriority();
    while (slot.Ahead().size() + 1 < static_cast<std::size_t>(depth)) {
        const int pagesBefore = task.PagesTaken();
        TPXQItem* next = ChooseItem(task, priority, rule);
        if (!next)
            break;
        next->Reload();
        slots.PickAhead(slot, *next, task.PagesTaken() != pagesBefore);
    }
}

void TThreadDownload::Execute()
{
    using TSteadyClock = std::chrono::steady_clock;
    TSteadyClock::time_point nextSaveCheck = TSteadyClock::now() + kCycle;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_terminated || m_running; });
        if (m_terminated)
            break;
        TPXTask* task = m_task;
        TSlotList* slots = m_slots;
        TStatusModel* status = m_status;
        const bool stop = m_stop;
        const std::uint64_t generation = m_generation;
        m_woken = false;
        lock.unlock();

        bool finished = false;
        if (stop || !slots) {
            m_owner.Call([task] {
                if (task && task->DownloadList().HasUnsavedChanges())
                    task->DownloadList().SaveList();
            });
            finished = true;
        } else {
            // One visit to the owner thread per pass: each crossing costs two thread wake-ups,
            // and a pass may start a transfer on every free slot.
            m_owner.Call([&] { Pass(generation, finished); });
            // The list is checked about once a second, however often the loop was woken, so
            // that a list that keeps changing is written every eleventh second.
            if (!finished && TSteadyClock::now() >= nextSaveCheck) {
                m_owner.Call([task] {
                    if (task && task->DownloadList().HasUnsavedChanges())
                        task->DownloadList().PeriodicSave();
                });
                nextSaveCheck = TSteadyClock::now() + kCycle;
            }
        }

        lock.lock();
        ++m_passes;
        m_suspendCv.notify_all();
        // A start that came meanwhile wins over the suspension.
        if (finished && generation == m_generation) {
            m_running = false;
            m_suspendCv.notify_all();
            continue;
        }
        if (finished)
            continue;
        const auto until = std::min(nextSaveCheck, TSteadyClock::now() + kCycle);
        m_cv.wait_until(lock, until, [this] { return m_woken || m_stop || m_terminated; });
    }
    m_running = false;
    m_suspendCv.notify_all();
}

} // namespace pellix

// TTaskRunner: the main window's task operations without a window: create a task from an
// address, start, stop, end a run, the zip timer's tick, completion with its report.
#include "workspace/task_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "engine/connection_slot.h"
#include "engine/download_list.h"
#include "engine/download_thread.h"
#include "engine/http_driver.h"
#include "engine/owner_thread.h"
#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "engine/transfer_thread.h"
#include "links/file_io.h"
#include "links/link_repair.h"
#include "links/page_link_keys.h"
#include "links/parse_thread.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "tasks/error_report.h"
#include "tasks/schedule.h"
#include "tasks/status_model.h"
#include "workspace/app_settings.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

// The entry name a task file gets in its Zip: its path below the temp folder.
std::string EntryNameOf(const std::string& localPath, const std::string& tempFolder)
{
    const fs::path local = fs::path(localPath).lexically_normal();
    const fs::path relative = local.lexically_relative(fs::path(tempFolder).lexically_normal());
    if (relative.empty() || *relative.begin() == "..")
        return local.relative_path().generic_string();
    return relative.generic_string();
}

} // namespace

// Hands the current task's list changes to the session's subscribers.
class TTaskRunner::TListEvents final : public IDownloadListObserver {
public:
    TListEvents(TSessionEvents& events, TPXTask& task) : m_events(events), m_task(task) {}
    void BeginUpdate() override {}
    void EndUpdate() override {}
    void RowsCleared() override { m_events.ItemsCleared(m_task); }
    void RowAdded(TPXQItem& item) override { m_events.ItemAdded(m_task, item); }
    void RowChanged(TPXQItem& item, std::optional<int> stateImage) override
    {
        m_events.ItemChanged(m_task, item, stateImage);
    }

private:
    TSessionEvents& m_events;
    TPXTask& m_task;
};

TTaskRunner::TTaskRunner(TPXApp& app, IOwnerThread& owner, TSlotList& slots, TThreadDownload& coordinator,
                         TThreadParse& parse, TStatusModel* status, TSessionEvents& events)
    : m_app(app), m_owner(owner), m_slots(slots), m_coordinator(coordinator), m_parse(parse), m_status(status),
      m_events(events), m_alive(std::make_shared<bool>(true)),
      m_zipTimer(owner, parse, coordinator, [this] { ZipTimerTick(); }), m_packer(owner, events)
{
    m_linkKeys = std::make_shared<TPageLinkKeys>();
    m_parse.SetLinkKeys(m_linkKeys);
    // Parsed pages reach the zip queue after the last page was saved too: each one may make a
    // backlog worth packing before the next tick. One look is in flight at a time.
    auto posted = std::make_shared<std::atomic_bool>(false);
    m_parse.SetOnZipQueued([this, &owner = m_owner, alive = m_alive, posted] {
        if (posted->exchange(true))
            return;
        owner.Post([this, alive, posted] {
            *posted = false;
            if (*alive && BacklogTickDue())
                ZipTimerTick();
        });
    });
}

void TTaskRunner::PageSaved()
{
    m_zipTimer.PageSaved();
    if (BacklogTickDue())
        m_zipTimer.TickSoon();
}

bool TTaskRunner::BacklogTickDue() const
{
    // An idle packer need not wait for the clock when enough is queued (ticks by hand stay so).
    return m_running && !m_packing && m_zipTimer.On() && m_zipTimer.Interval().count() > 0
           && PackBacklogDue(*m_running);
}

void TTaskRunner::DownloadComplete()
{
    // The page the parse thread holds may still be on its way to the zip queue: let it finish
    // (off this thread), then tick at once.
    m_parse.Stop();
    m_zipTimer.SettleAfterCompletion();
}

void TTaskRunner::BindListEvents(const std::shared_ptr<TPXTask>& task)
{
    if (m_current && m_listEvents && m_current->DownloadList().Observer() == m_listEvents.get())
        m_current->DownloadList().SetObserver(nullptr);
    m_listEvents.reset();
    if (task && !task->DownloadList().Observer()) {
        m_listEvents = std::make_unique<TListEvents>(m_events, *task);
        task->DownloadList().SetObserver(m_listEvents.get());
    }
}

TTaskRunner::~TTaskRunner()
{
    // Ticks already posted find the timer stopped.
    m_zipTimer.Stop();
    JoinRepair();
    m_packer.WaitIdle();
    // Let pack outcomes already posted run (they see m_alive) before the members go.
    m_owner.Call([this] {
        *m_alive = false;
        BindListEvents(nullptr);
    });
    for (std::thread& remover : m_removers)
        remover.join();
}

TDateTime TTaskRunner::CurrentTime() const { return m_clock ? m_clock() : Now(); }

void TTaskRunner::SetZipTimerInterval(std::chrono::milliseconds interval) { m_zipTimer.SetInterval(interval); }

bool TTaskRunner::ZipTimerOn() const { return m_zipTimer.On(); }

void TTaskRunner::ShowStatus(const std::string& text)
{
    if (m_status)
        m_status->ShowStatus(text, 0, 0);
    m_events.StatusText(text);
}

void TTaskRunner::Message(TRunnerMessageKind kind, const std::string& text)
{
    m_events.Message(kind, text);
}

TCreateTaskResult TTaskRunner::CreateTaskFromAddress(const std::string& address, const std::string& profileName,
                                                     bool map, bool intranet, const std::string& intranetFolder)
{
    TCreateTaskResult result;
    std::string url = address;
    const bool namedProfile = !profileName.empty() && profileName != kCustomProfileName;
    if (namedProfile) {
        if (!ValidateURL(url)) {
            result.message = "Invalid URL.";
            return result;
        }
        if (!StartsWithText(url, "HTTP://") && !StartsWithText(url, "HTTPS://")) {
            result.message = "Invalid URL.\nNOTE: https && ftp not supported in this version of Pellix.";
            return result;
        }
    }

    const std::string category = m_app.TasksFolder() + m_app.LastCategory() + "/";
    std::string site = SiteName(url);
    if (site.empty())
        site = "Task";
    const std::string file = UniqueFileName(category + site + kTaskFileExtension);
    if (file.empty()) {
        result.message = "Unable to find a free task file name for " + site + " in " + category;
        return result;
    }
    auto task = std::make_shared<TPXTask>(&m_app);
    task->SetTaskName(FileNameNoExt(file));
    task->SetTaskFile(category + task->TaskName() + kTaskFileExtension);
    task->SetURL(url);
    task->SetIntranetMode(intranet);
    if (map)
        task->SetRunMode(kRunMap);

    if (namedProfile) {
        task->Profile().SetProfileFile(m_app.ProfilesFolder() + profileName + ".pxp");
        task->Profile().SetProfileName(profileName);
        task->Profile().Load();
    } else {
        task->Profile().SetProfileName(kCustomProfileName);
    }

    if (!intranet && !m_addToZipTarget.empty()) {
        task->SetDestination(m_addToZipTarget);
        // The chosen Zip keeps its name.
        task->Profile().SetUseStartPageTitle(false);
    } else if (intranet) {
        task->SetDestination(intranetFolder.empty() ? m_app.IntranetFolder() : intranetFolder);
    } else {
        const std::string zip = UniqueFileName(m_app.DownloadsFolder() + task->TaskName() + ".zip");
        if (zip.empty()) {
            result.message = "Unable to find a free Zip file name for " + task->TaskName() + " in " +
                             m_app.DownloadsFolder();
            return result;
        }
        task->SetDestination(zip);
    }

    if (namedProfile)
        AddTask(*task);
    else
        result.needsEditor = true;

    std::vector<std::string> recent = m_app.RecentItems(kRecentURLsKey);
    recent.erase(std::remove(recent.begin(), recent.end(), url), recent.end());
    recent.insert(recent.begin(), url);
    if (recent.size() > m_app.MaxURLHistory())
        recent.resize(m_app.MaxURLHistory());
    m_app.SaveRecentItems(kRecentURLsKey, recent);

    result.ok = true;
    result.task = std::move(task);
    return result;
}

void TTaskRunner::AddTask(TPXTask& task)
{
    task.SetSchedule(kScheduleNow);
    task.SetStatus(kStatusScheduled);
    std::string error;
    if (!task.Save(&error))
        Message(TRunnerMessageKind::Error, "Unable to save the task: " + error);
    m_events.TaskAdded(task);
}

void TTaskRunner::BindCurrent(const std::shared_ptr<TPXTask>& task)
{
    if (m_current && m_current != task) {
        m_slots.ForgetItems();
        m_current->Clear();
    }
    if (m_status) {
        m_status->ResetStatus();
        m_status->BindTask(task.get());
    }
    BindListEvents(task);
    m_current = task;
    m_app.SetCurrentTask(task.get());
}

void TTaskRunner::MakeCurrent(const std::shared_ptr<TPXTask>& task)
{
    if (task == m_current)
        return;
    BindCurrent(task);
    if (task) {
        const TListResult loaded = task->DownloadList().LoadList();
        if (!loaded.ok) {
            Message(TRunnerMessageKind::Error, loaded.message);
        } else {
            // A later resume uses this list as it is in memory: its counters and title come
            // from it now, as a resume from the file would take them.
            task->RecountFromList();
            task->RecoverStartPageTitle();
        }
    }
}

TStartResult TTaskRunner::StartTask(const std::shared_ptr<TPXTask>& task)
{
    TStartResult result;
    if (!task)
        return {false, "No task."};
    // One run of a task at a time, across processes: a second would crawl again and split the Zip.
    const TTaskLockResult locked = m_runLock.Acquire(task->TaskFile(), task->TaskName());
    if (!locked.ok) {
        Message(TRunnerMessageKind::Error, locked.message);
        return {false, locked.message}; // the other run's task file is left as it is
    }
    task->ClearWriteFault();
    const int mode = task->RunMode();
    const bool resumes = mode == kRunResume || mode == kRunSmartUpdate || mode == kRunSmartRecovery;
    const bool listInMemory = resumes && task == m_current;
    if (!listInMemory)
        BindCurrent(task);
    ShowStatus(resumes ? "Resuming Task..." : "Starting Task...");
    if (resumes && !listInMemory)
        task->Clear(); // the list is read afresh from its file
    // Items that failed before a retry or an update: if this run recovers them, the links that
    // completion gave back their addresses become local again.
    m_failedBefore.clear();
    if (mode == kRunSmartRecovery || mode == kRunSmartUpdate) {
        std::optional<std::vector<std::string>> lines;
        if (listInMemory)
            lines = ListLines(task->DownloadList());
        else
            lines = ReadListFile(task->DownloadList().FilePath());
        if (lines)
            for (TFailedItem& failed : FailedItems(*lines))
                m_failedBefore.insert(std::move(failed.url));
    }
    const TListResult prepared = task->PrepareRun(listInMemory);
    if (!prepared.ok)
        return FailStart(*task, prepared.message);
    std::string folderError;
    if (!PrepareFolders(*task, folderError)) {
        // A folder that cannot be written is a local write failure like a full disk.
        task->RecordWriteFault(task->IntranetMode() ? task->Destination() : task->WorkFolder(), folderError);
        return FailStart(*task, folderError);
    }
    if (resumes && !listInMemory) {
        // A process that ended without ending its run left items marked as in transfer, and
        // one killed before its first list save left no list at all.
        task->DownloadList().ResetInterrupted();
        if (task->DownloadList().Count() == 0)
            task->BeginRun();
    }

    JoinRepair();
    m_packer.Close();
    if (!task->IntranetMode()) {
        const std::string zipPath = task->Destination();
        std::error_code ec;
        // An empty file is what a first pack that could not write (or a process killed while
        // creating the Zip) leaves: nothing is in it, so it is made anew.
        const bool empty = fs::is_regular_file(zipPath, ec) && fs::file_size(zipPath, ec) == 0 && !ec;
        if (fs::exists(zipPath, ec) && !empty) {
            const TZipOpenResult opened = m_packer.Open(zipPath);
            if (!opened.zip) {
                const std::string message = opened.view.message.empty()
                                                ? "Could not open the Zip file: " + zipPath
                                                : opened.view.message;
                return FailStart(*task, message);
            }
        } else {
            m_packer.Create(zipPath);
        }
        if (resumes && !listInMemory)
            RequeueUnpacked(*task);
    }

    task->SetStatus(kStatusDownloading);
    task->Save();
    m_zipTimer.BeginRun();
    m_linksRepaired = false;
    m_repairing = false;
    m_faultMessage.clear();
    m_running = task;
    {
        // Whoever records a write fault (a transfer, the parse thread, the packer) wakes the
        // timer thread, which ticks at once; the tick stops the run.
        task->SetOnWriteFault([this] { m_zipTimer.TickSoon(); });
    }
    m_zipTimer.SetOn(true);
    m_coordinator.Start(*task, m_slots, m_status);
    m_parse.Start(task);
    m_events.TaskChanged(*task);
    ShowStatus(task->StatusText(task->Status()));
    return result;
}

TStartResult TTaskRunner::FailStart(TPXTask& task, const std::string& message)
{
    // Nothing runs: the task must not stay "Downloading..." (nor current in the active list).
    m_packer.Close();
    m_runLock.Release();
    task.SetStatus(kStatusStopped);
    task.Save();
    m_events.TaskChanged(task);
    Message(TRunnerMessageKind::Error, message);
    ShowStatus("Ready");
    return {false, message};
}

bool TTaskRunner::PrepareFolders(TPXTask& task, std::string& error)
{
    std::error_code ec;
    if (task.IntranetMode()) {
        const std::string folder = task.Destination();
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec)) {
            error = "Cannot create the folder " + folder + (ec ? ": " + ec.message() : std::string()) + ".";
            return false;
        }
        return true;
    }
    if (!m_app.CheckTempFolder(&error))
        return false;
    std::string reason;
    if (!EnsurePrivateFolder(task.WorkFolder(), &reason)) {
        error = "Cannot use the working folder " + task.WorkFolder() + ": " + reason + ".";
        return false;
    }
    // The Zip is only created by the first pack: find out now that its folder takes files.
    const fs::path zipFolder = fs::path(task.Destination()).parent_path();
    fs::create_directories(zipFolder, ec);
    const fs::path probe = zipFolder / (".pellix-probe-" + std::to_string(::getpid()));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "Cannot create the Zip file " + task.Destination() + ": " + WriteErrorReason(errno) + ".";
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

void TTaskRunner::StopForWriteFault(TPXTask& task)
{
    const std::optional<TWriteFault> fault = task.WriteFault();
    std::string message = m_faultMessage;
    if (message.empty() && fault)
        message = "Cannot write " + fault->path + ": " + fault->reason + ".";
    message += "\nThe task \"" + task.TaskName() +
               "\" was stopped; nothing downloaded so far is lost. Make room (or fix the folder) and resume it.";
    std::shared_ptr<TPXTask> keep = m_running;
    StopTask(task);
    Message(TRunnerMessageKind::Error, message);
    m_events.TaskStopped(task, message);
}

void TTaskRunner::RequeueUnpacked(TPXTask& task)
{
    // The zip queue lives in memory only: files finished by an earlier process but never packed
    // would otherwise be missing from the Zip for good.
    const std::string temp = task.WorkFolder();
    TPXDownloadList& list = task.DownloadList();
    for (std::size_t i = 0; i < list.Count(); ++i) {
        TPXQItem* item = list.Item(i);
        if (!item)
            continue;
        const int state = item->State();
        const bool finished = item->IsLinkSource() ? state == kStateParsed : state == kStateSaved;
        if (!finished)
            continue;
        item->Reload();
        const std::string url = item->URL();
        item->ReleaseStrings();
        const std::string path = task.LocalFileOf(url, item->TypeExtension());
        std::error_code ec;
        if (m_packer.HasEntry(EntryNameOf(path, temp)) || !fs::is_regular_file(path, ec))
            continue;
        item->SetLocalPath(path);
        task.AppendToZipQueue(path, item);
    }
}

void TTaskRunner::EndRun(TPXTask& task)
{
    m_coordinator.Stop();
    m_parse.Stop();
    m_zipTimer.SetOn(false);
    JoinRepair(); // it reads the archive and writes pages of this run
    if (!task.IntranetMode()) {
        m_packer.Abort();
        // The archive and its entry list are the packing thread's until its pack is over.
        m_packer.WaitIdle();
    }
    // A transfer that ended but was not collected yet still counts and queues its file;
    // resetting the slots would otherwise drop it from the task's counters.
    // One whose worker recorded its outcome but had not ended when the stop came is only
    // known after the worker is gone, so each driver is stopped before its item is looked at.
    for (std::size_t i = 0; i < m_slots.Count(); ++i) {
        TPXSocket& slot = m_slots.Slot(i);
        TPXQItem* item = slot.QItem();
        if (!item || slot.Idle())
            continue; // an idle slot still names the item it finished, which was counted then
        bool ended = slot.Driver().TransferFinished();
        if (!ended) {
            slot.Driver().Stop();
            item->Reload();
            ended = item->State() == kStateSaved || item->State() == kStateError;
        }
        if (ended)
            TThreadDownload::FinishTransfer(slot, task);
    }
    m_slots.ResetSlots();
    task.SetOnWriteFault(nullptr);
    task.DownloadList().ResetInterrupted();
    const TRescheduleResult rescheduled = RescheduleTask(task, CurrentTime());
    if (!rescheduled.ok)
        Message(TRunnerMessageKind::Error, rescheduled.error);
    if (m_running.get() == &task)
        m_running.reset();
    m_runLock.Release();
}

void TTaskRunner::StopTask(TPXTask& task)
{
    ShowStatus("Stopping Task...");
    EndRun(task);
    task.SetStatus(kStatusStopped);
    task.Save();
    m_events.TaskChanged(task);
    ShowStatus("Ready");
}

bool TTaskRunner::WaitRunSettled(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!m_coordinator.WaitSuspended(timeout))
        return false;
    if (!m_parse.WaitForIdle(deadline))
        return false;
    m_owner.Call([this] {
        if (!m_current || m_running)
            return;
        // A page the parse thread finished after the stop may have queued items.
        m_current->DownloadList().ResetInterrupted();
        const TListResult saved = m_current->DownloadList().SaveList();
        if (!saved.ok)
            Message(TRunnerMessageKind::Error, saved.message);
        m_current->Save();
    });
    return true;
}

void TTaskRunner::PackQueued(TPXTask& task)
{
    std::vector<TZipTaskFile> files;
    std::vector<TZipQueueEntry> taken;
    while (auto entry = task.TakeFromZipQueue()) {
        std::string title;
        if (entry->item) {
            entry->item->Reload();
            title = entry->item->Title();
            entry->item->ReleaseStrings();
            if (entry->path.empty()) {
                entry->item->SetZipped(true); // nothing of it to pack
                continue;
            }
        }
        if (entry->path.empty())
            continue;
        files.push_back({entry->path, title.substr(0, 255)});
        taken.push_back(std::move(*entry));
    }
    if (files.empty())
        return;
    if (!m_packer.Zip()) {
        for (TZipQueueEntry& entry : taken)
            task.AppendToZipQueue(std::move(entry.path), entry.item);
        return;
    }
    const bool handOver = m_zipTimer.Interval().count() > 0;
    // Ticks only pack for the running task, which the job keeps alive.
    if (handOver && m_running.get() == &task) {
        m_packing = true;
        std::shared_ptr<bool> alive = m_alive;
        m_packer.PackAsync(task.WorkFolder(), std::move(files),
                           [this, alive, keep = m_running, taken = std::move(taken)](TZipOutcome outcome) mutable {
                               if (!*alive)
                                   return;
                               PackDone(*keep, outcome, std::move(taken));
                               // A finished download need not wait for the next second to be completed.
                               if (m_running == keep && keep->Status() == kStatusComplete)
                                   ZipTimerTick();
                               // Files queued while this pack ran go in at once when there are
                               // enough of them to be worth the directory's rewrite, so the
                               // packing keeps pace with the crawl and leaves little to its end.
                               else if (m_running == keep && BacklogTickDue())
                                   ZipTimerTick();
                           });
        return;
    }
    m_packing = true;
    const TZipOutcome outcome = m_packer.PackNow(task.WorkFolder(), files);
    PackDone(task, outcome, std::move(taken));
}

bool TTaskRunner::PackBacklogDue(const TPXTask& task) const
{
    // Every pack writes the whole directory again: a batch of at least a sixteenth of the
    // entries keeps that rewrite a small part of the pack, however large the Zip grows.
    const std::size_t entries = m_packer.Zip() ? m_packer.Zip()->entries.size() : 0;
    return task.ZipQueueCount() >= std::max(kMinBacklogPack, entries / 16);
}

void TTaskRunner::PackDone(TPXTask& task, const TZipOutcome& outcome, std::vector<TZipQueueEntry> taken)
{
    m_packing = false;
    std::set<std::string> skipped;
    for (const TZipSkip& skip : outcome.skipped)
        skipped.insert(fs::path(skip.name).lexically_normal().string());
    std::size_t left = 0;
    // taken[i] is the file given i-th.
    const bool perFile = outcome.filesPacked.size() == taken.size();
    for (std::size_t i = 0; i < taken.size(); ++i) {
        TZipQueueEntry& entry = taken[i];
        if (perFile && outcome.filesPacked[i]) {
            if (entry.item)
                entry.item->SetZipped(true);
            continue;
        }
        // A file that could not be read was reported and is not tried again this run; one that
        // did not go in because the Zip could not be written waits for the next pack or a resume.
        if (skipped.count(fs::path(entry.path).lexically_normal().string()))
            continue;
        task.AppendToZipQueue(std::move(entry.path), entry.item);
        ++left;
    }
    if (outcome.failed && left > 0) {
        m_faultMessage = outcome.view.message;
        task.RecordWriteFault(m_packer.Zip() ? m_packer.Zip()->path : task.Destination(),
                              outcome.systemError != 0 ? WriteErrorReason(outcome.systemError) : outcome.view.message);
    } else if (outcome.view.kind != TZipMessageKind::None && !outcome.view.message.empty()) {
        Message(outcome.view.kind == TZipMessageKind::Error ? TRunnerMessageKind::Error
                                                            : TRunnerMessageKind::Information,
                outcome.view.message);
    }
    if (!outcome.entries.empty())
        m_events.ZipPacked(task, outcome.entries.size());
}

void TTaskRunner::ZipTimerTick()
{
    if (!m_running)
        return;
    TPXTask& task = *m_running;
    // A pack in flight reports first, so that what it put in is marked before the stop.
    if (task.WriteFault() && !m_packing) {
        StopForWriteFault(task);
        return;
    }
    if (m_repairing)
        return; // its outcome ticks again
    const bool complete = task.Status() == kStatusComplete && m_zipTimer.Settled();
    if (task.IntranetMode()) {
        if (complete) {
            if (!RepairLinks(task))
                return;
            if (task.WriteFault())
                StopForWriteFault(task);
            else
                CompleteTask(task, kStatusTaskComplete);
        }
        return;
    }
    if (m_packing)
        return;
    if (complete && !RepairLinks(task))
        return;
    if (task.WriteFault()) {
        StopForWriteFault(task);
        return;
    }
    if (task.ZipQueueCount() == 0 && complete) {
        CompleteTask(task, kStatusZipped);
        return;
    }
    if (task.ZipLast() && task.Status() != kStatusComplete)
        return;
    PackQueued(task);
    if (m_packing)
        return; // handed to the packing thread, whose outcome ticks again when complete
    if (task.WriteFault()) {
        StopForWriteFault(task);
        return;
    }
    if (task.ZipQueueCount() == 0 && complete)
        CompleteTask(task, kStatusZipped);
}

bool TTaskRunner::RepairLinks(TPXTask& task)
{
    if (m_repairing)
        return false;
    if (m_linksRepaired)
        return true;
    m_linksRepaired = true;
    // Nothing failed, nothing recovered and nothing renamed by its reply, nothing to do: the
    // counters say so without a look at the list.
    const bool renamed = task.RenamedByType() > 0;
    if (task.PageErrors() + task.ResourceErrors() <= 0 && m_failedBefore.empty() && !renamed)
        return true;
    TPXDownloadList& list = task.DownloadList();
    auto repairer = std::make_shared<TLinkRepair>(task.Profile().AggressiveParser());
    TLinkRepair& repair = *repairer;
    bool recovered = false;
    std::vector<std::pair<TPXQItem*, std::string>> pages; // parsed pages and style sheets, with their URLs
    for (std::size_t i = 0; i < list.Count(); ++i) {
        TPXQItem* item = list.Item(i);
        if (!item)
            continue;
        const int state = item->State();
        const std::string& typeExtension = item->TypeExtension();
        if (state == kStateError) {
            repair.AddFailed(list.Line(2 * i), typeExtension);
        } else if (state == kStateDownloaded || state == kStateSaved || state == kStateUpdated ||
                   state == kStateParsing || state == kStateParsed || state == kStateZipped) {
            std::string url = list.Line(2 * i);
            repair.AddSaved(url, typeExtension);
            if (renamed)
                repair.AddRenamed(url, typeExtension);
            if (m_failedBefore.count(url)) {
                repair.AddRecovered(url, typeExtension);
                recovered = true;
            }
            if (item->IsLinkSource() && state == kStateParsed) {
                // A page too large to scan holds no rewritten links, and reading it whole is
                // what its limit avoids.
                item->Reload();
                const bool scanned = !item->StatusText().starts_with(kNotScannedText);
                item->ReleaseStrings();
                if (scanned)
                    pages.emplace_back(item, std::move(url));
            }
        }
    }
    m_failedBefore.clear();
    // A page this run parsed is read only when one of its links may lead to what the repair
    // changes; pages of earlier runs are read whole.
    std::erase_if(pages, [&](const auto& page) { return !m_linkKeys->MayChange(page.second, repair); });
    if (repair.Empty() || pages.empty()
        || (task.PageErrors() + task.ResourceErrors() <= 0 && !recovered && !renamed))
        return true;
    ShowStatus("Repairing links to items not found...");

    const bool zipMode = !task.IntranetMode();

    // Pages still waiting to be packed are repaired in the temp folder, where the final pack takes
    // them from; the queue is put back as it was once the repair is over.
    auto job = std::make_shared<TRepairJob>();
    job->repair = std::move(repairer);
    job->zipMode = zipMode;
    std::set<std::string> queuedPaths;
    if (zipMode) {
        while (auto entry = task.TakeFromZipQueue()) {
            queuedPaths.insert(entry->path);
            job->queued.push_back(std::move(*entry));
        }
    }
    for (auto& [item, url] : pages) {
        TRepairPage page{item, url,
                         item->LocalPath().empty() ? task.LocalFileOf(url, item->TypeExtension()) : item->LocalPath(),
                         !item->IsPage(), {}};
        // Packed pages are read from the Zip itself: the temp folder may be gone since an earlier
        // process packed them, or hold another task's file of the same name.
        if (zipMode && !queuedPaths.count(page.path) && m_packer.Zip()) {
            const std::string entry = EntryNameOf(page.path, task.WorkFolder());
            if (m_packer.HasEntry(entry))
                page.zipEntry = entry;
        }
        job->pages.push_back(std::move(page));
    }

    // Reading and rewriting a large site's pages takes long: a thread of its own does it, so
    // the window stays responsive, and the next tick goes on from its outcome. Ticks by hand
    // (no timer) repair at once. Nothing else uses the archive meanwhile: ticks wait for it.
    m_repairing = true;
    const bool handOver = m_zipTimer.Interval().count() > 0;
    if (!handOver) {
        RunRepairJob(*job);
        FinishRepair(task, *job);
        return true;
    }
    JoinRepair();
    std::shared_ptr<bool> alive = m_alive;
    m_repairThread = std::thread([this, alive, job, keep = m_running] {
        RunRepairJob(*job);
        m_owner.Post([this, alive, job, keep] {
            if (!*alive)
                return;
            FinishRepair(*keep, *job);
            m_zipTimer.TickSoon();
        });
    });
    return false;
}

void TTaskRunner::RunRepairJob(TRepairJob& job)
{
    TLinkRepair& repair = *job.repair;
    auto repairText = [&](const TRepairPage& page, std::string& text) {
        // Both directions in one pass over a page.
        return repair.RepairPage(page.url, text, page.sheet) + repair.RestorePage(page.url, text, page.sheet);
    };
    auto save = [&](const std::string& path, const std::string& text) {
        std::error_code ec;
        fs::create_directories(fs::path(path).parent_path(), ec);
        std::string error;
        // A Zip task's temp copy is packed next, and the Zip is flushed: waiting for the disk
        // for each page would only slow the end of the run. The user's own folder is flushed.
        const bool written = job.zipMode ? ReplaceFileInWorkFolder(path, text, &error)
                                         : WriteFileAtomically(path, text, &error);
        if (!written) {
            const int cause = errno;
            if (IsRunStoppingWriteError(cause)) {
                if (!job.fault)
                    job.fault = std::make_pair(path, WriteErrorReason(cause));
            } else {
                job.messages.push_back("Cannot save the page " + path + ": " + error);
            }
            return false;
        }
        return true;
    };
    std::map<std::string, const TRepairPage*> fromZip; // by entry name
    for (const TRepairPage& page : job.pages) {
        if (!page.zipEntry.empty()) {
            fromZip.emplace(page.zipEntry, &page);
            continue;
        }
        std::optional<std::string> text = ReadWholeFile(page.path);
        if (text && repairText(page, *text) > 0)
            save(page.path, *text);
    }
    if (fromZip.empty())
        return;
    std::vector<std::string> names;
    for (const auto& [name, page] : fromZip)
        names.push_back(name);
    std::vector<TZipSkip> unread;
    m_packer.ReadEntries(names, [&](const std::string& name, std::string text) {
        const auto found = fromZip.find(name);
        if (found == fromZip.end())
            return;
        const TRepairPage& page = *found->second;
        if (repairText(page, text) > 0 && save(page.path, text))
            job.repacked.push_back({page.path, page.item});
    }, unread);
    for (const TZipSkip& skip : unread)
        job.messages.push_back("Cannot read " + skip.name + " from the Zip file: " + skip.reason);
}

void TTaskRunner::FinishRepair(TPXTask& task, TRepairJob& job)
{
    m_repairing = false;
    if (job.fault)
        task.RecordWriteFault(job.fault->first, job.fault->second);
    for (const std::string& message : job.messages)
        Message(TRunnerMessageKind::Error, message);
    for (TZipQueueEntry& entry : job.queued)
        task.AppendToZipQueue(std::move(entry.path), entry.item);
    for (TZipQueueEntry& entry : job.repacked)
        task.AppendToZipQueue(std::move(entry.path), entry.item);
    job.queued.clear();
    job.repacked.clear();
    ShowStatus(task.StatusText(task.Status()));
}

void TTaskRunner::JoinRepair()
{
    if (m_repairThread.joinable())
        m_repairThread.join();
}

void TTaskRunner::RemoveLeftovers(TPXTask& task)
{
    std::error_code ec;
    if (task.IntranetMode()) {
        // Partial bodies of items that failed for good would stay in the user's folder.
        TPXDownloadList& list = task.DownloadList();
        for (std::size_t i = 0; i < list.Count(); ++i) {
            const TPXQItem* item = list.Item(i);
            if (item && item->State() == kStateError)
                fs::remove(task.LocalFileOf(list.Line(2 * i), item->TypeExtension()) + TThreadHTTP::kPartSuffix, ec);
        }
        return;
    }
    // The Zip holds everything the run saved, so the task's working copies are of no further
    // use. remove_all removes symbolic links themselves, never what they point at.
    std::string folder = task.WorkFolder();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back(); // with a trailing slash the link test would follow a link
    if (fs::is_symlink(folder, ec)) {
        fs::remove(folder, ec);
        return;
    }
    // Thousands of files take seconds to unlink: the folder is moved aside at once and emptied by
    // a thread of its own, so the window does not freeze at the end of a run. A process that ends
    // killed first leaves the moved folder, which the temp folder's clean-up at exit removes.
    const std::string aside = folder + ".removed-" + std::to_string(::getpid()) + "-" +
                              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    fs::rename(folder, aside, ec);
    if (ec) {
        fs::remove_all(folder, ec);
        return;
    }
    m_removers.emplace_back([aside] { RemoveFolderTree(aside, std::clamp(std::thread::hardware_concurrency(), 2u, 4u)); });
}

void TTaskRunner::CompleteTask(TPXTask& task, TTaskStatus status)
{
    std::shared_ptr<TPXTask> keep = m_running; // EndRun drops it
    task.SetStatus(status);
    task.Save();
    EndRun(task);
    RemoveLeftovers(task);
    if (!task.IntranetMode() && m_packer.Zip()) {
        // Interrupted ticks and replaced pages leave dead bytes behind; a finished task's Zip is
        // rewritten without them when they are worth it.
        ShowStatus("Compacting Zip File...");
        const TZipCompactOutcome compacted = m_packer.CompactIfWasteful();
        if (compacted.due && !compacted.compacted && !compacted.message.empty())
            Message(TRunnerMessageKind::Error, compacted.message);
        ShowStatus(task.StatusText(task.Status())); // the compaction's text does not outlive it
    }
    if (!task.IntranetMode()) {
        // The Zip is named after the title as a reader sees it: "&mdash;" is a dash.
        const std::string title = DecodeHtmlEntities(task.StartPageTitle());
        std::error_code ec;
        if (task.Profile().UseStartPageTitle() && !title.empty() && m_packer.Zip() &&
            fs::exists(m_packer.Zip()->path, ec)) {
            // A title with nothing usable in a file name ("..", only forbidden characters) gives
            // the task's name instead.
            const std::string stem = FileStemFromTitle(title).empty() ? task.TaskName() : ReplaceIllegalChars(title, ' ');
            const TZipRenameResult renamed = m_packer.Rename(stem + ".zip");
            if (renamed.ok) {
                task.SetDestination(renamed.newPath);
                task.Save();
            } else {
                Message(TRunnerMessageKind::Error, renamed.message);
            }
        }
    }
    m_events.TaskChanged(task);
    const std::string report = CompletionReport(task);
    if (m_app.BeepOnCompletion())
        m_events.Beep();
    m_events.TaskCompleted(task, report);
    m_zipTimer.SetOn(false);
}

std::string TTaskRunner::CompletionReport(const TPXTask& task)
{
    return "Pellix Task Completed.\n\nTask Name: " + task.TaskName() + "\n" + "URL: " + task.URL() + "\n" +
           "Destination: " + task.Destination() + "\n\n\n" + "Elapsed Time: " + ElapsedText(task.ElapsedTime()) +
           "\n\n" + "Pages:" + "\n" + "    " + std::to_string(task.PagesSaved() - task.PageErrors()) +
           " downloaded" + "\n" + "    " + std::to_string(task.PageErrors()) + " not found" + "\n\n" +
           "Resources:" + "\n" + "    " + std::to_string(task.ResourcesSaved() - task.ResourceErrors()) +
           " downloaded" + "\n" + "    " + std::to_string(task.ResourceErrors()) + " not found";
}

} // namespace pellix

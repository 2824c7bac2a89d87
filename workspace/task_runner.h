// TTaskRunner: the main window's task operations without a window: create a task from an
// address, start, stop, end a run, the zip timer's tick, completion with its report.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/task.h"
#include "engine/task_lock.h"
#include "links/date_time.h"
#include "workspace/session_observer.h"
#include "workspace/zip_packer.h"
#include "workspace/zip_timer.h"

namespace pellix {

class IOwnerThread;
class TLinkRepair;
class TPageLinkKeys;
class TPXApp;
class TPXTask;
class TSlotList;
class TStatusModel;
class TThreadDownload;
class TThreadParse;


struct TCreateTaskResult {
    bool ok = false;
    std::string message;               // "Invalid URL." and the like, when !ok
    std::shared_ptr<TPXTask> task;     // the created task
    // No named profile: the task is not saved yet; the caller lets the user edit it and then
    // calls AddTask, or drops it.
    bool needsEditor = false;
};

struct TStartResult {
    bool ok = true;
    std::string message; // why the run could not be prepared
};

// Everything except the destructor and WaitRunSettled runs on the owner thread.
//
// The zip timer (TZipTimer) ticks every second while a run is on; its ticks run on the owner
// thread. A tick packs everything queued since the last one, in queue order, with one append to
// the Zip file; with "Zip Last" it packs nothing until the download is complete. When the
// coordinator reports completion, the parse thread is let finish the page in hand and a tick is
// posted at once, so a finished crawl is packed and completed without waiting for the clock.
// Likewise, whenever the parse thread runs out of saved pages the coordinator is woken, so the
// last page parsed is followed by the completion check at once.
//
// The files of a timer tick are compressed and appended on the packing thread of the runner's
// TZipPacker, so that transfers and the parse thread, which report through the owner thread, go
// on meanwhile; the next tick waits until that pack is done, and the entries' bookkeeping is
// handed back to the owner thread with the outcome. Ticks given by hand (a zero timer period) pack
// in place. A backlog (PackBacklogDue) does not wait for the clock: a pack that ends with one
// queued meanwhile is followed by the next tick at once, and a page saved while the packer is
// idle asks for a tick, and so does a page the parse thread queues for the Zip, so on a fast link the packing thread keeps up with the crawl instead of
// leaving a second's files for the end.
//
// When items ended in Error, the completing tick first gives the saved pages' local links to
// them their addresses back (see TLinkRepair). Of the pages parsed in this run only those with a
// link that may lead to such an item are read (TPageLinkKeys); in zip mode the repaired pages replace their
// entries with the final pack, in one append that leaves the old directory valid until the new
// one is written, so a process killed meanwhile leaves a Zip that opens (with the pages as they
// were before the repair).
class TTaskRunner final {
public:
    static constexpr std::chrono::milliseconds kZipTimerInterval = TZipTimer::kDefaultInterval;
    // The fewest queued files packed as soon as the pack before them ends.
    static constexpr std::size_t kMinBacklogPack = 64;

    // Borrows everything (TSession owns and wires it all); status may be null. What the user is
    // to see goes to events, on the owner thread.
    TTaskRunner(TPXApp& app, IOwnerThread& owner, TSlotList& slots, TThreadDownload& coordinator,
                TThreadParse& parse, TStatusModel* status, TSessionEvents& events);
    // Not on the owner thread.
    ~TTaskRunner();
    TTaskRunner(const TTaskRunner&) = delete;
    TTaskRunner& operator=(const TTaskRunner&) = delete;

    // A task from an address: validated (with a named profile), named after the site with a
    // unique task file in the last category, its profile loaded, its destination chosen, and,
    // with a named profile, scheduled "Now" (status 1) and saved. The address goes to the top of
    // the recent-URL list either way.
    // intranetFolder: where an intranet-mode task writes its site; empty for the intranet folder
    // setting (which is created only then).
    TCreateTaskResult CreateTaskFromAddress(const std::string& address, const std::string& profileName, bool map,
                                            bool intranet, const std::string& intranetFolder = {});
    // Schedule "Now", status 1, saved; then the task-added event.
    void AddTask(TPXTask& task);
    // With a Zip file path, new zip-mode tasks write into it and keep its name (the add-to-zip
    // toggle); empty: each task gets its own Zip file in the downloads folder.
    void SetAddToZipTarget(std::string zipPath) { m_addToZipTarget = std::move(zipPath); }

    // Prepares the task by its run mode, makes it current, opens its Zip, sets status 2 and
    // starts the coordinator, the parse thread and the zip timer.
    TStartResult StartTask(const std::shared_ptr<TPXTask>& task);
    // End run, then status 3, saved. The Zip keeps what was packed.
    void StopTask(TPXTask& task);
    // Stop flags, zip timer off, zip abort, slots reset, interrupted items back to waiting,
    // reschedule.
    void EndRun(TPXTask& task);
    // One tick of the zip timer.
    void ZipTimerTick();
    // Status 6 (zip) or 7 (intranet): saved, end run, the Zip renamed after the start page
    // title when the profile asks, the report handed to the task-completed event.
    void CompleteTask(TPXTask& task, TTaskStatus status);
    // Clears the previous current task, binds this one (or none) and loads its list.
    void MakeCurrent(const std::shared_ptr<TPXTask>& task);

    // Not on the owner thread: after a stop, waits until the coordinator has suspended and the
    // parse thread is idle, then saves the list and the task again, so that what finished after
    // the stop is kept. False when the timeout passed first.
    bool WaitRunSettled(std::chrono::milliseconds timeout);

    std::shared_ptr<TPXTask> CurrentTask() const { return m_current; }
    // The task of the run in progress (null between runs).
    std::shared_ptr<TPXTask> RunningTask() const { return m_running; }
    bool ZipTimerOn() const;
    // The running task's Zip file: owner thread, and only its path and entries while no pack is
    // in flight. A zip manager window opens the file with an archive object of its own.
    const TZipObj* RunZip() const { return m_packer.Zip(); }

    static std::string CompletionReport(const TPXTask& task);

    // Where "now" comes from (tests pin it).
    void SetClock(std::function<TDateTime()> clock) { m_clock = std::move(clock); }
    // The zip timer's period; zero leaves ticks to the caller (the immediate tick at completion
    // still comes).
    void SetZipTimerInterval(std::chrono::milliseconds interval);

    // Owner thread: a page or style sheet was saved (the parse thread has work).
    void PageSaved();
    // Owner thread: the coordinator set status 5 and suspended.
    void DownloadComplete();

private:
    class TListEvents;
    // Owner thread: the previous current task (another one) is cleared, the status model and the
    // application bound to this one (or none).
    void BindCurrent(const std::shared_ptr<TPXTask>& task);
    // Owner thread: the task about to be current hands its list changes to the events.
    void BindListEvents(const std::shared_ptr<TPXTask>& task);
    void ShowStatus(const std::string& text);
    void Message(TRunnerMessageKind kind, const std::string& text);
    void PackQueued(TPXTask& task);
    // Whether the files queued since the last pack are enough to pack again before the next tick.
    bool PackBacklogDue(const TPXTask& task) const;
    // The same for the running task, with the packer idle and the timer ticking on its own.
    bool BacklogTickDue() const;
    // Owner thread: what a pack reported. Items are marked packed only for the entries that are
    // in the Zip; what did not go in waits in the queue again, and a failed write stops the run.
    void PackDone(TPXTask& task, const TZipOutcome& outcome, std::vector<TZipQueueEntry> taken);
    // A start that cannot go on: the task is left "Download Stopped" with the reason shown.
    TStartResult FailStart(TPXTask& task, const std::string& message);
    // Zip mode: the temp folder and the task's working folder exist and are this user's alone.
    // Intranet mode: the destination folder exists. The Zip file's folder can be written.
    bool PrepareFolders(TPXTask& task, std::string& error);
    // Owner thread: a local write failed for a reason every later write shares; the run stops,
    // keeping everything for a resume, and the user is told which file and why.
    void StopForWriteFault(TPXTask& task);
    void RequeueUnpacked(TPXTask& task);
    // At completion: a finished Zip task's working folder, an intranet task's partial bodies of
    // items that failed.
    void RemoveLeftovers(TPXTask& task);
    // The pages of a link repair and what came of it.
    struct TRepairPage {
        TPXQItem* item;        // not touched by the repair thread
        std::string url;
        std::string path;      // the page's working copy
        bool sheet;            // a style sheet, not a page
        std::string zipEntry;  // set when the page is read from the Zip
    };
    struct TRepairJob {
        std::shared_ptr<TLinkRepair> repair;
        std::vector<TRepairPage> pages;
        std::vector<TZipQueueEntry> queued;   // the zip queue, put back at the end
        std::vector<TZipQueueEntry> repacked; // pages read from the Zip and repaired
        std::vector<std::string> messages;
        std::optional<std::pair<std::string, std::string>> fault; // path, reason
        bool zipMode = false; // pages are written to the temp folder, to be packed
    };
    // Once per run, at completion and before the final pack. True when it is over; false while
    // its thread works (its outcome ticks again).
    bool RepairLinks(TPXTask& task);
    // The repair thread: reads, repairs and writes pages; touches no task or item.
    void RunRepairJob(TRepairJob& job);
    // Owner thread: the outcome goes into the task.
    void FinishRepair(TPXTask& task, TRepairJob& job);
    void JoinRepair();
    TDateTime CurrentTime() const;

    TPXApp& m_app;
    IOwnerThread& m_owner;
    TSlotList& m_slots;
    TThreadDownload& m_coordinator;
    TThreadParse& m_parse;
    TStatusModel* m_status;
    TSessionEvents& m_events;
    std::unique_ptr<TListEvents> m_listEvents;
    std::string m_addToZipTarget;
    std::function<TDateTime()> m_clock;

    // Owner thread.
    std::shared_ptr<TPXTask> m_current;
    std::shared_ptr<TPXTask> m_running;
    TTaskLock m_runLock; // held from a start to the end of its run
    std::string m_faultMessage; // the packer's own words for a failed add, when it was the one
    bool m_packing = false;
    bool m_linksRepaired = false;
    std::set<std::string> m_failedBefore; // URLs in Error when this retry or update began
    // What the links of the pages parsed in this run lead to (filled by the parse thread).
    std::shared_ptr<TPageLinkKeys> m_linkKeys;

    std::shared_ptr<bool> m_alive;   // posted pack outcomes check it (owner thread)
    TZipTimer m_zipTimer;
    bool m_repairing = false;            // a link repair thread works (owner thread)
    std::thread m_repairThread;
    std::vector<std::thread> m_removers; // finished runs' working folders being removed; joined at the end

    // Last, so that it goes first: its thread ends before the members its outcomes use.
    TZipPacker m_packer;
};

} // namespace pellix

// TCrawlFixture: the crawl core wired as the program wires it, in one folder, for end-to-end tests.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace pellix {
class TLoopOwnerThread;
class TPXApp;
class TPXTask;
class TSlotList;
class TThreadDownload;
class TThreadParse;
} // namespace pellix

namespace pellix::test {

// An application (settings, file-type groups, folders) inside folder, one task "Site" whose task
// file and download list live there too, the owner thread, the slot list, the coordinator and
// the parse thread. Everything is kept on disk under folder, so a second fixture on the same
// folder (in this process or another) resumes what the first left.
//
// Layout: folder/home (program folder, task file in home/Tasks/General), folder/tmp (temp),
// folder/site (the destination in Personal Intranet Mode), folder/registry.ini.
class TCrawlFixture final {
public:
    explicit TCrawlFixture(std::filesystem::path folder, int connections = 4);
    // Stops a run still going and takes everything down in order.
    ~TCrawlFixture();
    TCrawlFixture(const TCrawlFixture&) = delete;
    TCrawlFixture& operator=(const TCrawlFixture&) = delete;

    // A new task for the start url in Personal Intranet Mode (intranet = false: zip mode), saved.
    // The profile may be changed through Task().Profile() before Run.
    void NewTask(const std::string& url, bool intranet = true);
    // Loads the task file saved by an earlier fixture on this folder. False when there is none.
    bool LoadTask();

    // Prepares the run in runMode (the task's begin or continue run, saved; the last run's write
    // fault cleared) and starts the coordinator and the parse thread. False when the list could not be loaded or saved.
    bool Run(int runMode);
    // Waits (on the owner thread's progress, no sleeps) until the task's status is 5 or the
    // deadline passes; then the parse thread is stopped as the end of a run does.
    bool WaitComplete(std::chrono::milliseconds timeout);
    // Waits until a local write failed for good (the task's write fault) or the deadline passes.
    // The run then waits for Stop, as the task runner stops it.
    bool WaitForWriteFault(std::chrono::milliseconds timeout);
    // The end of a run by hand: stop flags, slots reset, interrupted items back to "None", the
    // list and the task saved with status 3 ("Download Stopped").
    void Stop();

    TPXApp& App() { return *m_app; }
    TPXTask& Task() { return *m_task; }
    TLoopOwnerThread& Owner() { return *m_owner; }
    TSlotList& Slots() { return *m_slots; }
    TThreadDownload& Coordinator() { return *m_coordinator; }
    TThreadParse& Parser() { return *m_parse; }

    const std::filesystem::path& Folder() const { return m_folder; }
    std::filesystem::path SiteFolder() const { return m_folder / "site"; }
    std::filesystem::path TaskFile() const;
    // Where a URL of the task lands on disk (the destination in Intranet Mode, else temp).
    std::filesystem::path FileOf(const std::string& url) const;

    // Item counts by state, read on the owner thread.
    int CountInState(int state);

private:
    void Wire();

    std::filesystem::path m_folder;
    int m_connections;
    std::unique_ptr<TPXApp> m_app;
    std::shared_ptr<TPXTask> m_task;
    std::unique_ptr<TLoopOwnerThread> m_owner;
    std::unique_ptr<TSlotList> m_slots;
    std::unique_ptr<TThreadDownload> m_coordinator;
    std::unique_ptr<TThreadParse> m_parse;
    bool m_running = false;
};

} // namespace pellix::test

// TCrawlFixture: the core as TSession assembles it, with one task in one folder, for tests of
// crawls, the coordinator and transfers; TCrawlTest gives a gtest fixture a fresh one per SetUp.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/queue_item.h"
#include "engine/task.h"
#include "tests/support/temp_folder.h"

namespace pellix {
class TLoopOwnerThread;
class TPXApp;
class TPXTask;
class TSession;
class TSlotList;
class TStatusModel;
class TThreadDownload;
class TThreadParse;
} // namespace pellix

namespace pellix::test {

class TTestHttpServer;

// An application (settings, file-type groups, folders) inside folder, the owner thread, the
// session on them (which wires the slots, the coordinator, the parse thread and the task runner,
// and takes them down in its own order), and one task "Site" whose task file and download list
// live there too, in Personal Intranet Mode into folder/site until NewTask or LoadTask say
// otherwise. Everything is kept on disk under folder, so a second fixture on the same folder (in
// this process or another) resumes what the first left. The number of connections holds for
// the fixture only; the stored setting is left alone.
//
// Three ways to run: Run prepares the task's run as the task runner does, without its zip
// packing, and starts the coordinator and the live parse thread; StartRun starts the coordinator
// alone on the list as it is in memory (items added by Add), where saved pages stay "Saved"
// unless ParsePagesOnSave stands in for the parse thread; Session().Runner() runs tasks the
// program's way.
//
// Layout: folder/home (program folder, task file in home/Tasks/General), folder/tmp (temp),
// folder/site (the destination in Personal Intranet Mode), folder/registry.ini.
class TCrawlFixture final {
public:
    static constexpr std::chrono::seconds kDeadline{30};

    explicit TCrawlFixture(std::filesystem::path folder, int connections = 4);
    // Stops a run that Run started and is still going, then the session goes.
    ~TCrawlFixture();
    TCrawlFixture(const TCrawlFixture&) = delete;
    TCrawlFixture& operator=(const TCrawlFixture&) = delete;

    // A new task for the start url in Personal Intranet Mode (intranet = false: zip mode), saved
    // by Run. The profile may be changed through Task().Profile() before Run.
    void NewTask(const std::string& url, bool intranet = true);
    // Loads the task file saved by an earlier fixture on this folder, through the session. False
    // when there is none or it was refused.
    bool LoadTask();

    // Prepares the run in runMode (the task's begin or continue run, saved; the last run's write
    // fault cleared) and starts the coordinator and the parse thread. False when the list could
    // not be loaded or saved.
    bool Run(TRunMode runMode);
    // Waits (on the owner thread's progress, no sleeps) until the task's status is 5 or the
    // deadline passes; then the parse thread is stopped as the end of a run does.
    bool WaitComplete(std::chrono::milliseconds timeout);
    // Waits until a local write failed for good (the task's write fault) or the deadline passes.
    // The run then waits for Stop, as the task runner stops it.
    bool WaitForWriteFault(std::chrono::milliseconds timeout);
    // The end of a run by hand, either kind: stop flags, slots reset, interrupted items back to
    // "None", and once the coordinator and the parse thread are still, the list and the task
    // saved with status 3 ("Download Stopped").
    void Stop();

    // Adds an item to the task's list; "HTML" marks a page. The first item is the start address;
    // a link found on a page has depth 1 or more.
    TPXQItem* Add(const std::string& url, const std::string& group = "GIF", int action = kActionDownload,
                  int depth = 0);
    // Stands in for the parse thread: a saved page is marked parsed at once.
    void ParsePagesOnSave();
    // The slider: the number of connections, during a run too.
    void SetConnections(int n);
    // Status 2 and the coordinator started on the list in memory, without the parse thread.
    void StartRun();
    // StartRun, then waits until the coordinator suspends itself (finished or stopped).
    bool RunToEnd();

    // Read on the owner thread.
    int StateOf(TPXQItem* item);
    std::string StatusTextOf(TPXQItem* item);
    int CountInState(int state);

    TPXApp& App() { return *m_app; }
    TPXTask& Task() { return *m_task; }
    TLoopOwnerThread& Owner() { return *m_owner; }
    TSession& Session() { return *m_session; }
    TSlotList& Slots();
    TThreadDownload& Coordinator();
    TThreadParse& Parser();
    TStatusModel& Status();

    const std::filesystem::path& Folder() const { return m_folder; }
    std::filesystem::path SiteFolder() const { return m_folder / "site"; }
    std::filesystem::path TaskFile() const;
    // Where a URL of the task lands on disk (the destination in Intranet Mode, else temp).
    std::filesystem::path FileOf(const std::string& url) const;
    // The file's content, "<missing>" when there is none.
    std::string FileText(const std::string& url) const;
    bool FileExists(const std::string& url) const;

private:
    // Owner thread: task becomes the fixture's task, shown by the status model.
    void Adopt(std::shared_ptr<TPXTask> task);

    std::filesystem::path m_folder;
    std::unique_ptr<TPXApp> m_app;
    std::unique_ptr<TLoopOwnerThread> m_owner;
    std::shared_ptr<TPXTask> m_task;
    std::unique_ptr<TSession> m_session;
    std::shared_ptr<bool> m_alive; // owner thread: write-fault wakes still reach the coordinator
    bool m_running = false;        // a Run not yet stopped or complete
};

// The methods and targets the server saw, in order, e.g. "GET /a.gif"; only method's if given.
std::vector<std::string> Requests(const TTestHttpServer& server, const std::string& method = "");

// A gtest fixture with a TCrawlFixture of two connections for each SetUp, each in a folder of
// its own (ports do not separate sites on disk), so a test may TearDown and SetUp for each case.
class TCrawlTest : public ::testing::Test {
protected:
    static constexpr std::chrono::seconds kDeadline = TCrawlFixture::kDeadline;

    void SetUp() override;
    void TearDown() override;

    std::optional<TCrawlFixture> m_crawl;

private:
    TTempFolder m_folder;
    int m_setups = 0;
};

} // namespace pellix::test

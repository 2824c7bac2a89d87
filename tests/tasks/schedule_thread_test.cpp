// Tests for the scheduler thread: which task a check starts, and the thread's wake and end.
#include "tasks/schedule_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/loop_owner_thread.h"
#include "engine/task.h"
#include "tasks/schedule.h"
#include "tasks/task_list.h"
#include "tests/support/crawl_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "tests/support/test_http_server.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"

namespace pellix {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::hours kNeverByItself{1}; // checks come only from Wake

class ScheduleThreadTest : public ::testing::Test {
protected:
    ScheduleThreadTest()
    {
        m_app = std::make_unique<TPXApp>(test::TestAppPaths(m_folder.Path()));
        m_owner.Call([this] { m_list = std::make_unique<TTaskList>(*m_app); });
    }
    ~ScheduleThreadTest() override
    {
        m_owner.Call([this] { m_list.reset(); });
        m_owner.Stop();
    }

    // Owner thread. A scheduled task saved into the shown category, in row order.
    std::shared_ptr<TPXTask> Add(const std::string& name, int status, const std::string& schedule, TDateTime nextRun)
    {
        auto task = std::make_shared<TPXTask>(m_app.get());
        task->SetTaskFile(m_app->TasksFolder() + "General/" + name + ".pxt");
        task->SetTaskName(name);
        task->SetURL("http://host/" + name + "/");
        task->SetStatus(static_cast<TTaskStatus>(status));
        task->SetSchedule(schedule);
        task->SetNextRun(nextRun);
        m_list->AddTask(task);
        return task;
    }

    test::TTempFolder m_folder;
    std::unique_ptr<TPXApp> m_app;
    TLoopOwnerThread m_owner;
    std::unique_ptr<TTaskList> m_list;
};

// The first due row starts, and nothing while a task is busy, in the list or only in the runner;
// due means "Now", or a next run not later than now (0 included).
TEST_F(ScheduleThreadTest, StartsTheFirstDueTaskOnlyWhenNoneRuns)
{
    const TDateTime now = EncodeDateTime(2026, 12, 10, 12, 0, 0);
    const TDateTime minute = EncodeTime(0, 1, 0);
    std::vector<std::string> started;
    bool runnerBusy = false;
    TThreadSchedule scheduler(
        m_owner,
        [&](const std::shared_ptr<TPXTask>& task) {
            started.push_back(task->TaskName());
            task->SetStatus(kStatusDownloading);
            task->Save();
            return true;
        },
        [&] { return runnerBusy; }, kNeverByItself);
    m_owner.Call([&] {
        scheduler.SetClock([&] { return now; });
        // Nothing to look at yet.
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr);
        scheduler.SetTaskList(m_list.get());

        const auto later = Add("Later", kStatusScheduled, "Once at 2026-12-10  12:01:00", now + minute);
        const auto idle = Add("Idle", kStatusUnscheduled, "", 0);
        const auto due = Add("Due", kStatusScheduled, "Daily at 12:00:00", now);
        const auto asap = Add("Asap", kStatusScheduled, "Now", now + 10);
        const auto never = Add("NeverSet", kStatusScheduled, "Once at 2026-12-10  11:00:00", 0);

        runnerBusy = true;
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr);
        runnerBusy = false;
        EXPECT_EQ(scheduler.CheckSchedule(), due);
        // "Due" downloads now: no second start.
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr);
        due->SetStatus(kStatusComplete); // packing still counts as busy
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr);
        due->SetStatus(kStatusZipped);
        EXPECT_EQ(scheduler.CheckSchedule(), asap);
        asap->SetStatus(kStatusTaskComplete);
        EXPECT_EQ(scheduler.CheckSchedule(), never);
        never->SetStatus(kStatusTaskComplete);
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr); // "Later" is not due yet
        scheduler.SetClock([&] { return now + minute; });
        EXPECT_EQ(scheduler.CheckSchedule(), later);
        (void)idle;
        scheduler.SetTaskList(nullptr);
    });
    EXPECT_EQ(started, (std::vector<std::string>{"Due", "Asap", "NeverSet", "Later"}));
}

// A task of a category that is not shown is not started.
TEST_F(ScheduleThreadTest, OnlyTheShownRowsAreSeen)
{
    int starts = 0;
    TThreadSchedule scheduler(m_owner, [&](const std::shared_ptr<TPXTask>&) { return ++starts, true; }, nullptr,
                              kNeverByItself);
    m_owner.Call([&] {
        Add("Due", kStatusScheduled, "Now", 0);
        m_list->ShowCategory("Work");
        scheduler.SetTaskList(m_list.get());
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr);
        m_list->ShowCategory(kActiveTasksCategory);
        EXPECT_NE(scheduler.CheckSchedule(), nullptr);
        scheduler.SetTaskList(nullptr);
    });
    EXPECT_EQ(starts, 1);
}

// A refused start (another process runs the task) is not retried every second; a save of the
// task (the user runs it again) makes it a candidate once more.
TEST_F(ScheduleThreadTest, RefusedStartWaitsForTheNextSave)
{
    int tries = 0;
    TThreadSchedule scheduler(m_owner, [&](const std::shared_ptr<TPXTask>&) { return ++tries, false; }, nullptr,
                              kNeverByItself);
    m_owner.Call([&] {
        const auto task = Add("Locked", kStatusScheduled, "Now", 0);
        scheduler.SetTaskList(m_list.get());
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr);
        EXPECT_EQ(scheduler.CheckSchedule(), nullptr);
        EXPECT_EQ(tries, 1);
        EXPECT_TRUE(m_list->Run(*task, nullptr).ok);
        scheduler.CheckSchedule();
        EXPECT_EQ(tries, 2);
        scheduler.SetTaskList(nullptr);
    });
}

// The thread: a task made due wakes it at once (no waiting out the period), the check runs on
// the owner thread, and Terminate ends it at its next check with nothing else to wait for.
TEST_F(ScheduleThreadTest, WokenByANewDueTaskAndEndedByTerminate)
{
    std::shared_ptr<TPXTask> started;
    bool onOwner = false;
    auto scheduler = std::make_unique<TThreadSchedule>(
        m_owner,
        [&](const std::shared_ptr<TPXTask>& task) {
            onOwner = m_owner.IsOwnerThread();
            started = task;
            task->SetStatus(kStatusDownloading);
            return true;
        },
        nullptr, kNeverByItself);
    // The first check comes at start.
    ASSERT_TRUE(scheduler->WaitForChecks(1, 30s));
    std::shared_ptr<TPXTask> task;
    m_owner.Call([&] {
        scheduler->SetTaskList(m_list.get());
        m_list->OnScheduled = [&] { scheduler->Wake(); };
        task = Add("Now", kStatusScheduled, "Now", 0);
    });
    ASSERT_TRUE(scheduler->WaitForChecks(2, 30s));
    m_owner.Call([&] {
        EXPECT_EQ(started, task);
        EXPECT_TRUE(onOwner);
        m_list->OnScheduled = nullptr;
        scheduler->SetTaskList(nullptr);
    });
    scheduler->Terminate();
    EXPECT_TRUE(scheduler->Terminated());
    // Joins at once: the period of an hour is not waited out.
    scheduler.reset();
}

// The session's own scheduler thread with the runner: two tasks made due together run one after
// the other, in row order, each started while no other is busy, and both end packed.
TEST(TThreadScheduleSessionTest, DueTasksRunOneAfterAnother)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    server.Route("/").Header("Content-Type", "text/html").Body("<html><body><img src=\"a.png\"></body></html>");
    server.Route("/a.png").Header("Content-Type", "image/png").Body("PNGDATA");
    test::TCrawlFixture crawl(folder.Path());
    TSession& session = crawl.Session();
    TLoopOwnerThread& owner = crawl.Owner();

    // Each start is seen with the statuses of every shown task at that moment.
    class TStarts final : public ISessionObserver {
    public:
        explicit TStarts(TTaskList& list) : m_list(list) {}
        void OnTaskChanged(TPXTask& task) override
        {
            if (task.Status() != kStatusDownloading || (!order.empty() && order.back() == task.TaskName()))
                return;
            order.push_back(task.TaskName());
            for (std::size_t i = 0; i < m_list.Count(); ++i)
                if (m_list.Task(i).get() != &task && (m_list.Task(i)->Status() == kStatusDownloading ||
                                                      m_list.Task(i)->Status() == kStatusComplete))
                    ++overlaps;
        }
        std::vector<std::string> order;
        int overlaps = 0;

    private:
        TTaskList& m_list;
    };

    std::unique_ptr<TTaskList> list;
    std::unique_ptr<TStarts> starts;
    std::vector<std::shared_ptr<TPXTask>> tasks;
    owner.Call([&] {
        crawl.App().SetBeepOnCompletion(false);
        list = std::make_unique<TTaskList>(crawl.App());
        list->ShowCategory(crawl.App().LastCategory());
        starts = std::make_unique<TStarts>(*list);
        session.Events().Subscribe(*starts);
        for (int i = 0; i < 2; ++i) {
            TCreateTaskResult created = session.Runner().CreateTaskFromAddress(server.Url("/"), "Default", false, false);
            ASSERT_TRUE(created.ok) << created.message;
            list->AddTask(created.task, false);
            tasks.push_back(created.task);
        }
        ASSERT_EQ(list->Count(), 2u);
        list->OnScheduled = [&session] { session.Scheduler().Wake(); };
        session.Scheduler().SetTaskList(list.get());
        session.Scheduler().Wake();
    });
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_TRUE(owner.WaitUntil(
        [&] { return tasks[0]->Status() == kStatusZipped && tasks[1]->Status() == kStatusZipped; },
        TLoopOwnerThread::TClock::now() + 60s));
    owner.Call([&] {
        session.Scheduler().SetTaskList(nullptr);
        session.Events().Unsubscribe(*starts);
        EXPECT_EQ(starts->order, (std::vector<std::string>{tasks[0]->TaskName(), tasks[1]->TaskName()}));
        EXPECT_EQ(starts->overlaps, 0);
        list.reset();
    });
}

} // namespace
} // namespace pellix

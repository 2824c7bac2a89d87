// Tests for TSession and TSessionEvents: several subscribers at once, and the wiring done once.
#include "workspace/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/loop_owner_thread.h"
#include "engine/slot_list.h"
#include "workspace/app_settings.h"
#include "workspace/task_runner.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"

namespace pellix {
namespace {

class TRecorder final : public ISessionObserver {
public:
    explicit TRecorder(std::string name, std::vector<std::string>& log) : m_name(std::move(name)), m_log(log) {}
    void OnStatusText(const std::string& text) override
    {
        m_log.push_back(m_name + ":" + text);
        if (onStatus)
            onStatus();
    }
    std::function<void()> onStatus;

private:
    std::string m_name;
    std::vector<std::string>& m_log;
};

// Two subscribers both hear every event, in subscription order; one that leaves during a round
// (even another subscriber's) gets nothing more, and leaving twice is harmless.
TEST(TSessionEventsTest, EverySubscriberHearsEachEventUntilItLeaves)
{
    TSessionEvents events;
    std::vector<std::string> log;
    TRecorder progressLine("cli", log);
    TRecorder window("window", log);
    events.Subscribe(progressLine);
    events.Subscribe(window);
    events.Subscribe(window); // once only
    events.StatusText("Starting Task...");
    EXPECT_EQ(log, (std::vector<std::string>{"cli:Starting Task...", "window:Starting Task..."}));

    log.clear();
    progressLine.onStatus = [&] { events.Unsubscribe(window); };
    events.StatusText("Ready");
    EXPECT_EQ(log, (std::vector<std::string>{"cli:Ready"}));
    events.Unsubscribe(window);
    log.clear();
    progressLine.onStatus = nullptr;
    events.StatusText("again");
    EXPECT_EQ(log, (std::vector<std::string>{"cli:again"}));
}

// The slider's number of connections reaches the stored setting; a command line's override holds
// for the process only.
TEST(TSessionTest, ConnectionsReachTheStoredSettingUnlessOverridden)
{
    test::TTempFolder folder;
    const TAppPaths paths = test::TestAppPaths(folder.Path());
    TPXApp app(paths);
    app.SetConnections(10);
    TLoopOwnerThread owner;
    {
        TSession session(app, owner);
        owner.Call([&] { session.Slots().SetConnections(6); });
        EXPECT_EQ(TPXApp(paths).Connections(), 6u);
        owner.Call([&] { session.OverrideConnections(3); });
        EXPECT_EQ(session.Slots().Connections(), 3);
        owner.Call([&] { session.Slots().ResetSlots(); });
        EXPECT_EQ(TPXApp(paths).Connections(), 6u);
    }
    owner.Stop();
}

// A connection row that changed reaches the subscribers once until the view has taken the rows.
TEST(TSessionTest, ChangedSlotRowsBecomeEventsOncePerFlush)
{
    test::TTempFolder folder;
    const TAppPaths paths = test::TestAppPaths(folder.Path());
    TPXApp app(paths);
    TLoopOwnerThread owner;
    {
        TSession session(app, owner);
        class TSlots final : public ISessionObserver {
        public:
            void OnSlotChanged(std::size_t index) override { changed.push_back(index); }
            std::vector<std::size_t> changed;
        } observer;
        session.Events().Subscribe(observer);
        owner.Call([&] {
            session.OverrideConnections(2);
            session.Slots().TakeChangedRows();
            session.Slots().MarkRowChanged(1);
            session.Slots().MarkRowChanged(1);
            EXPECT_EQ(observer.changed, (std::vector<std::size_t>{1}));
            session.Slots().TakeChangedRows();
            session.Slots().MarkRowChanged(1);
        });
        EXPECT_EQ(observer.changed, (std::vector<std::size_t>{1, 1}));
        session.Events().Unsubscribe(observer);
    }
    owner.Stop();
}

// A file that is no task file is refused through the session with the reason, untouched.
TEST(TSessionTest, LoadTaskRefusesWhatIsNoTask)
{
    test::TTempFolder folder;
    const TAppPaths paths = test::TestAppPaths(folder.Path());
    TPXApp app(paths);
    TLoopOwnerThread owner;
    {
        TSession session(app, owner);
        const std::string junk = (folder.Path() / "junk.pxt").string();
        { std::FILE* f = std::fopen(junk.c_str(), "wb"); std::fputs("\x01\x02 random", f); std::fclose(f); }
        TLoadTaskResult missing, bad;
        owner.Call([&] {
            missing = session.LoadTask((folder.Path() / "none.pxt").string());
            bad = session.LoadTask(junk);
        });
        EXPECT_FALSE(missing.task);
        EXPECT_NE(missing.message.find("not found"), std::string::npos) << missing.message;
        EXPECT_FALSE(bad.task);
        EXPECT_NE(bad.message.find(junk), std::string::npos) << bad.message;
        EXPECT_EQ(std::filesystem::file_size(junk), 9u);
    }
    owner.Stop();
}

} // namespace
} // namespace pellix

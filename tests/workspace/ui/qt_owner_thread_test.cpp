// The Qt owner thread: order, Call from workers, exceptions, and the stop at shut-down.
#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "workspace/ui/qt_owner_thread.h"

using namespace pellix;

class TQtOwnerThreadTest : public QObject {
    Q_OBJECT
private slots:
    void RunsPostsInOrderOnTheGuiThread() {
        TQtOwnerThread owner;
        std::vector<int> seen;
        bool onOwner = true;
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                owner.Post([&, i] {
                    seen.push_back(i);
                    onOwner = onOwner && owner.IsOwnerThread();
                });
        });
        worker.join();
        QTRY_COMPARE(seen.size(), std::size_t(100));
        for (int i = 0; i < 100; ++i) QCOMPARE(seen[i], i);
        QVERIFY(onOwner);
    }

    void CallWaitsAndCarriesExceptions() {
        TQtOwnerThread owner;
        std::atomic<int> value{0};
        std::atomic<bool> threw{false}, done{false};
        std::thread worker([&] {
            owner.Call([&] { value = 7; });
            try {
                owner.Call([] { throw std::runtime_error("boom"); });
            } catch (const std::runtime_error&) {
                threw = true;
            }
            done = true;
        });
        QTRY_VERIFY(done.load());
        worker.join();
        QCOMPARE(value.load(), 7);
        QVERIFY(threw.load());
    }

    void RunElsewhereKeepsServingTheOwnerThread() {
        TQtOwnerThread owner;
        bool calledBack = false;
        // What a session's end does: a thread that needs the owner thread before it can finish.
        owner.RunElsewhere([&] { owner.Call([&] { calledBack = owner.IsOwnerThread(); }); });
        QVERIFY(calledBack);
    }

    void StopRunsWhatIsQueuedThenRefuses() {
        TQtOwnerThread owner;
        int ran = 0;
        owner.Post([&] { ++ran; });
        owner.Post([&] { ++ran; });
        owner.Stop();
        QCOMPARE(ran, 2);
        QVERIFY(!owner.Post([&] { ++ran; }));
        bool called = true;
        std::thread worker([&] { called = owner.Call([&] { ++ran; }); });
        worker.join();
        QVERIFY(!called);
        QCOMPARE(ran, 2);
    }
};

QTEST_GUILESS_MAIN(TQtOwnerThreadTest)
#include "qt_owner_thread_test.moc"

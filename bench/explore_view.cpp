// The explore view on a task with 100,000 items: time to open it, the longest event-loop step
// while a simulated crawl adds 1,000 items a second and changes as many, and the heap it takes
// beyond the download list. Runs offscreen; prints the figures.
// Usage: bench_explore_view [items] [crawl seconds]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>

#include <malloc.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/download_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "tasks/ui/explore_model.h"
#include "tasks/ui/explore_view.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/settings_store.h"
#include "workspace/task_runner.h"
#include "workspace/ui/qt_owner_thread.h"

using namespace pellix;

namespace {

std::size_t HeapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

double Mb(double bytes) { return bytes / (1024.0 * 1024.0); }

// Lets queued work, timers and paints run for a while.
void Spin(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::string Record(int state, int n)
{
    const char sep = kRecordSeparator;
    const bool page = n % 5 == 0;
    std::string r;
    for (const std::string& f :
         {std::to_string(state), std::string(state == 3 ? "404 Not Found" : "OK"), std::string(page ? "HTML" : "Images"),
          std::string(), std::to_string(n % 7), "http://127.0.0.1/section" + std::to_string(n / 100) + "/index.html",
          std::string("Tue, 01 Dec 2026 10:00:00 GMT"), std::string("1"),
          page ? "Page number " + std::to_string(n) : std::string(), std::to_string(1000 + n % 50000), std::string()}) {
        r += f;
        r += sep;
    }
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication qapp(argc, argv);
    const int items = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("pellix-bench-explore-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    TAppPaths paths;
    paths.programFolder = folder / "home";
    paths.settingsFile = folder / "registry.ini";
    paths.systemTemp = folder / "tmp";
    paths.homeFolder = folder / "user";
    paths.intranetDefault = folder / "site";
    auto app = std::make_unique<TPXApp>(paths);
    app->Store().WriteSetting(kFileTypesKey, "HTML", ".htm;.html;");
    app->Store().WriteSetting(kFileTypesKey, "Images", ".gif;.jpg;");
    TQtOwnerThread owner;
    auto session = std::make_unique<TSession>(*app, owner);

    auto task = std::make_shared<TPXTask>(app.get());
    task->SetTaskName("Bench");
    task->SetURL("http://127.0.0.1/index.html");
    task->SetTaskFile((folder / "home/Tasks/General/Bench.pxt").string());
    {
        std::string data;
        for (int n = 0; n < items; ++n) {
            data += "http://127.0.0.1/section" + std::to_string(n / 100) + "/file" + std::to_string(n) +
                    (n % 5 == 0 ? ".html" : ".gif") + "\r\n" + Record(n % 13 == 0 ? 3 : 10, n) + "\r\n";
        }
        std::filesystem::create_directories(folder / "home/Tasks/General");
        WriteFileAtomically(task->DownloadList().FilePath(), data);
    }
    session->Runner().MakeCurrent(task);
    Spin(50);
    std::printf("download list: %zu items\n", task->DownloadList().Count());

    // A crawl's list growth without the view, for the memory figure.
    const auto addItems = [&](int count, int& next) {
        for (int i = 0; i < count; ++i, ++next)
            task->DownloadList().AddItem(
                task->MakeItem("http://127.0.0.1/new/file" + std::to_string(next) + ".gif", kActionDownload));
    };
    int next = 0;
    const int crawlItems = 1000 * seconds;
    const std::size_t heapBeforeCrawl = HeapInUse();
    addItems(crawlItems, next);
    const double listGrowthPerItem = double(HeapInUse() - heapBeforeCrawl) / crawlItems;

    const std::size_t heapBefore = HeapInUse();
    QElapsedTimer openClock;
    openClock.start();
    auto viewOwner = std::make_unique<TExploreView>(*session);
    TExploreView& view = *viewOwner;
    view.resize(1000, 700);
    view.show();
    QApplication::processEvents();
    QApplication::sendPostedEvents();
    view.lvExplore->viewport()->repaint();
    const double openMs = openClock.nsecsElapsed() / 1e6;
    std::printf("open view with %d rows: %.1f ms (target < 500 ms)\n", view.Model().rowCount(), openMs);
    const std::size_t heapOpen = HeapInUse();

    // The crawl: every 10 ms ten items are added and ten existing ones change state.
    QElapsedTimer stepClock;
    stepClock.start();
    qint64 lastBeat = 0;
    qint64 longestGap = 0;
    // The same on the thread's CPU clock: what the loop spent itself, not time the machine gave
    // to other processes.
    qint64 lastCpu = 0;
    qint64 longestCpu = 0;
    const auto threadCpu = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = stepClock.nsecsElapsed();
        if (lastBeat > 0)
            longestGap = std::max(longestGap, now - lastBeat);
        lastBeat = now;
        const qint64 cpu = threadCpu();
        if (lastCpu > 0)
            longestCpu = std::max(longestCpu, cpu - lastCpu);
        lastCpu = cpu;
    });
    int changed = 0;
    QTimer crawl;
    crawl.setInterval(10);
    QObject::connect(&crawl, &QTimer::timeout, [&] {
        addItems(10, next);
        for (int i = 0; i < 10; ++i, ++changed) {
            TPXQItem* item = task->DownloadList().Item(static_cast<std::size_t>((changed * 7919) % items));
            item->Reload();
            item->SetState(item->State() == kStateParsed ? kStateZipped : kStateParsed);
            item->WriteBack(true);
        }
    });
    heartbeat.start();
    crawl.start();
    Spin(seconds * 1000);
    crawl.stop();
    Spin(2 * TExploreModel::kFlushMs);
    heartbeat.stop();
    const std::size_t heapAfter = HeapInUse();
    std::printf("crawl: %d items added and %d changed in %d s; rows now %d\n", crawlItems, changed, seconds,
                view.Model().rowCount());
    std::printf("longest event-loop step during the crawl: %.1f ms wall clock, %.1f ms of the thread's CPU time "
                "(target < 50 ms)\n",
                longestGap / 1e6, longestCpu / 1e6);

    // Sorting and filtering without copying the list.
    QElapsedTimer sortClock;
    sortClock.start();
    view.Model().sort(kExploreTitle, Qt::AscendingOrder);
    std::printf("sort %d rows by title: %.1f ms\n", view.Model().rowCount(), sortClock.nsecsElapsed() / 1e6);
    sortClock.restart();
    view.Model().SetFilter("section7");
    std::printf("filter to %d rows: %.1f ms\n", view.Model().rowCount(), sortClock.nsecsElapsed() / 1e6);
    view.Model().SetFilter({});
    view.Model().sort(-1, Qt::AscendingOrder);

    const double viewOpen = double(heapOpen) - double(heapBefore);
    const double viewAll = double(heapAfter) - double(heapBefore) - listGrowthPerItem * crawlItems;
    std::printf("heap beyond the download list: %.2f MB at open, %.2f MB after the crawl (target < 20 MB)\n",
                Mb(viewOpen), Mb(viewAll));

    viewOwner.reset();
    owner.RunElsewhere([&] { session.reset(); });
    owner.Stop();
    std::filesystem::remove_all(folder);
    return 0;
}

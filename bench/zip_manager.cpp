// The zip manager on a large archive: a Zip of 30,000 entries opened into the zip tree and the
// zip file list, with its progress, and the longest event-loop step while opening and while the
// list is scrolled from top to bottom. Prints the figures; asserts nothing.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include <unistd.h>

#include "tasks/status_model.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/ui/qt_owner_thread.h"
#include "workspace/ui/zip_list_model.h"
#include "workspace/ui/zip_manager_view.h"
#include "workspace/ui/zip_tree_model.h"
#include "workspace/zip_engine.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

// The longest the event loop was kept from a 2 ms timer: the longest step it took meanwhile.
struct TStepMeter {
    TStepMeter()
    {
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_clock.isValid())
                longest = std::max(longest, m_clock.nsecsElapsed() / 1e6 - 2.0);
            m_clock.start();
        });
        m_timer.start();
    }
    void Reset()
    {
        longest = 0;
        m_clock.invalidate();
    }
    double longest = 0;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
};

std::string MakeArchive(const fs::path& folder, int count)
{
    const fs::path src = folder / "src";
    std::vector<std::string> names;
    names.reserve(count);
    for (int i = 0; i < count; ++i) {
        // 300 folders of 100 files, as a crawled site has them.
        const std::string name = "site/section" + std::to_string(i / 100) + "/page" + std::to_string(i) +
                                 (i % 3 == 0 ? ".htm" : i % 3 == 1 ? ".gif" : ".css");
        fs::create_directories((src / name).parent_path());
        std::ofstream(src / name) << "entry " << i;
        names.push_back(name);
    }
    const std::string zip = (folder / "big.zip").string();
    TZipEngine engine;
    engine.SetZipFileName(zip);
    engine.SetBaseDirectory(src.string());
    engine.SetFilesToProcess(names);
    if (engine.Add(kZipAddReplace) != kZipOk)
        return {};
    return zip;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int count = 30000;
    const fs::path folder = fs::temp_directory_path() / ("pellix-bench-zip-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::printf("building a Zip of %d entries...\n", count);
    const std::string zip = MakeArchive(folder, count);
    if (zip.empty()) {
        std::fprintf(stderr, "could not build the archive\n");
        return 1;
    }
    {
        TAppPaths paths;
        paths.programFolder = folder / "home";
        paths.settingsFile = folder / "registry.ini";
        paths.systemTemp = folder / "tmp";
        paths.homeFolder = folder / "user";
        paths.intranetDefault = folder / "site";
        TPXApp app(paths);
        app.Store().WriteSetting(kFileTypesKey, "HTML", ".htm;.html;");
        TQtOwnerThread owner;
        auto session = std::make_unique<TSession>(app, owner);
        {
            QWidget host;
            host.resize(1000, 700);
            auto* row = new QHBoxLayout(&host);
            auto* zipTree = new QTreeView(&host);
            auto* pageTree = new QTreeView(&host);
            auto* view = new TZipManagerView(*session, zipTree, pageTree, &host);
            row->addWidget(zipTree);
            row->addWidget(view, 1);
            int progressEvents = 0;
            std::int64_t lastPosition = 0;
            // Counted as the status line gets them.
            TZipProgressEvent shown = view->Manager().OnProgress;
            view->Manager().OnProgress = [&, shown](const std::string& text, std::int64_t position, std::int64_t maximum) {
                if (maximum > 0 && position != lastPosition) {
                    lastPosition = position;
                    ++progressEvents;
                }
                shown(text, position, maximum);
            };
            host.show();
            application.processEvents();

            TStepMeter meter;
            for (int i = 0; i < 5; ++i)
                application.processEvents(QEventLoop::WaitForMoreEvents, 5);
            meter.Reset();
            QElapsedTimer timer;
            timer.start();
            view->OpenZip(QString::fromStdString(zip));
            while (view->Manager().Busy() || view->ListModel().rowCount() < count)
                application.processEvents(QEventLoop::WaitForMoreEvents, 10);
            application.processEvents();
            const double openMs = timer.nsecsElapsed() / 1e6;
            const double openStep = meter.longest;
            std::printf("open and list %d entries: %.0f ms (tree %zu entries, list %d rows), progress shown %d times, "
                        "longest event-loop step %.1f ms\n",
                        count, openMs, view->TreeModel().Trees().front()->EntryCount(), view->ListModel().rowCount(),
                        progressEvents, openStep);

            // Scrolling: a page at a time from top to bottom, each step through the event loop.
            meter.Reset();
            QScrollBar* bar = view->List()->verticalScrollBar();
            timer.restart();
            int steps = 0;
            for (int value = 0; value <= bar->maximum(); value += std::max(1, bar->pageStep())) {
                bar->setValue(value);
                // Through the loop as a wheel would go: the timer gets its turn between pages.
                application.processEvents(QEventLoop::WaitForMoreEvents, 3);
                ++steps;
            }
            std::printf("scrolled %d pages in %.0f ms, longest event-loop step %.1f ms\n", steps,
                        timer.nsecsElapsed() / 1e6, meter.longest);
            // Sorting the whole list by size.
            timer.restart();
            view->List()->sortByColumn(TZipListModel::Size, Qt::DescendingOrder);
            application.processEvents();
            std::printf("sort %d rows by Size: %.0f ms\n", view->ListModel().rowCount(), timer.nsecsElapsed() / 1e6);
        }
        owner.RunElsewhere([&] { session.reset(); });
        owner.Stop();
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}

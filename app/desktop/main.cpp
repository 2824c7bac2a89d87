// pellix: the desktop program: one main window over the core's session, one copy per user.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "app/cli/demo_site.h"
#include "engine/task.h"
#include "workspace/app_settings.h"
#include "workspace/first_start.h"
#include "workspace/main_window_rules.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"
#include "workspace/ui/browser_engine.h"
#include "workspace/ui/form_browser.h"
#include "workspace/ui/form_pellix.h"
#include "workspace/ui/qt_owner_thread.h"
#include "workspace/ui/skin_images.h"

namespace pellix {
namespace {

struct TDesktopOptions {
    bool demo = false;        // serve the built-in demo site and put its address in the address box
    bool figures = false;     // print the responsiveness figures at exit
    bool startupTime = false; // print the time to a shown window and end
    QString download;         // benchmark: download this address at once, print the time, end
    QString zip;              // with download: the Zip file to write
    QString browseZip;        // show this Zip file's entry in the Browse view at start
    QString browseEntry;
    bool browseTime = false;  // with browse: print the time to the page loaded and end
    QStringList arguments;    // what the window handles (the first one) or hands over
};

TDesktopOptions ParseOptions(const QStringList& all)
{
    TDesktopOptions options;
    options.figures = qEnvironmentVariableIsSet("PELLIX_FIGURES");
    for (int i = 1; i < all.size(); ++i) {
        const QString& arg = all[i];
        if (arg == "--demo")
            options.demo = true;
        else if (arg == "--figures")
            options.figures = true;
        else if (arg == "--startup-time")
            options.startupTime = true;
        else if (arg == "--download" && i + 1 < all.size())
            options.download = all[++i];
        else if (arg == "--zip" && i + 1 < all.size())
            options.zip = all[++i];
        else if (arg == "--browse" && i + 2 < all.size()) {
            options.browseZip = all[++i];
            options.browseEntry = all[++i];
        } else if (arg == "--browse-time")
            options.browseTime = true;
        else
            options.arguments << arg;
    }
    return options;
}

// One copy per user and Pellix home: a home of its own (PELLIX_HOME) is a program of its own.
QString ServerName()
{
    std::string user = qEnvironmentVariable("USER").toStdString();
    if (user.empty())
        user = std::to_string(::getuid());
    std::string name = InstanceServerName(user);
    const QByteArray home = qgetenv("PELLIX_HOME");
    if (!home.isEmpty())
        name += "-" + std::to_string(std::hash<std::string>{}(home.toStdString()) % 1000000007u);
    return QString::fromStdString(name);
}

// True when another copy answered: the arguments went to it and this copy ends.
bool HandOver(const QString& name, const QStringList& arguments)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000))
        return false;
    std::vector<std::string> args;
    for (const QString& arg : arguments)
        args.push_back(arg.toStdString());
    if (!args.empty()) {
        socket.write(QByteArray::fromStdString(InstanceMessage(args)));
        socket.waitForBytesWritten(2000);
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(1000);
    return true;
}

// The benchmark run: the task ends the program when it completes or stops.
class TBenchObserver final : public ISessionObserver {
public:
    void OnTaskCompleted(TPXTask&, const std::string& report) override
    {
        std::fprintf(stderr, "%s\n", report.c_str());
        End(0);
    }
    void OnTaskStopped(TPXTask&, const std::string&) override { End(4); }
    void OnMessage(TRunnerMessageKind, const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void OnStatusText(const std::string& text) override
    {
        if (qEnvironmentVariableIsSet("PELLIX_FIGURES_TRACE"))
            std::fprintf(stderr, "status %.3f s: %s\n", static_cast<double>(clock.nsecsElapsed()) / 1e9, text.c_str());
    }
    void OnTaskChanged(TPXTask& task) override
    {
        if (qEnvironmentVariableIsSet("PELLIX_FIGURES_TRACE"))
            std::fprintf(stderr, "task %.3f s: status %d\n", static_cast<double>(clock.nsecsElapsed()) / 1e9, task.Status());
    }

    QElapsedTimer clock;
    int code = 0;

private:
    void End(int result)
    {
        code = result;
        std::fprintf(stderr, "download_seconds %.2f\n", static_cast<double>(clock.nsecsElapsed()) / 1e9);
        QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
    }
};

// The longest pause of the event loop, seen from a 10 ms timer.
class TGapMeter {
public:
    void Start(QObject* parent)
    {
        m_clock.start();
        auto* timer = new QTimer(parent);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, parent, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0) {
                m_longest = std::max(m_longest, now - m_last);
                if (now - m_last > 50'000'000 && qEnvironmentVariableIsSet("PELLIX_FIGURES_TRACE"))
                    std::fprintf(stderr, "gap %.1f ms ending at %.3f s\n", (now - m_last) / 1e6, now / 1e9);
            }
            m_last = now;
        });
        timer->start(10);
    }
    double LongestMs() const { return static_cast<double>(m_longest) / 1e6; }

private:
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longest = 0;
};

int Run(int argc, char** argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    PrepareBrowserEngine();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Pellix");
    QApplication::setDesktopFileName("pellix");
    const TDesktopOptions options = ParseOptions(QApplication::arguments());

    // A second copy hands its arguments to the first and ends without a window.
    const QString serverName = ServerName();
    if (HandOver(serverName, options.arguments))
        return 0;
    QLocalServer server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(serverName); // a copy that was killed leaves its socket file
    if (!server.listen(serverName))
        std::fprintf(stderr, "pellix: cannot serve other copies (%s)\n", server.errorString().toLocal8Bit().constData());

    const int depth = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->depth() : 32;
    std::unique_ptr<TPXApp> app = TPXApp::FromEnvironment(depth);
    const TFirstStartResult firstStart = TFirstStart(*app).Run();
    for (const std::string& problem : firstStart.problems)
        std::fprintf(stderr, "pellix: first start: %s\n", problem.c_str());
    // The installed icon; before installation (or without an SVG reader) the skin's Pellix-mode
    // picture stands for the program, in the title bar and in the tray.
    const QIcon themed = QIcon::fromTheme("pellix");
    QApplication::setWindowIcon(themed.isNull() ? SkinIcon(*app, "pxmode.bmp", QIcon()) : themed);

    auto owner = std::make_unique<TQtOwnerThread>();
    auto session = std::make_unique<TSession>(*app, *owner);
    auto window = std::make_unique<TFormPellix>(*session);

    TDemoSite demo;
    if (options.demo) {
        std::string error;
        if (demo.Start(&error))
            window->AddressBox()->setEditText(QString::fromStdString(demo.Url()));
        else
            std::fprintf(stderr, "pellix: cannot serve the demo site: %s\n", error.c_str());
    }

    QObject::connect(&server, &QLocalServer::newConnection, window.get(), [&server, w = window.get()] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readChannelFinished, w, [socket, w] {
                const auto arguments = ParseInstanceMessage(socket->readAll().toStdString());
                if (arguments)
                    for (const std::string& arg : *arguments)
                        w->HandleArgument(QString::fromStdString(arg), false);
            });
        }
    });

    TGapMeter gaps;
    if (options.figures)
        gaps.Start(window.get());

    window->show();
    window->StartUp(options.arguments);
    if (firstStart.ran && !app->UseProxy())
        if (const auto proxy = DetectProxyFromEnvironment())
            window->OnMessage(TRunnerMessageKind::Information, ProxyFoundMessage(*proxy));

    TBenchObserver bench;
    if (!options.download.isEmpty()) {
        window->SetMessageSink([](TRunnerMessageKind, const QString& text) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        });
        session->Events().Subscribe(bench);
        QTimer::singleShot(0, window.get(), [&] {
            bench.clock.start();
            TTaskRunner& runner = session->Runner();
            if (!options.zip.isEmpty())
                runner.SetAddToZipTarget(options.zip.toStdString());
            const TCreateTaskResult created =
                runner.CreateTaskFromAddress(options.download.toStdString(), "Default", false, false);
            const TStartResult started = created.ok ? runner.StartTask(created.task) : TStartResult{false, created.message};
            if (!started.ok) {
                std::fprintf(stderr, "pellix: %s\n", started.message.c_str());
                bench.code = 1;
                QApplication::quit();
            }
        });
    }

    if (!options.browseZip.isEmpty()) {
        QTimer::singleShot(0, window.get(), [&] {
#ifdef PELLIX_HAVE_WEBENGINE
            if (options.browseTime) {
                // The figure is from the click: the browser is made and has shown its first page
                // (the downloads folder) before the clock starts.
                window->SwitchView(TView::Browse);
                if (TFormBrowser* browser = window->Browser()) {
                    auto clock = std::make_shared<QElapsedTimer>();
                    QObject::connect(browser, &TFormBrowser::PageLoaded, window.get(), [&, clock](bool ok) {
                        if (!clock->isValid()) {
                            clock->start();
                            window->BrowseZipEntry(options.browseZip, options.browseEntry);
                            return;
                        }
                        std::printf("browse_page_ms %.1f%s\n", static_cast<double>(clock->nsecsElapsed()) / 1e6,
                                    ok ? "" : " (failed)");
                        std::fflush(stdout);
                        QApplication::quit();
                    });
                    return;
                }
            }
#endif
            window->BrowseZipEntry(options.browseZip, options.browseEntry);
            if (options.browseTime) {
                std::printf("browse_page_ms unavailable (no internal browser)\n");
                QApplication::quit();
            }
        });
    }

    if (options.startupTime) {
        // Shown means exposed and painted once: the first pass of the loop after the expose.
        QTimer::singleShot(0, window.get(), [&] {
            std::printf("startup_to_shown_ms %.1f\n", static_cast<double>(sinceStart.nsecsElapsed()) / 1e6);
            std::fflush(stdout);
            QApplication::quit();
        });
    }

    const int code = QApplication::exec();
    if (!options.download.isEmpty())
        session->Events().Unsubscribe(bench);

    if (options.figures)
        std::fprintf(stderr, "owner_longest_step_ms %.1f\nevent_loop_longest_gap_ms %.1f\n",
                     static_cast<double>(owner->LongestStep().count()) / 1000.0, gaps.LongestMs());
    server.close();
    window.reset();
    owner->RunElsewhere([&] { session.reset(); });
    owner->Stop();
    owner.reset();
    demo.Stop();
    RemoveTempFolderAtExit(*app);
    return options.download.isEmpty() ? code : bench.code;
}

} // namespace
} // namespace pellix

int main(int argc, char** argv) { return pellix::Run(argc, argv); }

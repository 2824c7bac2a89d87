// pellix-cli: downloads a site (or a task file's site) into a Zip file or a folder, without a window.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/demo_site.h"
#include "engine/download_list.h"
#include "engine/download_thread.h"
#include "engine/loop_owner_thread.h"
#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/parse_thread.h"
#include "links/url_rules.h"
#include "workspace/app_settings.h"
#include "workspace/first_start.h"
#include "workspace/task_runner.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

constexpr int kExitCompleted = 0;
constexpr int kExitBadInput = 1;
constexpr int kExitInterrupted = 2;

constexpr const char* kUsage =
    "Usage: pellix-cli [options] [URL]\n"
    "Downloads the site at URL into a Zip file (or, with --intranet, into a folder).\n"
    "Without a URL, a small built-in demo site is served on 127.0.0.1 and downloaded.\n"
    "\n"
    "Options:\n"
    "  --profile NAME      crawl rules from the profile NAME (Profiles/NAME.pxp; default \"Default\")\n"
    "  --zip FILE          pack into FILE (keeps its name) instead of a new Zip in the downloads folder\n"
    "  --intranet DIR      Personal Intranet Mode: write the site into DIR and leave it there\n"
    "  --connections N     parallel connections, 1 to 16 (default: the stored setting)\n"
    "  --priority P        0 pages first ... 10 media files first (default: the stored setting)\n"
    "  --depth N           levels of pages below the start page; -1 for all (default: the profile's)\n"
    "  --no-ads            do not add the banner to saved pages (for this run)\n"
    "  --map               map the site: the start page is mapped, not downloaded\n"
    "  --home DIR          the Pellix home (tasks, profiles, downloads) with its settings in\n"
    "                      DIR/registry.ini (default: $PELLIX_HOME or ~/.local/share/Pellix)\n"
    "  --task FILE.pxt     run an existing task instead of creating one\n"
    "  --mode MODE         with --task: restart, resume (default), update or retry\n"
    "  --quiet             no progress on stderr (errors are still shown)\n"
    "  --help              show this text\n"
    "\n"
    "Progress goes to stderr, the completion report to stdout. Exit status: 0 when the task\n"
    "completed, 1 on bad input, 2 when interrupted (Ctrl-C stops the task; run it again with\n"
    "--task FILE.pxt --mode resume).\n";

struct TCliOptions {
    std::string profile = "Default";
    bool profileGiven = false;
    std::string zip;
    std::optional<std::string> intranet;
    std::optional<int> connections;
    std::optional<int> priority;
    std::optional<int> depth;
    bool noAds = false;
    bool map = false;
    std::string home;
    std::string task;
    std::string mode;
    bool quiet = false;
    bool help = false;
    std::string url;
};

std::optional<int> ParseInt(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return std::nullopt;
    for (std::size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9')
            return std::nullopt;
    return std::atoi(text.c_str());
}

// Fills options; false with the message in error.
bool ParseArguments(int argc, char** argv, TCliOptions& options, std::string& error)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "Option " + arg + " needs a value.";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](std::optional<int>& out, int low, int high) {
            std::string text;
            if (!value(text))
                return false;
            const std::optional<int> parsed = ParseInt(text);
            if (!parsed || *parsed < low || *parsed > high) {
                error = "Option " + arg + " takes a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not \"" + text + "\".";
                return false;
            }
            out = parsed;
            return true;
        };
        auto flag = [&](bool& out) {
            if (inlineValue) {
                error = "Option " + arg + " takes no value.";
                return false;
            }
            out = true;
            return true;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h")
            ok = flag(options.help);
        else if (arg == "--profile") {
            ok = value(options.profile);
            options.profileGiven = true;
        } else if (arg == "--zip")
            ok = value(options.zip);
        else if (arg == "--intranet") {
            std::string dir;
            ok = value(dir);
            options.intranet = dir;
        } else if (arg == "--connections")
            ok = number(options.connections, TSlotList::kMinConnections, TSlotList::kMaxConnections);
        else if (arg == "--priority")
            ok = number(options.priority, 0, 10);
        else if (arg == "--depth")
            ok = number(options.depth, -1, 1000000);
        else if (arg == "--no-ads")
            ok = flag(options.noAds);
        else if (arg == "--map")
            ok = flag(options.map);
        else if (arg == "--home")
            ok = value(options.home);
        else if (arg == "--task")
            ok = value(options.task);
        else if (arg == "--mode")
            ok = value(options.mode);
        else if (arg == "--quiet" || arg == "-q")
            ok = flag(options.quiet);
        else if (arg.size() > 1 && arg[0] == '-') {
            error = "Unknown option: " + arg;
            return false;
        } else if (options.url.empty())
            options.url = arg;
        else {
            error = "Only one URL can be given.";
            return false;
        }
        if (!ok)
            return false;
    }
    if (options.help)
        return true;
    if (!options.mode.empty() && options.task.empty()) {
        error = "--mode needs --task.";
        return false;
    }
    if (!options.task.empty()) {
        if (!options.url.empty() || !options.zip.empty() || options.intranet || options.map || options.profileGiven) {
            error = "--task runs the task as it was created: no URL, --profile, --zip, --intranet or --map.";
            return false;
        }
        if (options.mode.empty())
            options.mode = "resume";
        if (options.mode != "restart" && options.mode != "resume" && options.mode != "update" && options.mode != "retry") {
            error = "--mode takes restart, resume, update or retry, not \"" + options.mode + "\".";
            return false;
        }
    }
    if (!options.zip.empty() && options.intranet) {
        error = "--zip and --intranet cannot be used together.";
        return false;
    }
    if (options.intranet && options.intranet->empty()) {
        error = "--intranet needs a folder.";
        return false;
    }
    return true;
}

int RunModeOf(const std::string& mode)
{
    if (mode == "restart")
        return kRunRestart;
    if (mode == "update")
        return kRunSmartUpdate;
    if (mode == "retry")
        return kRunSmartRecovery;
    return kRunResume;
}

std::string FolderText(const std::string& path)
{
    std::string text = fs::absolute(path).lexically_normal().string();
    if (text.empty() || text.back() != '/')
        text += '/';
    return text;
}

std::string ByteText(double bytes)
{
    char text[32];
    if (bytes >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
    return text;
}

// Progress on stderr: a live line redrawn in place on a terminal, plain lines otherwise.
class TProgress {
public:
    TProgress(bool quiet) : m_quiet(quiet), m_terminal(::isatty(STDERR_FILENO) == 1) {}

    void Line(const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        ClearLive();
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    void Info(const std::string& text)
    {
        if (!m_quiet)
            Line(text);
    }
    void Status(const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        m_status = text;
    }
    // Throttled by the caller's wait (a few times a second).
    void Update(const TPXTask& task)
    {
        if (m_quiet)
            return;
        const auto now = std::chrono::steady_clock::now();
        const std::int64_t bytes = task.TotalBytes();
        if (m_lastTime.time_since_epoch().count() != 0) {
            const double seconds = std::chrono::duration<double>(now - m_lastTime).count();
            if (seconds > 0)
                m_rate = 0.7 * m_rate + 0.3 * (static_cast<double>(bytes - m_lastBytes) / seconds);
        }
        m_lastTime = now;
        m_lastBytes = bytes;
        std::lock_guard lock(m_mutex);
        const std::string status = TPXTask::StatusText(task.Status());
        if (!m_terminal) {
            if (status != m_lastStatus)
                std::fprintf(stderr, "%s\n", status.c_str());
            m_lastStatus = status;
            return;
        }
        char line[256];
        std::snprintf(line, sizeof line, "%s  pages %d/%d  files %d/%d  errors %d  %s  %s/s", status.c_str(),
                      task.PagesSaved(), task.TotalPages(), task.ResourcesSaved(), task.TotalResources(),
                      task.PageErrors() + task.ResourceErrors(), ByteText(static_cast<double>(bytes)).c_str(),
                      ByteText(m_rate).c_str());
        std::fprintf(stderr, "\r%s\x1b[K", line);
        std::fflush(stderr);
        m_live = true;
    }
    void Finish()
    {
        std::lock_guard lock(m_mutex);
        ClearLive();
    }

private:
    void ClearLive()
    {
        if (m_live) {
            std::fprintf(stderr, "\r\x1b[K");
            m_live = false;
        }
    }

    bool m_quiet;
    bool m_terminal;
    bool m_live = false;
    std::mutex m_mutex;
    std::string m_status;
    std::string m_lastStatus;
    std::chrono::steady_clock::time_point m_lastTime{};
    std::int64_t m_lastBytes = 0;
    double m_rate = 0;
};

// A finished Zip holds everything the run saved, so the task's working folder is of no further
// use. remove_all removes symbolic links themselves, never what they point at. Owner thread.
void RemoveTaskTempFiles(TPXTask& task)
{
    std::error_code ec;
    std::string text = task.WorkFolder();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back(); // a trailing slash would make the symlink test follow the link
    const fs::path folder(text);
    if (fs::is_symlink(folder, ec))
        fs::remove(folder, ec);
    else
        fs::remove_all(folder, ec);
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitBadInput;
}

int Run(const TCliOptions& options)
{
    // Ctrl-C and SIGTERM arrive through a descriptor, never in the middle of the crawl's threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    const int doneFd = ::eventfd(0, EFD_CLOEXEC);

    TAppPaths paths = TAppPaths::FromEnvironment();
    if (!options.home.empty()) {
        paths.programFolder = fs::absolute(options.home).lexically_normal();
        paths.settingsFile = paths.programFolder / "registry.ini";
    }
    TPXApp app(paths);
    TFirstStart(app).Run();
    TProgress progress(options.quiet);

    TDemoSite demo;
    std::string url = options.url;
    if (url.empty() && options.task.empty()) {
        std::string error;
        if (!demo.Start(&error))
            return Fail(error);
        url = demo.Url();
        progress.Info("Serving the built-in demo site at " + url);
    }

    TLoopOwnerThread owner;
    auto parse = std::make_unique<TThreadParse>(owner);
    auto coordinator = std::make_unique<TThreadDownload>(owner, &app);
    std::unique_ptr<TSlotList> slots;
    owner.Call([&] {
        slots = std::make_unique<TSlotList>(owner);
        slots->SetConnections(options.connections ? *options.connections : static_cast<int>(app.Connections()));
    });
    if (options.priority)
        coordinator->SetPriority(*options.priority);
    auto runner = std::make_unique<TTaskRunner>(app, owner, *slots, *coordinator, *parse);

    std::string report;
    std::shared_ptr<TPXTask> task;
    std::string failure;
    owner.Call([&] {
        runner->OnStatus = [&](const std::string& text) { progress.Status(text); };
        runner->OnMessage = [&](TRunnerMessageKind, const std::string& text) { progress.Line(text); };
        runner->OnCompleted = [&](TPXTask&, const std::string& text) {
            report = text;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(doneFd, &one, sizeof one);
        };
        if (options.noAds)
            app.OverrideNoAds(true);

        if (!options.task.empty()) {
            const std::string file = fs::absolute(options.task).lexically_normal().string();
            if (!fs::is_regular_file(file)) {
                failure = "Task file not found: " + file;
                return;
            }
            task = std::make_shared<TPXTask>(&app);
            task->SetTaskFile(file);
            std::string error;
            if (!task->Load(&error)) {
                failure = "Cannot read the task file " + file + ": " + error;
                return;
            }
            task->SetRunMode(RunModeOf(options.mode));
        } else {
            const bool custom = options.profile == kCustomProfileName;
            if (options.profileGiven && !custom && !fs::exists(app.ProfilesFolder() + options.profile + ".pxp")) {
                failure = "Profile not found: " + options.profile + " (looked in " + app.ProfilesFolder() + ")";
                return;
            }
            std::string address = url;
            if (custom && !ValidateURL(address)) {
                failure = "Invalid URL.";
                return;
            }
            if (!options.zip.empty())
                runner->SetAddToZipTarget(fs::absolute(options.zip).lexically_normal().string());
            TCreateTaskResult created =
                runner->CreateTaskFromAddress(address, options.profile, options.map, options.intranet.has_value());
            if (!created.ok) {
                failure = created.message;
                return;
            }
            task = created.task;
            if (options.intranet)
                task->SetDestination(FolderText(*options.intranet));
            if (options.depth)
                task->Profile().SetDepth(*options.depth);
            if (created.needsEditor)
                runner->AddTask(*task);
            else
                task->Save();
        }
        progress.Info("Task: " + task->TaskFile());
        progress.Info("Destination: " + task->Destination());
        const TStartResult started = runner->StartTask(task);
        if (!started.ok)
            failure = started.message;
    });

    int exitCode = kExitCompleted;
    if (!failure.empty()) {
        exitCode = Fail(failure);
    } else {
        bool interrupted = false;
        for (;;) {
            pollfd fds[2] = {{signalFd, POLLIN, 0}, {doneFd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, 250);
            progress.Update(*task);
            if (ready > 0 && (fds[1].revents & POLLIN))
                break;
            if (ready > 0 && (fds[0].revents & POLLIN)) {
                signalfd_siginfo info{};
                [[maybe_unused]] const ssize_t got = ::read(signalFd, &info, sizeof info);
                interrupted = true;
                break;
            }
        }
        if (interrupted) {
            owner.Call([&] {
                if (runner->RunningTask())
                    runner->StopTask(*task);
            });
            runner->WaitRunSettled(std::chrono::seconds(60));
            progress.Finish();
            progress.Line(TPXTask::StatusText(task->Status()) + ". Continue with: pellix-cli --task \"" +
                          task->TaskFile() + "\" --mode resume");
            exitCode = kExitInterrupted;
        } else {
            runner->WaitRunSettled(std::chrono::seconds(60));
            if (!task->IntranetMode())
                owner.Call([&] { RemoveTaskTempFiles(*task); });
            progress.Finish();
            std::fprintf(stdout, "%s\n", report.c_str());
            std::fflush(stdout);
            exitCode = kExitCompleted;
        }
    }

    runner.reset();
    parse.reset();
    coordinator.reset();
    owner.Call([&] {
        slots.reset();
    });
    owner.Stop();
    demo.Stop();
    ::close(signalFd);
    ::close(doneFd);
    return exitCode;
}

} // namespace
} // namespace pellix

int main(int argc, char** argv)
{
    pellix::TCliOptions options;
    std::string error;
    if (!pellix::ParseArguments(argc, argv, options, error)) {
        std::fprintf(stderr, "pellix-cli: %s\nTry 'pellix-cli --help'.\n", error.c_str());
        return pellix::kExitBadInput;
    }
    if (options.help) {
        std::fputs(pellix::kUsage, stdout);
        return 0;
    }
    return pellix::Run(options);
}

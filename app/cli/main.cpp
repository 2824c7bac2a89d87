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
#include "engine/tls_session.h"
#include "links/file_io.h"
#include "links/parse_thread.h"
#include "links/url_rules.h"
#include "tasks/error_report.h"
#include "workspace/app_settings.h"
#include "workspace/first_start.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

constexpr int kExitCompleted = 0;
constexpr int kExitBadInput = 1;
constexpr int kExitInterrupted = 2;
constexpr int kExitStartPageFailed = 3;
constexpr int kExitWriteFailed = 4;

// Failed items named on stderr after the report; the error report holds them all.
constexpr std::size_t kFailedItemsShown = 10;

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
    "  --pipeline N        requests in flight per kept connection, 1 (one at a time) to 4 (default: 3)\n"
    "  --parse-threads N   pages parsed at a time, 1 to 4 (default: one per core and one more, at most 4)\n"
    "  --priority P        0 pages first ... 10 media files first (default: the stored setting)\n"
    "  --depth N           levels of pages below the start page; -1 for all (default: the profile's)\n"
    "  --no-ads            do not add the banner to saved pages (for this run)\n"
    "  --map               map the site: the start page is mapped, not downloaded\n"
    "  --home DIR          the Pellix home (tasks, profiles, downloads) with its settings in\n"
    "                      DIR/registry.ini (default: $PELLIX_HOME or ~/.local/share/Pellix)\n"
    "  --task FILE.pxt     run an existing task instead of creating one\n"
    "  --mode MODE         with --task: restart, resume (default), update or retry\n"
    "  --max-pages N       stop the task once N pages were fetched in this run\n"
    "  --max-size BYTES    stop the task once BYTES were received in this run (suffixes K, M, G)\n"
    "  --max-time SECONDS  stop the task after SECONDS of this run\n"
    "  --ca-file FILE      also trust the certificate authorities in FILE (PEM) for https (this run)\n"
    "  --no-check-certificate  accept any https certificate, for any name (this run; unsafe)\n"
    "  --quiet             no progress on stderr (errors are still shown)\n"
    "  --help              show this text\n"
    "\n"
    "Progress goes to stderr, the completion report to stdout. After the report, stderr names the\n"
    "items that failed (URL: reason, the first 10) and the error report that lists them all\n"
    "(TASK_errors.htm beside the task file). A limit stops the task as Ctrl-C does.\n"
    "\n"
    "Exit status:\n"
    "  0  the task completed and its start page was saved\n"
    "  1  bad input (options, address, files or folders); nothing was downloaded\n"
    "  2  interrupted by Ctrl-C or a --max-* limit; continue with --task FILE.pxt --mode resume\n"
    "  3  the task completed but its start page could not be fetched (see the error report)\n"
    "  4  a local write failed (disk full, read-only, permission): the task stopped; free the\n"
    "     space or fix the folder, then continue with --task FILE.pxt --mode resume\n";

struct TCliOptions {
    std::string profile = "Default";
    bool profileGiven = false;
    std::string zip;
    std::optional<std::string> intranet;
    std::optional<int> connections;
    std::optional<int> pipeline;
    std::optional<int> parseThreads;
    std::optional<int> priority;
    std::optional<int> depth;
    bool noAds = false;
    bool map = false;
    std::string home;
    std::string task;
    std::string mode;
    std::optional<std::int64_t> maxPages;
    std::optional<std::int64_t> maxSize;
    std::optional<std::int64_t> maxTime;
    std::string caFile;
    bool noCheckCertificate = false;
    bool quiet = false;
    bool help = false;
    std::string url;
    bool urlGiven = false; // an empty argument is an address too, and not the demo's
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

// A whole number of at least 1 with an optional K, M or G (powers of 1024); nothing when the
// text is not one or does not fit.
std::optional<std::int64_t> ParseCount(const std::string& text, bool suffixes)
{
    std::string digits = text;
    std::int64_t unit = 1;
    if (suffixes && !digits.empty()) {
        const char last = digits.back();
        const std::string units = "KkMmGg";
        if (const std::size_t at = units.find(last); at != std::string::npos) {
            unit = std::int64_t(1) << (10 * (at / 2 + 1));
            digits.pop_back();
        }
    }
    if (digits.empty() || digits.size() > 15)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > (std::int64_t(1) << 52) / unit)
        return std::nullopt;
    return value * unit;
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
        else if (arg == "--pipeline")
            ok = number(options.pipeline, 1, TSlotList::kMaxPipelineDepth);
        else if (arg == "--parse-threads")
            ok = number(options.parseThreads, 1, static_cast<int>(TThreadParse::kMaxThreads));
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
        else if (arg == "--max-pages" || arg == "--max-size" || arg == "--max-time") {
            const bool size = arg == "--max-size";
            std::string text;
            ok = value(text);
            const std::optional<std::int64_t> parsed = ok ? ParseCount(text, size) : std::nullopt;
            if (ok && !parsed) {
                error = "Option " + arg + " takes a whole number of at least 1" +
                        (size ? std::string(" (with K, M or G for KB, MB or GB)") : std::string()) + ", not \"" +
                        text + "\".";
                return false;
            }
            (arg == "--max-pages" ? options.maxPages : size ? options.maxSize : options.maxTime) = parsed;
        } else if (arg == "--ca-file") {
            ok = value(options.caFile);
            if (ok && options.caFile.empty()) {
                error = "--ca-file needs a file.";
                return false;
            }
        } else if (arg == "--no-check-certificate")
            ok = flag(options.noCheckCertificate);
        else if (arg.size() > 1 && arg[0] == '-') {
            error = "Unknown option: " + arg;
            return false;
        } else if (!options.urlGiven) {
            options.url = arg;
            options.urlGiven = true;
        } else {
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
        if (options.urlGiven || !options.zip.empty() || options.intranet || options.map || options.profileGiven) {
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

TRunMode RunModeOf(const std::string& mode)
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

// What the command line shows of a run: status texts and messages on stderr, the completion
// report kept for stdout; the end of the run (completed, or stopped by the runner itself) ends
// the wait of the main loop.
class TCliObserver final : public ISessionObserver {
public:
    TCliObserver(TProgress& progress, int doneFd) : m_progress(progress), m_doneFd(doneFd) {}

    void OnStatusText(const std::string& text) override { m_progress.Status(text); }
    void OnMessage(TRunnerMessageKind, const std::string& text) override { m_progress.Line(text); }
    void OnTaskCompleted(TPXTask&, const std::string& text) override
    {
        report = text;
        completed = true;
        SignalDone();
    }
    // The message itself came through OnMessage.
    void OnTaskStopped(TPXTask&, const std::string&) override
    {
        stoppedByRunner = true;
        SignalDone();
    }

    std::string report; // read after the run settled
    std::atomic<bool> completed{false};
    std::atomic<bool> stoppedByRunner{false};

private:
    void SignalDone()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_doneFd, &one, sizeof one);
    }

    TProgress& m_progress;
    int m_doneFd;
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitBadInput;
}

// Whether files can be made in the intranet folder (created when missing). A probe file is
// created and removed: permission bits say nothing for root or on a read-only mount, and a path
// through a file only fails when something is made there.
bool CheckIntranetFolder(std::string folder, std::string& error)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const fs::path path(folder);
    std::error_code ec;
    if (fs::exists(path, ec) && !fs::is_directory(path, ec)) {
        error = "The intranet folder " + folder + " is a file, not a folder.";
        return false;
    }
    fs::create_directories(path, ec);
    if (ec) {
        error = "Cannot create the intranet folder " + folder + ": " + ec.message() + ".";
        return false;
    }
    const fs::path probe = path / (".pellix-probe-" + std::to_string(::getpid()));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "The intranet folder " + folder + " is not writable: " + WriteErrorReason(errno) + ".";
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

// The --max-* limits of one run, counted from the task's counters when the run began.
class TRunLimits {
public:
    explicit TRunLimits(const TCliOptions& options)
        : m_maxPages(options.maxPages), m_maxBytes(options.maxSize), m_maxSeconds(options.maxTime)
    {
    }

    bool Any() const { return m_maxPages || m_maxBytes || m_maxSeconds; }
    bool CountsBytes() const { return m_maxBytes.has_value(); }

    // Owner thread, right after the run started.
    void Begin(const TPXTask& task)
    {
        m_basePages = task.PagesSaved();
        m_baseBytes = task.TotalBytes();
        if (m_maxSeconds)
            m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(*m_maxSeconds);
    }

    // Why the run must stop, or empty. Any thread (the counters are atomics).
    std::string Reached(const TPXTask& task) const
    {
        const std::int64_t pages = task.PagesSaved() - m_basePages;
        if (m_maxPages && pages >= *m_maxPages)
            return "Limit reached: --max-pages " + std::to_string(*m_maxPages) + " (" + std::to_string(pages) +
                   " pages fetched in this run).";
        const std::int64_t bytes = task.TotalBytes() - m_baseBytes;
        if (m_maxBytes && bytes >= *m_maxBytes)
            return "Limit reached: --max-size " + std::to_string(*m_maxBytes) + " (" + std::to_string(bytes) +
                   " bytes received in this run).";
        if (m_deadline && std::chrono::steady_clock::now() >= *m_deadline)
            return "Limit reached: --max-time " + std::to_string(*m_maxSeconds) + " (seconds of this run).";
        return {};
    }

    // How long the poll may wait at most: the time limit, and a short step while bytes are
    // counted (a single large file changes no other counter).
    int PollTimeout(int usual) const
    {
        std::int64_t timeout = usual;
        if (m_maxBytes)
            timeout = std::min<std::int64_t>(timeout, 50);
        if (m_deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                *m_deadline - std::chrono::steady_clock::now());
            timeout = std::clamp<std::int64_t>(left.count() + 1, 0, timeout);
        }
        return static_cast<int>(timeout);
    }

private:
    std::optional<std::int64_t> m_maxPages;
    std::optional<std::int64_t> m_maxBytes;
    std::optional<std::int64_t> m_maxSeconds;
    int m_basePages = 0;
    std::int64_t m_baseBytes = 0;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
};

// After the report: the failed items, the first few by name, and the error report with them all.
// A report left by an earlier run is brought up to date even when nothing failed now.
void ShowFailures(TProgress& progress, const TPXTask& task, const std::vector<TFailedItem>& failed)
{
    const fs::path report = ErrorReportPath(task);
    std::string error;
    if (failed.empty()) {
        std::error_code ec;
        if (fs::exists(report, ec) && !WriteErrorReport(task, failed, &error))
            progress.Line("Cannot write the error report " + report.string() + ": " + error);
        return;
    }
    progress.Line(std::to_string(failed.size()) + (failed.size() == 1 ? " item" : " items") + " failed:");
    for (std::size_t i = 0; i < failed.size() && i < kFailedItemsShown; ++i)
        progress.Line(failed[i].url + ": " + (failed[i].reason.empty() ? "failed" : failed[i].reason));
    if (failed.size() > kFailedItemsShown)
        progress.Line("... and " + std::to_string(failed.size() - kFailedItemsShown) + " more");
    if (WriteErrorReport(task, failed, &error))
        progress.Line("Error report: " + report.string());
    else
        progress.Line("Cannot write the error report " + report.string() + ": " + error);
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
    const int limitFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const auto closeFds = [&] {
        ::close(signalFd);
        ::close(doneFd);
        ::close(limitFd);
    };

    TAppPaths paths = TAppPaths::FromEnvironment();
    if (!options.home.empty()) {
        paths.programFolder = fs::absolute(options.home).lexically_normal();
        paths.settingsFile = paths.programFolder / "registry.ini";
    }
    TPXApp app(paths);
    TFirstStart(app).Run();
    TProgress progress(options.quiet);

    // Checks that need no task: nothing is created when one fails.
    std::string address = options.url;
    if (options.urlGiven && options.task.empty()) {
        std::string normalised = address;
        if (!ValidateURL(normalised)) {
            closeFds();
            return Fail("Invalid URL.");
        }
        // A named profile validates the address itself when the task is created.
        if (options.profile == kCustomProfileName)
            address = normalised;
    }
    if (!options.caFile.empty()) {
        const std::string file = fs::absolute(options.caFile).lexically_normal().string();
        std::string error;
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            closeFds();
            return Fail("Cannot use the CA file " + file + ": no such file.");
        }
        if (!CheckCAFile(file, error)) {
            closeFds();
            return Fail("Cannot use the CA file: " + error + ".");
        }
        app.OverrideCAFile(file);
    }
    if (options.noCheckCertificate) {
        app.OverrideCheckCertificate(false);
        progress.Line("WARNING: certificates are not checked; anyone on the way to the server can read and "
                      "change what is downloaded.");
    }
    std::string intranetFolder;
    if (options.intranet) {
        intranetFolder = FolderText(*options.intranet);
        std::string error;
        if (!CheckIntranetFolder(intranetFolder, error)) {
            closeFds();
            return Fail(error);
        }
    }

    TDemoSite demo;
    if (!options.urlGiven && options.task.empty()) {
        std::string error;
        if (!demo.Start(&error)) {
            closeFds();
            return Fail(error);
        }
        address = demo.Url();
        progress.Info("Serving the built-in demo site at " + address);
    }

    TRunLimits limits(options);
    TCliObserver observer(progress, doneFd);
    TLoopOwnerThread owner;
    auto session = std::make_unique<TSession>(app, owner, static_cast<unsigned>(options.parseThreads.value_or(0)));
    session->Events().Subscribe(observer);
    TTaskRunner* runner = &session->Runner();
    if (options.priority)
        session->Coordinator().SetPriority(*options.priority);

    std::shared_ptr<TPXTask> task;
    std::string failure;
    bool failureShown = false;
    owner.Call([&] {
        if (options.connections)
            session->OverrideConnections(*options.connections);
        if (options.pipeline)
            session->Slots().SetPipelineDepth(*options.pipeline);
        if (options.noAds)
            app.OverrideNoAds(true);

        if (!options.task.empty()) {
            TLoadTaskResult loaded = session->LoadTask(options.task);
            if (!loaded.task) {
                failure = loaded.message;
                return;
            }
            task = std::move(loaded.task);
            std::string error;
            if (task->IntranetMode() && !CheckIntranetFolder(task->Destination(), error)) {
                failure = error;
                return;
            }
            task->SetRunMode(RunModeOf(options.mode));
        } else {
            const bool custom = options.profile == kCustomProfileName;
            if (options.profileGiven && !custom && !fs::exists(app.ProfilesFolder() + options.profile + ".pxp")) {
                failure = "Profile not found: " + options.profile + " (looked in " + app.ProfilesFolder() + ")";
                return;
            }
            if (!options.zip.empty())
                runner->SetAddToZipTarget(fs::absolute(options.zip).lexically_normal().string());
            TCreateTaskResult created = runner->CreateTaskFromAddress(address, options.profile, options.map,
                                                                      options.intranet.has_value(), intranetFolder);
            if (!created.ok) {
                failure = created.message;
                return;
            }
            task = created.task;
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
        if (!started.ok) {
            failure = started.message;
            failureShown = true; // the runner's message event showed it
            return;
        }
        if (limits.Any()) {
            limits.Begin(*task);
            // Counters change on this thread with every item's state: a page limit is seen at once.
            task->SetOnProgress([&limits, limitFd, raw = task.get()](const std::string&, std::int64_t, std::int64_t) {
                if (!limits.Reached(*raw).empty()) {
                    const std::uint64_t one = 1;
                    [[maybe_unused]] const ssize_t written = ::write(limitFd, &one, sizeof one);
                }
            });
        }
    });

    int exitCode = kExitCompleted;
    if (!failure.empty()) {
        exitCode = failureShown ? kExitBadInput : Fail(failure);
        // A start that failed to write (the Zip could not be made) is no fault of the input.
        if (task && task->WriteFault())
            exitCode = kExitWriteFailed;
    } else {
        bool interrupted = false;
        std::string limitReached;
        for (;;) {
            pollfd fds[3] = {{signalFd, POLLIN, 0}, {doneFd, POLLIN, 0}, {limitFd, POLLIN, 0}};
            const int ready = ::poll(fds, 3, limits.PollTimeout(250));
            progress.Update(*task);
            if (ready > 0 && (fds[1].revents & POLLIN))
                break;
            if (ready > 0 && (fds[0].revents & POLLIN)) {
                signalfd_siginfo info{};
                [[maybe_unused]] const ssize_t got = ::read(signalFd, &info, sizeof info);
                interrupted = true;
                break;
            }
            if (limits.Any()) {
                limitReached = limits.Reached(*task);
                if (!limitReached.empty())
                    break;
            }
        }
        bool stoppedHere = false;
        if (interrupted || !limitReached.empty()) {
            owner.Call([&] {
                if (runner->RunningTask()) {
                    runner->StopTask(*task);
                    stoppedHere = true;
                }
            });
        }
        runner->WaitRunSettled(std::chrono::seconds(60));
        progress.Finish();
        const std::string resumeHint = TPXTask::StatusText(task->Status()) + ". Continue with: pellix-cli --task \"" +
                                       task->TaskFile() + "\" --mode resume";
        if (stoppedHere) {
            if (!limitReached.empty())
                progress.Line(limitReached);
            progress.Line(resumeHint);
            exitCode = kExitInterrupted;
        } else if (observer.stoppedByRunner || !observer.completed) {
            progress.Line(resumeHint);
            exitCode = kExitWriteFailed;
        } else {
            std::optional<TWriteFault> fault;
            std::vector<TFailedItem> failed;
            bool startPageSaved = false;
            owner.Call([&] {
                fault = task->WriteFault();
                const TPXDownloadList& list = task->DownloadList();
                const TPXQItem* start = list.Count() > 0 ? list.Item(0) : nullptr;
                startPageSaved = start && start->State() >= kStateDownloaded;
                failed = FailedItems(ListLines(list));
            });
            std::fprintf(stdout, "%s\n", observer.report.c_str());
            std::fflush(stdout);
            ShowFailures(progress, *task, failed);
            if (fault) {
                progress.Line("A local write failed: " + fault->path + ": " + fault->reason + ".");
                exitCode = kExitWriteFailed;
            } else if (!startPageSaved) {
                progress.Line("The start page could not be fetched.");
                exitCode = kExitStartPageFailed;
            } else {
                exitCode = kExitCompleted;
            }
        }
    }

    owner.Call([&] {
        if (task)
            task->SetOnProgress(nullptr);
    });
    session->Events().Unsubscribe(observer);
    session.reset();
    owner.Stop();
    demo.Stop();
    closeFds();
    return exitCode;
}

} // namespace
} // namespace pellix

int main(int argc, char** argv)
{
    // A file size limit makes writes fail with EFBIG, which the run reports, instead of killing
    // the process in the middle of a write.
    ::signal(SIGXFSZ, SIG_IGN);
    // Without TZ the C library reads the zone file again for every local-time conversion (a
    // Zip's directory has one per entry); the system's zone named once is read once.
    ::setenv("TZ", ":/etc/localtime", 0);
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

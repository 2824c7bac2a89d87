// End-to-end tests of the pellix-cli program against the test HTTP server.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/task.h"
#include "links/banner.h"
#include "links/file_io.h"
#include "links/text_helpers.h"
#include "workspace/zip_engine.h"
#include "tests/support/site_checker.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"
#include "tests/support/zip_entries.h"

#ifndef PELLIX_CLI_PATH
#error "PELLIX_CLI_PATH must name the built pellix-cli"
#endif

namespace pellix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The folder of the test server's files: its host and, as it is no default port, its port.
std::string HostFolder(const test::TTestHttpServer& server)
{
    return "127.0.0.1_" + std::to_string(server.Port());
}

struct TCliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// What a run gets besides its arguments.
struct TCliSetup {
    std::vector<std::pair<std::string, std::string>> env; // set in the child
    rlim_t fileSizeLimit = 0;                             // > 0: RLIMIT_FSIZE in bytes
};

// One run of the program with its own home and temp folder; output collected through pipes.
class TCliProcess {
public:
    TCliProcess(const fs::path& folder, std::vector<std::string> args, const TCliSetup& setup = {})
    {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        const std::string tmp = (folder / "tmp").string();
        fs::create_directories(tmp);
        args.insert(args.begin(), {PELLIX_CLI_PATH, "--home", (folder / "home").string()});
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::setenv("TMPDIR", tmp.c_str(), 1);
            for (const auto& [name, value] : setup.env)
                ::setenv(name.c_str(), value.c_str(), 1);
            if (setup.fileSizeLimit > 0) {
                const rlimit limit{setup.fileSizeLimit, setup.fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~TCliProcess()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
        if (m_err >= 0)
            ::close(m_err);
    }

    void Signal(int signal) { ::kill(m_pid, signal); }

    // Reads both pipes until the program closes them, then reaps it; killed at the deadline.
    TCliResult Wait(std::chrono::seconds timeout = 60s)
    {
        TCliResult result;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool outOpen = true;
        bool errOpen = true;
        while (outOpen || errOpen) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(m_pid, SIGKILL);
                result.err += "\n[killed at the deadline]";
                break;
            }
            pollfd fds[2] = {{outOpen ? m_out : -1, POLLIN, 0}, {errOpen ? m_err : -1, POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[4096];
            if (fds[0].revents) {
                const ssize_t got = ::read(m_out, buffer, sizeof buffer);
                if (got > 0)
                    result.out.append(buffer, static_cast<std::size_t>(got));
                else
                    outOpen = false;
            }
            if (fds[1].revents) {
                const ssize_t got = ::read(m_err, buffer, sizeof buffer);
                if (got > 0)
                    result.err.append(buffer, static_cast<std::size_t>(got));
                else
                    errOpen = false;
            }
        }
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return result;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_reaped = false;
};

TCliResult RunCli(const fs::path& folder, std::vector<std::string> args, const TCliSetup& setup = {})
{
    TCliProcess process(folder, std::move(args), setup);
    return process.Wait();
}

std::string TaskFileIn(const fs::path& folder)
{
    const std::string category = (folder / "home" / "Tasks" / "General").string() + "/";
    const auto files = FilesIn(category, "*.pxt");
    return files.size() == 1 ? category + files.front() : std::string();
}

std::unique_ptr<TPXTask> LoadTask(const std::string& file)
{
    auto task = std::make_unique<TPXTask>();
    task->SetTaskFile(file);
    task->Load();
    return task;
}

void ServeSite(test::TTestHttpServer& server)
{
    server.Route("/").Header("Content-Type", "text/html")
        .Body("<html><head><title>Site: Home?</title></head><body><a href=\"docs/page.html\">docs</a>"
              "<img src=\"a.png\"><img src=\"b.png\"></body></html>");
    server.Route("/docs/page.html").Header("Content-Type", "text/html")
        .Body("<html><head><title>Page</title></head><body><a href=\"../index.html\">home</a>"
              "<img src=\"../a.png\"></body></html>");
    server.Route("/index.html").Header("Content-Type", "text/html")
        .Body("<html><head><title>Home</title></head><body><a href=\"docs/page.html\">docs</a></body></html>");
    server.Route("/a.png").Header("Content-Type", "image/png").Body("PNG-A");
    server.Route("/b.png").Status(200).Header("Content-Type", "image/png").Body("PNG-B");
}

std::set<std::string> Entries(const test::TTestHttpServer& server)
{
    const std::string host = HostFolder(server);
    // The banner page that the saved pages load sits at the top of the Zip, beside the host.
    return {host + "/index.htm", host + "/index.html", host + "/docs/page.html", host + "/a.png", host + "/b.png",
            kBannerPageName};
}

TEST(PellixCliTest, HelpAndBadInput)
{
    test::TTempFolder folder;
    const TCliResult help = RunCli(folder.Path(), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--profile", "--zip", "--intranet", "--connections", "--priority", "--depth",
                               "--no-ads", "--map", "--home", "--task", "--mode", "--max-pages", "--max-size",
                               "--max-time", "--ca-file", "--no-check-certificate", "--quiet", "--help"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    for (const char* status : {"  0  the task completed", "  1  bad input", "  2  interrupted", "  3  the task completed but",
                               "  4  a local write failed"})
        EXPECT_NE(help.out.find(status), std::string::npos) << status;

    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"ftp://files.example.net/"}, "Invalid URL."},
        {{"--connections", "0", "http://example.net/"}, "--connections takes a whole number from 1 to 16"},
        {{"--mode", "resume"}, "--mode needs --task."},
        {{"--task", "nowhere.pxt"}, "Task file not found"},
        {{"--task", "x.pxt", "--mode", "later"}, "--mode takes restart, resume, update or retry"},
        {{"--profile", "Missing", "http://example.net/"}, "Profile not found: Missing"},
        {{"--bogus"}, "Unknown option: --bogus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const TCliResult result = RunCli(folder.Path(), c.args);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
    }
    // Nothing was created by the refused commands.
    EXPECT_EQ(TaskFileIn(folder.Path()), "");
}

TEST(PellixCliTest, ZipModeThenRetryAndUpdate)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server);
    server.Route("/b.png").Status(503, "Service Unavailable");

    const TCliResult first = RunCli(folder.Path(), {"--connections", "3", "--quiet", server.Url("/")});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out.rfind("Pellix Task Completed.\n\nTask Name: 127_0\nURL: " + server.Url("/") + "\n", 0), 0u)
        << first.out;
    EXPECT_NE(first.out.find("Resources:\n    1 downloaded\n    1 not found\n"), std::string::npos) << first.out;
    // --quiet leaves only the failed items and where their report is.
    const std::string reportFile = (folder.Path() / "home" / "Tasks" / "General" / "127_0_errors.htm").string();
    EXPECT_EQ(first.err, "1 item failed:\n" + server.Url("/b.png") + ": 503 Service Unavailable\nError report: " +
                             reportFile + "\n");
    EXPECT_NE(ReadWholeFile(reportFile).value_or("").find(">" + server.Url("/b.png") + "</a>"), std::string::npos);
    const std::string zip = (folder.Path() / "home" / "Downloads" / "Site  Home .zip").string();
    std::set<std::string> withoutB = Entries(server);
    withoutB.erase(HostFolder(server) + "/b.png");
    EXPECT_EQ(test::ZipEntryNames(zip), withoutB);
    const std::string taskFile = TaskFileIn(folder.Path());
    ASSERT_FALSE(taskFile.empty());
    EXPECT_EQ(LoadTask(taskFile)->Status(), kStatusZipped);
    // Everything is in the Zip: the working copies in the temp folder are gone.
    for (const auto& entry : fs::recursive_directory_iterator(folder.Path() / "tmp"))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();

    // Retry fetches the failed file again and packs it into the same Zip.
    ServeSite(server);
    const std::size_t before = server.Requests().size();
    const TCliResult retry = RunCli(folder.Path(), {"--task", taskFile, "--mode", "retry"});
    ASSERT_EQ(retry.exitCode, 0) << retry.err;
    EXPECT_NE(retry.out.find("Resources:\n    2 downloaded\n    0 not found\n"), std::string::npos) << retry.out;
    EXPECT_EQ(test::ZipEntryNames(zip), Entries(server));
    const auto requests = server.Requests();
    for (std::size_t i = before; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].target, "/b.png") << "retry fetched more than the failed file";
    // Nothing failed any more: no summary, and the report no longer names the file.
    EXPECT_EQ(retry.err.find("failed"), std::string::npos) << retry.err;
    EXPECT_EQ(ReadWholeFile(reportFile).value_or("").find("b.png"), std::string::npos);

    // Update: the server answers 304 to every conditional request; nothing is lost from the Zip.
    server.Route("/a.png").Header("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT").Adjust(
        [](const test::TReceivedRequest& request, test::TRoute& route) {
            if (request.HasHeader("If-Modified-Since")) {
                route.status = 304;
                route.body.clear();
            }
        });
    const TCliResult seed = RunCli(folder.Path(), {"--task", taskFile, "--mode", "restart"});
    ASSERT_EQ(seed.exitCode, 0) << seed.err;
    const std::size_t beforeUpdate = server.Requests().size();
    const TCliResult update = RunCli(folder.Path(), {"--task", taskFile, "--mode", "update"});
    ASSERT_EQ(update.exitCode, 0) << update.err;
    bool conditional = false;
    const auto all = server.Requests();
    for (std::size_t i = beforeUpdate; i < all.size(); ++i)
        conditional = conditional || (all[i].target == "/a.png" && all[i].HasHeader("If-Modified-Since"));
    EXPECT_TRUE(conditional);
    EXPECT_EQ(test::ZipEntryNames(zip), Entries(server));
    EXPECT_EQ(LoadTask(taskFile)->Status(), kStatusZipped);
}

TEST(PellixCliTest, IntranetMode)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server);
    const fs::path site = folder.Path() / "My Site";
    const TCliResult result = RunCli(folder.Path(), {"--intranet", site.string(), "--no-ads", server.Url("/")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Destination: " + site.string() + "/\n"), std::string::npos) << result.out;
    EXPECT_TRUE(fs::exists(site / HostFolder(server) / "docs" / "page.html"));
    const test::TSiteReport report = test::TSiteChecker(site).Check();
    EXPECT_TRUE(report.broken.empty()) << report.Describe();
    EXPECT_EQ(LoadTask(TaskFileIn(folder.Path()))->Status(), kStatusTaskComplete);
    EXPECT_TRUE(FilesIn((folder.Path() / "home" / "Downloads").string(), "*.zip").empty());
    // --no-ads held for that run only; the stored setting was never touched.
    const std::optional<std::string> settings = ReadWholeFile(folder.Path() / "home" / "registry.ini");
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->find("No Ads"), std::string::npos) << *settings;
}

TEST(PellixCliTest, InterruptThenResume)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server);
    server.Route("/b.png").Delay(20s);

    TCliProcess process(folder.Path(), {"--connections", "2", server.Url("/")});
    // Wait until the slow file is being fetched, then press Ctrl-C.
    bool slowRequested = false;
    for (std::size_t count = 1; !slowRequested && server.WaitForRequests(count, 30s); ++count)
        slowRequested = server.Requests()[count - 1].target == "/b.png";
    ASSERT_TRUE(slowRequested);
    process.Signal(SIGINT);
    const TCliResult stopped = process.Wait();
    ASSERT_EQ(stopped.exitCode, 2) << stopped.err;
    EXPECT_NE(stopped.err.find("Download Stopped"), std::string::npos) << stopped.err;
    EXPECT_TRUE(stopped.out.empty());
    const std::string taskFile = TaskFileIn(folder.Path());
    const auto interrupted = LoadTask(taskFile);
    EXPECT_EQ(interrupted->Status(), kStatusStopped);
    EXPECT_FALSE(test::ZipEntryNames(interrupted->Destination()).count(HostFolder(server) + "/b.png"));

    server.Route("/b.png").Delay(0ms);
    const TCliResult resumed = RunCli(folder.Path(), {"--task", taskFile, "--mode", "resume"});
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    const auto done = LoadTask(taskFile);
    EXPECT_EQ(done->Status(), kStatusZipped);
    EXPECT_EQ(test::ZipEntryNames(done->Destination()), Entries(server));
    EXPECT_NE(resumed.out.find("Pages:\n    3 downloaded\n    0 not found"), std::string::npos) << resumed.out;
}

// A style sheet goes into the Zip once, after its links were made local.
TEST(PellixCliTest, ZipModePacksStyleSheetsRewritten)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    server.Route("/").Header("Content-Type", "text/html")
        .Body("<html><head><title>Styled</title><link rel=stylesheet href=\"css/site.css\"></head><body></body></html>");
    server.Route("/css/site.css").Header("Content-Type", "text/css")
        .Body("body { background: url(" + server.Url("/img/back.png") + "); }");
    server.Route("/img/back.png").Header("Content-Type", "image/png").Body("PNG");

    const TCliResult result = RunCli(folder.Path(), {"--quiet", server.Url("/")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string zip = (folder.Path() / "home" / "Downloads" / "Styled.zip").string();
    const std::string host = HostFolder(server);
    EXPECT_EQ(test::ZipEntryNames(zip), (std::set<std::string>{host + "/index.htm", host + "/css/site.css",
                                                                host + "/img/back.png", kBannerPageName}));
    TZipEngine engine;
    engine.SetZipFileName(zip);
    std::string css;
    engine.ReadEntries({host + "/css/site.css"}, [&](const std::string&, std::string data) { css = std::move(data); });
    EXPECT_EQ(css, "body { background: url(../img/back.png); }");
}

// A Zip's entry names below their host folder, whatever that folder is called.
std::set<std::string> PathsBelowHost(const std::string& zip)
{
    std::set<std::string> paths;
    for (const std::string& name : test::ZipEntryNames(zip))
        paths.insert(name.substr(name.find('/') + 1));
    return paths;
}

const std::set<std::string> kSitePaths = {"index.htm", "index.html", "docs/page.html", "a.png", "b.png",
                                          kBannerPageName};

// Pages /p1.html, /p2.html, ... each linking to the next: a site without end as far as any limit
// of these tests goes. pad makes each page that many bytes longer; delay holds each reply.
void ServeEndlessSite(test::TTestHttpServer& server, int pages, std::size_t pad = 0,
                      std::chrono::milliseconds delay = 0ms)
{
    const std::string padding(pad, 'x');
    for (int n = 1; n <= pages; ++n) {
        const std::string body = "<html><head><title>Page " + std::to_string(n) + "</title></head><body><a href=\"p" +
                                 std::to_string(n + 1) + ".html\">next</a><!--" + padding + "--></body></html>";
        server.Route(n == 1 ? "/" : "/p" + std::to_string(n) + ".html")
            .Header("Content-Type", "text/html").Body(body).Delay(delay);
    }
}

std::size_t PageRequests(const test::TTestHttpServer& server)
{
    std::size_t count = 0;
    for (const test::TReceivedRequest& request : server.Requests())
        count += request.method == "GET" ? 1 : 0;
    return count;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The exit status of every kind of outcome, with the line on stderr that explains it.
TEST(PellixCliTest, ExitStatusTable)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server);
    server.Route("/gone/").Status(404);
    server.Route("/big/").Header("Content-Type", "text/html")
        .Body("<html><body><img src=\"big.png\"></body></html>");
    server.Route("/big/big.png").Header("Content-Type", "image/png").Body(std::string(256 * 1024, 'B'));
    test::TServerOptions tlsOptions;
    tlsOptions.tls = true;
    test::TTestHttpServer secure(tlsOptions);
    ServeSite(secure);
    test::TServerOptions otherNameOptions = tlsOptions;
    otherNameOptions.names = {{"other.example"}, {}, false};
    test::TTestHttpServer otherName(otherNameOptions);
    ServeSite(otherName);
    test::TTestHttpServer endless;
    ServeEndlessSite(endless, 400);

    const fs::path plainFile = folder.Path() / "plain.txt";
    ASSERT_TRUE(WriteFileAtomically(plainFile, "not a folder, not a certificate"));
    // A port nobody listens on: a server started and stopped again.
    std::string closedPort;
    {
        test::TTestHttpServer gone;
        closedPort = gone.Url("/");
    }

    auto zipOf = [](const fs::path& row) { return LoadTask(TaskFileIn(row))->Destination(); };
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string fragment; // expected on stderr ("" for none)
        TCliSetup setup = {};
        std::function<void(const fs::path& row, const TCliResult& result)> check = {};
    } cases[] = {
        {"site saved", {server.Url("/")}, 0, "", {},
         [&](const fs::path& row, const TCliResult& result) {
             EXPECT_EQ(result.err.find("failed"), std::string::npos) << result.err;
             EXPECT_EQ(PathsBelowHost(zipOf(row)), kSitePaths);
         }},
        // Bad addresses: refused, also with the Custom profile; only a missing address means the demo.
        {"empty address", {""}, 1, "Invalid URL."},
        {"empty address, Custom profile", {"--profile", "Custom", ""}, 1, "Invalid URL."},
        {"other scheme, Custom profile", {"--profile", "Custom", "ftp://files.example.net/"}, 1, "Invalid URL."},
        {"javascript", {"javascript:alert(1)"}, 1, "Invalid URL."},
        {"blank", {" "}, 1, "Invalid URL."},
        {"blank in the host", {"http://exa mple.net/"}, 1, "Invalid URL."},
        {"port out of range", {"http://127.0.0.1:99999/"}, 1, "Invalid URL."},
        {"port zero", {"http://127.0.0.1:0/"}, 1, "Invalid URL."},
        {"bad limit", {"--max-size", "12T", server.Url("/")}, 1, "--max-size takes a whole number"},
        {"CA file missing", {"--ca-file", (folder.Path() / "none.pem").string(), secure.Url("/")}, 1,
         "Cannot use the CA file"},
        {"CA file without a certificate", {"--ca-file", plainFile.string(), secure.Url("/")}, 1,
         "no PEM certificate"},
        {"intranet folder is a file", {"--intranet", plainFile.string(), server.Url("/")}, 1, "is a file, not a folder"},
        {"intranet folder under a file", {"--intranet", (plainFile / "site").string(), server.Url("/")}, 1,
         "Cannot create the intranet folder"},
        // Completed, but the start page is missing: the summary says why.
        {"start page not found", {server.Url("/gone/")}, 3, server.Url("/gone/") + ": 404 Not Found"},
        {"connection refused", {closedPort}, 3, closedPort + ": [10061] Connection refused"},
        {"certificate not trusted", {secure.Url("/")}, 3,
         secure.Url("/") + ": [TLS] certificate verify failed: unable to get local issuer certificate"},
        {"private CA trusted", {"--ca-file", secure.CAFile(), secure.Url("/")}, 0, "", {},
         [&](const fs::path& row, const TCliResult&) { EXPECT_EQ(PathsBelowHost(zipOf(row)), kSitePaths); }},
        {"certificates not checked", {"--no-check-certificate", secure.Url("/")}, 0,
         "WARNING: certificates are not checked; ", {},
         [&](const fs::path& row, const TCliResult& result) {
             EXPECT_EQ(result.err.rfind("WARNING: certificates are not checked; ", 0), 0u) << result.err;
             EXPECT_EQ(PathsBelowHost(zipOf(row)), kSitePaths);
             // For this run only.
             EXPECT_EQ(ReadWholeFile(row / "home" / "registry.ini").value_or("").find("Check Certificate"),
                       std::string::npos);
         }},
        // Trusting a CA does not trust its certificates for any name.
        {"trusted CA, another name", {"--ca-file", otherName.CAFile(), otherName.Url("/")}, 3,
         otherName.Url("/") + ": [TLS] certificate verify failed: IP address mismatch"},
        {"another name, not checked", {"--no-check-certificate", otherName.Url("/")}, 0,
         "WARNING: certificates are not checked; "},
        // A limit stops the task as Ctrl-C does.
        {"page limit", {"--connections", "2", "--max-pages", "3", endless.Url("/")}, 2,
         "Limit reached: --max-pages 3", {},
         [&](const fs::path& row, const TCliResult& result) {
             EXPECT_TRUE(Contains(result.err, "Download Stopped. Continue with: pellix-cli --task")) << result.err;
             EXPECT_EQ(LoadTask(TaskFileIn(row))->Status(), kStatusStopped);
         }},
        // Writes beyond 64 KB fail with EFBIG (the signal that would kill the process is ignored):
        // the run stops, resumable.
        {"file size limit", {server.Url("/big/")}, 4, "file size limit reached", {{}, 64 * 1024}},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path rowFolder = folder.Path() / ("row" + std::to_string(row++));
        std::vector<std::string> args = {"--quiet"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const TCliResult result = RunCli(rowFolder, args, c.setup);
        EXPECT_EQ(result.exitCode, c.status) << result.err << result.out;
        if (!c.fragment.empty()) {
            EXPECT_TRUE(Contains(result.err, c.fragment)) << result.err;
        }
        if (c.status == 1) {
            EXPECT_TRUE(result.out.empty()) << result.out;
            EXPECT_EQ(TaskFileIn(rowFolder), "");
        }
        if (c.status == 3) {
            EXPECT_TRUE(Contains(result.err, "Error report: ")) << result.err;
        }
        if (c.check)
            c.check(rowFolder, result);
    }
}

// Past ten failed items the summary counts the rest; the error report holds every one.
TEST(PellixCliTest, FailedItemsSummary)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    std::string page = "<html><head><title>Many</title></head><body>";
    for (int i = 0; i < 12; ++i) {
        const std::string name = "/missing" + std::to_string(i) + ".png";
        page += "<img src=\"" + name.substr(1) + "\">";
        server.Route(name).Status(404);
    }
    server.Route("/").Header("Content-Type", "text/html").Body(page + "</body></html>");

    const TCliResult result = RunCli(folder.Path(), {"--quiet", server.Url("/")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < result.err.size();) {
        const std::size_t end = result.err.find('\n', start);
        lines.push_back(result.err.substr(start, end - start));
        start = end == std::string::npos ? result.err.size() : end + 1;
    }
    const std::string reportFile = (folder.Path() / "home" / "Tasks" / "General" / "127_0_errors.htm").string();
    ASSERT_EQ(lines.size(), 13u) << result.err;
    EXPECT_EQ(lines[0], "12 items failed:");
    for (std::size_t i = 1; i <= 10; ++i) {
        EXPECT_EQ(lines[i].rfind(server.Url("/missing"), 0), 0u) << lines[i];
        EXPECT_TRUE(lines[i].ends_with(".png: 404 Not Found")) << lines[i];
    }
    EXPECT_EQ(lines[11], "... and 2 more");
    EXPECT_EQ(lines[12], "Error report: " + reportFile);
    const std::string report = ReadWholeFile(reportFile).value_or("");
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(Contains(report, ">" + server.Url("/missing" + std::to_string(i) + ".png") + "</a>")) << i;
    EXPECT_TRUE(Contains(report, "Task: 127_0 -  Many"));
}

// Refused intranet folders are refused before anything is made, and a given folder is the only
// one a run makes: the default one in the home folder stays away.
TEST(PellixCliTest, IntranetFolderChecks)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server);
    const fs::path home = folder.Path() / "user";
    fs::create_directories(home);
    const TCliSetup setup{{{"HOME", home.string()}}};
    const fs::path site = folder.Path() / "site";

    const TCliResult made = RunCli(folder.Path(), {"--quiet", "--intranet", site.string(), server.Url("/")}, setup);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    // The host's folder and the banner page, nothing else: no probe file is left behind.
    std::vector<fs::path> written;
    for (const auto& entry : fs::directory_iterator(site))
        if (entry.path().filename() != kBannerPageName)
            written.push_back(entry.path());
    ASSERT_EQ(written.size(), 1u);
    EXPECT_TRUE(fs::exists(written[0] / "index.htm"));
    EXPECT_TRUE(fs::exists(site / kBannerPageName));

    // The folder of an existing intranet task turned into a file: the rerun is refused and the
    // file stays as it was.
    const std::string taskFile = TaskFileIn(folder.Path());
    ASSERT_FALSE(taskFile.empty());
    fs::remove_all(site);
    ASSERT_TRUE(WriteFileAtomically(site, "a file now"));
    const TCliResult rerun = RunCli(folder.Path(), {"--task", taskFile, "--mode", "restart"}, setup);
    EXPECT_EQ(rerun.exitCode, 1) << rerun.err;
    EXPECT_TRUE(Contains(rerun.err, "is a file, not a folder")) << rerun.err;
    EXPECT_EQ(ReadWholeFile(site), "a file now");
    EXPECT_EQ(LoadTask(taskFile)->Status(), kStatusTaskComplete);

    EXPECT_FALSE(fs::exists(home / "My Intranet"));
}

// --max-size and --max-time stop a site without end; the stopped task resumes, and stops again
// at the next run's limit.
TEST(PellixCliTest, LimitsStopRunawaySites)
{
    test::TTestHttpServer server;
    ServeEndlessSite(server, 400, 20 * 1024);
    {
        test::TTempFolder folder;
        const TCliResult sized = RunCli(folder.Path(), {"--quiet", "--connections", "2", "--max-size", "100K",
                                                        server.Url("/")});
        ASSERT_EQ(sized.exitCode, 2) << sized.err;
        EXPECT_TRUE(Contains(sized.err, "Limit reached: --max-size 102400 (")) << sized.err;
        // Five pages of 20 KB reach the limit; what was in transfer then is all that can follow.
        EXPECT_LE(PageRequests(server), 10u);
        const std::string taskFile = TaskFileIn(folder.Path());
        EXPECT_EQ(LoadTask(taskFile)->Status(), kStatusStopped);

        const std::size_t before = PageRequests(server);
        const TCliResult resumed = RunCli(folder.Path(), {"--quiet", "--task", taskFile, "--max-pages", "2"});
        ASSERT_EQ(resumed.exitCode, 2) << resumed.err;
        EXPECT_TRUE(Contains(resumed.err, "Limit reached: --max-pages 2 (")) << resumed.err;
        EXPECT_GE(PageRequests(server), before + 2);
        EXPECT_LE(PageRequests(server), before + 6);
        const auto task = LoadTask(taskFile);
        EXPECT_EQ(task->Status(), kStatusStopped);
        EXPECT_GE(task->PagesSaved(), 7);
    }
    {
        test::TTestHttpServer slow;
        ServeEndlessSite(slow, 400, 0, 100ms);
        test::TTempFolder folder;
        const auto start = std::chrono::steady_clock::now();
        const TCliResult timed = RunCli(folder.Path(), {"--quiet", "--max-time", "1", slow.Url("/")});
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_EQ(timed.exitCode, 2) << timed.err;
        EXPECT_TRUE(Contains(timed.err, "Limit reached: --max-time 1")) << timed.err;
        EXPECT_GE(took, 1s);
        EXPECT_LT(took, 10s);
        EXPECT_LT(PageRequests(slow), 30u);
    }
}

// Accepts on [::1] and relays each connection to a server on 127.0.0.1, so that the test
// server's routes can be reached through an IPv6 literal.
class TLoopbackV6Relay final {
public:
    explicit TLoopbackV6Relay(int targetPort) : m_target(targetPort)
    {
        m_stop = ::eventfd(0, EFD_CLOEXEC);
        m_listen = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 16) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (m_listen >= 0)
                ::close(m_listen);
            m_listen = -1;
            return;
        }
        m_port = ntohs(address.sin6_port);
        m_thread = std::thread([this] { AcceptLoop(); });
    }
    ~TLoopbackV6Relay()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_stop, &one, sizeof one);
        if (m_thread.joinable())
            m_thread.join();
        for (std::thread& pump : m_pumps)
            pump.join();
        if (m_listen >= 0)
            ::close(m_listen);
        ::close(m_stop);
    }
    TLoopbackV6Relay(const TLoopbackV6Relay&) = delete;
    TLoopbackV6Relay& operator=(const TLoopbackV6Relay&) = delete;

    bool Listening() const { return m_listen >= 0; }
    int Port() const { return m_port; }

private:
    void AcceptLoop()
    {
        for (;;) {
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || fds[1].revents)
                return;
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                m_pumps.emplace_back([this, client] { Pump(client); });
        }
    }
    // Copies both ways until the server closes (or the relay stops).
    void Pump(int client)
    {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(m_target));
        if (server >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            bool clientOpen = true;
            char buffer[16384];
            for (;;) {
                pollfd fds[3] = {{clientOpen ? client : -1, POLLIN, 0}, {server, POLLIN, 0}, {m_stop, POLLIN, 0}};
                if (::poll(fds, 3, 30000) <= 0 || fds[2].revents)
                    break;
                if (fds[0].revents) {
                    const ssize_t got = ::read(client, buffer, sizeof buffer);
                    if (got <= 0) {
                        clientOpen = false;
                        ::shutdown(server, SHUT_WR);
                    } else if (::send(server, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got) {
                        break;
                    }
                }
                if (fds[1].revents) {
                    const ssize_t got = ::read(server, buffer, sizeof buffer);
                    if (got <= 0 || ::send(client, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got)
                        break;
                }
            }
        }
        if (server >= 0)
            ::close(server);
        ::close(client);
    }

    int m_target;
    int m_listen = -1;
    int m_stop = -1;
    int m_port = 0;
    std::thread m_thread;
    std::vector<std::thread> m_pumps; // the accept thread's alone until it has been joined
};

TEST(PellixCliTest, IPv6LiteralAddress)
{
    test::TTestHttpServer server;
    ServeSite(server);
    TLoopbackV6Relay relay(server.Port());
    if (!relay.Listening())
        GTEST_SKIP() << "no IPv6 loopback here";
    test::TTempFolder folder;
    const std::string authority = "[::1]:" + std::to_string(relay.Port());
    const TCliResult result = RunCli(folder.Path(), {"--quiet", "http://" + authority + "/"});
    ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().Header("Host"), authority);
    const std::string taskFile = TaskFileIn(folder.Path());
    ASSERT_FALSE(taskFile.empty());
    const auto task = LoadTask(taskFile);
    // Named after the site: no brackets or colons in the task's name.
    EXPECT_EQ(task->TaskName().find_first_of("[]:"), std::string::npos) << task->TaskName();
    EXPECT_EQ(PathsBelowHost(task->Destination()), kSitePaths);
}

} // namespace
} // namespace pellix

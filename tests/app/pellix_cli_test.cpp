// End-to-end tests of the pellix-cli program against the test HTTP server.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/task.h"
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

// One run of the program with its own home and temp folder; output collected through pipes.
class TCliProcess {
public:
    TCliProcess(const fs::path& folder, std::vector<std::string> args)
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

TCliResult RunCli(const fs::path& folder, std::vector<std::string> args)
{
    TCliProcess process(folder, std::move(args));
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
    return {host + "/index.htm", host + "/index.html", host + "/docs/page.html", host + "/a.png", host + "/b.png"};
}

TEST(PellixCliTest, HelpAndBadInput)
{
    test::TTempFolder folder;
    const TCliResult help = RunCli(folder.Path(), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--profile", "--zip", "--intranet", "--connections", "--priority", "--depth",
                               "--no-ads", "--map", "--home", "--task", "--mode", "--quiet", "--help"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

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
    server.Route("/b.png").Status(503);

    const TCliResult first = RunCli(folder.Path(), {"--connections", "3", "--quiet", server.Url("/")});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out.rfind("Pellix Task Completed.\n\nTask Name: 127_0\nURL: " + server.Url("/") + "\n", 0), 0u)
        << first.out;
    EXPECT_NE(first.out.find("Resources:\n    1 downloaded\n    1 not found\n"), std::string::npos) << first.out;
    EXPECT_TRUE(first.err.empty()) << first.err; // --quiet
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
                                                                host + "/img/back.png"}));
    TZipEngine engine;
    engine.SetZipFileName(zip);
    std::string css;
    engine.ReadEntries({host + "/css/site.css"}, [&](const std::string&, std::string data) { css = std::move(data); });
    EXPECT_EQ(css, "body { background: url(../img/back.png); }");
}

} // namespace
} // namespace pellix

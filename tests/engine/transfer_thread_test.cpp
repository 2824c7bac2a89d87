// Transfers against the scriptable server: what is fetched, saved and recorded per reply.
#include "engine/transfer_thread.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/download_list.h"
#include "engine/download_thread.h"
#include "engine/loop_owner_thread.h"
#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "tests/support/crawl_fixture.h"
#include "tests/support/test_http_server.h"

namespace pellix::test {
namespace {

class TThreadHTTPTest : public TCrawlTest {};

// The two ways a transfer talks: one GET per item over kept connections, or HEAD then GET with
// a connection for each (persistence off). What the user gets must not differ.
void UseWire(TCrawlFixture& crawl, bool persistent)
{
    crawl.Slots().OnSetupClient = [persistent](TagHTTP& http) { http.SetPersistent(persistent); };
}

const char* WireName(bool persistent)
{
    return persistent ? "one GET per item" : "HEAD then GET";
}

std::string Pattern(std::size_t size)
{
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

// Answers HEAD with headStatus and GET with the route as set up.
std::function<void(const TReceivedRequest&, TRoute&)> HeadAnswers(int headStatus)
{
    return [headStatus](const TReceivedRequest& request, TRoute& route) {
        if (request.method == "HEAD")
            route.status = headStatus;
    };
}

// Serves body honouring "Range: Bytes=n-" with 206 and the rest of the body.
std::function<void(const TReceivedRequest&, TRoute&)> HonourRange(std::string body)
{
    return [body](const TReceivedRequest& request, TRoute& route) {
        route.body = body;
        std::string range = request.Header("Range");
        if (range.rfind("Bytes=", 0) != 0)
            return;
        const std::size_t from = std::stoul(range.substr(6));
        route.status = 206;
        route.body = body.substr(std::min(from, body.size()));
    };
}

// A slot's transfers run one after another on one kept thread; Wait returns only once the
// function and what it captured are gone, so the owner may free the transfer at once.
TEST(TTransferWorkerTest, RunsEachFunctionOnTheSameThreadAndWaitsForItsCaptures)
{
    TTransferWorker worker;
    EXPECT_FALSE(worker.OnThread());
    std::vector<std::thread::id> ids;
    std::vector<bool> onThread;
    for (int i = 0; i < 3; ++i) {
        auto held = std::make_shared<int>(i);
        worker.Run([&, held] {
            ids.push_back(std::this_thread::get_id());
            onThread.push_back(worker.OnThread());
        });
        worker.Wait();
        EXPECT_EQ(held.use_count(), 1) << "run " << i;
        ASSERT_EQ(ids.size(), static_cast<std::size_t>(i + 1));
    }
    EXPECT_NE(ids[0], std::this_thread::get_id());
    EXPECT_EQ(ids[1], ids[0]);
    EXPECT_EQ(ids[2], ids[0]);
    EXPECT_EQ(onThread, (std::vector<bool>{true, true, true}));
}

TEST(TReplyInfoTest, ReadsHeaderLinesExactly)
{
    const TReplyInfo info = TReplyInfo::FromHeaders({"HTTP/1.0 404 Not Found", "Location: /x y", "content-length: 12",
                                                     "Last-Modified: Tue, 01 Jan 2002 10:00:00 GMT", ""});
    EXPECT_EQ(info.statusCode, "404");
    EXPECT_EQ(info.reason, "404 Not Found");
    EXPECT_EQ(info.location, "/x");
    EXPECT_EQ(info.contentLength, ""); // only the exact spelling counts
    EXPECT_EQ(info.lastModified, "Tue, 01 Jan 2002 10:00:00 GMT");
}

struct TReplyCase {
    const char* name;
    std::function<void(TTestHttpServer&)> setup;
    int state;
    const char* statusText;
    bool saved;
    int gets; // with HEAD first; a persistent client sends exactly one GET
};

TEST_F(TThreadHTTPTest, OneItemPerReply)
{
    const std::string body = Pattern(3000);
    const TReplyCase cases[] = {
        {"ok", [&](TTestHttpServer& s) { s.Route("/a.gif").Body(body); }, kStateSaved, "200 OK", true, 1},
        {"not found: no GET", [&](TTestHttpServer& s) { s.Route("/a.gif").Status(404); }, kStateError, "404 Not Found", false, 0},
        {"server error: GET sent, nothing saved",
         [&](TTestHttpServer& s) { s.Route("/a.gif").Status(500).Body("oops"); }, kStateError, "500 Internal Server Error", false, 1},
        {"HEAD refused with 405: GET alone",
         [&](TTestHttpServer& s) { s.Route("/a.gif").Body(body).Adjust(HeadAnswers(405)); }, kStateSaved, "200 OK", true, 1},
        {"HEAD refused with 501: GET alone",
         [&](TTestHttpServer& s) { s.Route("/a.gif").Body(body).Adjust(HeadAnswers(501)); }, kStateSaved, "200 OK", true, 1},
        {"HEAD ok but GET fails: the GET decides",
         [&](TTestHttpServer& s) {
             s.Route("/a.gif").Status(500).Body("error page").Adjust(HeadAnswers(200));
         },
         kStateError, "500 Internal Server Error", false, 1},
        {"HEAD fails but GET ok: the GET decides",
         [&](TTestHttpServer& s) { s.Route("/a.gif").Body(body).Adjust(HeadAnswers(503)); }, kStateSaved, "200 OK", true, 1},
        {"chunked", [&](TTestHttpServer& s) { s.Route("/a.gif").Body(body).Chunked(700); }, kStateSaved, "200 OK", true, 1},
        {"no length", [&](TTestHttpServer& s) { s.Route("/a.gif").Body(body).NoLength(); }, kStateSaved, "200 OK", true, 1},
    };
    std::map<std::string, std::int64_t> totalBytes; // with HEAD first, by case
    for (const bool persistent : {false, true})
    for (const TReplyCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + WireName(persistent));
        TearDown();
        SetUp();
        UseWire(*m_crawl, persistent);
        TTestHttpServer server;
        c.setup(server);
        const std::string url = server.Url("/a.gif");
        TPXQItem* item = m_crawl->Add(url);
        ASSERT_TRUE(m_crawl->RunToEnd());
        EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
        EXPECT_EQ(m_crawl->StateOf(item), c.state);
        EXPECT_EQ(m_crawl->StatusTextOf(item), c.statusText);
        EXPECT_EQ(Requests(server, "GET").size(), static_cast<std::size_t>(persistent ? 1 : c.gets));
        EXPECT_EQ(Requests(server, "HEAD").empty(), persistent);
        if (c.saved)
            EXPECT_EQ(m_crawl->FileText(url), body);
        else
            EXPECT_FALSE(m_crawl->FileExists(url));
        EXPECT_FALSE(std::filesystem::exists(m_crawl->FileOf(url).string() + TThreadHTTP::kPartSuffix));
        EXPECT_EQ(m_crawl->Task().ResourceErrors(), c.state == kStateError ? 1 : 0);
        EXPECT_EQ(m_crawl->Task().ResourcesSaved(), 1);
        // Unwanted bodies (a 404's page) are not read, so the byte counter does not change.
        if (persistent) {
            EXPECT_EQ(m_crawl->Task().TotalBytes(), totalBytes[c.name]);
        } else {
            totalBytes[c.name] = m_crawl->Task().TotalBytes();
        }
    }
}

TEST_F(TThreadHTTPTest, ChunkedBodiesCountInFullInTotalBytes)
{
    TTestHttpServer server;
    const std::string body = Pattern(200000);
    server.Route("/big.bin").Body(body).Chunked(1000);
    server.Route("/small.gif").Body("x").Chunked();
    TPXQItem* big = m_crawl->Add(server.Url("/big.bin"));
    m_crawl->Add(server.Url("/small.gif"));
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->Task().TotalBytes(), static_cast<std::int64_t>(body.size()) + 1);
    std::int64_t size = 0;
    m_crawl->Owner().Call([&] { size = big->Size(); });
    EXPECT_EQ(size, static_cast<std::int64_t>(body.size())); // no Content-Length: the body's size
    EXPECT_EQ(m_crawl->FileText(server.Url("/big.bin")), body);
}

TEST_F(TThreadHTTPTest, UpdateOfUnchangedFileSendsIfModifiedSinceAndNoGet)
{
    for (const bool persistent : {false, true}) {
    SCOPED_TRACE(WireName(persistent));
    TearDown();
    SetUp();
    UseWire(*m_crawl, persistent);
    TTestHttpServer server;
    server.Route("/a.gif").Status(304);
    const std::string url = server.Url("/a.gif");
    TPXQItem* item = m_crawl->Add(url, "GIF", kActionUpdate);
    m_crawl->Owner().Call([&] {
        item->Reload();
        item->SetLastModified("Tue, 01 Jan 2002 10:00:00 GMT");
        item->WriteBack(true);
    });
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->StateOf(item), kStateUpdated);
    EXPECT_EQ(m_crawl->StatusTextOf(item), "304 Not Modified");
    // One round trip either way: a conditional GET when connections are kept.
    ASSERT_EQ(Requests(server), std::vector<std::string>{persistent ? "GET /a.gif" : "HEAD /a.gif"});
    EXPECT_EQ(server.Requests()[0].Header("If-Modified-Since"), "Tue, 01 Jan 2002 10:00:00 GMT");
    EXPECT_EQ(m_crawl->Task().ResourceErrors(), 0);
    EXPECT_EQ(m_crawl->Task().ZipQueueCount(), 0u);
    EXPECT_EQ(m_crawl->Task().TotalBytes(), 0);
    }
}

TEST_F(TThreadHTTPTest, BodyCutOffResumesWithRangeToAnIdenticalFile)
{
    const std::string body = Pattern(12000);
    for (const bool persistent : {false, true})
    for (const bool serverHonoursRange : {true, false}) {
        SCOPED_TRACE(std::string(serverHonoursRange ? "206, " : "200, ") + WireName(persistent));
        TearDown();
        SetUp();
        UseWire(*m_crawl, persistent);
        TTestHttpServer server;
        server.Route("/f.bin").Body(body).ResetAfter(5000);
        const std::string url = server.Url("/f.bin");
        TPXQItem* item = m_crawl->Add(url);
        ASSERT_TRUE(m_crawl->RunToEnd());
        EXPECT_EQ(m_crawl->StateOf(item), kStateError);
        EXPECT_EQ(m_crawl->StatusTextOf(item), "Incomplete (5000 bytes)");
        EXPECT_FALSE(m_crawl->FileExists(url)); // never a torn file under the item's name
        EXPECT_EQ(std::filesystem::file_size(m_crawl->FileOf(url).string() + TThreadHTTP::kPartSuffix), 5000u);
        m_crawl->Stop();

        // Retry: the failed item goes back to the queue with its stored status text.
        if (serverHonoursRange)
            server.Route("/f.bin").Adjust(HonourRange(body)).CutAfter(-1);
        else {
            TRoute whole;
            whole.body = body;
            server.SetRoute("/f.bin", whole);
        }
        m_crawl->Owner().Call([&] {
            m_crawl->Task().DownloadList().PrepareRetry();
            m_crawl->Task().ResetTaken();
        });
        const std::size_t before = server.Requests().size();
        ASSERT_TRUE(m_crawl->RunToEnd());
        EXPECT_EQ(m_crawl->StateOf(item), kStateSaved);
        EXPECT_EQ(m_crawl->FileText(url), body);
        const std::vector<TReceivedRequest> requests = server.Requests();
        if (persistent) {
            // The GET asks for the rest; a server that ignores the range sends the whole body.
            ASSERT_EQ(requests.size(), before + 1);
            EXPECT_EQ(requests[before].method, "GET");
            EXPECT_EQ(requests[before].Header("Range"), "Bytes=4999-");
            continue;
        }
        ASSERT_EQ(requests.size(), before + 2);
        EXPECT_EQ(requests[before].Header("Range"), "Bytes=4999-"); // HEAD
        EXPECT_EQ(requests[before + 1].Header("Range"), serverHonoursRange ? "Bytes=4999-" : "");
    }
}

TEST_F(TThreadHTTPTest, ResumeWithoutItsPartialFileFetchesTheWholeBody)
{
    TTestHttpServer server;
    const std::string body = Pattern(9000);
    server.Route("/f.bin").Adjust(HonourRange(body));
    const std::string url = server.Url("/f.bin");
    TPXQItem* item = m_crawl->Add(url);
    m_crawl->Owner().Call([&] {
        item->Reload();
        item->SetStatusText("Incomplete (5000 bytes)");
        item->WriteBack(true);
    });
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->StateOf(item), kStateSaved);
    EXPECT_EQ(m_crawl->FileText(url), body);
    for (const TReceivedRequest& request : server.Requests())
        EXPECT_FALSE(request.HasHeader("Range"));
}

TEST_F(TThreadHTTPTest, Redirects)
{
    TServerOptions tlsOptions;
    tlsOptions.tls = true;
    TTestHttpServer secure(tlsOptions);
    secure.Route("/final.gif").Body("secure bytes");

    struct TCase {
        const char* name;
        std::function<void(TTestHttpServer&)> setup;
        int state;
        std::string statusPart;
        std::string body;
        std::string finalDirectory; // on a page: the base its links resolve against
    };
    const TCase cases[] = {
        {"chain of three, relative and absolute",
         [](TTestHttpServer& s) {
             s.Route("/a.html").Status(301).Header("Location", "/b/one.html");
             s.Route("/b/one.html").Status(302).Header("Location", "two.html");
             s.Route("/b/two.html").Status(307).Header("Location", s.Url("/c/three.html"));
             s.Route("/c/three.html").Body("<p>moved</p>");
         },
         kStateSaved, "200 OK", "<p>moved</p>", "/c/"},
        {"303 and 308", [](TTestHttpServer& s) {
             s.Route("/a.html").Status(303).Header("Location", "/d.html");
             s.Route("/d.html").Status(308).Header("Location", "/e/f.html");
             s.Route("/e/f.html").Body("here");
         },
         kStateSaved, "200 OK", "here", "/e/"},
        {"GET redirected after HEAD refused", [](TTestHttpServer& s) {
             s.Route("/a.html").Status(302).Header("Location", "/g.html").Adjust(HeadAnswers(405));
             s.Route("/g.html").Body("after get");
         },
         kStateSaved, "200 OK", "after get", "/"},
        {"loop", [](TTestHttpServer& s) {
             s.Route("/a.html").Status(302).Header("Location", "/loop.html");
             s.Route("/loop.html").Status(302).Header("Location", "/a.html");
         },
         kStateError, "too many redirects", "", ""},
        {"to ftp", [](TTestHttpServer& s) { s.Route("/a.html").Status(302).Header("Location", "ftp://127.0.0.1/x"); },
         kStateError, "cannot be fetched", "", ""},
        {"no location", [](TTestHttpServer& s) { s.Route("/a.html").Status(301); }, kStateError, "cannot be fetched", "", ""},
        {"to https", [&](TTestHttpServer& s) { s.Route("/a.html").Status(301).Header("Location", secure.Url("/final.gif")); },
         kStateSaved, "200 OK", "secure bytes", "https"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        m_crawl->ParsePagesOnSave();
        m_crawl->Owner().Call(
            [&] { m_crawl->Slots().OnSetupClient = [&](TagHTTP& http) { http.SetCAFile(secure.CAFile()); }; });
        TTestHttpServer server;
        c.setup(server);
        const std::string url = server.Url("/a.html");
        TPXQItem* item = m_crawl->Add(url, "HTML");
        ASSERT_TRUE(m_crawl->RunToEnd());
        const int state = m_crawl->StateOf(item);
        EXPECT_EQ(state == kStateParsed ? kStateSaved : state, c.state);
        EXPECT_NE(m_crawl->StatusTextOf(item).find(c.statusPart), std::string::npos) << m_crawl->StatusTextOf(item);
        if (c.state == kStateSaved) {
            // The body is stored under the item's own name.
            EXPECT_EQ(m_crawl->FileText(url), c.body);
            std::string base;
            m_crawl->Owner().Call([&] { base = item->BaseURL(); });
            if (c.finalDirectory == "https")
                EXPECT_EQ(base, secure.Url("/"));
            else
                EXPECT_EQ(base, server.Url(c.finalDirectory));
        } else {
            EXPECT_FALSE(m_crawl->FileExists(url));
            EXPECT_LE(server.Requests().size(), 2u * (TThreadHTTP::kMaxRedirects + 1));
        }
    }
}

TEST_F(TThreadHTTPTest, GetResetAfterHeadEndsInErrorWithTheReason)
{
    TTestHttpServer server;
    server.Route("/a.gif").Body("data").Adjust([](const TReceivedRequest& request, TRoute& route) {
        if (request.method == "GET")
            route.mode = TReplyMode::Reset;
    });
    server.Route("/b.gif").Body("fine");
    const std::string url = server.Url("/a.gif");
    TPXQItem* item = m_crawl->Add(url);
    TPXQItem* other = m_crawl->Add(server.Url("/b.gif"));
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
    EXPECT_EQ(m_crawl->StateOf(item), kStateError);
    EXPECT_NE(m_crawl->StatusTextOf(item), "200 OK"); // the failure, not the HEAD's verdict
    EXPECT_FALSE(m_crawl->StatusTextOf(item).empty());
    EXPECT_FALSE(m_crawl->FileExists(url));
    EXPECT_EQ(m_crawl->StateOf(other), kStateSaved);
}

TEST_F(TThreadHTTPTest, FileThatCannotBeCreatedEndsInErrorWithThePathAndTheReason)
{
    struct TCase {
        const char* name;
        // Puts something in the way of the item's file.
        std::function<void(const std::filesystem::path& file)> block;
        const char* reason;
    };
    const TCase cases[] = {
        {"a file where its folder should be",
         [](const std::filesystem::path& file) {
             std::filesystem::create_directories(file.parent_path().parent_path());
             ASSERT_TRUE(WriteFileAtomically(file.parent_path(), "in the way"));
         },
         "Not a directory"},
        {"a folder of that name (the body arrives, the rename fails)",
         [](const std::filesystem::path& file) {
             std::filesystem::create_directories(file);
             ASSERT_TRUE(WriteFileAtomically(file / "inside", "x"));
         },
         "Is a directory"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        TTestHttpServer server;
        server.Route("/dir/a.gif").Body("data");
        server.Route("/b.gif").Body("fine");
        const std::string url = server.Url("/dir/a.gif");
        c.block(m_crawl->FileOf(url));
        TPXQItem* item = m_crawl->Add(url);
        TPXQItem* other = m_crawl->Add(server.Url("/b.gif"));
        ASSERT_TRUE(m_crawl->RunToEnd());
        // One item's bad name is that item's failure: the run goes on and completes.
        EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
        EXPECT_FALSE(m_crawl->Task().WriteFault());
        EXPECT_EQ(m_crawl->StateOf(item), kStateError);
        EXPECT_EQ(m_crawl->StatusTextOf(item),
                  "Error: Failed to create file: " + m_crawl->FileOf(url).string() + " (" + c.reason + ")");
        EXPECT_EQ(m_crawl->StateOf(other), kStateSaved);
        EXPECT_EQ(m_crawl->Task().ResourceErrors(), 1);
    }
}

// Lowers this process's file size limit (the soft one, which may be raised again) with SIGXFSZ
// ignored, so that writing past it fails with EFBIG, as a full disk fails with ENOSPC.
class TFileSizeLimit final {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~TFileSizeLimit() { Lift(); }
    void Lift()
    {
        if (m_lifted)
            return;
        m_lifted = true;
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = SIG_DFL;
    bool m_lifted = false;
};

TEST_F(TThreadHTTPTest, WriteFaultKeepsTheItemForAResumeAndStartsNoMoreTransfers)
{
    constexpr std::size_t kLimit = 64 * 1024;
    TTestHttpServer server;
    const std::string body = Pattern(200000);
    server.Route("/big.bin").Adjust(HonourRange(body));
    server.Route("/next.gif").Body("next");
    const std::string url = server.Url("/big.bin");
    m_crawl->SetConnections(1);
    TPXQItem* big = m_crawl->Add(url, "BIN");
    TPXQItem* next = m_crawl->Add(server.Url("/next.gif"));
    std::atomic<int> faults{0};
    m_crawl->Task().SetOnWriteFault([&] { ++faults; });
    {
        TFileSizeLimit limit(kLimit);
        m_crawl->StartRun();
        // The transfer gives its item back and ends; the coordinator collects it.
        ASSERT_TRUE(m_crawl->Owner().WaitUntil(
            [&] {
                return m_crawl->Task().WriteFault() && big->State() == kStateNone && m_crawl->Slots().BusyCount() == 0;
            },
            std::chrono::steady_clock::now() + kDeadline));
        // Two more passes, each with an idle slot and a waiting item.
        for (int i = 0; i < 2; ++i) {
            const std::uint64_t passes = m_crawl->Coordinator().Passes();
            m_crawl->Coordinator().Wake();
            ASSERT_TRUE(m_crawl->Coordinator().WaitForPasses(passes + 1, kDeadline));
        }
    }
    const std::optional<TWriteFault> fault = m_crawl->Task().WriteFault();
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->path, m_crawl->FileOf(url).string());
    EXPECT_EQ(fault->reason, "file size limit reached");
    EXPECT_EQ(faults.load(), 1);
    // Nothing failed, nothing more was started, and the task is not complete.
    EXPECT_EQ(m_crawl->StatusTextOf(big), "Incomplete (" + std::to_string(kLimit) + " bytes)");
    EXPECT_EQ(m_crawl->StateOf(next), kStateNone);
    EXPECT_TRUE(Requests(server, "GET") == std::vector<std::string>{"GET /big.bin"});
    EXPECT_EQ(m_crawl->Task().ResourceErrors(), 0);
    EXPECT_EQ(m_crawl->Task().ResourcesSaved(), 0);
    EXPECT_EQ(m_crawl->Task().Status(), kStatusDownloading);
    EXPECT_FALSE(m_crawl->Coordinator().Suspended());
    EXPECT_EQ(std::filesystem::file_size(m_crawl->FileOf(url).string() + TThreadHTTP::kPartSuffix), kLimit);

    // The run is stopped for the fault; with room again, a resume continues the part file.
    m_crawl->Stop();
    m_crawl->Task().ClearWriteFault();
    const std::size_t before = server.Requests().size();
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
    EXPECT_EQ(m_crawl->StateOf(big), kStateSaved);
    EXPECT_EQ(m_crawl->StateOf(next), kStateSaved);
    EXPECT_EQ(m_crawl->FileText(url), body);
    EXPECT_EQ(server.Requests()[before].Header("Range"), "Bytes=" + std::to_string(kLimit - 1) + "-");
    EXPECT_EQ(m_crawl->Task().ResourceErrors(), 0);
    m_crawl->Task().SetOnWriteFault(nullptr);
}

TEST_F(TThreadHTTPTest, RedirectsAreFollowedOnlyWhereTheProfileFollowsLinks)
{
    TTestHttpServer other; // another port: another site
    other.Route("/x.html").Body("elsewhere");
    other.Route("/x.gif").Body("image elsewhere");
    struct TCase {
        const char* name;
        std::string target; // the item, on the first server
        std::string group;
        int depth;
        std::string location; // where it redirects
        std::function<void(TPXProfile&)> profile;
        bool followed;
    };
    const auto same = [](TPXProfile&) {};
    const TCase cases[] = {
        {"page to another port", "/a.html", "HTML", 1, other.Url("/x.html"), same, false},
        {"page to another port, pages anywhere", "/a.html", "HTML", 1, other.Url("/x.html"),
         [](TPXProfile& p) { p.SetPageLocation(kLocationAnywhere); }, true},
        {"image to another port (resources anywhere)", "/a.gif", "GIF", 1, other.Url("/x.gif"), same, true},
        {"image to another port, resources on the site", "/a.gif", "GIF", 1, other.Url("/x.gif"),
         [](TPXProfile& p) { p.SetResourceLocation(kLocationCurrentSite); }, false},
        {"page within the site", "/a.html", "HTML", 1, "/b.html", same, true},
        {"page to an excluded address", "/a.html", "HTML", 1, "/logout.html",
         [](TPXProfile& p) { p.SetExcludeFilters({"[AL]logout"}); }, false},
        {"page at the depth limit", "/a.html", "HTML", 2, "/b.html", [](TPXProfile& p) { p.SetDepth(1); }, true},
        {"the start address to another port", "/index.html", "HTML", 0, other.Url("/x.html"), same, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        m_crawl->ParsePagesOnSave();
        TTestHttpServer server;
        server.Route("/index.html").Body("home");
        server.Route("/b.html").Body("within");
        server.Route("/logout.html").Body("bye");
        server.Route(c.target).Status(302).Header("Location", c.location);
        m_crawl->Owner().Call([&] { c.profile(m_crawl->Task().Profile()); });
        const std::size_t otherBefore = other.Requests().size();
        const std::string url = server.Url(c.target);
        if (c.depth > 0)
            m_crawl->Add(server.Url("/index.html"), "HTML");
        TPXQItem* item = m_crawl->Add(url, c.group, kActionDownload, c.depth);
        ASSERT_TRUE(m_crawl->RunToEnd());
        const std::string resolved = c.location.starts_with("http") ? c.location : server.Url(c.location);
        if (c.followed) {
            EXPECT_NE(m_crawl->StateOf(item), kStateError) << m_crawl->StatusTextOf(item);
            EXPECT_NE(m_crawl->FileText(url), "<missing>");
        } else {
            EXPECT_EQ(m_crawl->StateOf(item), kStateError);
            EXPECT_EQ(m_crawl->StatusTextOf(item), "302 Found (redirect refused by the profile: " + resolved + ")");
            EXPECT_FALSE(m_crawl->FileExists(url));
            EXPECT_EQ(other.Requests().size(), otherBefore);
            for (const TReceivedRequest& request : server.Requests())
                EXPECT_NE(request.target, c.location);
        }
    }
}

TEST_F(TThreadHTTPTest, CredentialsReachBothRequests)
{
    TTestHttpServer server;
    server.Route("/a.gif").Body("data");
    m_crawl->Owner().Call([&] {
        m_crawl->Task().SetUserName("ann");
        m_crawl->Task().SetPassword("secret");
    });
    TPXQItem* item = m_crawl->Add(server.Url("/a.gif"));
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->StateOf(item), kStateSaved);
    for (const TReceivedRequest& request : server.Requests())
        EXPECT_EQ(request.Header("Authorization"), "Basic " + Base64Encode("ann:secret"));
}

} // namespace
} // namespace pellix::test

// Transfers against the scriptable server: what is fetched, saved and recorded per reply.
#include "engine/transfer_thread.h"

#include <fcntl.h>
#include <unistd.h>

#include "tests/engine/crawl_fixture.h"

namespace pellix::test {
namespace {

class TThreadHTTPTest : public TCrawlFixture {};

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
    int gets;
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
    for (const TReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        TTestHttpServer server;
        c.setup(server);
        const std::string url = server.Url("/a.gif");
        TPXQItem* item = Add(url);
        ASSERT_TRUE(RunToEnd());
        EXPECT_EQ(m_task->Status(), kStatusComplete);
        EXPECT_EQ(StateOf(item), c.state);
        EXPECT_EQ(StatusTextOf(item), c.statusText);
        EXPECT_EQ(Requests(server, "GET").size(), static_cast<std::size_t>(c.gets));
        if (c.saved)
            EXPECT_EQ(FileText(url), body);
        else
            EXPECT_FALSE(FileExists(url));
        EXPECT_FALSE(std::filesystem::exists(LocalPath(url).string() + TThreadHTTP::kPartSuffix));
        EXPECT_EQ(m_task->ResourceErrors(), c.state == kStateError ? 1 : 0);
        EXPECT_EQ(m_task->ResourcesSaved(), 1);
    }
}

TEST_F(TThreadHTTPTest, ChunkedBodiesCountInFullInTotalBytes)
{
    TTestHttpServer server;
    const std::string body = Pattern(200000);
    server.Route("/big.bin").Body(body).Chunked(1000);
    server.Route("/small.gif").Body("x").Chunked();
    TPXQItem* big = Add(server.Url("/big.bin"));
    Add(server.Url("/small.gif"));
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(m_task->TotalBytes(), static_cast<std::int64_t>(body.size()) + 1);
    std::int64_t size = 0;
    m_owner->Call([&] { size = big->Size(); });
    EXPECT_EQ(size, static_cast<std::int64_t>(body.size())); // no Content-Length: the body's size
    EXPECT_EQ(FileText(server.Url("/big.bin")), body);
}

TEST_F(TThreadHTTPTest, UpdateOfUnchangedFileSendsIfModifiedSinceAndNoGet)
{
    TTestHttpServer server;
    server.Route("/a.gif").Status(304);
    const std::string url = server.Url("/a.gif");
    TPXQItem* item = Add(url, "GIF", kActionUpdate);
    m_owner->Call([&] {
        item->Reload();
        item->SetLastModified("Tue, 01 Jan 2002 10:00:00 GMT");
        item->WriteBack(true);
    });
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(StateOf(item), kStateUpdated);
    EXPECT_EQ(StatusTextOf(item), "304 Not Modified");
    ASSERT_EQ(Requests(server), std::vector<std::string>{"HEAD /a.gif"});
    EXPECT_EQ(server.Requests()[0].Header("If-Modified-Since"), "Tue, 01 Jan 2002 10:00:00 GMT");
    EXPECT_EQ(m_task->ResourceErrors(), 0);
    EXPECT_EQ(m_task->ZipQueueCount(), 0u);
}

TEST_F(TThreadHTTPTest, BodyCutOffResumesWithRangeToAnIdenticalFile)
{
    const std::string body = Pattern(12000);
    for (const bool serverHonoursRange : {true, false}) {
        SCOPED_TRACE(serverHonoursRange ? "206" : "200");
        TearDown();
        SetUp();
        TTestHttpServer server;
        server.Route("/f.bin").Body(body).ResetAfter(5000);
        const std::string url = server.Url("/f.bin");
        TPXQItem* item = Add(url);
        ASSERT_TRUE(RunToEnd());
        EXPECT_EQ(StateOf(item), kStateError);
        EXPECT_EQ(StatusTextOf(item), "Incomplete (5000 bytes)");
        EXPECT_FALSE(FileExists(url)); // never a torn file under the item's name
        EXPECT_EQ(std::filesystem::file_size(LocalPath(url).string() + TThreadHTTP::kPartSuffix), 5000u);
        EndRun();

        // Retry: the failed item goes back to the queue with its stored status text.
        if (serverHonoursRange)
            server.Route("/f.bin").Adjust(HonourRange(body)).CutAfter(-1);
        else {
            TRoute whole;
            whole.body = body;
            server.SetRoute("/f.bin", whole);
        }
        m_owner->Call([&] {
            m_task->DownloadList().PrepareRetry();
            m_task->ResetTaken();
        });
        const std::size_t before = server.Requests().size();
        ASSERT_TRUE(RunToEnd());
        EXPECT_EQ(StateOf(item), kStateSaved);
        EXPECT_EQ(FileText(url), body);
        const std::vector<TReceivedRequest> requests = server.Requests();
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
    TPXQItem* item = Add(url);
    m_owner->Call([&] {
        item->Reload();
        item->SetStatusText("Incomplete (5000 bytes)");
        item->WriteBack(true);
    });
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(StateOf(item), kStateSaved);
    EXPECT_EQ(FileText(url), body);
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
        ParsePagesOnSave();
        m_owner->Call([&] { m_slots->OnSetupClient = [&](TagHTTP& http) { http.SetCAFile(secure.CAFile()); }; });
        TTestHttpServer server;
        c.setup(server);
        const std::string url = server.Url("/a.html");
        TPXQItem* item = Add(url, "HTML");
        ASSERT_TRUE(RunToEnd());
        const int state = StateOf(item);
        EXPECT_EQ(state == kStateParsed ? kStateSaved : state, c.state);
        EXPECT_NE(StatusTextOf(item).find(c.statusPart), std::string::npos) << StatusTextOf(item);
        if (c.state == kStateSaved) {
            // The body is stored under the item's own name.
            EXPECT_EQ(FileText(url), c.body);
            std::string base;
            m_owner->Call([&] { base = item->BaseURL(); });
            if (c.finalDirectory == "https")
                EXPECT_EQ(base, secure.Url("/"));
            else
                EXPECT_EQ(base, server.Url(c.finalDirectory));
        } else {
            EXPECT_FALSE(FileExists(url));
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
    TPXQItem* item = Add(url);
    TPXQItem* other = Add(server.Url("/b.gif"));
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(m_task->Status(), kStatusComplete);
    EXPECT_EQ(StateOf(item), kStateError);
    EXPECT_NE(StatusTextOf(item), "200 OK"); // the failure, not the HEAD's verdict
    EXPECT_FALSE(StatusTextOf(item).empty());
    EXPECT_FALSE(FileExists(url));
    EXPECT_EQ(StateOf(other), kStateSaved);
}

TEST_F(TThreadHTTPTest, FileThatCannotBeWrittenEndsInErrorWithTheReason)
{
    TTestHttpServer server;
    server.Route("/dir/a.gif").Body("data");
    const std::string url = server.Url("/dir/a.gif");
    // A file where the item's folder should be.
    std::filesystem::create_directories(LocalPath(url).parent_path().parent_path());
    ASSERT_TRUE(WriteFileAtomically(LocalPath(url).parent_path(), "in the way"));
    TPXQItem* item = Add(url);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(m_task->Status(), kStatusComplete);
    EXPECT_EQ(StateOf(item), kStateError);
    EXPECT_NE(StatusTextOf(item).find("Failed to create file"), std::string::npos) << StatusTextOf(item);
    EXPECT_EQ(m_task->ResourceErrors(), 1);
}

TEST_F(TThreadHTTPTest, CredentialsReachBothRequests)
{
    TTestHttpServer server;
    server.Route("/a.gif").Body("data");
    m_owner->Call([&] {
        m_task->SetUserName("ann");
        m_task->SetPassword("secret");
    });
    TPXQItem* item = Add(server.Url("/a.gif"));
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(StateOf(item), kStateSaved);
    for (const TReceivedRequest& request : server.Requests())
        EXPECT_EQ(request.Header("Authorization"), "Basic " + Base64Encode("ann:secret"));
}

} // namespace
} // namespace pellix::test

// TTestHttpServer: a scriptable HTTP server on 127.0.0.1 for tests, plain or TLS; HTTP/1.0 with
// one connection per request unless keep-alive is switched on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tests/support/test_certificate.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace pellix::test {

// One request as the server read it.
struct TReceivedRequest {
    std::string method;              // "GET", "HEAD", "CONNECT"...
    std::string target;              // as sent: "/a.html" or "http://host/a.html"
    std::string head;                // every byte up to and including the empty line
    std::vector<std::string> lines;  // the head's lines without CR LF, the request line first
    bool tls = false;                // arrived over TLS

    // Value of the first header with this name (letter case ignored), trimmed; empty if absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// How a route answers.
enum class TReplyMode {
    Whole,       // Content-Length and the body
    Chunked,     // Transfer-Encoding: chunked
    NoLength,    // no length: the body, then the connection closes
    Raw,         // the route's raw bytes exactly, then close
    Reset,       // reset the connection instead of answering
    NeverAnswer, // read the request and stay silent until the client or the server gives up
};

struct TRoute {
    int status = 200;
    std::string reason;          // empty: a standard phrase for the status
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    TReplyMode mode = TReplyMode::Whole;
    std::string raw;             // Raw mode
    std::size_t chunkSize = 0;   // Chunked: bytes per chunk, 0 = one chunk
    std::string chunkExtension;  // Chunked: text after each chunk size, e.g. ";name=value"
    std::int64_t cutAfter = -1;  // >= 0: stop after this many bytes of the encoded body
    bool resetAtCut = false;     // at the cut: reset instead of a normal close
    std::chrono::milliseconds delay{0};   // before anything is sent
    std::size_t slowBytes = 0;            // > 0: send the reply in pieces of this size...
    std::chrono::milliseconds slowPause{0}; // ...with this pause after each piece
    // Called with each request before answering; may change the reply (e.g. honour Range).
    std::function<void(const TReceivedRequest&, TRoute&)> adjust;
    // >= 0: instead of body, generatedSize bytes of generatedPattern repeated, made piece by
    // piece as they are sent (never held whole), with Content-Length; "Range: Bytes=n-" gets
    // 206 and the bytes from n on. cutAfter and resetAtCut apply to it as to a body.
    std::int64_t generatedSize = -1;
    std::string generatedPattern;
    bool closeConnection = false; // keep-alive server: "Connection: close" and close after it
    // > 0: the reply waits (a few seconds at most) until this many further requests have arrived
    // on its connection, sent ahead of their turn.
    int awaitAhead = 0;
    std::string version;          // the status line's protocol instead of the server's own
};

// Byte i of a generated body: pattern repeated.
inline char GeneratedByte(const std::string& pattern, std::int64_t i)
{
    return pattern[static_cast<std::size_t>(i % static_cast<std::int64_t>(pattern.size()))];
}

class TTestHttpServer;
class TConnection;

// Fluent editing of one route: server.Route("/a.html").Status(200).Header("X", "1").Body("hi").
class TRouteBuilder final {
public:
    TRouteBuilder(TTestHttpServer& server, std::string target);

    TRouteBuilder& Status(int code, std::string reason = "");
    TRouteBuilder& Header(std::string name, std::string value);
    TRouteBuilder& Body(std::string body);
    TRouteBuilder& Chunked(std::size_t chunkSize = 0, std::string extension = "");
    TRouteBuilder& NoLength();
    TRouteBuilder& Raw(std::string bytes);
    TRouteBuilder& CutAfter(std::int64_t bodyBytes);
    TRouteBuilder& ResetAfter(std::int64_t bodyBytes);
    TRouteBuilder& Reset();
    TRouteBuilder& NeverAnswer();
    TRouteBuilder& Delay(std::chrono::milliseconds delay);
    TRouteBuilder& Slow(std::size_t bytesPerPiece, std::chrono::milliseconds pause);
    TRouteBuilder& Adjust(std::function<void(const TReceivedRequest&, TRoute&)> adjust);
    // A body of size bytes, pattern repeated, streamed without being held (see TRoute).
    TRouteBuilder& Generated(std::int64_t size, std::string pattern);
    // On a keep-alive server: this reply says "Connection: close" and ends its connection.
    TRouteBuilder& ConnectionClose();
    // The reply waits until so many further requests arrived on its connection (see TRoute).
    TRouteBuilder& AwaitAhead(int requests);
    TRouteBuilder& Version(std::string version);

private:
    TRouteBuilder& Edit(const std::function<void(TRoute&)>& edit);

    TTestHttpServer& m_server;
    std::string m_target;
};

struct TServerOptions {
    bool tls = false;            // serve TLS (a plain CONNECT first is also accepted)
    TCertificateNames names;     // what the TLS certificate is issued for
    // HTTP/1.1 replies; a connection stays open for the next request when the client asks for
    // it and the reply has a length (or chunks) and is not cut, reset or marked to close.
    bool keepAlive = false;
    // With keepAlive, > 0: after this many replies a connection is closed without a word, as
    // servers drop idle connections.
    int closeIdleAfter = 0;
    // With keepAlive, > 0: after this many replies the next request on the connection is read
    // (and recorded) and the connection closed unanswered, as when the server's idle close
    // crosses the client's request.
    int dropRequestAfter = 0;
};

// Listens on 127.0.0.1 on a free port from construction until Stop or destruction. Every
// connection runs on its own thread; Stop wakes all waits and joins every thread. Targets not
// routed get 404. A CONNECT is answered "200" and the same connection then carries TLS (when the
// server has it) to this server itself, so it also stands in for a tunnelling proxy.
class TTestHttpServer final {
public:
    explicit TTestHttpServer(const TServerOptions& options = {});
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    // The route for an exact request target ("/a.html", or a whole URL as a proxy receives it).
    TRouteBuilder Route(const std::string& target);
    void SetRoute(const std::string& target, TRoute route);

    int Port() const { return m_port; }
    // "http://127.0.0.1:port" + target (https when TLS is on).
    std::string Url(const std::string& target = "/") const;
    // PEM file of the CA that issued the TLS certificate (empty without TLS).
    std::string CAFile() const { return m_caFile; }

    std::vector<TReceivedRequest> Requests() const;
    // Waits until at least count requests arrived; false when the time ran out.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Connections accepted so far.
    int ConnectionCount() const { return m_connections.load(); }
    // Connections that carried at least one request, accepted so far, and the requests each
    // of them carried, in the order they were accepted.
    std::vector<int> RequestsPerConnection() const;
    // The most connections that were open at the same time.
    int MaxOpenConnections() const { return m_maxOpen.load(); }
    // The most further requests that had arrived on a connection, complete, when a reply on it
    // began: more than 0 when a client sends requests ahead of their turn.
    int MaxRequestsAhead() const { return m_maxAhead.load(); }

    void Stop();

private:
    friend class TRouteBuilder;
    struct TWorker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void AcceptLoop();
    void Serve(int fd, std::size_t connection);
    TRoute RouteFor(const TReceivedRequest& request);
    void Record(const TReceivedRequest& request, std::size_t connection);
    // Answers one request; true when the connection may carry the next one.
    bool Answer(TConnection& connection, const TReceivedRequest& request, std::string& pending);
    void ReapWorkers(bool all);

    TServerOptions m_options;
    TTempFolder m_folder;
    std::string m_caFile;
    SSL_CTX* m_sslContext = nullptr;
    int m_listenFd = -1;
    int m_stopFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_open{0};
    std::atomic<int> m_maxOpen{0};
    std::atomic<int> m_maxAhead{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_requestArrived;
    std::map<std::string, TRoute> m_routes;
    std::vector<TReceivedRequest> m_requests;
    std::vector<int> m_requestsPerConnection;

    std::mutex m_workerMutex;
    std::vector<TWorker> m_workers;
    std::thread m_acceptThread;
};

} // namespace pellix::test

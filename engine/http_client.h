// TagHTTP: one request at a time (HEAD or GET, http or https, direct or through a proxy) over
// TagSocket, with progress events and errors raised after OnError. The connection is kept for
// the next request to the same server (HTTP/1.1) unless persistence is switched off (HTTP/1.0,
// one connection per request); GETs for later requests may be sent ahead on it (pipelining).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/memory_body_sink.h"
#include "engine/tcp_socket.h"
#include "engine/tls_session.h"

namespace pellix {

class IBodySink;

// Socket and protocol failures; Code() is the table code (10061, 57007...) or kErrMessage.
class ESocketError : public std::runtime_error {
public:
    ESocketError(int code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};

class ETimedOutError : public std::runtime_error {
public:
    ETimedOutError() : std::runtime_error("Operation timed out") {}
};

class ECanceledError : public std::runtime_error {
public:
    ECanceledError() : std::runtime_error("Operation has been canceled") {}
};

// A GET that a later request of the same client will make, sent ahead of its turn: the fields
// that request will have.
struct TPipelinedGet {
    std::string url;
    std::int64_t range = 0;
    std::string ifModifiedSince;

    bool operator==(const TPipelinedGet&) const = default;
};

class TagHTTP;
using TNotifyEvent = std::function<void(TagHTTP&)>;
using TmsProgressEvent = std::function<void(TagHTTP&, int percent, std::int64_t bytes)>;
using TmsErrorEvent = std::function<void(TagHTTP&, const std::string& message)>;

// Requests run on one thread at a time; Cancel may be called from any thread. Events fire on the
// requesting thread, except OnCancel, which fires on the thread that cancels.
class TagHTTP final {
public:
    static constexpr int kDefaultTimeOut = 60;                  // seconds
    static constexpr std::size_t kReceiveBufferSize = 64 * 1024;
    static constexpr std::size_t kMaxLineLength = 8 * 1024;     // longer reply lines are cut
    static constexpr std::size_t kMaxHeaderBytes = 256 * 1024;
    static constexpr std::size_t kMaxHeaderLines = 1000;
    // An unwanted body up to this size is read past to keep the connection; a larger one costs
    // more than a new connection.
    static constexpr std::int64_t kSkipLimit = 64 * 1024;

    TagHTTP();
    ~TagHTTP();
    TagHTTP(const TagHTTP&) = delete;
    TagHTTP& operator=(const TagHTTP&) = delete;

    // "http://" or "https://" (any letter case) followed by host[:port][/path]; anything else
    // raises "Invalid URL".
    const std::string& URL() const { return m_url; }
    void SetURL(const std::string& url);
    // host:port, or empty for a direct connection; a value without ":" raises.
    const std::string& Proxy() const { return m_proxy; }
    void SetProxy(const std::string& proxy);
    const std::string& ProxyUserName() const { return m_proxyUserName; }
    void SetProxyUserName(const std::string& value) { m_proxyUserName = value; }
    const std::string& ProxyPassword() const { return m_proxyPassword; }
    void SetProxyPassword(const std::string& value) { m_proxyPassword = value; }
    const std::string& UserAgent() const { return m_userAgent; }
    void SetUserAgent(const std::string& value) { m_userAgent = value; }
    std::uint16_t DefaultPort() const { return m_defaultPort; }
    void SetDefaultPort(std::uint16_t port) { m_defaultPort = port; }
    // First byte wanted; 0 = the whole body.
    std::int64_t Range() const { return m_range; }
    void SetRange(std::int64_t range) { m_range = range; }
    // Every wait is bounded by this; seconds, with a millisecond form for short waits.
    int TimeOut() const { return static_cast<int>(m_timeOut.count() / 1000); }
    void SetTimeOut(int seconds) { m_timeOut = std::chrono::milliseconds(std::int64_t(seconds) * 1000); }
    std::chrono::milliseconds TimeOutMs() const { return m_timeOut; }
    void SetTimeOutMs(std::chrono::milliseconds timeOut) { m_timeOut = timeOut; }
    // Sent as "If-Modified-Since: " when not empty.
    const std::string& IfModifiedSince() const { return m_ifModifiedSince; }
    void SetIfModifiedSince(const std::string& value) { m_ifModifiedSince = value; }
    // A PEM file of CA certificates trusted besides the system store.
    const std::string& CAFile() const { return m_trust.caFile; }
    void SetCAFile(const std::string& path) { m_trust.caFile = path; }
    // Whether https certificates and host names are verified (on unless switched off).
    bool CheckCertificate() const { return m_trust.checkCertificate; }
    void SetCheckCertificate(bool value) { m_trust.checkCertificate = value; }
    const TTlsTrust& Trust() const { return m_trust; }
    void SetTrust(TTlsTrust trust) { m_trust = std::move(trust); }
    void SetResolver(TResolver resolver) { m_socket.SetResolver(std::move(resolver)); }
    // On (the default): HTTP/1.1, the connection stays open for the next request to the same
    // server, and a kept connection that the server dropped meanwhile is replaced once without
    // an error. Off: HTTP/1.0 with "Connection: close", one connection per request.
    bool Persistent() const { return m_persistent; }
    void SetPersistent(bool value) { m_persistent = value; }
    // In OnReplyHeaders: the reply's whole body (its Content-Length, no chunks) has arrived
    // with the headers, so reading it cannot wait on the server.
    bool BodyBuffered() const;
    // Connections this client opened (TCP connects that succeeded), and whether the last TLS
    // handshake resumed an earlier session.
    std::int64_t ConnectionsOpened() const { return m_connectionsOpened.load(); }
    bool LastTlsResumed() const { return m_socket.TlsResumed(); }
    // Where the open connection goes ("http://host:port", through a proxy too); empty when none
    // is open. Any thread.
    std::string ConnectedTo() const;
    // Closes a kept connection without events (the slot goes, or the caller wants a fresh one).
    void Disconnect();
    // GETs to send right after the next request's own, so that their replies follow its reply
    // without a round trip each. They go only on a direct connection to the same server that has
    // already carried a reply keeping it (HTTP/1.1, with a length or chunks) and only after a GET
    // or HEAD. A later request whose head is the first sent ahead reads that reply without
    // sending; any other request, an error, a stop or a reply that ends the connection closes it,
    // and the GETs not answered are simply made again when their turn comes. Replaces what an
    // earlier call left; the next request takes it, whatever happens to it.
    void SetPipelineNext(std::vector<TPipelinedGet> gets) { m_pipelineNext = std::move(gets); }
    // Requests sent ahead on the open connection whose replies were not read yet.
    std::size_t RequestsInFlight() const { return m_inFlight.size(); }
    // The open connection would carry GETs sent ahead with the next request. Not while a
    // request runs.
    bool CanSendAhead() const { return m_pipelineReady && m_persistent && m_proxy.empty() && m_socket.Connected(); }
    // Free for the caller (the transfer uses it to say it has finished).
    int Tag() const { return m_tag.load(); }
    void SetTag(int tag) { m_tag.store(tag); }

    // From the URL: the path ("/" when it has none) and the server text (host[:port]).
    const std::string& Path() const { return m_path; }
    const std::string& URLServer() const { return m_urlServer; }
    // Where the connection goes: the proxy when set, else the URL's server.
    const std::string& ServerText() const { return m_server; }

    // Requests. Each returns the reply code (-1 when the reply has none) and raises
    // ESocketError, ETimedOutError or ECanceledError after firing OnError.
    int Head();
    int Head(const std::string& user, const std::string& password);
    int Get();
    int Get(const std::string& user, const std::string& password);
    void Cancel();

    // The reply's header lines as received (CR LF removed), ending with the empty line.
    const std::vector<std::string>& Headers() const { return m_headers; }
    // The first header of that name (letter case ignored), trimmed, with continuation lines.
    std::string Header(std::string name) const;
    // The code of the reply's status line, -1 when it has none.
    int ReplyCode() const;

    // Where GET bodies go: nullptr (the default) is the client's own memory buffer.
    void SetBodySink(IBodySink* sink) { m_sink = sink; }
    TMemoryBodySink& Body() { return m_body; }
    const TMemoryBodySink& Body() const { return m_body; }

    // After a GET's header lines are read: false leaves the body unread (it is neither stored
    // nor counted); a short announced body is skipped so the connection can be kept, any other
    // is abandoned with its connection. Unset: every body is read.
    std::function<bool(TagHTTP&)> OnReplyHeaders;

    TNotifyEvent OnOpen, OnClosing, OnClosed, OnCancel, OnConnected, OnHostFound, OnServiceFound, OnSending;
    TmsProgressEvent OnProgress;
    TmsErrorEvent OnError;

    // The request head that would be sent now (method "HEAD" or "GET").
    std::string BuildRequest(const std::string& method, bool withCredentials, const std::string& user,
                             const std::string& password) const;
    // The head a GET for get would have with this client's other settings; empty when its URL is
    // not valid or goes to another connection.
    std::string BuildPipelinedRequest(const TPipelinedGet& get, bool withCredentials, const std::string& user,
                                      const std::string& password) const;

private:
    int Request(const std::string& method, bool withCredentials, const std::string& user,
                const std::string& password);
    std::string BuildRequestFor(const std::string& method, const std::string& url, bool https,
                                const std::string& urlServer, const std::string& path, std::int64_t range,
                                const std::string& ifModifiedSince, bool withCredentials, const std::string& user,
                                const std::string& password) const;
    void Connect();
    void OpenTunnel();
    // soft: a failure that a dropped kept connection explains returns false without events.
    bool SendRequest(const std::string& request, bool soft = false);
    // Sends the GETs to go ahead; a failure leaves the connection to close after this reply.
    void SendAhead(const std::vector<TPipelinedGet>& gets, bool withCredentials, const std::string& user,
                   const std::string& password);
    // The events of a send, for a request whose head went ahead earlier.
    void ReplaySend(const std::string& request);
    bool FirstReplyBytes();
    void ReadHeaders();
    bool ReplyKeepsConnection() const;
    std::string ConnectionKey() const;
    std::string ReadLine();
    bool FillBuffer(TDeadline deadline);
    // false when the connection cannot carry another request (read to its end, abandoned).
    bool ReadBody(int replyCode);
    void ReadBlock(IBodySink& sink, std::int64_t length);
    bool SkipBody();
    void CloseSocket();
    // What belonged to the connection that just closed: requests ahead, bytes read ahead.
    void ForgetConnection();

    void Fire(const TNotifyEvent& event);
    [[noreturn]] void Raise(int code, const std::string& message = {});
    [[noreturn]] void RaiseStatus(const TSocketStatus& status);
    std::chrono::steady_clock::time_point Deadline() const { return std::chrono::steady_clock::now() + m_timeOut; }

    std::string m_url;
    bool m_https = false;
    std::string m_urlServer;
    std::string m_path = "/";
    std::string m_proxy;
    std::string m_server;
    std::string m_proxyUserName;
    std::string m_proxyPassword;
    std::string m_userAgent;
    std::uint16_t m_defaultPort = 80;
    std::int64_t m_range = 0;
    std::chrono::milliseconds m_timeOut{kDefaultTimeOut * 1000};
    std::string m_ifModifiedSince;
    TTlsTrust m_trust;
    std::atomic<int> m_tag{0};

    TagSocket m_socket;
    std::vector<std::string> m_headers;
    TMemoryBodySink m_body;
    IBodySink* m_sink = nullptr;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_bufferStart = 0;
    std::size_t m_bufferEnd = 0;
    bool m_peerClosed = false;
    std::int64_t m_received = 0; // reply bytes received in this request
    bool m_persistent = true;
    std::vector<TPipelinedGet> m_pipelineNext;
    std::deque<std::string> m_inFlight; // heads sent ahead, oldest first, replies not read
    bool m_pipelineReady = false;       // the connection carried a reply that keeps it
    bool m_closeAfterReply = false;     // a head sent ahead was cut off: the stream is unusable
    std::atomic<std::int64_t> m_connectionsOpened{0};
    mutable std::mutex m_keyMutex;
    std::string m_connectionKey; // of the open connection
};

// Standard Base64 with "=" padding.
std::string Base64Encode(std::string_view data);

} // namespace pellix

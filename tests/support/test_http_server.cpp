#include "tests/support/test_http_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace pellix::test {

namespace {

constexpr int kIdleWaitMs = 10000;        // a silent client is dropped after this
constexpr int kAwaitAheadMs = 5000;       // the longest a reply waits for requests sent ahead
constexpr std::size_t kMaxHead = 64 * 1024;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(std::string_view text)
{
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    std::size_t end = text.find_last_not_of(" \t");
    return std::string(text.substr(begin, end - begin + 1));
}

std::string StandardReason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

// Waits on the socket and the server's stop signal at once, so Stop never waits for a client.
class TConnection final {
public:
    TConnection(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}
    ~TConnection()
    {
        if (m_ssl)
            SSL_free(m_ssl);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    bool Tls() const { return m_ssl != nullptr; }

    // true when the socket is ready; false on stop, time-out or error.
    bool Wait(short events, int timeoutMs)
    {
        pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
        for (;;) {
            int n = ::poll(fds, 2, timeoutMs);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || (fds[1].revents & POLLIN))
                return false;
            return true;
        }
    }

    bool StartTls(SSL_CTX* context)
    {
        m_ssl = SSL_new(context);
        SSL_set_fd(m_ssl, m_fd);
        for (;;) {
            int rc = SSL_accept(m_ssl);
            if (rc == 1)
                return true;
            int err = SSL_get_error(m_ssl, rc);
            if (err == SSL_ERROR_WANT_READ) {
                if (!Wait(POLLIN, kIdleWaitMs))
                    return false;
            } else if (err == SSL_ERROR_WANT_WRITE) {
                if (!Wait(POLLOUT, kIdleWaitMs))
                    return false;
            } else {
                ERR_clear_error();
                return false;
            }
        }
    }

    // > 0 bytes read, 0 closed by the peer, -1 failure or stop.
    long ReadSome(char* buffer, std::size_t size)
    {
        for (;;) {
            if (m_ssl) {
                int rc = SSL_read(m_ssl, buffer, static_cast<int>(size));
                if (rc > 0)
                    return rc;
                int err = SSL_get_error(m_ssl, rc);
                if (err == SSL_ERROR_ZERO_RETURN)
                    return 0;
                short events = err == SSL_ERROR_WANT_READ ? POLLIN : err == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
                ERR_clear_error();
                if (events == 0)
                    return err == SSL_ERROR_SYSCALL ? 0 : -1;
                if (!Wait(events, kIdleWaitMs))
                    return -1;
            } else {
                ssize_t rc = ::recv(m_fd, buffer, size, 0);
                if (rc >= 0)
                    return rc;
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    return -1;
                if (!Wait(POLLIN, kIdleWaitMs))
                    return -1;
            }
        }
    }

    bool WriteAll(std::string_view data)
    {
        while (!data.empty()) {
            if (m_ssl) {
                int rc = SSL_write(m_ssl, data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)));
                if (rc > 0) {
                    data.remove_prefix(static_cast<std::size_t>(rc));
                    continue;
                }
                int err = SSL_get_error(m_ssl, rc);
                ERR_clear_error();
                short events = err == SSL_ERROR_WANT_READ ? POLLIN : err == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
                if (events == 0 || !Wait(events, kIdleWaitMs))
                    return false;
            } else {
                ssize_t rc = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
                if (rc > 0) {
                    data.remove_prefix(static_cast<std::size_t>(rc));
                    continue;
                }
                if (rc < 0 && errno == EINTR)
                    continue;
                if (rc < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    return false;
                if (!Wait(POLLOUT, kIdleWaitMs))
                    return false;
            }
        }
        return true;
    }

    bool PeekByte(unsigned char& byte)
    {
        if (!Wait(POLLIN, kIdleWaitMs))
            return false;
        return ::recv(m_fd, &byte, 1, MSG_PEEK) == 1;
    }

    // Bytes can be read now or within timeoutMs (TLS may hold some already decrypted).
    bool Readable(int timeoutMs)
    {
        if (m_ssl && SSL_pending(m_ssl) > 0)
            return true;
        return Wait(POLLIN, timeoutMs);
    }

    // Sleeps without blocking Stop; false when the server is stopping.
    bool Pause(std::chrono::milliseconds duration)
    {
        pollfd fd{m_stopFd, POLLIN, 0};
        int n = ::poll(&fd, 1, static_cast<int>(duration.count()));
        return n == 0;
    }

    // Waits until the client closes (or the server stops).
    void WaitForPeerClose()
    {
        char buffer[512];
        for (;;) {
            if (!Wait(POLLIN, -1))
                return;
            ssize_t rc = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (rc == 0 || (rc < 0 && errno != EAGAIN && errno != EINTR))
                return;
        }
    }

    void Reset()
    {
        linger hard{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(m_fd);
        m_fd = -1;
    }

    void Finish()
    {
        if (m_ssl)
            SSL_shutdown(m_ssl);
        ::shutdown(m_fd, SHUT_WR);
    }

private:
    int m_fd;
    int m_stopFd;
    SSL* m_ssl = nullptr;
};

namespace {

// Reads one request head; false when the client went away first.
bool ReadHead(TConnection& connection, std::string& pending, TReceivedRequest& request)
{
    for (;;) {
        std::size_t end = pending.find("\r\n\r\n");
        std::size_t endLength = 4;
        if (end == std::string::npos) {
            end = pending.find("\n\n");
            endLength = 2;
        }
        if (end != std::string::npos) {
            request.head = pending.substr(0, end + endLength);
            pending.erase(0, end + endLength);
            break;
        }
        if (pending.size() > kMaxHead)
            return false;
        char buffer[4096];
        long got = connection.ReadSome(buffer, sizeof buffer);
        if (got <= 0)
            return false;
        pending.append(buffer, static_cast<std::size_t>(got));
    }
    std::size_t start = 0;
    while (start < request.head.size()) {
        std::size_t eol = request.head.find('\n', start);
        std::string line = request.head.substr(start, eol - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            request.lines.push_back(line);
        start = eol + 1;
    }
    if (request.lines.empty())
        return false;
    const std::string& first = request.lines.front();
    std::size_t space1 = first.find(' ');
    std::size_t space2 = first.find(' ', space1 == std::string::npos ? first.size() : space1 + 1);
    request.method = first.substr(0, space1);
    if (space1 != std::string::npos)
        request.target = first.substr(space1 + 1, space2 == std::string::npos ? std::string::npos : space2 - space1 - 1);
    request.tls = connection.Tls();
    return true;
}

std::string EncodeChunked(const TRoute& route)
{
    std::string out;
    std::size_t piece = route.chunkSize == 0 ? std::max<std::size_t>(route.body.size(), 1) : route.chunkSize;
    char size[32];
    for (std::size_t pos = 0; pos < route.body.size(); pos += piece) {
        std::size_t n = std::min(piece, route.body.size() - pos);
        std::snprintf(size, sizeof size, "%zx", n);
        out += size + route.chunkExtension + "\r\n";
        out.append(route.body, pos, n);
        out += "\r\n";
    }
    out += "0\r\n\r\n";
    return out;
}

bool HasHeader(const TRoute& route, const std::string& name)
{
    for (const auto& header : route.headers)
        if (Lower(header.first) == Lower(name))
            return true;
    return false;
}

// A generated body: the head, then the pattern from the right phase in pieces of about 64 KiB.
// True when the connection may carry another request.
bool ServeGenerated(TConnection& connection, const TReceivedRequest& request, const TRoute& route,
                    const std::string& version, bool keep)
{
    const std::int64_t size = std::max<std::int64_t>(route.generatedSize, 0);
    std::int64_t from = 0;
    int status = route.status;
    const std::string range = request.Header("Range");
    if (Lower(range).rfind("bytes=", 0) == 0) {
        from = std::clamp<std::int64_t>(std::strtoll(range.c_str() + 6, nullptr, 10), 0, size);
        status = 206;
    }
    const std::int64_t length = size - from;
    std::string head = version + " " + std::to_string(status) + " " +
                       (route.reason.empty() || status != route.status ? StandardReason(status) : route.reason) + "\r\n";
    for (const auto& [name, value] : route.headers)
        head += name + ": " + value + "\r\n";
    keep = keep && route.cutAfter < 0;
    if (!keep && version == "HTTP/1.1")
        head += "Connection: close\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    if (!connection.WriteAll(head))
        return false;
    const std::int64_t end = request.method == "HEAD" ? 0
                             : route.cutAfter >= 0   ? std::min(length, route.cutAfter)
                                                     : length;
    const std::string& pattern = route.generatedPattern;
    constexpr std::size_t kPiece = 64 * 1024;
    std::string buffer;
    while (buffer.size() < kPiece + pattern.size())
        buffer += pattern;
    for (std::int64_t sent = 0; sent < end;) {
        const std::size_t phase = static_cast<std::size_t>((from + sent) % static_cast<std::int64_t>(pattern.size()));
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(kPiece, end - sent));
        if (!connection.WriteAll(std::string_view(buffer).substr(phase, n)))
            return false;
        sent += static_cast<std::int64_t>(n);
    }
    if (route.resetAtCut && end < length && request.method != "HEAD") {
        connection.Reset();
        return false;
    }
    if (keep)
        return true;
    connection.Finish();
    return false;
}

// Whether the client asked to keep the connection (HTTP/1.1 unless it says close).
bool WantsKeepAlive(const TReceivedRequest& request)
{
    const std::string connection = Lower(request.Header("Connection"));
    if (connection.find("close") != std::string::npos)
        return false;
    const std::string& first = request.lines.front();
    if (first.size() >= 8 && first.compare(first.size() - 8, 8, "HTTP/1.1") == 0)
        return true;
    return connection.find("keep-alive") != std::string::npos;
}

} // namespace

std::string TReceivedRequest::Header(const std::string& name) const
{
    std::string wanted = Lower(name) + ":";
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (Lower(lines[i].substr(0, wanted.size())) == wanted)
            return Trim(std::string_view(lines[i]).substr(wanted.size()));
    return {};
}

bool TReceivedRequest::HasHeader(const std::string& name) const
{
    std::string wanted = Lower(name) + ":";
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (Lower(lines[i].substr(0, wanted.size())) == wanted)
            return true;
    return false;
}

TRouteBuilder::TRouteBuilder(TTestHttpServer& server, std::string target)
    : m_server(server), m_target(std::move(target))
{
    Edit([](TRoute&) {});
}

TRouteBuilder& TRouteBuilder::Edit(const std::function<void(TRoute&)>& edit)
{
    std::lock_guard lock(m_server.m_mutex);
    edit(m_server.m_routes[m_target]);
    return *this;
}

TRouteBuilder& TRouteBuilder::Status(int code, std::string reason)
{
    return Edit([&](TRoute& r) { r.status = code; r.reason = std::move(reason); });
}
TRouteBuilder& TRouteBuilder::Header(std::string name, std::string value)
{
    return Edit([&](TRoute& r) { r.headers.emplace_back(std::move(name), std::move(value)); });
}
TRouteBuilder& TRouteBuilder::Body(std::string body)
{
    return Edit([&](TRoute& r) { r.body = std::move(body); });
}
TRouteBuilder& TRouteBuilder::Chunked(std::size_t chunkSize, std::string extension)
{
    return Edit([&](TRoute& r) {
        r.mode = TReplyMode::Chunked;
        r.chunkSize = chunkSize;
        r.chunkExtension = std::move(extension);
    });
}
TRouteBuilder& TRouteBuilder::NoLength()
{
    return Edit([](TRoute& r) { r.mode = TReplyMode::NoLength; });
}
TRouteBuilder& TRouteBuilder::Raw(std::string bytes)
{
    return Edit([&](TRoute& r) { r.mode = TReplyMode::Raw; r.raw = std::move(bytes); });
}
TRouteBuilder& TRouteBuilder::CutAfter(std::int64_t bodyBytes)
{
    return Edit([&](TRoute& r) { r.cutAfter = bodyBytes; r.resetAtCut = false; });
}
TRouteBuilder& TRouteBuilder::ResetAfter(std::int64_t bodyBytes)
{
    return Edit([&](TRoute& r) { r.cutAfter = bodyBytes; r.resetAtCut = true; });
}
TRouteBuilder& TRouteBuilder::Reset()
{
    return Edit([](TRoute& r) { r.mode = TReplyMode::Reset; });
}
TRouteBuilder& TRouteBuilder::NeverAnswer()
{
    return Edit([](TRoute& r) { r.mode = TReplyMode::NeverAnswer; });
}
TRouteBuilder& TRouteBuilder::Delay(std::chrono::milliseconds delay)
{
    return Edit([&](TRoute& r) { r.delay = delay; });
}
TRouteBuilder& TRouteBuilder::Slow(std::size_t bytesPerPiece, std::chrono::milliseconds pause)
{
    return Edit([&](TRoute& r) { r.slowBytes = bytesPerPiece; r.slowPause = pause; });
}
TRouteBuilder& TRouteBuilder::Generated(std::int64_t size, std::string pattern)
{
    if (pattern.empty())
        pattern = " ";
    return Edit([&](TRoute& r) {
        r.mode = TReplyMode::Whole;
        r.generatedSize = size;
        r.generatedPattern = std::move(pattern);
    });
}
TRouteBuilder& TRouteBuilder::AwaitAhead(int requests)
{
    return Edit([requests](TRoute& route) { route.awaitAhead = requests; });
}

TRouteBuilder& TRouteBuilder::Version(std::string version)
{
    return Edit([version = std::move(version)](TRoute& route) { route.version = version; });
}

TRouteBuilder& TRouteBuilder::ConnectionClose()
{
    return Edit([](TRoute& r) { r.closeConnection = true; });
}
TRouteBuilder& TRouteBuilder::Adjust(std::function<void(const TReceivedRequest&, TRoute&)> adjust)
{
    return Edit([&](TRoute& r) { r.adjust = std::move(adjust); });
}

TTestHttpServer::TTestHttpServer(const TServerOptions& options) : m_options(options)
{
    if (m_options.tls) {
        TTestCertificate certificate(m_options.names);
        m_caFile = (m_folder.Path() / "ca.pem").string();
        if (!certificate.WriteCAFile(m_caFile))
            throw std::runtime_error("test server: cannot write the CA file");
        m_sslContext = SSL_CTX_new(TLS_server_method());
        BIO* certBio = BIO_new_mem_buf(certificate.CertificatePem().data(), -1);
        BIO* keyBio = BIO_new_mem_buf(certificate.PrivateKeyPem().data(), -1);
        X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        bool ok = cert && key && SSL_CTX_use_certificate(m_sslContext, cert) == 1 &&
                  SSL_CTX_use_PrivateKey(m_sslContext, key) == 1;
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(certBio);
        BIO_free(keyBio);
        if (!ok)
            throw std::runtime_error("test server: cannot load the certificate");
    }

    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_stopFd < 0 || m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 64) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("test server: cannot listen: ") + std::strerror(errno));
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

TTestHttpServer::~TTestHttpServer()
{
    Stop();
    if (m_sslContext)
        SSL_CTX_free(m_sslContext);
}

void TTestHttpServer::Stop()
{
    if (m_stopping.exchange(true))
        return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t rc = ::write(m_stopFd, &one, sizeof one);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    ReapWorkers(true);
    ::close(m_listenFd);
    ::close(m_stopFd);
}

TRouteBuilder TTestHttpServer::Route(const std::string& target)
{
    return TRouteBuilder(*this, target);
}

void TTestHttpServer::SetRoute(const std::string& target, TRoute route)
{
    std::lock_guard lock(m_mutex);
    m_routes[target] = std::move(route);
}

std::string TTestHttpServer::Url(const std::string& target) const
{
    return std::string(m_options.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + target;
}

std::vector<int> TTestHttpServer::RequestsPerConnection() const
{
    std::lock_guard lock(m_mutex);
    std::vector<int> counts;
    for (int count : m_requestsPerConnection)
        if (count > 0)
            counts.push_back(count);
    return counts;
}

std::vector<TReceivedRequest> TTestHttpServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool TTestHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_requestArrived.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

void TTestHttpServer::Record(const TReceivedRequest& request, std::size_t connection)
{
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        if (m_requestsPerConnection.size() <= connection)
            m_requestsPerConnection.resize(connection + 1, 0);
        ++m_requestsPerConnection[connection];
    }
    m_requestArrived.notify_all();
}

TRoute TTestHttpServer::RouteFor(const TReceivedRequest& request)
{
    std::lock_guard lock(m_mutex);
    auto found = m_routes.find(request.target);
    if (found != m_routes.end())
        return found->second;
    TRoute missing;
    missing.status = 404;
    missing.body = "not found";
    return missing;
}

void TTestHttpServer::ReapWorkers(bool all)
{
    std::vector<TWorker> finished;
    {
        std::lock_guard lock(m_workerMutex);
        auto split = std::partition(m_workers.begin(), m_workers.end(),
                                    [all](const TWorker& w) { return !all && !w.done->load(); });
        std::move(split, m_workers.end(), std::back_inserter(finished));
        m_workers.erase(split, m_workers.end());
    }
    for (TWorker& worker : finished)
        worker.thread.join();
}

void TTestHttpServer::AcceptLoop()
{
    pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    while (!m_stopping.load()) {
        int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[1].revents & POLLIN))
            return;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        const std::size_t index = static_cast<std::size_t>(m_connections++);
        const int open = ++m_open;
        for (int most = m_maxOpen.load(); open > most && !m_maxOpen.compare_exchange_weak(most, open);) {
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([this, fd, done, index] {
            Serve(fd, index);
            --m_open;
            done->store(true);
        });
        {
            std::lock_guard lock(m_workerMutex);
            m_workers.push_back({std::move(thread), done});
        }
        ReapWorkers(false);
    }
}

void TTestHttpServer::Serve(int fd, std::size_t connectionIndex)
{
    TConnection connection(fd, m_stopFd);
    if (m_options.tls) {
        unsigned char first = 0;
        if (!connection.PeekByte(first))
            return;
        if (first == 0x16 && !connection.StartTls(m_sslContext))
            return;
    }

    std::string pending;
    int replies = 0;
    for (;;) {
        TReceivedRequest request;
        for (;;) {
            request = TReceivedRequest();
            if (!ReadHead(connection, pending, request))
                return;
            Record(request, connectionIndex);
            if (request.method != "CONNECT")
                break;
            bool routed = false;
            {
                std::lock_guard lock(m_mutex);
                routed = m_routes.count(request.target) != 0;
            }
            if (routed || !m_options.tls || connection.Tls())
                break;
            if (!connection.WriteAll("HTTP/1.0 200 Connection established\r\n\r\n") ||
                !connection.StartTls(m_sslContext))
                return;
            pending.clear();
        }
        if (m_options.keepAlive && m_options.dropRequestAfter > 0 && replies >= m_options.dropRequestAfter)
            return; // closed unanswered
        if (!Answer(connection, request, pending))
            return;
        ++replies;
        if (m_options.closeIdleAfter > 0 && replies >= m_options.closeIdleAfter) {
            connection.Finish();
            return;
        }
    }
}

bool TTestHttpServer::Answer(TConnection& connection, const TReceivedRequest& request, std::string& pending)
{
    TRoute route = RouteFor(request);
    if (route.adjust)
        route.adjust(request, route);
    const auto headsAhead = [&pending] {
        int heads = 0;
        for (std::size_t at = pending.find("\r\n\r\n"); at != std::string::npos; at = pending.find("\r\n\r\n", at + 4))
            ++heads;
        return heads;
    };
    if (route.awaitAhead > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAwaitAheadMs);
        while (headsAhead() < route.awaitAhead && pending.size() <= kMaxHead) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            char buffer[4096];
            if (left.count() <= 0 || !connection.Readable(static_cast<int>(left.count())))
                break;
            const long got = connection.ReadSome(buffer, sizeof buffer);
            if (got <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(got));
        }
    }
    const int ahead = headsAhead();
    for (int most = m_maxAhead.load(); ahead > most && !m_maxAhead.compare_exchange_weak(most, ahead);) {
    }
    if (route.delay.count() > 0 && !connection.Pause(route.delay))
        return false;
    if (route.mode == TReplyMode::Reset) {
        connection.Reset();
        return false;
    }
    if (route.mode == TReplyMode::NeverAnswer) {
        connection.WaitForPeerClose();
        return false;
    }
    const std::string version = !route.version.empty() ? route.version : m_options.keepAlive ? "HTTP/1.1" : "HTTP/1.0";
    bool keep = m_options.keepAlive && WantsKeepAlive(request) && !route.closeConnection && route.cutAfter < 0 &&
                request.method != "CONNECT";
    if (route.generatedSize >= 0)
        return ServeGenerated(connection, request, route, version, keep);

    std::string head;
    std::string payload;
    if (route.mode == TReplyMode::Raw) {
        payload = route.raw;
        keep = false;
    } else {
        keep = keep && route.mode != TReplyMode::NoLength;
        head = version + " " + std::to_string(route.status) + " " +
               (route.reason.empty() ? StandardReason(route.status) : route.reason) + "\r\n";
        for (const auto& [name, value] : route.headers)
            head += name + ": " + value + "\r\n";
        if (!keep && m_options.keepAlive && !HasHeader(route, "Connection"))
            head += "Connection: close\r\n";
        if (route.mode == TReplyMode::Chunked) {
            if (!HasHeader(route, "Transfer-Encoding"))
                head += "Transfer-Encoding: chunked\r\n";
            payload = EncodeChunked(route);
        } else {
            if (route.mode == TReplyMode::Whole && !HasHeader(route, "Content-Length"))
                head += "Content-Length: " + std::to_string(route.body.size()) + "\r\n";
            payload = route.body;
        }
        head += "\r\n";
        if (request.method == "HEAD")
            payload.clear();
    }
    if (route.cutAfter >= 0 && static_cast<std::size_t>(route.cutAfter) < payload.size())
        payload.resize(static_cast<std::size_t>(route.cutAfter));

    std::string reply = head + payload;
    if (route.slowBytes == 0) {
        if (!connection.WriteAll(reply))
            return false;
    } else {
        for (std::size_t pos = 0; pos < reply.size(); pos += route.slowBytes) {
            if (!connection.WriteAll(std::string_view(reply).substr(pos, route.slowBytes)))
                return false;
            if (pos + route.slowBytes < reply.size() && !connection.Pause(route.slowPause))
                return false;
        }
    }
    if (route.resetAtCut) {
        connection.Reset();
        return false;
    }
    if (keep)
        return true;
    connection.Finish();
    return false;
}

} // namespace pellix::test

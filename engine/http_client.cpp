#include "engine/http_client.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/body_sink.h"
#include "links/text_helpers.h"

namespace pellix {

namespace {

constexpr std::size_t kSendPiece = 2047;

// A header value must not carry line breaks into the request (header injection).
std::string HeaderSafe(std::string_view value)
{
    std::string out;
    for (char c : value)
        if (c != '\r' && c != '\n' && c != '\0')
            out += c;
    return out;
}

// Blanks, control bytes and non-ASCII bytes are not allowed raw in a request target.
std::string TargetSafe(std::string_view target)
{
    return PercentEncode(target, [](unsigned char byte) { return byte <= 0x20 || byte >= 0x7F; });
}

// host and port of "host", "host:port", "[v6]" or "[v6]:port"; port 0 when absent or not valid.
void SplitHostPort(const std::string& server, std::string& host, std::uint16_t& port)
{
    std::string portText;
    if (!server.empty() && server.front() == '[') {
        std::size_t close = server.find(']');
        host = server.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && close + 1 < server.size() && server[close + 1] == ':')
            portText = server.substr(close + 2);
    } else {
        std::size_t colon = server.find(':');
        host = server.substr(0, colon);
        if (colon != std::string::npos)
            portText = server.substr(colon + 1);
    }
    port = 0;
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return;
    unsigned long value = std::stoul(portText);
    if (value <= 65535)
        port = static_cast<std::uint16_t>(value);
}

// A decimal count, or -1 when the text is not one (signs, blanks inside, overflow).
std::int64_t ParseLength(const std::string& text)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return (error == std::errc() && end == text.data() + text.size()) ? value : -1;
}

// A chunk-size line: hex digits, optionally followed by ";" and extensions; -1 when invalid.
std::int64_t ParseChunkSize(const std::string& line)
{
    std::string size = TrimBlanks(std::string_view(line).substr(0, line.find(';')));
    if (size.empty() || size.size() > 15)
        return -1;
    std::int64_t value = 0;
    for (char c : size) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

struct TURLParts {
    bool https = false;
    std::string server; // host[:port]
    std::string path;   // "/" when the URL has none
};

// "http://" or "https://" (any letter case), then host[:port][/path]; false for anything else.
bool SplitURL(const std::string& url, TURLParts& parts)
{
    std::string rest;
    if (StartsWithText(url, "http://")) {
        rest = url.substr(7);
        parts.https = false;
    } else if (StartsWithText(url, "https://")) {
        rest = url.substr(8);
        parts.https = true;
    } else {
        return false;
    }
    // Control bytes would end up inside the request line.
    if (std::any_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return false;
    rest = rest.substr(0, rest.find('#')); // fragments are never sent
    std::size_t pathStart = rest.find_first_of("/?");
    if (pathStart == std::string::npos) {
        parts.server = rest;
        parts.path = "/";
    } else {
        parts.server = rest.substr(0, pathStart);
        parts.path = rest.substr(pathStart);
        if (parts.path.front() == '?')
            parts.path.insert(0, "/");
    }
    return true;
}

} // namespace

std::string Base64Encode(std::string_view data)
{
    static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        std::uint32_t n = (std::uint32_t(std::uint8_t(data[i])) << 16) |
                          (std::uint32_t(std::uint8_t(data[i + 1])) << 8) | std::uint8_t(data[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (i < data.size()) {
        std::uint32_t n = std::uint32_t(std::uint8_t(data[i])) << 16;
        if (i + 1 < data.size())
            n |= std::uint32_t(std::uint8_t(data[i + 1])) << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < data.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

TagHTTP::TagHTTP() : m_buffer(new char[kReceiveBufferSize]) {}

TagHTTP::~TagHTTP() = default;

void TagHTTP::Fire(const TNotifyEvent& event)
{
    if (event)
        event(*this);
}

void TagHTTP::Raise(int code, const std::string& message)
{
    std::string text = message.empty() ? SocketErrorMessage(code) : message;
    if (OnError)
        OnError(*this, text);
    if (code == 10054)
        CloseSocket();
    throw ESocketError(code, text);
}

void TagHTTP::RaiseStatus(const TSocketStatus& status)
{
    if (status.code == kErrCanceled) {
        if (OnError)
            OnError(*this, SocketErrorMessage(kErrCanceled));
        throw ECanceledError();
    }
    if (status.code == kErrTimedOut) {
        if (OnError)
            OnError(*this, SocketErrorMessage(kErrTimedOut));
        CloseSocket();
        throw ETimedOutError();
    }
    Raise(status.code, status.code == kErrMessage ? status.message : std::string());
}

void TagHTTP::SetURL(const std::string& url)
{
    TURLParts parts;
    if (!SplitURL(url, parts))
        Raise(kErrInvalidURL);
    m_url = url;
    m_https = parts.https;
    m_urlServer = std::move(parts.server);
    m_path = std::move(parts.path);
    m_server = m_proxy.empty() ? m_urlServer : m_proxy;
}

void TagHTTP::SetProxy(const std::string& proxy)
{
    if (!proxy.empty() && proxy.find(':') == std::string::npos)
        Raise(kErrProxyPort);
    m_proxy = proxy;
    m_server = m_proxy.empty() ? m_urlServer : m_proxy;
}

std::string TagHTTP::BuildRequest(const std::string& method, bool withCredentials, const std::string& user,
                                  const std::string& password) const
{
    return BuildRequestFor(method, m_url, m_https, m_urlServer, m_path, m_range, m_ifModifiedSince, withCredentials,
                           user, password);
}

std::string TagHTTP::BuildPipelinedRequest(const TPipelinedGet& get, bool withCredentials, const std::string& user,
                                           const std::string& password) const
{
    TURLParts parts;
    if (!SplitURL(get.url, parts) || parts.https != m_https || !m_proxy.empty() ||
        LowerCase(parts.server) != LowerCase(m_urlServer))
        return {};
    return BuildRequestFor("GET", get.url, parts.https, parts.server, parts.path, get.range, get.ifModifiedSince,
                           withCredentials, user, password);
}

std::string TagHTTP::BuildRequestFor(const std::string& method, const std::string& url, bool https,
                                     const std::string& urlServer, const std::string& path, std::int64_t range,
                                     const std::string& ifModifiedSince, bool withCredentials,
                                     const std::string& user, const std::string& password) const
{
    // https through a proxy runs inside a CONNECT tunnel and looks like a direct request.
    bool absoluteForm = !m_proxy.empty() && !https;
    std::string target;
    if (absoluteForm) {
        target = url.substr(0, url.find('#'));
        std::size_t schemeEnd = target.find("://") + 3;
        if (target.find('/', schemeEnd) == std::string::npos)
            target += "/";
    } else {
        target = path;
    }
    if (target.empty())
        target = "/";

    std::string request = method + " " + TargetSafe(target) + (m_persistent ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
    request += "Host: " + HeaderSafe(urlServer) + "\r\n";
    if (withCredentials)
        request += "Authorization: Basic " + Base64Encode(user + ":" + password) + "\r\n";
    if (absoluteForm && !m_proxyUserName.empty())
        request += "Proxy-Authorization: Basic " + Base64Encode(m_proxyUserName + ":" + m_proxyPassword) + "\r\n";
    request += "Accept: */*\r\n";
    if (!m_userAgent.empty())
        request += "User-Agent: " + HeaderSafe(m_userAgent) + "\r\n";
    if (range > 0)
        request += "Range:Bytes=" + std::to_string(range) + "-\r\n";
    if (!ifModifiedSince.empty())
        request += "If-Modified-Since: " + HeaderSafe(ifModifiedSince) + "\r\n";
    request += m_persistent ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return request;
}

int TagHTTP::Head()
{
    return Request("HEAD", false, {}, {});
}

int TagHTTP::Head(const std::string& user, const std::string& password)
{
    return Request("HEAD", true, user, password);
}

int TagHTTP::Get()
{
    return Request("GET", false, {}, {});
}

int TagHTTP::Get(const std::string& user, const std::string& password)
{
    return Request("GET", true, user, password);
}

void TagHTTP::Cancel()
{
    m_socket.Cancel();
    Fire(OnCancel);
}

int TagHTTP::Request(const std::string& method, bool withCredentials, const std::string& user,
                     const std::string& password)
{
    m_socket.ResetCancel();
    const std::vector<TPipelinedGet> ahead = std::move(m_pipelineNext);
    m_pipelineNext.clear();
    const std::string key = ConnectionKey();
    const std::string request = BuildRequest(method, withCredentials, user, password);
    bool reuse = false;
    {
        std::lock_guard lock(m_keyMutex);
        reuse = m_persistent && m_socket.Connected() && m_connectionKey == key;
    }
    // This request went ahead earlier: its reply is on its way, perhaps already in the buffer.
    const bool answered = reuse && !m_inFlight.empty() && m_inFlight.front() == request;
    // The replies to other requests sent ahead come first: this one needs a connection of its own.
    if (reuse && !answered && !m_inFlight.empty())
        reuse = false;
    // (Reply bytes already waiting would make a connection with requests ahead look dead.)
    if (reuse && !answered && !m_socket.LooksAlive())
        reuse = false;
    if (!reuse)
        Disconnect();
    if (!answered) {
        m_bufferStart = m_bufferEnd = 0;
        m_peerClosed = false;
    }
    m_received = static_cast<std::int64_t>(m_bufferEnd - m_bufferStart);
    const bool mayPipeline = method == "GET" || method == "HEAD";
    int code = -1;
    try {
        for (int attempt = 0;; ++attempt) {
            const bool reused = reuse && attempt == 0;
            if (reused) {
                // The same events as for a new connection, so the status a slot shows is the same.
                Fire(OnOpen);
                Fire(OnHostFound);
                Fire(OnConnected);
            } else {
                Connect();
                std::lock_guard lock(m_keyMutex);
                m_connectionKey = key;
            }
            if (!reused) {
                SendRequest(request);
                break;
            }
            if (answered) {
                ReplaySend(request);
                m_inFlight.pop_front();
                if (mayPipeline)
                    SendAhead(ahead, withCredentials, user, password);
                if (m_bufferStart < m_bufferEnd || FirstReplyBytes())
                    break;
            } else if (SendRequest(request, true)) {
                // A kept connection that the server closed while it was idle fails before the
                // first byte of the reply: once, a new connection carries the request instead.
                if (mayPipeline)
                    SendAhead(ahead, withCredentials, user, password);
                if (FirstReplyBytes())
                    break;
            }
            Disconnect();
            m_bufferStart = m_bufferEnd = 0;
            m_peerClosed = false;
            m_received = 0;
        }
        ReadHeaders();
        // Interim replies (100 Continue, 103 Early Hints) precede the real one.
        for (int interim = 0; interim < 10; ++interim) {
            const int interimCode = ReplyCode();
            if (interimCode < 100 || interimCode > 199 || interimCode == 101)
                break;
            ReadHeaders();
        }
        code = ReplyCode();
        bool keep = m_persistent && ReplyKeepsConnection();
        if (method == "GET")
            keep = ReadBody(code) && keep;
        keep = keep && !m_closeAfterReply;
        // Requests go ahead only where an HTTP/1.1 reply has shown that the connection carries more.
        m_pipelineReady = keep && m_proxy.empty() && !m_headers.empty() && StartsWithText(m_headers.front(), "HTTP/1.1");
        if (keep)
            Fire(OnClosed); // the exchange is over; the connection waits for the next one
        else
            CloseSocket();
    } catch (...) {
        CloseSocket();
        throw;
    }
    return code;
}

void TagHTTP::SendAhead(const std::vector<TPipelinedGet>& gets, bool withCredentials, const std::string& user,
                        const std::string& password)
{
    if (gets.empty() || !m_pipelineReady || !m_persistent || !m_proxy.empty())
        return;
    std::string heads;
    std::vector<std::string> sent;
    for (const TPipelinedGet& get : gets) {
        std::string head = BuildPipelinedRequest(get, withCredentials, user, password);
        if (head.empty())
            break;
        heads += head;
        sent.push_back(std::move(head));
    }
    if (heads.empty())
        return;
    const TSocketStatus status = m_socket.Send(heads, m_timeOut);
    if (!status.Ok()) {
        // Part of a head may have gone: nothing more can be asked on this connection. A stop
        // or a time-out shows again when the reply is read.
        m_closeAfterReply = true;
        return;
    }
    for (std::string& head : sent)
        m_inFlight.push_back(std::move(head));
}

void TagHTTP::ReplaySend(const std::string& request)
{
    Fire(OnSending);
    if (OnProgress) {
        for (std::size_t position = std::min(kSendPiece, request.size());;
             position = std::min(position + kSendPiece, request.size())) {
            OnProgress(*this, static_cast<int>(std::lround(position * 100.0 / request.size())),
                       static_cast<std::int64_t>(position));
            if (position == request.size())
                break;
        }
        OnProgress(*this, 0, 0);
    }
}

std::string TagHTTP::ConnectionKey() const
{
    // An https tunnel through a proxy leads to one server only.
    std::string key = std::string(m_https ? "https://" : "http://") + LowerCase(m_server);
    if (m_https && !m_proxy.empty())
        key += " to " + LowerCase(m_urlServer);
    return key;
}

std::string TagHTTP::ConnectedTo() const
{
    std::lock_guard lock(m_keyMutex);
    return m_socket.Connected() ? m_connectionKey : std::string();
}

void TagHTTP::Disconnect()
{
    m_socket.Close();
    ForgetConnection();
    std::lock_guard lock(m_keyMutex);
    m_connectionKey.clear();
}

void TagHTTP::ForgetConnection()
{
    m_inFlight.clear();
    m_pipelineReady = false;
    m_closeAfterReply = false;
    m_bufferStart = m_bufferEnd = 0;
}

bool TagHTTP::ReplyKeepsConnection() const
{
    if (m_headers.empty())
        return false;
    const std::string connection = LowerCase(Header("Connection"));
    if (connection.find("close") != std::string::npos)
        return false;
    if (StartsWithText(m_headers.front(), "HTTP/1.0"))
        return connection.find("keep-alive") != std::string::npos;
    return StartsWithText(m_headers.front(), "HTTP/1.");
}

bool TagHTTP::FirstReplyBytes()
{
    std::size_t got = 0;
    TSocketStatus status = m_socket.Receive(m_buffer.get(), kReceiveBufferSize, got, Deadline());
    if (status.code == kErrCanceled || status.code == kErrTimedOut)
        RaiseStatus(status);
    if (!status.Ok() || got == 0)
        return false;
    m_bufferStart = 0;
    m_bufferEnd = got;
    m_received += static_cast<std::int64_t>(got);
    return true;
}

void TagHTTP::Connect()
{
    Fire(OnOpen);
    if (m_server.empty())
        Raise(kErrServerRequired);
    std::string host;
    std::uint16_t port = 0;
    SplitHostPort(m_server, host, port);
    if (host.empty())
        Raise(kErrResolve);
    TSocketStatus status = m_socket.Resolve(host, Deadline());
    if (!status.Ok())
        RaiseStatus(status);
    Fire(OnHostFound);
    if (port == 0)
        port = (m_https && m_proxy.empty()) ? 443 : m_defaultPort;
    if (m_socket.Canceled())
        RaiseStatus({kErrCanceled, {}});
    status = m_socket.Connect(port, Deadline());
    if (!status.Ok())
        RaiseStatus(status);
    ++m_connectionsOpened;
    Fire(OnConnected);
    if (m_https) {
        if (!m_proxy.empty())
            OpenTunnel();
        std::string urlHost;
        std::uint16_t urlPort = 0;
        SplitHostPort(m_urlServer, urlHost, urlPort);
        status = m_socket.StartTls(urlHost, urlPort == 0 ? 443 : urlPort, m_trust, Deadline());
        if (!status.Ok())
            RaiseStatus(status);
    }
}

void TagHTTP::OpenTunnel()
{
    std::string host;
    std::uint16_t port = 0;
    SplitHostPort(m_urlServer, host, port);
    std::string authority = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                            std::to_string(port == 0 ? 443 : port);
    std::string request = "CONNECT " + TargetSafe(authority) + " HTTP/1.0\r\nHost: " + TargetSafe(authority) + "\r\n";
    if (!m_proxyUserName.empty())
        request += "Proxy-Authorization: Basic " + Base64Encode(m_proxyUserName + ":" + m_proxyPassword) + "\r\n";
    request += "\r\n";
    TSocketStatus status = m_socket.Send(request, m_timeOut);
    if (!status.Ok())
        RaiseStatus(status);
    ReadHeaders();
    int code = ReplyCode();
    if (code < 200 || code > 299)
        Raise(kErrMessage, "Proxy refused the tunnel: " + (m_headers.empty() ? std::string() : m_headers.front()));
    if (m_bufferStart != m_bufferEnd)
        Raise(kErrMessage, "Proxy sent data before the tunnel was open");
    m_received = 0;
}

bool TagHTTP::SendRequest(const std::string& request, bool soft)
{
    Fire(OnSending);
    std::size_t position = 0;
    while (position < request.size()) {
        std::string_view piece = std::string_view(request).substr(position, kSendPiece);
        TSocketStatus status = m_socket.Send(piece, m_timeOut);
        if (!status.Ok()) {
            if (soft && status.code != kErrCanceled && status.code != kErrTimedOut)
                return false;
            RaiseStatus(status);
        }
        position += piece.size();
        if (OnProgress)
            OnProgress(*this, static_cast<int>(std::lround(position * 100.0 / request.size())),
                       static_cast<std::int64_t>(position));
    }
    if (OnProgress)
        OnProgress(*this, 0, 0);
    return true;
}

bool TagHTTP::FillBuffer(TDeadline deadline)
{
    m_bufferStart = m_bufferEnd = 0;
    std::size_t got = 0;
    TSocketStatus status = m_socket.Receive(m_buffer.get(), kReceiveBufferSize, got, deadline);
    if (!status.Ok())
        RaiseStatus(status);
    if (got == 0) {
        m_peerClosed = true;
        return false;
    }
    m_bufferEnd = got;
    m_received += static_cast<std::int64_t>(got);
    return true;
}

std::string TagHTTP::ReadLine()
{
    if (!m_socket.Connected())
        Raise(kErrNotConnected);
    std::string line;
    TDeadline deadline = Deadline();
    bool restarted = false;
    for (;;) {
        if (m_bufferStart < m_bufferEnd) {
            const char* begin = m_buffer.get() + m_bufferStart;
            std::size_t available = m_bufferEnd - m_bufferStart;
            const char* lineFeed = static_cast<const char*>(std::memchr(begin, '\n', available));
            std::size_t take = lineFeed ? static_cast<std::size_t>(lineFeed - begin) + 1 : available;
            if (line.size() < kMaxLineLength)
                line.append(begin, std::min(take, kMaxLineLength - line.size()));
            m_bufferStart += take;
            if (lineFeed) {
                while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
                    line.pop_back();
                return line;
            }
        }
        // A line that the connection's end cuts off reads as empty.
        if (m_peerClosed || !FillBuffer(deadline))
            return {};
        if (!restarted) {
            deadline = Deadline();
            restarted = true;
        }
    }
}

void TagHTTP::ReadHeaders()
{
    m_headers.clear();
    std::size_t total = 0;
    for (;;) {
        std::string line = ReadLine();
        total += line.size();
        m_headers.push_back(line);
        if (line.empty())
            break;
        if (m_headers.size() > kMaxHeaderLines || total > kMaxHeaderBytes)
            Raise(kErrMessage, "Reply header too large");
    }
    if (m_received == 0 && m_peerClosed)
        Raise(kErrMessage, "Empty reply from server");
}

int TagHTTP::ReplyCode() const
{
    if (m_headers.empty())
        return -1;
    const std::string& first = m_headers.front();
    std::size_t blank = first.find(' ');
    if (blank == std::string::npos)
        return -1;
    std::size_t start = blank + 1;
    std::size_t end = start;
    while (end < first.size() && end - start < 9 && first[end] >= '0' && first[end] <= '9')
        ++end;
    return end == start ? -1 : std::stoi(first.substr(start, end - start));
}

std::string TagHTTP::Header(std::string name) const
{
    if (name.empty() || name.back() != ':')
        name += ':';
    for (std::size_t i = 0; i < m_headers.size(); ++i) {
        if (!StartsWithText(m_headers[i], name))
            continue;
        std::string value = TrimBlanks(std::string_view(m_headers[i]).substr(name.size()));
        for (std::size_t next = i + 1; next < m_headers.size(); ++next) {
            const std::string& line = m_headers[next];
            if (line.empty() || (line.front() != ' ' && line.front() != '\t'))
                break;
            value += " " + TrimBlanks(line);
        }
        return value;
    }
    return {};
}

bool TagHTTP::ReadBody(int replyCode)
{
    const bool chunked = LowerCase(Header("Transfer-Encoding")).find("chunked") != std::string::npos;
    // These replies never carry a body, whatever their headers say.
    const bool none = (replyCode >= 100 && replyCode <= 199) || replyCode == 204 || replyCode == 304;
    if (!none && OnReplyHeaders && !OnReplyHeaders(*this)) {
        if (!m_sink)
            m_body.Clear(); // the buffer holds this reply's body, which is none
        return !chunked && SkipBody();
    }
    IBodySink& sink = m_sink ? *m_sink : m_body;
    // Only a partial reply continues the bytes held; any other reply brings the whole body.
    std::int64_t keep = (m_range > 0 && replyCode == 206) ? m_range : 0;
    std::string error;
    if (!sink.Start(keep, error))
        Raise(kErrMessage, error);
    bool reusable = true;
    try {
        if (none) {
            ReadBlock(sink, 0);
        } else if (chunked) {
            for (;;) {
                std::string line = ReadLine();
                if (line.empty() && !m_peerClosed)
                    line = ReadLine(); // the CR LF that ends the previous chunk
                if (line.empty() && m_peerClosed)
                    Raise(kErrMessage, "Connection closed before the body was complete (" +
                                           std::to_string(sink.Size() - keep) + " bytes received)");
                std::int64_t size = ParseChunkSize(line);
                if (size < 0)
                    Raise(kErrMessage, "Invalid chunk size in the reply");
                if (size == 0)
                    break;
                ReadBlock(sink, size);
            }
            // Trailer lines end with an empty line; the next reply starts after it.
            if (m_persistent) {
                std::size_t trailers = 0;
                while (!m_peerClosed && !ReadLine().empty())
                    if (++trailers > kMaxHeaderLines)
                        Raise(kErrMessage, "Reply header too large");
            }
            reusable = !m_peerClosed;
        } else {
            const std::int64_t length = ParseLength(Header("Content-Length"));
            ReadBlock(sink, length);
            reusable = length >= 0; // read to the connection's end otherwise
        }
    } catch (...) {
        sink.Finish(error);
        throw;
    }
    if (!sink.Finish(error))
        Raise(kErrMessage, error);
    return reusable;
}

bool TagHTTP::BodyBuffered() const
{
    if (LowerCase(Header("Transfer-Encoding")).find("chunked") != std::string::npos)
        return false;
    const std::int64_t length = ParseLength(Header("Content-Length"));
    return length >= 0 && static_cast<std::int64_t>(m_bufferEnd - m_bufferStart) >= length;
}

bool TagHTTP::SkipBody()
{
    const std::int64_t length = ParseLength(Header("Content-Length"));
    if (!m_persistent || length < 0 || length > kSkipLimit)
        return false;
    std::int64_t left = length;
    TDeadline deadline = Deadline();
    while (left > 0) {
        if (m_bufferStart == m_bufferEnd) {
            if (m_peerClosed || !FillBuffer(deadline))
                return false;
            deadline = Deadline();
        }
        const std::size_t take = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(m_bufferEnd - m_bufferStart), left));
        m_bufferStart += take;
        left -= static_cast<std::int64_t>(take);
    }
    return true;
}

void TagHTTP::ReadBlock(IBodySink& sink, std::int64_t length)
{
    if (OnProgress)
        OnProgress(*this, 0, 0);
    std::int64_t received = 0;
    TDeadline deadline = Deadline();
    std::string error;
    while (length < 0 || received < length) {
        if (m_bufferStart == m_bufferEnd) {
            if (m_peerClosed || !FillBuffer(deadline)) {
                if (length >= 0)
                    Raise(kErrMessage, "Connection closed before the body was complete (" + std::to_string(received) +
                                           " of " + std::to_string(length) + " bytes)");
                break;
            }
            deadline = Deadline(); // the time-out counts from the last bytes received
        }
        std::size_t take = m_bufferEnd - m_bufferStart;
        if (length >= 0)
            take = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(take), length - received));
        if (!sink.Write(std::string_view(m_buffer.get() + m_bufferStart, take), error))
            Raise(kErrMessage, error);
        m_bufferStart += take;
        received += static_cast<std::int64_t>(take);
        if (OnProgress)
            OnProgress(*this, length > 0 ? static_cast<int>(std::llround(received * 100.0 / length)) : -1, received);
    }
    Fire(OnClosed);
}

void TagHTTP::CloseSocket()
{
    if (!m_socket.Connected())
        return;
    Fire(OnClosing);
    m_socket.Close();
    ForgetConnection();
    Fire(OnClosed);
}

} // namespace pellix

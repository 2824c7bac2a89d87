// TagSocket: one non-blocking TCP connection (optionally TLS) with deadline waits that a cancel
// from another thread interrupts at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>

namespace pellix {

class TTlsSession;
struct TTlsTrust;

// Client codes beside the sockets codes (10004..11004) of SocketErrorMessage.
constexpr int kErrTimedOut = 57000;
constexpr int kErrCanceled = 57001;
constexpr int kErrServerRequired = 57002;
constexpr int kErrResolve = 57004;
constexpr int kErrServiceRequired = 57005;
constexpr int kErrProxyPort = 57006;
constexpr int kErrInvalidURL = 57007;
constexpr int kErrNotConnected = 57008;
// Failures that carry their own message (TLS, protocol, body storage).
constexpr int kErrMessage = 57100;

// The user's text for a code: "[10061] Connection refused" for socket codes, the plain text for
// the client's own codes, "Error #" and the code otherwise.
std::string SocketErrorMessage(int code);
// The sockets code for an errno value (ECONNREFUSED -> 10061...), 0 for 0.
int SocketErrorCode(int errnoValue);
// The sockets code for a getaddrinfo result (EAI_NONAME -> 11001...).
int ResolverErrorCode(int gaiResult, int errnoValue);

using TDeadline = std::chrono::steady_clock::time_point;

struct TSocketStatus {
    int code = 0;            // 0: success
    std::string message;     // set for kErrMessage, else derived from the code
    bool Ok() const { return code == 0; }
};

// Finds the addresses of a host name; runs on a helper thread. Returns 0 or a sockets code.
using TResolver = std::function<int(const std::string& host, std::vector<sockaddr_storage>& addresses)>;

class TagSocket final {
public:
    TagSocket();
    ~TagSocket();
    TagSocket(const TagSocket&) = delete;
    TagSocket& operator=(const TagSocket&) = delete;

    // Replaces getaddrinfo (tests use it to stall a look-up).
    void SetResolver(TResolver resolver) { m_resolver = std::move(resolver); }

    // Finds host's addresses (a literal address needs no look-up) until deadline.
    TSocketStatus Resolve(const std::string& host, TDeadline deadline);
    // Connects to port on the resolved addresses, trying each in turn.
    TSocketStatus Connect(std::uint16_t port, TDeadline deadline);
    // Runs the TLS handshake for host over the open connection, resuming a session that an
    // earlier connection to host and port left, when there is one.
    TSocketStatus StartTls(const std::string& host, std::uint16_t port, const TTlsTrust& trust, TDeadline deadline);
    // Whether the last handshake resumed a session.
    bool TlsResumed() const { return m_tlsResumed.load(); }
    // Sends all of data; the deadline is timeOut after the last bytes that went out.
    TSocketStatus Send(std::string_view data, std::chrono::milliseconds timeOut);
    // Waits until deadline for bytes; got = 0 means the peer closed the connection.
    TSocketStatus Receive(char* buffer, std::size_t size, std::size_t& got, TDeadline deadline);
    void Close();
    bool Connected() const { return m_fd.load() >= 0; }
    // An idle kept connection: false when the peer has closed it or sent bytes nobody asked for.
    // A TLS connection is taken as alive (records may be pending); its first read tells.
    bool LooksAlive() const;

    // Thread-safe: wakes any wait at once; every later wait fails with kErrCanceled until
    // ResetCancel.
    void Cancel();
    bool Canceled() const { return m_canceled.load(); }
    void ResetCancel();

private:
    // 0 when the socket is ready for events, else kErrCanceled, kErrTimedOut or a sockets code.
    int Wait(int fd, short events, TDeadline deadline);

    TResolver m_resolver;
    std::vector<sockaddr_storage> m_addresses;
    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_tlsResumed{false};
    int m_cancelFd = -1;
    std::atomic<bool> m_canceled{false};
    std::unique_ptr<TTlsSession> m_tls;
};

} // namespace pellix

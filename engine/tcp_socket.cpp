#include "engine/tcp_socket.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "engine/tls_session.h"

namespace pellix {

namespace {

const std::map<int, const char*>& SocketTexts()
{
    static const std::map<int, const char*> texts = {
        {10004, "Interrupted function call"}, {10009, "Bad file number"}, {10013, "Permission denied."},
        {10014, "Bad address"}, {10022, "Invalid argument"}, {10024, "Too many open files"},
        {10035, "Resource temporarily not available"}, {10036, "Operation now in progress"},
        {10037, "Operation already in progress"}, {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"}, {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"}, {10042, "Bad protocol option"},
        {10043, "Protocol not supported"}, {10044, "Socket type not supported"},
        {10045, "Operation not supported"}, {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"}, {10048, "Address already in use"},
        {10049, "Cannot assign requested address"}, {10050, "Network is down"},
        {10051, "Network is unreachable"}, {10052, "Network dropped connection or reset"},
        {10053, "Software caused connection abort"}, {10054, "Connection reset by peer"},
        {10055, "No buffer space available"}, {10056, "Socket is already connected"},
        {10057, "Socket is not connected"}, {10058, "Can't send after socket shutdown"},
        {10059, "Too many references, can't splice"}, {10060, "Connection timed out"},
        {10061, "Connection refused"}, {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"}, {10064, "Host is down"}, {10065, "No Route to Host"},
        {10066, "Directory not empty"}, {10067, "Too many processes"}, {10068, "Too many users"},
        {10069, "Disc Quota Exceeded"}, {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"}, {10091, "Network subsystem is unavailable"},
        {10092, "WINSOCK DLL Version out of range"}, {10093, "Successful WSAStartup() not yet performed"},
        {10094, "Graceful shutdown in progress"}, {11001, "Host not found"},
        {11002, "Non-Authoritative Host not found"},
        {11003, "Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
        {11004, "Valid name, no data record of requested type"},
    };
    return texts;
}

const std::map<int, const char*>& ClientTexts()
{
    static const std::map<int, const char*> texts = {
        {57000, "Operation timed out"}, {57001, "Operation has been canceled"},
        {57002, "Server property is required"}, {57003, "Invalid Winsock version"},
        {57004, "Error resolving remote host"}, {57005, "Service name is required"},
        {57006, "Proxy port is required"}, {57007, "Invalid URL"},
        {57008, "You have to connect to the server first"}, {57010, "Function %s not found"},
        {57011, "Winsock is not loaded"}, {57012, "Winsock not found"},
    };
    return texts;
}

int MillisecondsUntil(TDeadline deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    // poll rounds down; one more millisecond keeps a wait from ending just before its deadline.
    return static_cast<int>(std::min<long long>(left.count() + 1, 24LL * 3600 * 1000));
}

int DefaultResolve(const std::string& host, std::vector<sockaddr_storage>& addresses)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0)
        return ResolverErrorCode(rc, errno);
    for (addrinfo* entry = found; entry; entry = entry->ai_next) {
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, std::min<std::size_t>(entry->ai_addrlen, sizeof address));
        addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    return addresses.empty() ? 11004 : 0;
}

// The state of one look-up, shared with its helper thread, which may outlive the wait (a
// cancelled or timed-out look-up finishes alone and is then dropped).
struct TLookup {
    std::mutex mutex;
    int code = 0;
    std::vector<sockaddr_storage> addresses;
    int doneFd = -1;
    ~TLookup()
    {
        if (doneFd >= 0)
            ::close(doneFd);
    }
};

} // namespace

std::string SocketErrorMessage(int code)
{
    auto socketText = SocketTexts().find(code);
    if (socketText != SocketTexts().end())
        return "[" + std::to_string(code) + "] " + socketText->second;
    auto clientText = ClientTexts().find(code);
    if (clientText != ClientTexts().end())
        return clientText->second;
    return "Error #" + std::to_string(code);
}

int SocketErrorCode(int errnoValue)
{
    switch (errnoValue) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return 20000 + errnoValue; // no table entry: shown as "Error #..."
    }
}

int ResolverErrorCode(int gaiResult, int errnoValue)
{
    switch (gaiResult) {
    case 0: return 0;
    case EAI_NONAME: return 11001;
#ifdef EAI_NODATA
    case EAI_NODATA: return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return 11004;
#endif
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
    case EAI_MEMORY: return 10055;
    case EAI_SYSTEM: return errnoValue != 0 ? SocketErrorCode(errnoValue) : kErrResolve;
    default: return kErrResolve;
    }
}

TagSocket::TagSocket()
{
    m_cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TagSocket::~TagSocket()
{
    Close();
    if (m_cancelFd >= 0)
        ::close(m_cancelFd);
}

void TagSocket::Cancel()
{
    m_canceled.store(true);
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t rc = ::write(m_cancelFd, &one, sizeof one);
}

void TagSocket::ResetCancel()
{
    m_canceled.store(false);
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t rc = ::read(m_cancelFd, &count, sizeof count);
}

int TagSocket::Wait(int fd, short events, TDeadline deadline)
{
    for (;;) {
        if (m_canceled.load())
            return kErrCanceled;
        pollfd fds[2] = {{fd, events, 0}, {m_cancelFd, POLLIN, 0}};
        int n = ::poll(fds, 2, MillisecondsUntil(deadline));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return SocketErrorCode(errno);
        }
        if (m_canceled.load() || (fds[1].revents & POLLIN))
            return kErrCanceled;
        if (n == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                return kErrTimedOut;
            continue;
        }
        // Errors and hang-ups show up on the next receive or send, which reports them exactly.
        return 0;
    }
}

TSocketStatus TagSocket::Resolve(const std::string& host, TDeadline deadline)
{
    m_addresses.clear();
    sockaddr_storage literal{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&literal);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&literal);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        m_addresses.push_back(literal);
        return {};
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        m_addresses.push_back(literal);
        return {};
    }
    if (m_canceled.load())
        return {kErrCanceled, {}};

    auto lookup = std::make_shared<TLookup>();
    lookup->doneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (lookup->doneFd < 0)
        return {SocketErrorCode(errno), {}};
    TResolver resolver = m_resolver ? m_resolver : TResolver(DefaultResolve);
    std::thread([lookup, resolver, host] {
        std::vector<sockaddr_storage> addresses;
        int code = resolver(host, addresses);
        {
            std::lock_guard lock(lookup->mutex);
            lookup->code = code;
            lookup->addresses = std::move(addresses);
        }
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t rc = ::write(lookup->doneFd, &one, sizeof one);
    }).detach();

    int wait = Wait(lookup->doneFd, POLLIN, deadline);
    if (wait != 0)
        return {wait, {}};
    std::lock_guard lock(lookup->mutex);
    if (lookup->code != 0)
        return {lookup->code, {}};
    if (lookup->addresses.empty())
        return {kErrResolve, {}};
    m_addresses = lookup->addresses;
    return {};
}

TSocketStatus TagSocket::Connect(std::uint16_t port, TDeadline deadline)
{
    Close();
    int lastCode = kErrResolve;
    for (sockaddr_storage address : m_addresses) {
        socklen_t length = 0;
        if (address.ss_family == AF_INET) {
            reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);
            length = sizeof(sockaddr_in);
        } else {
            reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(port);
            length = sizeof(sockaddr_in6);
        }
        int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastCode = SocketErrorCode(errno);
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length);
        int error = rc == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            int wait = Wait(fd, POLLOUT, deadline);
            if (wait == kErrCanceled || wait == kErrTimedOut) {
                ::close(fd);
                return {wait, {}};
            }
            if (wait != 0) {
                ::close(fd);
                lastCode = wait;
                continue;
            }
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
        }
        if (error == 0) {
            m_fd = fd;
            return {};
        }
        ::close(fd);
        lastCode = SocketErrorCode(error);
    }
    return {lastCode, {}};
}

TSocketStatus TagSocket::StartTls(const std::string& host, std::uint16_t port, const TTlsTrust& trust,
                                 TDeadline deadline)
{
    m_tlsResumed.store(false);
    if (m_fd < 0)
        return {kErrNotConnected, {}};
    m_tls = std::make_unique<TTlsSession>();
    std::string error;
    if (!m_tls->Begin(m_fd, host, port, trust, error))
        return {kErrMessage, error};
    for (;;) {
        TTlsStep step = m_tls->Handshake(error);
        if (step == TTlsStep::Done) {
            m_tlsResumed.store(m_tls->Resumed());
            return {};
        }
        if (step == TTlsStep::Failed)
            return m_tls->SystemError() ? TSocketStatus{SocketErrorCode(m_tls->SystemError()), {}}
                                        : TSocketStatus{kErrMessage, error};
        int wait = Wait(m_fd, step == TTlsStep::WantRead ? POLLIN : POLLOUT, deadline);
        if (wait != 0)
            return {wait, {}};
    }
}

TSocketStatus TagSocket::Send(std::string_view data, std::chrono::milliseconds timeOut)
{
    if (m_fd < 0)
        return {kErrNotConnected, {}};
    TDeadline deadline = std::chrono::steady_clock::now() + timeOut;
    while (!data.empty()) {
        if (m_canceled.load())
            return {kErrCanceled, {}};
        short waitFor = POLLOUT;
        std::size_t sent = 0;
        if (m_tls) {
            std::string error;
            TTlsStep step = m_tls->Write(data.data(), data.size(), sent, error);
            if (step == TTlsStep::Failed)
                return m_tls->SystemError() ? TSocketStatus{SocketErrorCode(m_tls->SystemError()), {}}
                                            : TSocketStatus{kErrMessage, error};
            if (step == TTlsStep::Closed)
                return {10054, {}};
            if (step == TTlsStep::WantRead)
                waitFor = POLLIN;
        } else {
            ssize_t rc = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (rc > 0)
                sent = static_cast<std::size_t>(rc);
            else if (rc < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return {SocketErrorCode(errno), {}};
        }
        if (sent > 0) {
            data.remove_prefix(sent);
            deadline = std::chrono::steady_clock::now() + timeOut;
            continue;
        }
        int wait = Wait(m_fd, waitFor, deadline);
        if (wait != 0)
            return {wait, {}};
    }
    return {};
}

TSocketStatus TagSocket::Receive(char* buffer, std::size_t size, std::size_t& got, TDeadline deadline)
{
    got = 0;
    if (m_fd < 0)
        return {kErrNotConnected, {}};
    for (;;) {
        if (m_canceled.load())
            return {kErrCanceled, {}};
        short waitFor = POLLIN;
        if (m_tls) {
            std::string error;
            TTlsStep step = m_tls->Read(buffer, size, got, error);
            if (step == TTlsStep::Done || step == TTlsStep::Closed)
                return {};
            if (step == TTlsStep::Failed)
                return m_tls->SystemError() ? TSocketStatus{SocketErrorCode(m_tls->SystemError()), {}}
                                            : TSocketStatus{kErrMessage, error};
            if (step == TTlsStep::WantWrite)
                waitFor = POLLOUT;
        } else {
            ssize_t rc = ::recv(m_fd, buffer, size, 0);
            if (rc >= 0) {
                got = static_cast<std::size_t>(rc);
                return {};
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return {SocketErrorCode(errno), {}};
        }
        int wait = Wait(m_fd, waitFor, deadline);
        if (wait != 0)
            return {wait, {}};
    }
}

bool TagSocket::LooksAlive() const
{
    const int fd = m_fd.load();
    if (fd < 0)
        return false;
    if (m_tls)
        return true;
    char byte = 0;
    const ssize_t rc = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return rc < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void TagSocket::Close()
{
    if (m_tls) {
        m_tls->Shutdown();
        m_tls.reset();
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace pellix

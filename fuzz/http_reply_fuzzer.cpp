// Feeds arbitrary bytes as an HTTP reply to TagHTTP::Get over loopback: status line, header
// lines, lengths and chunk framing must end in a result or an ESocketError, never a crash or hang.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/http_client.h"

namespace {

// One loopback listener for the whole run; its thread answers each connection with the reply
// currently set, then closes.
class TReplyServer {
public:
    TReplyServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 16);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        std::thread([this] { Loop(); }).detach();
    }

    int Port() const { return m_port; }
    void SetReply(std::string reply)
    {
        std::lock_guard lock(m_mutex);
        m_reply = std::move(reply);
    }

private:
    void Loop()
    {
        for (;;) {
            int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::string head;
            char buffer[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                head.append(buffer, static_cast<std::size_t>(got));
            }
            std::string reply;
            {
                std::lock_guard lock(m_mutex);
                reply = m_reply;
            }
            std::size_t sent = 0;
            while (sent < reply.size()) {
                ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            ::close(fd);
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::string m_reply;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TReplyServer server;
    server.SetReply(std::string(reinterpret_cast<const char*>(data), size));
    pellix::TagHTTP http;
    http.SetTimeOutMs(std::chrono::milliseconds(500));
    http.SetURL("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    try {
        http.Get();
        (void)http.Header("Content-Type");
    } catch (const pellix::ESocketError&) {
    } catch (const pellix::ETimedOutError&) {
    }
    return 0;
}

// TDemoSite: a small built-in website served on 127.0.0.1, downloaded when no address is given.
#include "app/cli/demo_site.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

namespace pellix {

namespace {

struct TDemoFile {
    const char* path;
    const char* type;
    std::string_view body;
};

constexpr char kLogoPng[] =
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x30\x00\x00\x00\x30\x08\x02"
    "\x00\x00\x00\xd8\x60\x6e\xd0\x00\x00\x00\x3a\x49\x44\x41\x54\x78\xda\xed\xce\x41\x0d\x00\x00\x08\x04\xa0"
    "\x8b\x63\x3a\x73\x1a\xcb\x16\xce\x07\x1b\x01\x48\xf5\xbc\x12\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21"
    "\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\xa1\x3b\x0b\x98\x68\x4e\xb5\xb3\xa6\xaf\x3b\x00"
    "\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82";
constexpr char kPhotoPng[] =
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x30\x00\x00\x00\x30\x08\x02"
    "\x00\x00\x00\xd8\x60\x6e\xd0\x00\x00\x00\x3a\x49\x44\x41\x54\x78\xda\xed\xce\x41\x0d\x00\x00\x08\x04\xa0"
    "\x8b\x63\x44\xc3\x1a\xc6\x16\xce\x07\x1b\x01\xc8\x74\xbd\x12\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21"
    "\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\x21\xa1\x3b\x0b\xb4\x35\x5c\xc4\x37\xf3\xd0\xda\x00"
    "\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82";

constexpr std::string_view kIndex = R"(<html>
<head>
<title>Pellix Demo Site</title>
<link rel="stylesheet" href="styles/site.css">
<script src="scripts/menu.js"></script>
</head>
<body>
<h1><img src="images/logo.png" width="48" height="48" alt="logo"> Pellix Demo Site</h1>
<p>This little site is built into pellix-cli. It was served on your own computer and has just
been downloaded, with every link rewritten for offline reading.</p>
<ul>
<li><a href="about.html">About this site</a></li>
<li><a href="gallery.html">Gallery</a></li>
<li><a href="docs/index.html">Documentation</a></li>
</ul>
</body>
</html>
)";

constexpr std::string_view kAbout = R"(<html>
<head><title>About</title><link rel="stylesheet" href="styles/site.css"></head>
<body>
<h1>About</h1>
<p>Pages, images, a style sheet, a script and a sub-folder: enough to see a whole site packed.</p>
<p><a href="index.html">Home</a> | <a href="gallery.html">Gallery</a></p>
</body>
</html>
)";

constexpr std::string_view kGallery = R"(<html>
<head><title>Gallery</title><link rel="stylesheet" href="styles/site.css"></head>
<body>
<h1>Gallery</h1>
<p><img src="images/photo.png" width="96" height="96" alt="photo">
<img src="images/logo.png" width="96" height="96" alt="logo"></p>
<p><a href="index.html">Home</a></p>
</body>
</html>
)";

constexpr std::string_view kDocsIndex = R"(<html>
<head><title>Documentation</title><link rel="stylesheet" href="../styles/site.css"></head>
<body>
<h1><img src="../images/logo.png" width="24" height="24" alt="logo"> Documentation</h1>
<ul>
<li><a href="guide.html">Guide</a></li>
<li><a href="../index.html">Home</a></li>
</ul>
</body>
</html>
)";

constexpr std::string_view kDocsGuide = R"(<html>
<head><title>Guide</title><link rel="stylesheet" href="../styles/site.css"></head>
<body>
<h1>Guide</h1>
<p>Open the Zip file, or its start page, to browse this site without a network.</p>
<p><a href="index.html">Documentation</a> | <a href="../about.html">About</a></p>
</body>
</html>
)";

constexpr std::string_view kCss = R"(body { font-family: sans-serif; margin: 2em; background: #f4f7fb; color: #223; }
h1 { color: #2a6ec8; }
a { color: #c8782a; }
)";

constexpr std::string_view kScript = R"js(document.addEventListener("DOMContentLoaded", function () {
  document.title = document.title + " (offline)";
});
)js";

const TDemoFile kFiles[] = {
    {"/", "text/html", kIndex},
    {"/index.html", "text/html", kIndex},
    {"/about.html", "text/html", kAbout},
    {"/gallery.html", "text/html", kGallery},
    {"/docs/index.html", "text/html", kDocsIndex},
    {"/docs/guide.html", "text/html", kDocsGuide},
    {"/styles/site.css", "text/css", kCss},
    {"/scripts/menu.js", "application/javascript", kScript},
    {"/images/logo.png", "image/png", std::string_view(kLogoPng, sizeof kLogoPng - 1)},
    {"/images/photo.png", "image/png", std::string_view(kPhotoPng, sizeof kPhotoPng - 1)},
};

constexpr const char* kLastModified = "Mon, 01 Jan 2024 00:00:00 GMT";

bool SendAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string HeaderValue(const std::string& head, const std::string& name)
{
    std::size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        if (head.size() - pos < name.size() + 1)
            break;
        if (strncasecmp(head.c_str() + pos, name.c_str(), name.size()) == 0 && head[pos + name.size()] == ':') {
            std::size_t begin = pos + name.size() + 1;
            const std::size_t end = head.find("\r\n", begin);
            while (begin < end && head[begin] == ' ')
                ++begin;
            return head.substr(begin, end - begin);
        }
    }
    return {};
}

} // namespace

TDemoSite::~TDemoSite() { Stop(); }

bool TDemoSite::Start(std::string* error)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 64) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (error)
            *error = std::string("cannot serve the demo site: ") + std::strerror(errno);
        Stop();
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void TDemoSite::Stop()
{
    if (m_stopFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_stopFd, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_stopFd >= 0)
        ::close(m_stopFd);
    m_listenFd = -1;
    m_stopFd = -1;
}

std::string TDemoSite::Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

void TDemoSite::Serve()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                Answer(fd);
                ::close(fd);
            }
        }
    }
}

void TDemoSite::Answer(int fd)
{
    // The files are tiny and the client is local: one connection at a time is plenty, with a
    // short limit so a silent client cannot hold the site.
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            return;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t methodEnd = head.find(' ');
    const std::size_t targetEnd = methodEnd == std::string::npos ? std::string::npos : head.find(' ', methodEnd + 1);
    if (targetEnd == std::string::npos)
        return;
    const std::string method = head.substr(0, methodEnd);
    std::string target = head.substr(methodEnd + 1, targetEnd - methodEnd - 1);
    if (const std::size_t query = target.find('?'); query != std::string::npos)
        target.resize(query);

    const TDemoFile* file = nullptr;
    for (const TDemoFile& candidate : kFiles)
        if (target == candidate.path)
            file = &candidate;
    std::string reply;
    std::string_view body;
    if (!file) {
        body = "<html><body><h1>Not Found</h1></body></html>\n";
        reply = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    } else if (HeaderValue(head, "If-Modified-Since") == kLastModified) {
        reply = std::string("HTTP/1.0 304 Not Modified\r\nLast-Modified: ") + kLastModified + "\r\n";
    } else {
        body = file->body;
        reply = std::string("HTTP/1.0 200 OK\r\nContent-Type: ") + file->type + "\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nLast-Modified: " + kLastModified + "\r\n";
    }
    reply += "Server: pellix-demo\r\nConnection: close\r\n\r\n";
    if (method != "HEAD")
        reply += body;
    SendAll(fd, reply);
}

} // namespace pellix

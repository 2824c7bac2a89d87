// TDemoSite: a small built-in website served on 127.0.0.1, downloaded when no address is given.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace pellix {

// A handful of pages with images, a style sheet, a script and a subfolder, held in the program.
// Served over HTTP/1.0 on a free loopback port by one thread; every reply carries a fixed
// Last-Modified, and a matching If-Modified-Since gets 304, so update runs can be tried too.
class TDemoSite final {
public:
    TDemoSite() = default;
    ~TDemoSite();
    TDemoSite(const TDemoSite&) = delete;
    TDemoSite& operator=(const TDemoSite&) = delete;

    // Listens and starts serving; false with the reason in error.
    bool Start(std::string* error);
    void Stop();
    // "http://127.0.0.1:port/".
    std::string Url() const;

private:
    void Serve();
    void Answer(int fd);

    int m_listenFd = -1;
    int m_stopFd = -1;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace pellix

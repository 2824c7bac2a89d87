// TTlsSession: the client side of one TLS connection over a non-blocking socket (OpenSSL 3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

typedef struct ssl_st SSL;

namespace pellix {

// Which certificates a connection accepts.
struct TTlsTrust {
    std::string caFile;           // PEM file of CA certificates trusted besides the system store
    bool checkCertificate = true; // false: any certificate for any name is accepted
};

// Whether path is a readable PEM file holding at least one certificate; false with the reason.
bool CheckCAFile(const std::string& path, std::string& error);

// Each step either finishes or says which readiness of the socket it waits for; the caller
// polls and calls the step again.
enum class TTlsStep { Done, WantRead, WantWrite, Closed, Failed };

class TTlsSession final {
public:
    TTlsSession() = default;
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    // Prepares the session on fd for host: SNI, chain verified against the system CA store
    // (plus the trust's CA file when not empty), host name or IP address checked against the
    // certificate; with checkCertificate off, neither check is made.
    // A session that an earlier connection to host and port left under the same trust is
    // offered for resumption (the certificate was verified when it was made).
    bool Begin(int fd, const std::string& host, std::uint16_t port, const TTlsTrust& trust, std::string& error);
    TTlsStep Handshake(std::string& error);
    TTlsStep Read(char* buffer, std::size_t size, std::size_t& got, std::string& error);
    TTlsStep Write(const char* data, std::size_t size, std::size_t& sent, std::string& error);
    // Sends close_notify without waiting for the answer.
    void Shutdown();

    // The finished handshake resumed an earlier session.
    bool Resumed() const;
    // Forgets every kept session (tests).
    static void ForgetSessions();

    // errno of the last Failed step when the socket itself failed, else 0.
    int SystemError() const { return m_systemError; }

private:
    TTlsStep Classify(int rc, std::string& error, const char* what);

    SSL* m_ssl = nullptr;
    std::string m_sessionKey;
    bool m_checkCertificate = true;
    int m_systemError = 0;
};

} // namespace pellix

#include "engine/tls_session.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <map>
#include <mutex>

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace pellix {

namespace {

// Sessions (tickets) the servers gave, by host, port and trust, so that the next connection to
// the same server skips the full handshake. One per key: the newest wins.
struct TSessionCache {
    std::mutex mutex;
    std::map<std::string, SSL_SESSION*> sessions;
};

TSessionCache& Sessions()
{
    static TSessionCache* cache = new TSessionCache; // outlives every connection
    return *cache;
}

int SessionIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// OpenSSL hands over a reference to each new session (TLS 1.3 tickets come after the handshake).
int KeepSession(SSL* ssl, SSL_SESSION* session)
{
    const auto* key = static_cast<const std::string*>(SSL_get_ex_data(ssl, SessionIndex()));
    if (!key || key->empty() || !SSL_SESSION_is_resumable(session))
        return 0;
    TSessionCache& cache = Sessions();
    std::lock_guard lock(cache.mutex);
    SSL_SESSION*& slot = cache.sessions[*key];
    if (slot)
        SSL_SESSION_free(slot);
    slot = session;
    return 1; // the cache keeps the reference
}

// Loading the system store costs milliseconds, so the context is kept for the next connection
// (SSL_CTX is safe to share between threads once set up). Only the latest CA file's context is
// kept; sessions still using an older one hold their own reference to it. The caller gets a
// reference of its own and frees it.
SSL_CTX* SharedContext(const std::string& caFile, std::string& error)
{
    static std::mutex mutex;
    static std::string* cachedFile = new std::string;
    static SSL_CTX* cached = nullptr;
    std::lock_guard lock(mutex);
    if (cached && *cachedFile == caFile) {
        SSL_CTX_up_ref(cached); // the caller's reference
        return cached;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        error = "[TLS] cannot create a context";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_default_verify_paths(context);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1) {
        ERR_clear_error();
        SSL_CTX_free(context);
        error = "[TLS] cannot load the CA file " + caFile;
        return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context, KeepSession);
    if (cached)
        SSL_CTX_free(cached);
    cached = context;
    *cachedFile = caFile;
    SSL_CTX_up_ref(context);
    return context;
}

bool IsIpAddress(const std::string& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string OpenSslReason()
{
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "connection closed by the server";
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : "error " + std::to_string(code);
}

} // namespace

TTlsSession::~TTlsSession()
{
    if (m_ssl)
        SSL_free(m_ssl);
}

bool CheckCAFile(const std::string& path, std::string& error)
{
    BIO* file = BIO_new_file(path.c_str(), "r");
    if (!file) {
        ERR_clear_error();
        error = "cannot read the CA file " + path;
        return false;
    }
    int certificates = 0;
    while (X509* certificate = PEM_read_bio_X509(file, nullptr, nullptr, nullptr)) {
        X509_free(certificate);
        ++certificates;
    }
    ERR_clear_error();
    BIO_free(file);
    if (certificates == 0) {
        error = "no PEM certificate in the CA file " + path;
        return false;
    }
    return true;
}

bool TTlsSession::Begin(int fd, const std::string& host, std::uint16_t port, const TTlsTrust& trust,
                        std::string& error)
{
    SSL_CTX* context = SharedContext(trust.caFile, error);
    if (!context)
        return false;
    if (m_ssl)
        SSL_free(m_ssl);
    m_ssl = SSL_new(context);
    SSL_CTX_free(context); // the session holds its own reference
    if (!m_ssl || SSL_set_fd(m_ssl, fd) != 1) {
        error = "[TLS] cannot create a session";
        return false;
    }
    m_checkCertificate = trust.checkCertificate;
    // A session made without checks must never stand in for a checked connection.
    m_sessionKey = host + ":" + std::to_string(port) + (trust.checkCertificate ? " checked " : " unchecked ") +
                   trust.caFile;
    SSL_set_ex_data(m_ssl, SessionIndex(), &m_sessionKey);
    {
        TSessionCache& cache = Sessions();
        std::lock_guard lock(cache.mutex);
        auto found = cache.sessions.find(m_sessionKey);
        if (found != cache.sessions.end())
            SSL_set_session(m_ssl, found->second);
    }
    const bool ip = IsIpAddress(host);
    if (!ip)
        SSL_set_tlsext_host_name(m_ssl, host.c_str());
    if (!m_checkCertificate) {
        SSL_set_verify(m_ssl, SSL_VERIFY_NONE, nullptr);
        return true;
    }
    if (ip)
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str());
    else
        SSL_set1_host(m_ssl, host.c_str());
    return true;
}

bool TTlsSession::Resumed() const
{
    return m_ssl && SSL_session_reused(m_ssl) == 1;
}

void TTlsSession::ForgetSessions()
{
    TSessionCache& cache = Sessions();
    std::lock_guard lock(cache.mutex);
    for (auto& entry : cache.sessions)
        SSL_SESSION_free(entry.second);
    cache.sessions.clear();
}

TTlsStep TTlsSession::Classify(int rc, std::string& error, const char* what)
{
    m_systemError = 0;
    int code = SSL_get_error(m_ssl, rc);
    switch (code) {
    case SSL_ERROR_WANT_READ:
        return TTlsStep::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return TTlsStep::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return TTlsStep::Closed;
    case SSL_ERROR_SYSCALL:
        if (errno != 0 && ERR_peek_error() == 0) {
            m_systemError = errno;
            return TTlsStep::Failed;
        }
        break;
    default:
        break;
    }
    // Unchecked sessions still compute a verify result; it is not the cause of their failure.
    const long verify = m_checkCertificate ? SSL_get_verify_result(m_ssl) : X509_V_OK;
    if (verify != X509_V_OK) {
        ERR_clear_error();
        error = std::string("[TLS] certificate verify failed: ") + X509_verify_cert_error_string(verify);
    } else {
        error = std::string("[TLS] ") + what + ": " + OpenSslReason();
    }
    return TTlsStep::Failed;
}

TTlsStep TTlsSession::Handshake(std::string& error)
{
    errno = 0;
    int rc = SSL_connect(m_ssl);
    if (rc == 1)
        return TTlsStep::Done;
    TTlsStep step = Classify(rc, error, "handshake failed");
    if (step == TTlsStep::Closed) {
        error = "[TLS] handshake failed: connection closed by the server";
        return TTlsStep::Failed;
    }
    return step;
}

TTlsStep TTlsSession::Read(char* buffer, std::size_t size, std::size_t& got, std::string& error)
{
    got = 0;
    errno = 0;
    int rc = SSL_read(m_ssl, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (rc > 0) {
        got = static_cast<std::size_t>(rc);
        return TTlsStep::Done;
    }
    return Classify(rc, error, "read failed");
}

TTlsStep TTlsSession::Write(const char* data, std::size_t size, std::size_t& sent, std::string& error)
{
    sent = 0;
    errno = 0;
    int rc = SSL_write(m_ssl, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (rc > 0) {
        sent = static_cast<std::size_t>(rc);
        return TTlsStep::Done;
    }
    return Classify(rc, error, "write failed");
}

void TTlsSession::Shutdown()
{
    if (m_ssl) {
        SSL_shutdown(m_ssl);
        ERR_clear_error();
    }
}

} // namespace pellix

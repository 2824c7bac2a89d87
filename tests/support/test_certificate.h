// TTestCertificate: a throw-away CA and a server certificate signed by it, made at test time.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pellix::test {

// What the server certificate is issued for.
struct TCertificateNames {
    std::vector<std::string> dnsNames{"localhost"};
    std::vector<std::string> ipAddresses{"127.0.0.1"};
    bool selfSigned = false; // the leaf signs itself instead of being issued by the CA
};

// Keys are EC P-256 (fast to make). All PEM texts are kept in memory; WriteCAFile saves the CA
// certificate so that a client can be told to trust it.
class TTestCertificate final {
public:
    explicit TTestCertificate(const TCertificateNames& names = {});

    const std::string& CACertificatePem() const { return m_caCertPem; }
    const std::string& CertificatePem() const { return m_certPem; }
    const std::string& PrivateKeyPem() const { return m_keyPem; }

    // Writes the CA certificate (or the self-signed leaf) as a PEM file; false on failure.
    bool WriteCAFile(const std::filesystem::path& path) const;

private:
    std::string m_caCertPem;
    std::string m_certPem;
    std::string m_keyPem;
};

} // namespace pellix::test

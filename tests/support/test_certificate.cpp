#include "tests/support/test_certificate.h"

#include <fstream>
#include <memory>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace pellix::test {

namespace {

struct TKeyFree { void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); } };
struct TX509Free { void operator()(X509* p) const { X509_free(p); } };
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TCert = std::unique_ptr<X509, TX509Free>;

void Check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("test certificate: ") + what);
}

TKey NewKey()
{
    TKey key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key generation");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

TCert NewCertificate(EVP_PKEY* key, const std::string& commonName, long serial)
{
    TCert cert(X509_new());
    Check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return cert;
}

std::string CertPem(X509* cert)
{
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
}

std::string KeyPem(EVP_PKEY* key)
{
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
}

} // namespace

TTestCertificate::TTestCertificate(const TCertificateNames& names)
{
    TKey caKey = NewKey();
    TCert ca = NewCertificate(caKey.get(), "Test CA", 1);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    Check(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "CA signature");

    TKey leafKey = NewKey();
    std::string commonName = names.dnsNames.empty() ? std::string("test server") : names.dnsNames.front();
    TCert leaf = NewCertificate(leafKey.get(), commonName, 2);
    X509* issuer = names.selfSigned ? leaf.get() : ca.get();
    EVP_PKEY* signer = names.selfSigned ? leafKey.get() : caKey.get();
    X509_set_issuer_name(leaf.get(), X509_get_subject_name(issuer));
    std::string altNames;
    for (const std::string& dns : names.dnsNames)
        altNames += (altNames.empty() ? "" : ",") + std::string("DNS:") + dns;
    for (const std::string& ip : names.ipAddresses)
        altNames += (altNames.empty() ? "" : ",") + std::string("IP:") + ip;
    if (!altNames.empty())
        AddExtension(leaf.get(), issuer, NID_subject_alt_name, altNames);
    AddExtension(leaf.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(leaf.get(), issuer, NID_ext_key_usage, "serverAuth");
    Check(X509_sign(leaf.get(), signer, EVP_sha256()) > 0, "leaf signature");

    m_certPem = CertPem(leaf.get());
    m_keyPem = KeyPem(leafKey.get());
    m_caCertPem = names.selfSigned ? m_certPem : CertPem(ca.get());
}

bool TTestCertificate::WriteCAFile(const std::filesystem::path& path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << m_caCertPem;
    return static_cast<bool>(out.flush());
}

} // namespace pellix::test

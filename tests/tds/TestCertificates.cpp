#include "tests/tds/TestCertificates.h"

#include <QDir>
#include <QFile>

#include <memory>
#include <stdexcept>

#ifdef BMP2JPG_TDS_TLS
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

void check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("making the test certificates: ") + what);
}

Key newKey()
{
    Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    check(key != nullptr, "EC key");
    return key;
}

// Signed by `issuer` (with `issuerKey`), or by itself when there is none.
Certificate newCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                           const char* names = nullptr)
{
    static long serial = 1;
    Certificate x509(X509_new(), X509_free);
    X509* x = x509.get();
    const bool ca = issuer == nullptr;
    check(X509_set_version(x, 2) && ASN1_INTEGER_set(X509_get_serialNumber(x), serial++) &&
              X509_gmtime_adj(X509_getm_notBefore(x), -3600) && X509_gmtime_adj(X509_getm_notAfter(x), 24 * 3600) &&
              X509_set_pubkey(x, key) &&
              X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0) &&
              X509_set_issuer_name(x, X509_get_subject_name(ca ? x : issuer)),
          "certificate fields");
    X509V3_CTX context;
    X509V3_set_ctx(&context, ca ? x : issuer, x, nullptr, nullptr, 0);
    const auto add = [&](int nid, const char* value) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        check(extension && X509_add_ext(x, extension, -1), value);
        X509_EXTENSION_free(extension);
    };
    add(NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    add(NID_key_usage, ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    add(NID_subject_key_identifier, "hash");
    if (!ca) {
        add(NID_authority_key_identifier, "keyid:always");
        add(NID_ext_key_usage, "serverAuth");
        add(NID_subject_alt_name, names);
    }
    check(X509_sign(x, ca ? key : issuerKey, EVP_sha256()) > 0, "signature");
    return x509;
}

template <typename Write>
QByteArray pem(Write write)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    check(write(out.get()), "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, size);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), "writing a CA file");
}

} // namespace

TestCertificates MakeTestCertificates(const QString& folder, const char* names)
{
    const Key caKey = newKey();
    const Certificate ca = newCertificate(caKey.get(), "bmp2jpg test CA", nullptr, nullptr);
    const Key otherKey = newKey();
    const Certificate other = newCertificate(otherKey.get(), "unrelated test CA", nullptr, nullptr);
    const Key serverKey = newKey();
    const Certificate server = newCertificate(serverKey.get(), "bmp2jpg test server", ca.get(), caKey.get(), names);

    TestCertificates made;
    made.caFile = QDir(folder).filePath(QStringLiteral("ca.pem"));
    made.otherCaFile = QDir(folder).filePath(QStringLiteral("other-ca.pem"));
    writeFile(made.caFile, pem([&](BIO* out) { return PEM_write_bio_X509(out, ca.get()); }));
    writeFile(made.otherCaFile, pem([&](BIO* out) { return PEM_write_bio_X509(out, other.get()); }));
    made.server.certificate = pem([&](BIO* out) { return PEM_write_bio_X509(out, server.get()); });
    made.server.key = pem([&](BIO* out) {
        return PEM_write_bio_PrivateKey(out, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return made;
}
#else
TestCertificates MakeTestCertificates(const QString&, const char*)
{
    throw std::runtime_error("the scripted server was built without OpenSSL");
}
#endif

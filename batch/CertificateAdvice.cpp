#include "batch/CertificateAdvice.h"

#include <QRegularExpression>

QString WithCertificateAdvice(const QString& driverMessage, const CertificateCheck& certificate)
{
    // FreeTDS names no cause when it drops a connection before the login,
    // whether for a server without encryption or a certificate it rejects.
    static const QRegularExpression tlsWords(
        QStringLiteral(R"(certificate|\bSSL\b|\bTLS\b|encrypt|handshake|Adaptive Server connection failed)"),
        QRegularExpression::CaseInsensitiveOption);
    if (!certificate.verify || !tlsWords.match(driverMessage).hasMatch())
        return driverMessage;
    return driverMessage +
           QStringLiteral("\nThe server's certificate could not be checked (--verify-certificate): the server "
                          "offers no encryption, or its certificate is not signed by a CA this machine trusts, or it "
                          "does not name the server as given to --server. Install the server's CA in the system's "
                          "store (Debian: copy it as a .crt file to /usr/local/share/ca-certificates and run "
                          "update-ca-certificates) or, with FreeTDS, give it with --ca-file; give --server the name "
                          "the certificate holds; or, on a network you trust, leave out --verify-certificate.");
}

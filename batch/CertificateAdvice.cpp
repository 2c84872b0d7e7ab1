#include "batch/CertificateAdvice.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace {

struct CertificateAdvice {
    Q_DECLARE_TR_FUNCTIONS(CertificateAdvice)
};

}  // namespace

QString WithCertificateAdvice(const QString& driverMessage, const CertificateCheck& certificate)
{
    // FreeTDS names no cause when it drops a connection before the login,
    // whether for a server without encryption or a certificate it rejects.
    static const QRegularExpression tlsWords(
        QStringLiteral(R"(certificate|\bSSL\b|\bTLS\b|encrypt|handshake|Adaptive Server connection failed)"),
        QRegularExpression::CaseInsensitiveOption);
    if (!certificate.verify || !tlsWords.match(driverMessage).hasMatch())
        return driverMessage;
    return driverMessage + u'\n' +
           CertificateAdvice::tr("The server's certificate could not be checked (--verify-certificate): the server "
                                 "offers no encryption, or its certificate is not signed by a CA this machine trusts, "
                                 "or it does not name the server as given to --server. Install the server's CA in the "
                                 "system's store (%1) or, with FreeTDS, give it with --ca-file; give --server the name "
                                 "the certificate holds; or, on a network you trust, leave out --verify-certificate.")
               .arg(StoreAdviceInOurLanguage(AddToSystemCertificateStore()));
}

QString StoreAdviceInOurLanguage(const QString& storeAdvice)
{
    // data/ marks its wording for translation in this context.
    return QCoreApplication::translate("CertificateStore", storeAdvice.toUtf8().constData());
}

#include "tests/tds/TdsChannel.h"

#include "tests/tds/TdsTokenWriter.h"

#include <QTcpSocket>

#ifdef BMP2JPG_TDS_TLS
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

struct TdsChannel::Tls {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context{nullptr, SSL_CTX_free};
    std::unique_ptr<SSL, decltype(&SSL_free)> session{nullptr, SSL_free};
    BIO* in = nullptr;   // owned by the session
    BIO* out = nullptr;  // owned by the session
    QByteArray plain;    // decrypted and not yet read

    QByteArray drain()
    {
        QByteArray bytes(int(BIO_ctrl_pending(out)), '\0');
        BIO_read(out, bytes.data(), int(bytes.size()));
        return bytes;
    }
};

namespace {

QString sslErrors()
{
    QStringList errors;
    while (const unsigned long e = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(e, text, sizeof text);
        errors << QString::fromLatin1(text);
    }
    return errors.isEmpty() ? QStringLiteral("no TLS error given") : errors.join(QLatin1String("; "));
}

} // namespace
#else
struct TdsChannel::Tls {};
#endif

TdsChannel::TdsChannel(QTcpSocket& socket, const std::atomic<bool>& stopping) : socket_(socket), stopping_(stopping) {}

TdsChannel::~TdsChannel() = default;

bool TdsChannel::receive(QByteArray& buffer, qsizetype most)
{
    while (true) {
        if (stopping_ || socket_.state() != QAbstractSocket::ConnectedState)
            return false;
        // Wakes at least every 100 ms to see whether the server is stopping.
        if (socket_.bytesAvailable() > 0 || socket_.waitForReadyRead(100)) {
            const QByteArray bytes = socket_.read(most);
            bytesIn_ += bytes.size();
            buffer += bytes;
            return true;
        }
    }
}

bool TdsChannel::fill(QByteArray& buffer, qsizetype size)
{
    while (buffer.size() < size) {
#ifdef BMP2JPG_TDS_TLS
        if (tls_) {
            if (!tls_->plain.isEmpty()) {
                const qsizetype taken = std::min(size - buffer.size(), tls_->plain.size());
                buffer += tls_->plain.left(taken);
                tls_->plain.remove(0, taken);
                continue;
            }
            char chunk[16384];
            const int read = SSL_read(tls_->session.get(), chunk, int(sizeof chunk));
            if (read > 0) {
                tls_->plain.append(chunk, read);
                continue;
            }
            if (SSL_get_error(tls_->session.get(), read) != SSL_ERROR_WANT_READ)
                return false;
            QByteArray raw;
            if (!receive(raw, sizeof chunk))
                return false;
            BIO_write(tls_->in, raw.constData(), int(raw.size()));
            continue;
        }
#endif
        if (!receive(buffer, size - buffer.size()))
            return false;
    }
    return true;
}

std::optional<TdsMessage> TdsChannel::read()
{
    std::optional<TdsMessage> message = ReadTdsMessage([this](QByteArray& buffer, qsizetype size) { return fill(buffer, size); });
    if (message)
        message->encrypted = encrypted();
    return message;
}

void TdsChannel::send(const QByteArray& raw)
{
    socket_.write(raw);
    bytesOut_ += raw.size();
    while (socket_.bytesToWrite() > 0 && !stopping_ && socket_.state() == QAbstractSocket::ConnectedState)
        socket_.waitForBytesWritten(100);
}

void TdsChannel::write(const QByteArray& bytes)
{
#ifdef BMP2JPG_TDS_TLS
    if (tls_) {
        SSL_write(tls_->session.get(), bytes.constData(), int(bytes.size()));  // a memory BIO takes it all
        send(tls_->drain());
        return;
    }
#endif
    send(bytes);
}

bool TdsChannel::tlsAvailable()
{
#ifdef BMP2JPG_TDS_TLS
    return true;
#else
    return false;
#endif
}

bool TdsChannel::startTls([[maybe_unused]] const ServerCertificate& certificate, QString& failure)
{
#ifdef BMP2JPG_TDS_TLS
    auto tls = std::make_unique<Tls>();
    tls->context.reset(SSL_CTX_new(TLS_server_method()));
    // SQL Server speaks at most TLS 1.2 under TDS 7.x; without tickets no
    // record follows the handshake's last flight.
    SSL_CTX_set_max_proto_version(tls->context.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(tls->context.get(), SSL_OP_NO_TICKET);
    const auto pem = [](const QByteArray& bytes) {
        return std::unique_ptr<BIO, decltype(&BIO_free)>(BIO_new_mem_buf(bytes.constData(), int(bytes.size())), BIO_free);
    };
    const std::unique_ptr<X509, decltype(&X509_free)> x509(PEM_read_bio_X509(pem(certificate.certificate).get(), nullptr, nullptr, nullptr),
                                                           X509_free);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(pem(certificate.key).get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    if (!x509 || !key || SSL_CTX_use_certificate(tls->context.get(), x509.get()) != 1 ||
        SSL_CTX_use_PrivateKey(tls->context.get(), key.get()) != 1) {
        failure = QStringLiteral("the server's certificate cannot be used: ") + sslErrors();
        return false;
    }
    tls->session.reset(SSL_new(tls->context.get()));
    tls->in = BIO_new(BIO_s_mem());
    tls->out = BIO_new(BIO_s_mem());
    SSL_set_bio(tls->session.get(), tls->in, tls->out);
    SSL_set_accept_state(tls->session.get());
    while (true) {
        const int done = SSL_do_handshake(tls->session.get());
        // SQL Server sends its handshake records in PRELOGIN packets too.
        if (const QByteArray flight = tls->drain(); !flight.isEmpty())
            send(TdsPackets(PreLogin, flight, 4096));
        if (done == 1)
            break;
        if (SSL_get_error(tls->session.get(), done) != SSL_ERROR_WANT_READ) {
            failure = QStringLiteral("TLS handshake failed: ") + sslErrors();
            return false;
        }
        const std::optional<TdsMessage> message = read();  // in clear: tls_ is set once the handshake is done
        if (!message) {
            failure = QStringLiteral("the client closed the connection during the TLS handshake");
            return false;
        }
        if (message->type != PreLogin) {
            failure = QStringLiteral("TLS handshake record in a message of type %1, not PRELOGIN").arg(message->type);
            return false;
        }
        BIO_write(tls->in, message->payload.constData(), int(message->payload.size()));
    }
    tls_ = std::move(tls);
    return true;
#else
    failure = QStringLiteral("the scripted server was built without OpenSSL");
    return false;
#endif
}

void TdsChannel::stopTls()
{
    tls_.reset();
}

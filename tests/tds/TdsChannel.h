#pragma once

#include "tests/tds/TdsRequestReader.h"

#include <QString>

#include <atomic>
#include <memory>

class QTcpSocket;

// A server certificate and its private key, both PEM.
struct ServerCertificate {
    QByteArray certificate;
    QByteArray key;
};

// One client connection's bytes, in clear or through TLS as SQL Server
// carries it: the handshake inside PRELOGIN packets, then TLS records
// straight on the socket with the TDS packets inside.
class TdsChannel {
public:
    TdsChannel(QTcpSocket& socket, const std::atomic<bool>& stopping);
    ~TdsChannel();
    TdsChannel(const TdsChannel&) = delete;
    TdsChannel& operator=(const TdsChannel&) = delete;

    std::optional<TdsMessage> read();
    void write(const QByteArray& bytes);

    // Whether this build can play a server with a certificate.
    static bool tlsAvailable();
    // The server's side of the handshake; on failure, says why and the
    // channel stays in clear.
    bool startTls(const ServerCertificate& certificate, QString& failure);
    // Back to clear, as after a login encrypted on its own.
    void stopTls();
    bool encrypted() const { return tls_ != nullptr; }

    // Bytes on the socket so far, TLS records included.
    qint64 bytesIn() const { return bytesIn_; }
    qint64 bytesOut() const { return bytesOut_; }

private:
    struct Tls;
    bool receive(QByteArray& buffer, qsizetype most);  // from the socket, in clear
    bool fill(QByteArray& buffer, qsizetype size);
    void send(const QByteArray& raw);

    QTcpSocket& socket_;
    const std::atomic<bool>& stopping_;
    std::unique_ptr<Tls> tls_;
    qint64 bytesIn_ = 0;
    qint64 bytesOut_ = 0;
};

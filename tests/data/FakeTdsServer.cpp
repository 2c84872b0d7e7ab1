#include "tests/data/FakeTdsServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <stdexcept>

namespace {

constexpr int waitMs = 3000;
constexpr char preLogin = 0x12;
constexpr char login7 = 0x10;

// One message: its packets' payloads up to the one marked last.
std::pair<char, QByteArray> readMessage(QTcpSocket& socket)
{
    QByteArray buffer;
    QByteArray payload;
    char type = 0;
    while (true) {
        while (buffer.size() < 8 || buffer.size() < qFromBigEndian<quint16>(buffer.constData() + 2)) {
            if (!socket.waitForReadyRead(waitMs))
                throw std::runtime_error("no TDS packet from the client");
            buffer += socket.readAll();
        }
        const int length = qFromBigEndian<quint16>(buffer.constData() + 2);
        type = buffer[0];
        const bool last = buffer[1] & 1;
        payload += buffer.mid(8, length - 8);
        buffer.remove(0, length);
        if (last)
            return {type, payload};
    }
}

// Pre-login answer: version 16.0, encryption not supported.
QByteArray preLoginReply()
{
    const QByteArray options = QByteArray::fromHex("00000b0006" "0100110001" "ff" "100000000000" "02");
    QByteArray packet = QByteArray::fromHex("0401000000000100");
    qToBigEndian<quint16>(quint16(8 + options.size()), packet.data() + 2);
    return packet + options;
}

QString loginText(const QByteArray& login, int field, bool scrambled)
{
    const int offset = qFromLittleEndian<quint16>(login.constData() + 36 + 4 * field);
    const int characters = qFromLittleEndian<quint16>(login.constData() + 38 + 4 * field);
    QByteArray bytes = login.mid(offset, 2 * characters);
    if (scrambled) {
        // Passwords travel with nibbles swapped and XORed with 0xA5.
        for (char& b : bytes) {
            const quint8 x = quint8(b) ^ 0xA5;
            b = char(quint8((x << 4) | (x >> 4)));
        }
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), characters);
}

} // namespace

FakeTdsServer::FakeTdsServer()
{
    std::promise<quint16> listening;
    std::future<quint16> port = listening.get_future();
    thread_ = std::thread([this, &listening] { serve(listening); });
    port_ = port.get();
}

FakeTdsServer::~FakeTdsServer()
{
    thread_.join();
}

TdsLogin FakeTdsServer::login()
{
    std::future<TdsLogin> received = login_.get_future();
    if (received.wait_for(std::chrono::milliseconds(2 * waitMs)) != std::future_status::ready)
        throw std::runtime_error("no login reached the fake server");
    return received.get();
}

void FakeTdsServer::serve(std::promise<quint16>& listening)
{
    try {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        listening.set_value(server.serverPort());
        if (!server.waitForNewConnection(waitMs))
            throw std::runtime_error("no client connected to the fake server");
        std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
        auto [type, message] = readMessage(*socket);
        if (type == preLogin) {
            socket->write(preLoginReply());
            socket->waitForBytesWritten(waitMs);
            std::tie(type, message) = readMessage(*socket);
        }
        if (type != login7)
            throw std::runtime_error("the client sent no login");
        login_.set_value({loginText(message, 1, false), loginText(message, 2, true), loginText(message, 8, false)});
    } catch (...) {
        login_.set_exception(std::current_exception());
    }
}

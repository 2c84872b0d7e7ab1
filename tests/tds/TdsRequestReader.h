#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <vector>

// Client message types.
enum TdsMessageType : quint8 { SqlBatch = 1, Rpc = 3, Attention = 6, TransactionManager = 14, Login7 = 16, PreLogin = 18 };

struct TdsMessage {
    quint8 type;
    QByteArray payload;  // the packets' payloads joined
    bool encrypted = false;  // it came through TLS
};

// Appends bytes to `buffer` until it holds `size`; false once the client hung
// up or the server stops.
using TdsByteReader = std::function<bool(QByteArray& buffer, qsizetype size)>;
// The next message, or nullopt once `fill` gave up.
std::optional<TdsMessage> ReadTdsMessage(const TdsByteReader& fill);

struct TdsLogin {
    QString user;
    QString password;  // unscrambled
    QString database;  // empty for the login's default
    int packetSize;
};
TdsLogin ParseLogin7(const QByteArray& payload);

// The statement text of a SQL batch.
QString ParseSqlBatch(const QByteArray& payload);

struct RpcParameter {
    QString name;
    QString type;  // as SQL Server would name it, for the log
    QVariant value;  // a null QVariant of the value's type for NULL
};
struct RpcCall {
    QString procedure;  // by name, also when the client sent a well-known id
    std::vector<RpcParameter> parameters;
};
// Throws std::runtime_error for types it does not know.
RpcCall ParseRpc(const QByteArray& payload);

// A transaction manager request (what FreeTDS sends when autocommit is
// switched off or a transaction ended through the driver).
struct TransactionRequest {
    int kind;           // 5 begin, 7 commit, 8 rollback
    bool beginAnother;  // a commit or rollback that starts the next transaction
};
TransactionRequest ParseTransactionRequest(const QByteArray& payload);

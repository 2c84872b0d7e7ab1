#pragma once

#include "tests/tds/TdsTypes.h"

#include <QByteArray>

#include <functional>

// Token stream of a TDS 7.4 server reply, as SQL Server lays it out. It holds
// nothing 7.4 added (FEATUREEXTACK, session recovery, UTF-8 collations), so
// it is a 7.3 server's reply as well.
class TdsTokenWriter {
public:
    enum Token : quint8 { Done = 0xFD, DoneProc = 0xFE, DoneInProc = 0xFF };
    enum DoneStatus : quint16 { More = 0x01, Failed = 0x02, Count = 0x10, Attention = 0x20 };
    enum EnvChange : quint8 {
        Database = 1, Language = 2, PacketSize = 4, Collation = 7, BeginTransaction = 8, CommitTransaction = 9,
        RollbackTransaction = 10
    };

    void loginAck(const QString& version);  // "15.0.4153.1"
    void envChange(EnvChange type, const QString& now, const QString& before);
    void envChange(EnvChange type, const QByteArray& now, const QByteArray& before);
    void info(int number, const QString& text);
    void error(const SqlFailure& failure);
    void columns(const std::vector<SqlColumn>& columns);
    // Large values are cut to textSize bytes, as SQL Server cuts them.
    void row(const std::vector<SqlColumn>& columns, const SqlRow& values, qint64 textSize);
    void done(Token token, quint16 status, quint16 command, quint64 count);
    void returnStatus(qint32 value);
    void returnInt(quint16 ordinal, const QString& name, qint32 value);

    QByteArray take() { return std::exchange(bytes_, {}); }
    // The collation of text columns that name none.
    void setDatabaseCollation(const QString& collation) { databaseCollation_ = collation; }

private:
    void message(quint8 token, int number, const QString& text, int state, int severity);
    void typeInfo(const SqlColumn& column);
    void value(const SqlColumn& column, const QVariant& value, qint64 textSize);

    SqlColumn collated(SqlColumn column) const;

    QByteArray bytes_;
    QString databaseCollation_ = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
};

// The payload cut into packets of the given type and at most packetSize bytes.
QByteArray TdsPackets(quint8 type, const QByteArray& payload, int packetSize);
// The same handed to `send` a few hundred KB at a time, as they are made, so
// that a large answer is on its way before the whole of it is made.
void SendTdsPackets(quint8 type, const QByteArray& payload, int packetSize, const std::function<void(const QByteArray&)>& send);

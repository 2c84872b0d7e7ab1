#include "tests/tds/TdsTokenWriter.h"

#include <QtEndian>

namespace {

// SQL_Latin1_General_CP1_CI_AS: LCID 0x0409 with its sort flags, sort id 52.
const QByteArray latin1Collation = QByteArray::fromHex("0904d00034");

template <typename T>
void put(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

QByteArray utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

void putBVarchar(QByteArray& out, const QString& text)
{
    put<quint8>(out, quint8(text.size()));
    out += utf16(text);
}

void putUsVarchar(QByteArray& out, const QString& text)
{
    put<quint16>(out, quint16(text.size()));
    out += utf16(text);
}

// Tokens whose length follows the token byte as a USHORT.
void putSized(QByteArray& out, quint8 token, const QByteArray& body)
{
    put<quint8>(out, token);
    put<quint16>(out, quint16(body.size()));
    out += body;
}

} // namespace

void TdsTokenWriter::loginAck()
{
    QByteArray body;
    put<quint8>(body, 1);  // SQL interface
    body += QByteArray::fromHex("74000004");  // TDS 7.4, in the order it is sent
    putBVarchar(body, QStringLiteral("Microsoft SQL Server"));
    body += QByteArray::fromHex("10000fa0");  // 16.0.4000
    putSized(bytes_, 0xAD, body);
}

void TdsTokenWriter::envChange(EnvChange type, const QString& now, const QString& before)
{
    QByteArray body;
    put<quint8>(body, type);
    putBVarchar(body, now);
    putBVarchar(body, before);
    putSized(bytes_, 0xE3, body);
}

void TdsTokenWriter::envChange(EnvChange type, const QByteArray& now, const QByteArray& before)
{
    QByteArray body;
    put<quint8>(body, type);
    put<quint8>(body, quint8(now.size()));
    body += now;
    put<quint8>(body, quint8(before.size()));
    body += before;
    putSized(bytes_, 0xE3, body);
}

void TdsTokenWriter::message(quint8 token, int number, const QString& text, int state, int severity)
{
    QByteArray body;
    put<qint32>(body, number);
    put<quint8>(body, quint8(state));
    put<quint8>(body, quint8(severity));
    putUsVarchar(body, text);
    putBVarchar(body, QStringLiteral("SCRIPTED"));
    putBVarchar(body, QString());
    put<qint32>(body, 1);
    putSized(bytes_, token, body);
}

void TdsTokenWriter::info(int number, const QString& text)
{
    message(0xAB, number, text, 1, 0);
}

void TdsTokenWriter::error(const SqlFailure& failure)
{
    message(0xAA, failure.number, failure.text, 1, failure.severity);
}

void TdsTokenWriter::typeInfo(const SqlColumn& column)
{
    switch (column.type) {
    case SqlType::Int: bytes_ += QByteArray::fromHex("2604"); break;
    case SqlType::BigInt: bytes_ += QByteArray::fromHex("2608"); break;
    case SqlType::Bit: bytes_ += QByteArray::fromHex("6801"); break;
    case SqlType::NVarChar:
        put<quint8>(bytes_, 0xE7);
        put<quint16>(bytes_, quint16(column.size * 2));
        bytes_ += latin1Collation;
        break;
    case SqlType::VarChar:
        put<quint8>(bytes_, 0xA7);
        put<quint16>(bytes_, quint16(column.size));
        bytes_ += latin1Collation;
        break;
    case SqlType::VarBinary:
        put<quint8>(bytes_, 0xA5);
        put<quint16>(bytes_, quint16(column.size));
        break;
    case SqlType::VarBinaryMax:
        put<quint8>(bytes_, 0xA5);
        put<quint16>(bytes_, 0xFFFF);
        break;
    case SqlType::Image:
        put<quint8>(bytes_, 0x22);
        put<quint32>(bytes_, 0x7FFFFFFF);
        put<quint8>(bytes_, 2);  // the table's name in parts
        putUsVarchar(bytes_, QStringLiteral("dbo"));
        putUsVarchar(bytes_, QStringLiteral("BAC1"));
        break;
    }
}

void TdsTokenWriter::columns(const std::vector<SqlColumn>& columns)
{
    put<quint8>(bytes_, 0x81);
    put<quint16>(bytes_, quint16(columns.size()));
    for (const SqlColumn& column : columns) {
        put<quint32>(bytes_, 0);       // user type
        put<quint16>(bytes_, 0x0009);  // nullable, updatable
        typeInfo(column);
        putBVarchar(bytes_, column.name);
    }
}

void TdsTokenWriter::value(const SqlColumn& column, const QVariant& value, qint64 textSize)
{
    const bool null = value.isNull();
    QByteArray bytes;
    if (!null && column.type != SqlType::Int && column.type != SqlType::BigInt && column.type != SqlType::Bit)
        bytes = column.type == SqlType::NVarChar ? utf16(value.toString())
                : column.type == SqlType::VarChar ? value.toString().toLatin1()
                                                  : value.toByteArray();
    if (CutToTextSize(column.type))
        bytes.truncate(textSize);
    switch (column.type) {
    case SqlType::Int:
    case SqlType::BigInt:
    case SqlType::Bit: {
        const int size = column.type == SqlType::Int ? 4 : column.type == SqlType::BigInt ? 8 : 1;
        put<quint8>(bytes_, null ? 0 : quint8(size));
        if (!null) {
            char little[8];
            qToLittleEndian(value.toLongLong(), little);
            bytes_.append(little, size);
        }
        break;
    }
    case SqlType::NVarChar:
    case SqlType::VarChar:
    case SqlType::VarBinary:
        put<quint16>(bytes_, null ? 0xFFFF : quint16(bytes.size()));
        bytes_ += bytes;
        break;
    case SqlType::VarBinaryMax:
        // PLP: total length, chunks, a zero-length chunk to end.
        put<quint64>(bytes_, null ? ~quint64(0) : quint64(bytes.size()));
        if (null)
            break;
        if (!bytes.isEmpty()) {
            put<quint32>(bytes_, quint32(bytes.size()));
            bytes_ += bytes;
        }
        put<quint32>(bytes_, 0);
        break;
    case SqlType::Image:
        if (null) {
            put<quint8>(bytes_, 0);  // no text pointer
            break;
        }
        put<quint8>(bytes_, 16);
        bytes_ += QByteArray(16, '\x01') + QByteArray(8, '\x02');  // text pointer, timestamp
        put<quint32>(bytes_, quint32(bytes.size()));
        bytes_ += bytes;
        break;
    }
}

void TdsTokenWriter::row(const std::vector<SqlColumn>& columns, const SqlRow& values, qint64 textSize)
{
    put<quint8>(bytes_, 0xD1);
    for (size_t i = 0; i < columns.size(); ++i)
        value(columns[i], values[i], textSize);
}

void TdsTokenWriter::done(Token token, quint16 status, quint16 command, quint64 count)
{
    put<quint8>(bytes_, token);
    put<quint16>(bytes_, status);
    put<quint16>(bytes_, command);
    put<quint64>(bytes_, count);
}

void TdsTokenWriter::returnStatus(qint32 value)
{
    put<quint8>(bytes_, 0x79);
    put<qint32>(bytes_, value);
}

void TdsTokenWriter::returnInt(quint16 ordinal, const QString& name, qint32 value)
{
    put<quint8>(bytes_, 0xAC);
    put<quint16>(bytes_, ordinal);
    putBVarchar(bytes_, name);
    put<quint8>(bytes_, 0x01);  // an output parameter
    put<quint32>(bytes_, 0);
    put<quint16>(bytes_, 0x0001);
    bytes_ += QByteArray::fromHex("260404");
    put<qint32>(bytes_, value);
}

QByteArray TdsPackets(quint8 type, const QByteArray& payload, int packetSize)
{
    const int room = packetSize - 8;
    QByteArray out;
    quint8 id = 1;
    qsizetype at = 0;
    do {
        const qsizetype size = std::min<qsizetype>(room, payload.size() - at);
        const bool last = at + size == payload.size();
        put<quint8>(out, type);
        put<quint8>(out, last ? 1 : 0);
        put<quint16>(out, qToBigEndian(quint16(size + 8)));  // the header's numbers are big-endian
        put<quint16>(out, qToBigEndian(quint16(51)));        // server process id
        put<quint8>(out, id++);
        put<quint8>(out, 0);
        out += payload.mid(at, size);
        at += size;
    } while (at < payload.size());
    return out;
}

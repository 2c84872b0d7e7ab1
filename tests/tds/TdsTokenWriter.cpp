#include "tests/tds/TdsTokenWriter.h"

#include "tests/tds/SqlValues.h"

#include <QtEndian>

#include <utility>

#include <stdexcept>

namespace {

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

void TdsTokenWriter::loginAck(const QString& version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    QByteArray body;
    put<quint8>(body, 1);  // SQL interface
    // 2008 and 2008 R2 (10.x) know TDS 7.3 at most and answer it whatever the
    // client offered; later versions 7.4. In the order it is sent.
    body += QByteArray::fromHex(parts.value(0).toInt() == 10 ? "730b0003" : "74000004");
    putBVarchar(body, QStringLiteral("Microsoft SQL Server"));
    put<quint8>(body, quint8(parts.value(0).toUInt()));
    put<quint8>(body, quint8(parts.value(1).toUInt()));
    put<quint16>(body, qToBigEndian(quint16(parts.value(2).toUInt())));  // the build number
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

SqlColumn TdsTokenWriter::collated(SqlColumn column) const
{
    if (column.collation.isEmpty())
        column.collation = databaseCollation_;
    return column;
}

void TdsTokenWriter::typeInfo(const SqlColumn& column)
{
    const bool max = CutToTextSize(column) && !IsLargeObject(column.type);
    const auto sized = [&](quint8 token, bool collated) {
        put<quint8>(bytes_, token);
        put<quint16>(bytes_, max ? 0xFFFF : quint16(MaxLength(column)));
        if (collated)
            bytes_ += CollationInfo(column.collation);
    };
    const auto large = [&](quint8 token, bool collated) {
        put<quint8>(bytes_, token);
        put<quint32>(bytes_, 0x7FFFFFFF);
        if (collated)
            bytes_ += CollationInfo(column.collation);
        put<quint8>(bytes_, 2);  // the table's name in parts
        putUsVarchar(bytes_, QStringLiteral("dbo"));
        putUsVarchar(bytes_, QStringLiteral("BAC1"));
    };
    switch (column.type) {
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::BigInt:
        put<quint8>(bytes_, 0x26);
        put<quint8>(bytes_, quint8(MaxLength(column)));
        break;
    case SqlType::Bit: bytes_ += QByteArray::fromHex("6801"); break;
    case SqlType::Numeric:
    case SqlType::Decimal:
        put<quint8>(bytes_, column.type == SqlType::Numeric ? 0x6C : 0x6A);
        put<quint8>(bytes_, quint8(MaxLength(column)));
        put<quint8>(bytes_, quint8(column.precision));
        put<quint8>(bytes_, quint8(column.scale));
        break;
    case SqlType::UniqueIdentifier: bytes_ += QByteArray::fromHex("2410"); break;
    case SqlType::Char: sized(0xAF, true); break;
    case SqlType::VarChar: sized(0xA7, true); break;
    case SqlType::NChar: sized(0xEF, true); break;
    case SqlType::NVarChar: sized(0xE7, true); break;
    case SqlType::Binary: sized(0xAD, false); break;
    case SqlType::VarBinary:
    case SqlType::VarBinaryMax: sized(0xA5, false); break;
    case SqlType::Image: large(0x22, false); break;
    case SqlType::Text: large(0x23, true); break;
    case SqlType::NText: large(0x63, true); break;
    }
}

void TdsTokenWriter::columns(const std::vector<SqlColumn>& columns)
{
    put<quint8>(bytes_, 0x81);
    put<quint16>(bytes_, quint16(columns.size()));
    for (const SqlColumn& column : columns) {
        put<quint32>(bytes_, 0);       // user type
        put<quint16>(bytes_, 0x0009);  // nullable, updatable
        typeInfo(collated(column));
        putBVarchar(bytes_, column.name);
    }
}

void TdsTokenWriter::value(const SqlColumn& column, const QVariant& value, qint64 textSize)
{
    const bool null = value.isNull();
    if (IsInteger(column.type) || column.type == SqlType::UniqueIdentifier) {
        QByteArray bytes = StoredBytes(value, column);
        if (IsInteger(column.type))
            std::reverse(bytes.begin(), bytes.end());  // little-endian on the wire
        put<quint8>(bytes_, quint8(bytes.size()));
        bytes_ += bytes;
        return;
    }
    if (IsExactDecimal(column.type)) {
        put<quint8>(bytes_, null ? 0 : quint8(MaxLength(column)));
        if (null)
            return;
        if (MaxLength(column) > 9)
            throw std::runtime_error("the scripted server sends numeric values of at most 18 digits");
        const QString text = value.toString();
        const qulonglong magnitude = QString(text).remove(QLatin1Char('-')).remove(QLatin1Char('.')).toULongLong();
        put<quint8>(bytes_, text.startsWith(QLatin1Char('-')) ? 0 : 1);
        char little[8];
        qToLittleEndian(magnitude, little);
        bytes_.append(little, MaxLength(column) - 1);
        return;
    }
    QByteArray bytes = StoredBytes(value, column);
    if (CutToTextSize(column))
        bytes.truncate(textSize);
    if (IsLargeObject(column.type)) {
        if (null) {
            put<quint8>(bytes_, 0);  // no text pointer
            return;
        }
        put<quint8>(bytes_, 16);
        bytes_ += QByteArray(16, '\x01') + QByteArray(8, '\x02');  // text pointer, timestamp
        put<quint32>(bytes_, quint32(bytes.size()));
        bytes_ += bytes;
    } else if (CutToTextSize(column)) {
        // PLP: total length, chunks, a zero-length chunk to end.
        put<quint64>(bytes_, null ? ~quint64(0) : quint64(bytes.size()));
        if (null)
            return;
        if (!bytes.isEmpty()) {
            put<quint32>(bytes_, quint32(bytes.size()));
            bytes_ += bytes;
        }
        put<quint32>(bytes_, 0);
    } else {
        put<quint16>(bytes_, null ? 0xFFFF : quint16(bytes.size()));
        bytes_ += bytes;
    }
}

void TdsTokenWriter::row(const std::vector<SqlColumn>& columns, const SqlRow& values, qint64 textSize)
{
    put<quint8>(bytes_, 0xD1);
    for (size_t i = 0; i < columns.size(); ++i)
        value(collated(columns[i]), values[i], textSize);
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

void SendTdsPackets(quint8 type, const QByteArray& payload, int packetSize, const std::function<void(const QByteArray&)>& send)
{
    constexpr qsizetype runBytes = 256 * 1024;
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
        out.append(payload.constData() + at, size);
        at += size;
        if (last || out.size() >= runBytes)
            send(std::exchange(out, {}));
    } while (at < payload.size());
}

QByteArray TdsPackets(quint8 type, const QByteArray& payload, int packetSize)
{
    QByteArray packets;
    SendTdsPackets(type, payload, packetSize, [&packets](const QByteArray& run) { packets += run; });
    return packets;
}

#include "tests/tds/TdsRequestReader.h"

#include "tests/tds/CodePage.h"
#include "tests/tds/SqlValues.h"

#include <QtEndian>

#include <stdexcept>

namespace {

// Reads little-endian fields from a payload, refusing to run past its end.
class Cursor {
public:
    explicit Cursor(const QByteArray& bytes, qsizetype at = 0) : bytes_(bytes), at_(at) {}

    bool atEnd() const { return at_ >= bytes_.size(); }
    QByteArray take(qsizetype size)
    {
        if (size < 0 || size > bytes_.size() - at_)
            throw std::runtime_error("TDS request shorter than its fields say");
        const QByteArray part = bytes_.mid(at_, size);
        at_ += size;
        return part;
    }
    template <typename T>
    T number()
    {
        return qFromLittleEndian<T>(take(sizeof(T)).constData());
    }
    QString utf16(qsizetype characters)
    {
        const QByteArray raw = take(characters * 2);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), characters);
    }
    // TDS 7.2 and later start batches and calls with headers (transaction, notifications).
    void skipAllHeaders() { take(qFromLittleEndian<quint32>(bytes_.mid(at_, 4).constData())); }

private:
    const QByteArray& bytes_;
    qsizetype at_;
};

QByteArray readPlp(Cursor& in, bool& null)
{
    const quint64 total = in.number<quint64>();
    null = total == ~quint64(0);
    QByteArray value;
    if (null)
        return value;
    while (const quint32 chunk = in.number<quint32>())
        value += in.take(chunk);
    return value;
}

QVariant nullOf(QMetaType type)
{
    return QVariant(type);
}

// One parameter's TYPE_INFO and value.
RpcParameter readParameter(Cursor& in)
{
    RpcParameter p;
    p.name = in.utf16(in.number<quint8>());
    in.number<quint8>();  // status flags
    const quint8 type = in.number<quint8>();
    switch (type) {
    case 0x26: case 0x68: case 0x30: case 0x34: case 0x38: case 0x7F: case 0x32: {  // integers and bits
        const bool variable = type == 0x26 || type == 0x68;
        const int fixed = type == 0x30 || type == 0x32 ? 1 : type == 0x34 ? 2 : type == 0x38 ? 4 : 8;
        const int declared = variable ? in.number<quint8>() : fixed;
        const int size = variable ? in.number<quint8>() : fixed;
        p.type = type == 0x68 || type == 0x32 ? QStringLiteral("bit")
                 : declared == 8                ? QStringLiteral("bigint")
                                                : QStringLiteral("int");
        if (size == 0) {
            p.value = nullOf(QMetaType::fromType<qlonglong>());
            break;
        }
        const QByteArray raw = in.take(size);
        p.value = size == 1 ? qlonglong(quint8(raw[0])) : size == 2 ? qlonglong(qFromLittleEndian<qint16>(raw.constData()))
                  : size == 4 ? qlonglong(qFromLittleEndian<qint32>(raw.constData()))
                              : qlonglong(qFromLittleEndian<qint64>(raw.constData()));
        break;
    }
    case 0xA5: case 0xAD: case 0xA7: case 0xAF: case 0xE7: case 0xEF: {  // binary and character, sized or max
        const quint16 declared = in.number<quint16>();
        const bool binary = type == 0xA5 || type == 0xAD;
        const bool wide = type == 0xE7 || type == 0xEF;
        // Narrow text comes in the code page of the collation sent with it.
        const int codePage = binary ? 0 : CodePageOfInfo(in.take(5));
        bool null = false;
        QByteArray raw;
        if (declared == 0xFFFF) {
            raw = readPlp(in, null);
        } else {
            const quint16 size = in.number<quint16>();
            null = size == 0xFFFF;
            raw = null ? QByteArray() : in.take(size);
        }
        const QString base = binary ? QStringLiteral("varbinary") : wide ? QStringLiteral("nvarchar") : QStringLiteral("varchar");
        p.type = base + (declared == 0xFFFF ? QStringLiteral("(max)") : QStringLiteral("(%1)").arg(wide ? declared / 2 : declared));
        if (binary)
            p.value = null ? nullOf(QMetaType::fromType<QByteArray>()) : QVariant(raw);
        else if (null)
            p.value = nullOf(QMetaType::fromType<QString>());
        else
            p.value = wide ? QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2)
                           : CodePageText(raw, codePage);
        break;
    }
    case 0x22: case 0x23: case 0x63: {  // image, text, ntext
        in.number<quint32>();
        const int codePage = type == 0x22 ? 0 : CodePageOfInfo(in.take(5));
        const quint32 size = in.number<quint32>();
        const bool null = size == 0xFFFFFFFF;
        const QByteArray raw = null ? QByteArray() : in.take(size);
        p.type = type == 0x22 ? QStringLiteral("image") : type == 0x23 ? QStringLiteral("text") : QStringLiteral("ntext");
        if (type == 0x22)
            p.value = null ? nullOf(QMetaType::fromType<QByteArray>()) : QVariant(raw);
        else
            p.value = null ? nullOf(QMetaType::fromType<QString>())
                      : type == 0x63 ? QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2)
                                     : CodePageText(raw, codePage);
        break;
    }
    default:
        throw std::runtime_error("RPC parameter of TDS type 0x" + QByteArray::number(type, 16).toStdString() +
                                 " is not supported by the scripted server");
    }
    return p;
}

QString procedureName(quint16 id)
{
    static const char* const names[] = {nullptr,           "sp_cursor",      "sp_cursoropen", "sp_cursorprepare",
                                        "sp_cursorexecute", "sp_cursorprepexec", "sp_cursorunprepare", "sp_cursorfetch",
                                        "sp_cursoroption", "sp_cursorclose", "sp_executesql", "sp_prepare",
                                        "sp_execute",      "sp_prepexec",    "sp_prepexecrpc", "sp_unprepare"};
    return id > 0 && id < std::size(names) ? QString::fromLatin1(names[id]) : QStringLiteral("procedure id %1").arg(id);
}

} // namespace

std::optional<TdsMessage> ReadTdsMessage(const TdsByteReader& fill)
{
    TdsMessage message{0, {}};
    QByteArray buffer;
    while (true) {
        buffer.clear();
        if (!fill(buffer, 8))
            return std::nullopt;
        const quint16 length = qFromBigEndian<quint16>(buffer.constData() + 2);
        if (length < 8 || !fill(buffer, length))
            return std::nullopt;
        message.type = quint8(buffer[0]);
        message.payload += buffer.mid(8);
        if (buffer[1] & 0x01)  // end of message
            return message;
    }
}

TdsLogin ParseLogin7(const QByteArray& payload)
{
    Cursor fixed(payload, 8);
    const int packetSize = int(fixed.number<quint32>());
    const auto raw = [&](int field) {
        Cursor in(payload, 36 + 4 * field);
        const quint16 offset = in.number<quint16>();
        const quint16 characters = in.number<quint16>();
        return Cursor(payload, offset).take(2 * characters);
    };
    const auto utf16 = [](const QByteArray& bytes) {
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    };
    // Passwords travel with each byte's nibbles swapped, then XORed with 0xA5.
    QByteArray password = raw(2);
    for (char& b : password) {
        const quint8 x = quint8(b) ^ 0xA5;
        b = char(quint8((x << 4) | (x >> 4)));
    }
    return {utf16(raw(1)), utf16(password), utf16(raw(8)), packetSize};
}

QString ParseSqlBatch(const QByteArray& payload)
{
    Cursor in(payload);
    in.skipAllHeaders();
    QString text;
    while (!in.atEnd())
        text += in.utf16(1);
    return text;
}

RpcCall ParseRpc(const QByteArray& payload)
{
    Cursor in(payload);
    in.skipAllHeaders();
    RpcCall call;
    const quint16 nameLength = in.number<quint16>();
    call.procedure = nameLength == 0xFFFF ? procedureName(in.number<quint16>()) : in.utf16(nameLength);
    in.number<quint16>();  // option flags
    while (!in.atEnd())
        call.parameters.push_back(readParameter(in));
    return call;
}

TransactionRequest ParseTransactionRequest(const QByteArray& payload)
{
    Cursor in(payload);
    in.skipAllHeaders();
    TransactionRequest request{in.number<quint16>(), false};
    if (request.kind == 7 || request.kind == 8) {
        in.take(in.number<quint8>());  // transaction name
        request.beginAnother = !in.atEnd() && (in.number<quint8>() & 0x01);
    }
    return request;
}

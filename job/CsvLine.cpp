#include "job/CsvLine.h"

#include "data/ExactText.h"

#include <utility>

namespace {

const QString kBytes = QStringLiteral("'\\x");
const QString kUnits = QStringLiteral("'\\u");

QString Written(const QString& field)
{
    if (!field.isValidUtf16()) {
        if (const std::optional<QByteArray> bytes = ExactBytes(field))
            return kBytes + QString::fromLatin1(bytes->toHex());
        QByteArray units;
        for (const QChar unit : field)
            units += QByteArray::number(unit.unicode(), 16).rightJustified(4, '0');
        return kUnits + QString::fromLatin1(units);
    }
    if (!field.isEmpty() && QStringView(u"=+-@\t\r'").contains(field.front()))
        return u'\'' + field;
    return field;
}

QString Read(const QString& field)
{
    if (field.startsWith(kBytes))
        return ExactText(QByteArray::fromHex(field.mid(kBytes.size()).toLatin1()));
    if (field.startsWith(kUnits)) {
        QString text;
        for (qsizetype at = kUnits.size(); at + 4 <= field.size(); at += 4)
            text += QChar(char16_t(field.mid(at, 4).toUShort(nullptr, 16)));
        return text;
    }
    return field.startsWith(u'\'') ? field.mid(1) : field;
}

}  // namespace

QString CsvLine(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& given : fields) {
        const QString field = Written(given);
        if (field.contains(u',') || field.contains(u'"') || field.contains(u'\n') || field.contains(u'\r'))
            quoted << u'"' + QString(field).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
        else
            quoted << field;
    }
    return quoted.join(u',') + u'\n';
}

std::vector<QStringList> ParseCsv(const QString& text)
{
    std::vector<QStringList> records;
    QStringList fields;
    QString field;
    bool inQuotes = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c != u'"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else
                inQuotes = false;
        } else if (c == u'"') {
            inQuotes = true;
        } else if (c == u',') {
            fields << Read(std::exchange(field, QString()));
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            // A file saved by a Windows editor ends its lines so.
        } else if (c == u'\n') {
            fields << Read(std::exchange(field, QString()));
            records.push_back(std::exchange(fields, QStringList()));
        } else {
            field += c;
        }
    }
    return records;
}

#include "batch/CsvLine.h"

#include <utility>

QString CsvLine(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& field : fields) {
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
            fields << std::exchange(field, QString());
        } else if (c == u'\n') {
            fields << std::exchange(field, QString());
            records.push_back(std::exchange(fields, QStringList()));
        } else {
            field += c;
        }
    }
    return records;
}

#include "batch/RunReport.h"

#include "batch/CsvLine.h"
#include "batch/DurableFile.h"

#include <QDir>

#include <stdexcept>

RunReport::RunReport(const QString& path, bool dryRun) : file_(path), dryRun_(dryRun)
{
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(QStringLiteral("cannot write the report \"%1\": %2")
                                     .arg(QDir::toNativeSeparators(path), file_.errorString())
                                     .toStdString());
    write(CsvLine({QStringLiteral("column"), QStringLiteral("key"), QStringLiteral("BCE01"), QStringLiteral("outcome"),
                   QStringLiteral("bytes before"), QStringLiteral("bytes after")}));
}

RunReport::~RunReport()
{
    try {
        SyncFile(file_);
    } catch (const std::exception&) {
        // Every line reached the system already; only the flush to disk is missing.
    }
}

QString RunReport::OutcomeName(ValueKind kind, bool dryRun)
{
    if (kind != ValueKind::Bitmap)
        return KindName(kind);
    return dryRun ? QStringLiteral("would convert") : QStringLiteral("converted");
}

void RunReport::outcome(const VisitedValue& value, ValueKind kind, qint64 bytesAfter)
{
    line(value, OutcomeName(kind, dryRun_), bytesAfter);
}

void RunReport::failed(const VisitedValue& value)
{
    line(value, FailedName(), value.bytes);
}

void RunReport::line(const VisitedValue& value, const QString& outcome, qint64 bytesAfter)
{
    write(CsvLine({value.column, value.key, value.bce01, outcome, QString::number(value.bytes),
                   QString::number(bytesAfter)}));
}

// Each line goes to the system as it is written: a kill loses none.
void RunReport::write(const QString& line)
{
    const QByteArray text = line.toUtf8();
    if (file_.write(text) != text.size() || !file_.flush())
        throw std::runtime_error(QStringLiteral("cannot write the report \"%1\": %2")
                                     .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString())
                                     .toStdString());
}

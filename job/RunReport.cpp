#include "job/RunReport.h"

#include "job/CsvLine.h"
#include "job/DurableFile.h"
#include "job/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace {

QString Header()
{
    return CsvLine({QStringLiteral("column"), QStringLiteral("key"), QStringLiteral("BCE01"), QStringLiteral("outcome"),
                    QStringLiteral("bytes before"), QStringLiteral("bytes after")});
}

}  // namespace

RunReport::RunReport(const QString& path, bool dryRun) : file_(path), dryRun_(dryRun)
{
    // Removed, not emptied: the new one is made afresh, never through a link.
    if ((IsEarlierReport(path) && !file_.remove()) || !CreatePrivateFile(file_, QIODevice::WriteOnly))
        throw std::runtime_error(QStringLiteral("cannot write the report \"%1\": %2")
                                     .arg(QDir::toNativeSeparators(path), file_.errorString())
                                     .toStdString());
    write(Header());
}

bool RunReport::IsEarlierReport(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return false;
    QFile file(path);
    const QByteArray header = Header().toUtf8();
    return file.open(QIODevice::ReadOnly) && header.startsWith(file.read(header.size()));
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

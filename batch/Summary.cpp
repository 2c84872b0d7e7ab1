#include "batch/Summary.h"

namespace {

QString Megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
}

// One line of the table of kinds, its header included.
QString TableLine(const QString& column, const QString& kind, const QString& values, const QString& bytes,
                  const QString& bytesAfter)
{
    return QStringLiteral("%1  %2  %3  %4  %5\n")
        .arg(column, -6)
        .arg(kind, -17)
        .arg(values, 8)
        .arg(bytes, 14)
        .arg(bytesAfter, 14);
}

QString TimeLine(double seconds)
{
    return QStringLiteral("Time: %1 s.\n").arg(seconds, 0, 'f', 1);
}

// What a dry run or a stop means for the values not counted `where`.
QString EndNotes(bool dryRun, RunEnd end, const QString& where)
{
    QString text;
    if (dryRun)
        text += QStringLiteral("Dry run: nothing was written.\n");
    if (end == RunEnd::StoppedByUser)
        text += QStringLiteral("Stopped by the user: the values not counted%1 were not visited and are unchanged.\n").arg(where);
    if (end == RunEnd::Failed)
        text += QStringLiteral("Stopped by a failure: the values not counted%1 are unchanged.\n").arg(where);
    return text;
}

}  // namespace

QString SummaryText(const std::vector<ColumnTally>& columns, bool dryRun, RunEnd end, double seconds, int retries)
{
    QString text = TableLine(QStringLiteral("column"), QStringLiteral("kind"), QStringLiteral("values"),
                             QStringLiteral("bytes"), dryRun ? QStringLiteral("bytes as JPEG") : QStringLiteral("bytes after"));
    qint64 converted = 0;
    ColumnTally::Count all;
    for (const ColumnTally& column : columns) {
        for (int kind = 0; kind < kValueKinds; ++kind) {
            const ColumnTally::Count& count = column.kinds[kind];
            text += TableLine(column.column, KindName(ValueKind(kind)), QString::number(count.values),
                              QString::number(count.bytes), QString::number(count.bytesAfter));
        }
        const ColumnTally::Count total = column.Total();
        all.values += total.values;
        all.bytes += total.bytes;
        all.bytesAfter += total.bytesAfter;
        converted += column[ValueKind::Bitmap].values;
    }
    text += QStringLiteral("\n") + EndNotes(dryRun, end, QStringLiteral(" above"));
    text += (dryRun ? QStringLiteral("Would convert %1 values and leave %2 unchanged.\n")
                    : QStringLiteral("Converted %1 values, left %2 unchanged.\n"))
                .arg(converted)
                .arg(all.values - converted);
    text += QStringLiteral("Bytes before: %1 (%2), after: %3 (%4).\n")
                .arg(all.bytes)
                .arg(Megabytes(all.bytes))
                .arg(all.bytesAfter)
                .arg(Megabytes(all.bytesAfter));
    if (retries > 0)
        text += QStringLiteral("Went back after a deadlock or a lock timeout: %1 times.\n").arg(retries);
    text += TimeLine(seconds);
    return text;
}

QString RestoreSummaryText(const RestoreTally& tally, bool dryRun, RunEnd end, double seconds)
{
    QString text = EndNotes(dryRun, end, QString());
    text += (dryRun ? QStringLiteral("Would restore %1 values.\n") : QStringLiteral("Restored %1 values.\n"))
                .arg(tally.restored);
    text += QStringLiteral("Already as backed up: %1.\nChanged since the backup, left as they are: %2.\n"
                           "Not found (row gone or value NULL): %3.\n")
                .arg(tally.alreadyOriginal)
                .arg(tally.changedSince)
                .arg(tally.notFound);
    if (tally.ambiguous > 0)
        text += QStringLiteral("Matching more than one row, left alone: %1.\n").arg(tally.ambiguous);
    if (tally.unusableFiles > 0)
        text += QStringLiteral("Backup files that could not be used, left alone: %1.\n").arg(tally.unusableFiles);
    text += TimeLine(seconds);
    return text;
}

#include "batch/Summary.h"

namespace {

QString Megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
}

}  // namespace

QString SummaryText(const std::vector<ColumnTally>& columns, bool dryRun, RunEnd end, double seconds)
{
    QString text = QStringLiteral("%1  %2  %3  %4  %5\n")
                       .arg(QStringLiteral("column"), -6)
                       .arg(QStringLiteral("kind"), -17)
                       .arg(QStringLiteral("values"), 8)
                       .arg(QStringLiteral("bytes"), 14)
                       .arg(dryRun ? QStringLiteral("bytes as JPEG") : QStringLiteral("bytes after"), 14);
    qint64 converted = 0;
    ColumnTally::Count all;
    for (const ColumnTally& column : columns) {
        for (int kind = 0; kind < kValueKinds; ++kind) {
            const ColumnTally::Count& count = column.kinds[kind];
            text += QStringLiteral("%1  %2  %3  %4  %5\n")
                        .arg(column.column, -6)
                        .arg(KindName(ValueKind(kind)), -17)
                        .arg(count.values, 8)
                        .arg(count.bytes, 14)
                        .arg(count.bytesAfter, 14);
        }
        const ColumnTally::Count total = column.Total();
        all.values += total.values;
        all.bytes += total.bytes;
        all.bytesAfter += total.bytesAfter;
        converted += column[ValueKind::Bitmap].values;
    }
    text += QStringLiteral("\n");
    if (dryRun)
        text += QStringLiteral("Dry run: nothing was written.\n");
    if (end == RunEnd::StoppedByUser)
        text += QStringLiteral("Stopped by the user: the values not counted above were not visited and are unchanged.\n");
    if (end == RunEnd::Failed)
        text += QStringLiteral("Stopped by a failure: the values not counted above are unchanged.\n");
    text += (dryRun ? QStringLiteral("Would convert %1 values and leave %2 unchanged.\n")
                    : QStringLiteral("Converted %1 values, left %2 unchanged.\n"))
                .arg(converted)
                .arg(all.values - converted);
    text += QStringLiteral("Bytes before: %1 (%2), after: %3 (%4).\n")
                .arg(all.bytes)
                .arg(Megabytes(all.bytes))
                .arg(all.bytesAfter)
                .arg(Megabytes(all.bytesAfter));
    text += QStringLiteral("Time: %1 s.\n").arg(seconds, 0, 'f', 1);
    return text;
}

QString RestoreSummaryText(const RestoreTally& tally, bool dryRun, RunEnd end, double seconds)
{
    QString text;
    if (dryRun)
        text += QStringLiteral("Dry run: nothing was written.\n");
    if (end == RunEnd::StoppedByUser)
        text += QStringLiteral("Stopped by the user: the values not counted were not visited and are unchanged.\n");
    if (end == RunEnd::Failed)
        text += QStringLiteral("Stopped by a failure: the values not counted are unchanged.\n");
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
    text += QStringLiteral("Time: %1 s.\n").arg(seconds, 0, 'f', 1);
    return text;
}

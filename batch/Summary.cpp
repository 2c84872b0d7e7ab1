#include "batch/Summary.h"

#include "batch/TerminalText.h"

#include <QCoreApplication>

namespace {

struct Summary {
    Q_DECLARE_TR_FUNCTIONS(Summary)
};

QString Megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
}

// One line of the table of kinds, its header included.
QString TableLine(const QString& column, const QString& kind, const QString& values, const QString& bytes,
                  const QString& bytesAfter)
{
    return QStringList{Padded(column, -6), Padded(kind, -17), Padded(values, 8), Padded(bytes, 14), Padded(bytesAfter, 14)}
               .join(QStringLiteral("  ")) +
           u'\n';
}

QString TimeLine(double seconds)
{
    return Summary::tr("Time: %1 s.\n").arg(seconds, 0, 'f', 1);
}

// What a dry run or a stop means for the values not counted `where`.
QString EndNotes(bool dryRun, RunEnd end, const QString& where)
{
    QString text;
    if (dryRun)
        text += Summary::tr("Dry run: nothing was written.\n");
    if (end == RunEnd::StoppedByUser)
        text += Summary::tr("Stopped by the user: the values not counted%1 were not visited and are unchanged.\n").arg(where);
    if (end == RunEnd::Failed)
        text += Summary::tr("Stopped by a failure: the values not counted%1 are unchanged.\n").arg(where);
    return text;
}

}  // namespace

QString SummaryText(const std::vector<ColumnTally>& columns, bool dryRun, RunEnd end, double seconds, int retries)
{
    QString text = TableLine(Summary::tr("column"), Summary::tr("kind"), Summary::tr("values"), Summary::tr("bytes"),
                             dryRun ? Summary::tr("bytes as JPEG") : Summary::tr("bytes after"));
    qint64 converted = 0;
    ColumnTally::Count all;
    for (const ColumnTally& column : columns) {
        for (int kind = 0; kind < kValueKinds; ++kind) {
            const ColumnTally::Count& count = column.kinds[kind];
            // job/ marks the kinds' names for translation in this context.
            text += TableLine(column.column,
                              QCoreApplication::translate("ValueKind", KindName(ValueKind(kind)).toUtf8().constData()), QString::number(count.values),
                              QString::number(count.bytes), QString::number(count.bytesAfter));
        }
        const ColumnTally::Count total = column.Total();
        all.values += total.values;
        all.bytes += total.bytes;
        all.bytesAfter += total.bytesAfter;
        converted += column[ValueKind::Bitmap].values;
    }
    text += QStringLiteral("\n") + EndNotes(dryRun, end, Summary::tr(" above"));
    text += (dryRun ? Summary::tr("Would convert %1 values and leave %2 unchanged.\n")
                    : Summary::tr("Converted %1 values, left %2 unchanged.\n"))
                .arg(converted)
                .arg(all.values - converted);
    text += Summary::tr("Bytes before: %1 (%2), after: %3 (%4).\n")
                .arg(all.bytes)
                .arg(Megabytes(all.bytes))
                .arg(all.bytesAfter)
                .arg(Megabytes(all.bytesAfter));
    if (retries > 0)
        text += Summary::tr("Went back after a deadlock or a lock timeout: %1 times.\n").arg(retries);
    text += TimeLine(seconds);
    return text;
}

QString RestoreSummaryText(const RestoreTally& tally, bool dryRun, RunEnd end, double seconds)
{
    QString text = EndNotes(dryRun, end, QString());
    text += (dryRun ? Summary::tr("Would restore %1 values.\n") : Summary::tr("Restored %1 values.\n"))
                .arg(tally.restored);
    text += Summary::tr("Already as backed up: %1.\nChanged since the backup, left as they are: %2.\n"
                           "Not found (row gone or value NULL): %3.\n")
                .arg(tally.alreadyOriginal)
                .arg(tally.changedSince)
                .arg(tally.notFound);
    if (tally.ambiguous > 0)
        text += Summary::tr("Matching more than one row, left alone: %1.\n").arg(tally.ambiguous);
    if (tally.unusableFiles > 0)
        text += Summary::tr("Backup files that could not be used, left alone: %1.\n").arg(tally.unusableFiles);
    text += TimeLine(seconds);
    return text;
}

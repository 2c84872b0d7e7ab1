#include "batch/OutputPaths.h"

#include "job/BackupManifest.h"
#include "batch/BatchErrors.h"
#include "job/RunReport.h"
#include "job/ImageTable.h"
#include "data/DatabaseFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <stdexcept>
#include <vector>

namespace {

struct OutputPaths {
    Q_DECLARE_TR_FUNCTIONS(OutputPaths)
};

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kNames = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kNames = Qt::CaseSensitive;
#endif

QString Shown(const QString& path)
{
    return u'"' + QDir::toNativeSeparators(path) + u'"';
}

// The path with its longest existing part resolved by the system.
QString Resolved(const QString& path)
{
    QString rest;
    QFileInfo part(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    for (;;) {
        const QString canonical = part.canonicalFilePath();
        if (!canonical.isEmpty())
            return rest.isEmpty() ? canonical : QDir(canonical).filePath(rest);
        if (part.isRoot())
            return part.absoluteFilePath();
        rest = rest.isEmpty() ? part.fileName() : part.fileName() + u'/' + rest;
        part = QFileInfo(part.absolutePath());
    }
}

bool Inside(const QString& path, const QString& folder)
{
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    return path.compare(folder, kNames) == 0 || path.startsWith(prefix, kNames);
}

// What an output path holds now, when it cannot be ours.
QString NotOurs(const QFileInfo& info)
{
    if (info.isSymLink())
        return OutputPaths::tr("a symbolic link");
    return info.isDir() ? OutputPaths::tr("a folder") : OutputPaths::tr("a file");
}

struct Output {
    QString option;  // as the command line names it: --report "x"
    QString path;    // where it writes
};

}  // namespace

void CheckOutputPaths(const BatchOptions& options, const QString& serverFolder)
{
    std::vector<Output> outputs;
    const QString report = QStringLiteral("--report ") + Shown(options.report);
    const QString backup = QStringLiteral("--backup ") + Shown(options.backup);
    if (!options.report.isEmpty())
        outputs.push_back({report, options.report});
    if (!options.backup.isEmpty()) {
        outputs.push_back({backup, options.backup});
        outputs.push_back({backup, QDir(options.backup).filePath(QLatin1String(kManifestName))});
        for (const PicturePass& pass : PicturePasses())
            outputs.push_back({backup, QDir(options.backup).filePath(pass.column)});
    }
    const std::optional<QString> database =
        serverFolder.isEmpty() ? std::nullopt : DatabaseFolder(serverFolder).databaseFile(options.connection.InitialCatalog);
    for (const Output& output : outputs) {
        const QString path = Resolved(output.path);
        if (database && path.compare(Resolved(*database), kNames) == 0)
            throw UsageError(OutputPaths::tr("%1 would write over the database file %2").arg(output.option, Shown(*database)));
        if (!serverFolder.isEmpty() && Inside(path, Resolved(serverFolder)))
            throw UsageError(OutputPaths::tr("%1 would write into the embedded server's folder %2")
                                 .arg(output.option, Shown(serverFolder)));
        if (output.option == report && !options.backup.isEmpty() && Inside(path, Resolved(options.backup)))
            throw UsageError(OutputPaths::tr("%1 would write into the --backup folder %2").arg(report, Shown(options.backup)));
    }

    const QFileInfo reportInfo(options.report);
    if (!options.report.isEmpty() && (reportInfo.exists() || reportInfo.isSymLink()) &&
        !RunReport::IsEarlierReport(options.report))
        throw UsageError(OutputPaths::tr("%1 is %2 that is not a report of an earlier run; it is left as it is")
                             .arg(report, NotOurs(reportInfo)));
    if (options.backup.isEmpty())
        return;
    const QFileInfo backupInfo(options.backup);
    if (backupInfo.exists() && !backupInfo.isDir())
        throw UsageError(OutputPaths::tr("%1 is %2, not a folder").arg(backup, NotOurs(backupInfo)));
    const QFileInfo manifest(QDir(options.backup).filePath(QLatin1String(kManifestName)));
    if (manifest.isSymLink() || manifest.isDir())
        throw UsageError(OutputPaths::tr("%1: %2 is %3, not a backup manifest")
                             .arg(backup, Shown(manifest.filePath()), NotOurs(manifest)));
    if (manifest.exists()) {
        try {
            ReadManifest(options.backup);
        } catch (const std::runtime_error& error) {
            throw UsageError(QStringLiteral("%1: %2").arg(backup, QString::fromUtf8(error.what())));
        }
    }
}

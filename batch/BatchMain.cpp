#include "batch/BatchMain.h"

#include "job/BackupFolder.h"
#include "batch/BatchErrors.h"
#include "batch/CertificateAdvice.h"
#include "batch/CommandLine.h"
#include "batch/Console.h"
#include "batch/OutputPaths.h"
#include "batch/Password.h"
#include "batch/Progress.h"
#include "batch/SessionsRun.h"
#include "job/RestoreRun.h"
#include "job/RunReport.h"
#include "batch/Summary.h"
#include "job/ValueLogs.h"
#include "job/ImageTable.h"
#include "data/DatabaseFolder.h"
#include "data/UDataModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace {

constexpr int kFailed = 1;
constexpr int kBadUsage = 2;
constexpr int kStoppedByUser = 130;

struct BatchMain {
    Q_DECLARE_TR_FUNCTIONS(BatchMain)
};

// Output the caller asked for and did not get is a failure: a scheduler
// must not read exit code 0 beside an empty log.
// `failure`: the message when it cannot be written, with %1 for the cause.
int PrintResult(const QString& text, const QString& failure, int exitCode)
{
    if (console::Write(stdout, text))
        return exitCode;
    const int error = errno;
    console::Write(stderr, QStringLiteral("bmp2jpg-batch: %1\n").arg(failure.arg(QString::fromLocal8Bit(std::strerror(error)))));
    return exitCode == kStoppedByUser ? exitCode : kFailed;
}

QString CannotWriteSummary()
{
    return BatchMain::tr("cannot write the summary to standard output: %1");
}

int Failed(const std::exception& error)
{
    console::Write(stderr, QStringLiteral("bmp2jpg-batch: %1\n").arg(QString::fromUtf8(error.what())));
    return kFailed;
}

void Connect(TDataModule1& dataModule, const CertificateCheck& certificate)
{
    try {
        dataModule.ConnectOrThrow();
    } catch (const std::exception& error) {
        throw std::runtime_error(BatchMain::tr("cannot open database \"%1\" on \"%2\": %3")
                                     .arg(dataModule.InitialCatalog, dataModule.DataSource,
                                          WithCertificateAdvice(QString::fromUtf8(error.what()), certificate))
                                     .toStdString());
    }
    if (!HasPictureTable(dataModule))
        throw std::runtime_error(
            BatchMain::tr("database \"%1\" has no table BAC1").arg(dataModule.InitialCatalog).toStdString());
}

// Runs the job and prints its summary, even when a failure stops the job,
// before the failure passes on. Returns the exit code.
template <class Job, class Summary>
int Summarized(Job& job, Summary summary)
{
    try {
        job.run();
    } catch (...) {
        summary(RunEnd::Failed, kFailed);
        throw;
    }
    return job.stopped() ? summary(RunEnd::StoppedByUser, kStoppedByUser) : summary(RunEnd::Finished, 0);
}

// The run with its progress and summary.
int Convert(TDataModule1& dataModule, const OdbcDriverProfile& odbc, const BatchOptions& options)
{
    // A backup or report that cannot be written stops the run before any write.
    std::optional<BackupFolder> backup;
    std::optional<RunReport> report;
    ValueLogs logs;
    if (!options.backup.isEmpty())
        logs.add(backup.emplace(options.backup));
    if (!options.report.isEmpty())
        logs.add(report.emplace(options.report, options.dryRun));
    Connect(dataModule, options.certificate);
    const qint64 total = CountPictures(dataModule);
    QElapsedTimer clock;
    clock.start();
    Progress progress(stderr, total, console::IsTerminal(stderr));
    SessionsRun run(dataModule, odbc, [&](TDataModule1& session) { Connect(session, options.certificate); },
                    {options.sessions, options.jobs, options.dryRun}, console::CatchStopRequests(),
                    [&progress] { progress.valueDone(); }, [&progress](int values) { progress.valuesUndone(values); },
                    logs.empty() ? nullptr : &logs);
    return Summarized(run, [&](RunEnd end, int exitCode) {
        progress.finish();
        return PrintResult(SummaryText(run.tallies(), options.dryRun, end, double(clock.elapsed()) / 1000, run.retries()),
                           CannotWriteSummary(), exitCode);
    });
}

// The same rules as a conversion; the values left alone are listed on
// standard error once the progress is done.
int Restore(TDataModule1& dataModule, const BatchOptions& options)
{
    Connect(dataModule, options.certificate);
    const qint64 total = CountPictures(dataModule);
    QElapsedTimer clock;
    clock.start();
    Progress progress(stderr, total, console::IsTerminal(stderr));
    RestoreRun run(dataModule, options.restore, options.dryRun, console::CatchStopRequests(),
                   [&progress] { progress.valueDone(); });
    return Summarized(run, [&](RunEnd end, int exitCode) {
        progress.finish();
        for (const QString& line : run.tally().leftAlone)
            console::Write(stderr, QStringLiteral("bmp2jpg-batch: %1\n").arg(line));
        // The rest is restored, but a backup file that could not be used is a failure.
        if (exitCode == 0 && run.tally().unusableFiles > 0)
            exitCode = kFailed;
        return PrintResult(RestoreSummaryText(run.tally(), options.dryRun, end, double(clock.elapsed()) / 1000),
                           CannotWriteSummary(), exitCode);
    });
}

}  // namespace

int RunBatch(const QStringList& arguments, const OdbcDriverProfile& odbc)
{
    // A reader gone from a pipe is an error to report, not a silent death.
    console::IgnoreBrokenPipes();
    BatchOptions options;
    OdbcDriverProfile profile;  // outlives every session of the run
    std::optional<TDataModule1> dataModule;
    try {
        options = ParseCommandLine(arguments);
        if (options.help)
            return PrintResult(HelpText(), BatchMain::tr("cannot write the help to standard output: %1"), 0);
        if (options.version)
            return PrintResult(VersionText(), BatchMain::tr("cannot write the version to standard output: %1"), 0);
        try {
            // Only the SQL Server profile knows how to check certificates.
            profile = options.certificate.verify ? OdbcDriverProfile::SqlServer(options.certificate) : odbc;
            dataModule.emplace(profile);
        } catch (const std::exception& error) {
            return Failed(error);
        }
        static_cast<ConnectionSettings&>(*dataModule) = options.connection;
        CheckOutputPaths(options, NamesEmbeddedServer(options.connection.DataSource, profile)
                                      ? options.connection.DataSource
                                      : QString());
        dataModule->Password = ReadPassword();
    } catch (const UsageError& error) {
        console::Write(stderr, QStringLiteral("bmp2jpg-batch: %1\n%2\n")
                                   .arg(QString::fromUtf8(error.what()), BatchMain::tr("Try \"bmp2jpg-batch --help\".")));
        return kBadUsage;
    }
    try {
        return options.restore.isEmpty() ? Convert(*dataModule, profile, options) : Restore(*dataModule, options);
    } catch (const std::exception& error) {
        return Failed(error);
    }
}

#include "batch/CommandLine.h"

#include "batch/BatchErrors.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QThread>

namespace {

constexpr int kMostJobs = 256;

const QCommandLineOption serverOption(QStringLiteral("server"),
                                      QStringLiteral("SQL Server to connect to, or the folder of an embedded server."),
                                      QStringLiteral("name"));
const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("Login name."), QStringLiteral("login"));
const QCommandLineOption databaseOption(QStringLiteral("database"),
                                        QStringLiteral("Database holding table BAC1 (on an embedded server: the "
                                                       "name of its .db file)."),
                                        QStringLiteral("name"));
const QCommandLineOption dryRunOption(QStringLiteral("dry-run"),
                                      QStringLiteral("Write nothing: count the values of BAC02 and BAC04 by kind "
                                                     "(bitmap to convert, already JPEG, other, empty, unreadable "
                                                     "bitmap) with their total bytes."));
const QCommandLineOption jobsOption(QStringLiteral("jobs"),
                                    QStringLiteral("Encode up to N pictures at once (default: the number of cores, "
                                                   "%1 here). Reading and writing stay in row order; the bytes written "
                                                   "do not depend on N; memory holds about N + 1 pictures.")
                                        .arg(QThread::idealThreadCount()),
                                    QStringLiteral("N"));
const QCommandLineOption verifyCertificateOption(
    QStringLiteral("verify-certificate"),
    QStringLiteral("Check the SQL Server's TLS certificate: it must be signed by a trusted CA and name the server as "
                   "given to --server, or the connection is refused. Without it the certificate is not checked; the "
                   "whole session is encrypted either way."));
const QCommandLineOption caFileOption(QStringLiteral("ca-file"),
                                      QStringLiteral("With --verify-certificate: trust the CAs in this PEM file instead "
                                                     "of the system's (FreeTDS only; Microsoft's driver reads only the "
                                                     "system's store)."),
                                      QStringLiteral("file"));
const QCommandLineOption backupOption(QStringLiteral("backup"),
                                      QStringLiteral("Before a value is replaced, keep its original bytes in a file "
                                                     "under DIR, listed in DIR/manifest.csv, flushed to disk before "
                                                     "the write that replaces it is committed."),
                                      QStringLiteral("DIR"));
const QCommandLineOption restoreOption(QStringLiteral("restore"),
                                       QStringLiteral("Put the originals kept by --backup DIR back, where the stored "
                                                      "value is still exactly the JPEG that replaced it; values "
                                                      "changed since are left alone and listed."),
                                       QStringLiteral("DIR"));
const QCommandLineOption reportOption(QStringLiteral("report"),
                                      QStringLiteral("Write one CSV line per visited value (column, key, BCE01, "
                                                     "outcome, bytes before, bytes after) as the run goes. An "
                                                     "earlier report at FILE is replaced; any other file there is "
                                                     "left alone and the command stops."),
                                      QStringLiteral("FILE"));
const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                       QStringLiteral("Show the version and exit."));
const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                    QStringLiteral("Show this help and exit."));

void SetUp(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Converts, in place, every BMP picture in columns BAC02 and then BAC04 of table\n"
        "BAC1 to JPEG, exactly as the bmp2jpg desktop tool does. Values that are not\n"
        "readable bitmaps are left as they are and not rewritten."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({serverOption, userOption, databaseOption, dryRunOption, jobsOption, verifyCertificateOption,
                       caFileOption, backupOption, restoreOption, reportOption, versionOption, helpOption});
}

QString Required(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    const QString value = TrimmedSetting(parser.value(option));
    if (value.isEmpty())
        throw UsageError(QStringLiteral("--%1 is required").arg(option.names().front()));
    return value;
}

CertificateCheck ParseCertificateCheck(const QCommandLineParser& parser)
{
    CertificateCheck check{parser.isSet(verifyCertificateOption), {}};
    if (!parser.isSet(caFileOption))
        return check;
    if (!check.verify)
        throw UsageError(QStringLiteral("--ca-file is only used with --verify-certificate"));
    const QFileInfo file(parser.value(caFileOption));
    if (!file.isFile() || !file.isReadable())
        throw UsageError(QStringLiteral("--ca-file \"%1\" is not a readable file").arg(parser.value(caFileOption)));
    check.caFile = file.absoluteFilePath();
    return check;
}

// Words as lines of the help, indented by two, at most 78 columns wide.
QString HelpParagraph(const QString& text)
{
    QString paragraph;
    QString line;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > 76) {
            paragraph += QStringLiteral("  ") + line + u'\n';
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return paragraph + QStringLiteral("  ") + line + u'\n';
}

// The same advice on adding a CA to the system's store as a failed check gives.
QString CertificateStoreHelp()
{
    return HelpParagraph(QStringLiteral("store (%1; %2), or with FreeTDS give it with --ca-file.")
                             .arg(AddToCertificateStore(CertificateStore::Debian),
                                  AddToCertificateStore(CertificateStore::Windows)));
}

}  // namespace

BatchOptions ParseCommandLine(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1String("--password")) || argument == QLatin1String("-p"))
            throw UsageError(QStringLiteral("the password is never taken from the command line: set %1 or type it "
                                            "when asked")
                                 .arg(QLatin1String(kPasswordVariable)));
    }
    QCommandLineParser parser;
    SetUp(parser);
    if (!parser.parse(QStringList{QStringLiteral("bmp2jpg-batch")} + arguments))
        throw UsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        throw UsageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().front()));

    BatchOptions options;
    if (parser.isSet(helpOption)) {
        options.help = true;
        return options;
    }
    if (parser.isSet(versionOption)) {
        options.version = true;
        return options;
    }
    options.connection.DataSource = Required(parser, serverOption);
    options.connection.UserID = Required(parser, userOption);
    options.connection.InitialCatalog = Required(parser, databaseOption);
    options.dryRun = parser.isSet(dryRunOption);
    options.backup = parser.value(backupOption);
    options.restore = parser.value(restoreOption);
    options.report = parser.value(reportOption);
    if (!options.restore.isEmpty() && (!options.backup.isEmpty() || !options.report.isEmpty()))
        throw UsageError(QStringLiteral("--restore takes neither --backup nor --report"));
    if (options.dryRun && !options.backup.isEmpty())
        throw UsageError(QStringLiteral("a dry run replaces nothing, so --backup has nothing to keep"));
    options.jobs = QThread::idealThreadCount();
    if (parser.isSet(jobsOption)) {
        bool number = false;
        options.jobs = parser.value(jobsOption).toInt(&number);
        if (!number || options.jobs < 1 || options.jobs > kMostJobs)
            throw UsageError(QStringLiteral("--jobs wants a whole number from 1 to %1, not \"%2\"")
                                 .arg(kMostJobs)
                                 .arg(parser.value(jobsOption)));
    }
    options.certificate = ParseCertificateCheck(parser);
    return options;
}

QString VersionText()
{
    return QStringLiteral("bmp2jpg-batch " BMP2JPG_VERSION "\n");
}

QString HelpText()
{
    QCommandLineParser parser;
    SetUp(parser);
    // Qt's usage line names the program by its path; this one by its name.
    QString text = parser.helpText();
    text.replace(0, text.indexOf(u'\n'),
                 QStringLiteral("Usage: bmp2jpg-batch --server <name> --user <login> --database <name> [options]"));
    return text +
           QStringLiteral(
               "\n"
               "Password:\n"
               "  Never given on the command line. Taken from the environment variable\n"
               "  %1 when it is set (even to nothing), otherwise asked for on\n"
               "  the terminal without echo. An embedded server ignores it.\n"
               "\n"
               "A way back:\n"
               "  --backup DIR keeps the original of every value replaced, named after the\n"
               "  row's key, with DIR/manifest.csv listing key, BCE01, column, sizes and\n"
               "  SHA-256 of the original and of the JPEG. A folder used before is added to.\n"
               "  The backup's folders and files and the --report file are made readable\n"
               "  by their owner only (on Windows: as the folder they are made in). Neither\n"
               "  may be the database file or lie in an embedded server's folder, nor the\n"
               "  report lie in the backup folder.\n"
               "  --restore DIR (with --server, --user, --database) writes the originals\n"
               "  back; --dry-run with it says what would be restored.\n"
               "\n"
               "While it runs:\n"
               "  Progress goes to standard error: a bar with count, rate and time left on a\n"
               "  terminal, a plain line every few seconds otherwise. Ctrl-C or SIGTERM stops\n"
               "  once the rows in hand are written; a second Ctrl-C quits at once. Every row\n"
               "  is written whole or not at all. A summary (values converted, left unchanged,\n"
               "  bytes before and after, time) goes to standard output.\n"
               "\n"
               "Certificates:\n"
               "  The whole connection to a SQL Server is always encrypted, through\n"
               "  Microsoft's drivers and FreeTDS alike. By default the server's\n"
               "  certificate is not checked, so servers on a self-signed certificate connect;\n"
               "  that guards against eavesdropping, not against someone posing as the server.\n"
               "  --verify-certificate refuses a server whose certificate is not signed by a\n"
               "  trusted CA or does not name the server as given to --server, and a server\n"
               "  that does not offer encryption. Install the server's CA in the system's\n"
               "%2"
               "\n"
               "Exit codes:\n"
               "  0    done (or nothing to do)\n"
               "  1    a failure stopped the run; its message, naming the row (BCE01) and\n"
               "       column, is on standard error; rows written before it stay converted\n"
               "  2    bad usage: an unknown or missing option, no password source, or an\n"
               "       output where it would write over what is not its own\n"
               "  130  stopped by the user (Ctrl-C or SIGTERM)\n")
               .arg(QLatin1String(kPasswordVariable), CertificateStoreHelp());
}

#include "batch/CommandLine.h"

#include "batch/BatchErrors.h"
#include "batch/CertificateAdvice.h"
#include "batch/TerminalText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace {

constexpr int kMostJobs = 256;
constexpr int kMostSessions = 16;
constexpr int kHelpWidth = 79;

struct CommandLine {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

// Made when needed, so their descriptions are in the language installed by then.
struct Options {
    QCommandLineOption server{QStringLiteral("server"),
                              CommandLine::tr("SQL Server to connect to, or the folder of an embedded server."),
                              QStringLiteral("name")};
    QCommandLineOption user{QStringLiteral("user"), CommandLine::tr("Login name."), QStringLiteral("login")};
    QCommandLineOption database{
        QStringLiteral("database"),
        CommandLine::tr("Database holding table BAC1 (on an embedded server: the name of its .db file)."),
        QStringLiteral("name")};
    QCommandLineOption dryRun{QStringLiteral("dry-run"),
                              CommandLine::tr("Write nothing: count the values of BAC02 and BAC04 by kind (bitmap to "
                                              "convert, already JPEG, other, empty, unreadable bitmap) with their "
                                              "total bytes.")};
    QCommandLineOption jobs{QStringLiteral("jobs"),
                            CommandLine::tr("Encode up to N pictures at once (default: the number of cores, %1 here). "
                                            "Each session reads and writes in row order; the bytes written do not "
                                            "depend on N; memory holds about N + 1 pictures.")
                                .arg(QThread::idealThreadCount()),
                            QStringLiteral("N")};
    QCommandLineOption sessions{QStringLiteral("sessions"),
                                CommandLine::tr("Connect to SQL Server N times, each session converting its own range "
                                                "of the key of BAC1 in transactions of its own, so that one's wait "
                                                "for the network is another's transfer (default: %1; no more than "
                                                "--jobs). One session where BAC1 has no key to take ranges of, and "
                                                "on an embedded server.")
                                    .arg(kDefaultSessions),
                                QStringLiteral("N")};
    QCommandLineOption verifyCertificate{
        QStringLiteral("verify-certificate"),
        CommandLine::tr("Check the SQL Server's TLS certificate: it must be signed by a trusted CA and name the server "
                        "as given to --server, or the connection is refused. Without it the certificate is not "
                        "checked; the whole session is encrypted either way.")};
    QCommandLineOption caFile{QStringLiteral("ca-file"),
                              CommandLine::tr("With --verify-certificate: trust the CAs in this PEM file instead of "
                                              "the system's (FreeTDS only; Microsoft's driver reads only the "
                                              "system's store)."),
                              QStringLiteral("file")};
    QCommandLineOption backup{QStringLiteral("backup"),
                              CommandLine::tr("Before a value is replaced, keep its original bytes in a file under "
                                              "DIR, listed in DIR/manifest.csv, flushed to disk before the write "
                                              "that replaces it is committed."),
                              QStringLiteral("DIR")};
    QCommandLineOption restore{QStringLiteral("restore"),
                               CommandLine::tr("Put the originals kept by --backup DIR back, where the stored value "
                                               "is still exactly the JPEG that replaced it; values changed since are "
                                               "left alone and listed."),
                               QStringLiteral("DIR")};
    QCommandLineOption report{QStringLiteral("report"),
                              CommandLine::tr("Write one CSV line per visited value (column, key, BCE01, outcome, "
                                              "bytes before, bytes after) as the run goes. An earlier report at FILE "
                                              "is replaced; any other file there is left alone and the command "
                                              "stops."),
                              QStringLiteral("FILE")};
    QCommandLineOption version{QStringList{QStringLiteral("v"), QStringLiteral("version")},
                               CommandLine::tr("Show the version and exit.")};
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")},
                            CommandLine::tr("Show this help and exit.")};

    QList<QCommandLineOption> all() const
    {
        return {server,  user,    database, dryRun, jobs,    sessions,
                verifyCertificate, caFile, backup, restore, report, version, help};
    }
};

// Qt's parser words its errors through the installed translations in its
// own context: listed here so that lupdate puts them in ours.
[[maybe_unused]] const char* const kParserErrors[] = {
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unknown option '%1'."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unknown options: %1."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Missing value after '%1'."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unexpected value after '%1'."),
};

void SetUp(QCommandLineParser& parser, const Options& options)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(options.all());
}

QString Required(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    const QString value = TrimmedSetting(parser.value(option));
    if (value.isEmpty())
        throw UsageError(CommandLine::tr("--%1 is required").arg(option.names().front()));
    return value;
}

// The option's value, a whole number from 1 to `most`; throws UsageError.
int WholeNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int most)
{
    bool number = false;
    const int value = parser.value(option).toInt(&number);
    if (!number || value < 1 || value > most)
        throw UsageError(CommandLine::tr("--%1 wants a whole number from 1 to %2, not \"%3\"")
                             .arg(option.names().front())
                             .arg(most)
                             .arg(parser.value(option)));
    return value;
}

CertificateCheck ParseCertificateCheck(const QCommandLineParser& parser, const Options& options)
{
    CertificateCheck check{parser.isSet(options.verifyCertificate), {}};
    if (!parser.isSet(options.caFile))
        return check;
    if (!check.verify)
        throw UsageError(CommandLine::tr("--ca-file is only used with --verify-certificate"));
    const QFileInfo file(parser.value(options.caFile));
    if (!file.isFile() || !file.isReadable())
        throw UsageError(CommandLine::tr("--ca-file \"%1\" is not a readable file").arg(parser.value(options.caFile)));
    check.caFile = file.absoluteFilePath();
    return check;
}

// A paragraph of the help, indented by two.
QString HelpParagraph(const QString& text)
{
    QString paragraph;
    for (const QString& line : Wrapped(text, kHelpWidth - 2))
        paragraph += QStringLiteral("  ") + line + u'\n';
    return paragraph;
}

// Each option's names, then its description in a column of its own.
QString OptionList(const Options& options)
{
    QStringList names;
    int namesWidth = 0;
    for (const QCommandLineOption& option : options.all()) {
        QStringList spelled;
        for (const QString& name : option.names())
            spelled.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
        names.append(spelled.join(QStringLiteral(", ")) +
                     (option.valueName().isEmpty() ? QString() : QStringLiteral(" <%1>").arg(option.valueName())));
        namesWidth = std::max(namesWidth, TerminalWidth(names.back()));
    }
    QString text;
    const QList<QCommandLineOption> all = options.all();
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QStringList lines = Wrapped(all[i].description(), kHelpWidth - namesWidth - 4);
        text += QStringLiteral("  ") + Padded(names[i], -namesWidth) + QStringLiteral("  ") + lines.front() + u'\n';
        for (const QString& line : lines.mid(1))
            text += QString(namesWidth + 4, u' ') + line + u'\n';
    }
    return text;
}

}  // namespace

BatchOptions ParseCommandLine(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1String("--password")) || argument == QLatin1String("-p"))
            throw UsageError(CommandLine::tr("the password is never taken from the command line: set %1 or type it "
                                             "when asked")
                                 .arg(QLatin1String(kPasswordVariable)));
    }
    const Options known;
    QCommandLineParser parser;
    SetUp(parser, known);
    if (!parser.parse(QStringList{QStringLiteral("bmp2jpg-batch")} + arguments))
        throw UsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        throw UsageError(CommandLine::tr("unexpected argument \"%1\"").arg(parser.positionalArguments().front()));

    BatchOptions options;
    if (parser.isSet(known.help)) {
        options.help = true;
        return options;
    }
    if (parser.isSet(known.version)) {
        options.version = true;
        return options;
    }
    options.connection.DataSource = Required(parser, known.server);
    options.connection.UserID = Required(parser, known.user);
    options.connection.InitialCatalog = Required(parser, known.database);
    options.dryRun = parser.isSet(known.dryRun);
    options.backup = parser.value(known.backup);
    options.restore = parser.value(known.restore);
    options.report = parser.value(known.report);
    if (!options.restore.isEmpty() && (!options.backup.isEmpty() || !options.report.isEmpty()))
        throw UsageError(CommandLine::tr("--restore takes neither --backup nor --report"));
    if (options.dryRun && !options.backup.isEmpty())
        throw UsageError(CommandLine::tr("a dry run replaces nothing, so --backup has nothing to keep"));
    options.jobs = parser.isSet(known.jobs) ? WholeNumber(parser, known.jobs, kMostJobs) : QThread::idealThreadCount();
    if (parser.isSet(known.sessions))
        options.sessions = WholeNumber(parser, known.sessions, kMostSessions);
    options.certificate = ParseCertificateCheck(parser, known);
    return options;
}

// Its format is for scripts, and the same in every language.
QString VersionText()
{
    return QStringLiteral("bmp2jpg-batch " BMP2JPG_VERSION "\n");
}

QString HelpText()
{
    const Options options;
    return CommandLine::tr("Usage: bmp2jpg-batch --server <name> --user <login> --database <name> [options]") + u'\n' +
           Wrapped(CommandLine::tr("Converts, in place, every BMP picture in columns BAC02 and then BAC04 of table "
                                   "BAC1 to JPEG, exactly as the bmp2jpg desktop tool does. Values that are not "
                                   "readable bitmaps are left as they are and not rewritten."),
                   kHelpWidth - 1)
               .join(u'\n') +
           u'\n' + u'\n' + CommandLine::tr("Options:") + u'\n' + OptionList(options) + u'\n' +
           CommandLine::tr("Password:\n"
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
                           "Certificates:\n")
               .arg(QLatin1String(kPasswordVariable)) +
           HelpParagraph(CommandLine::tr("The whole connection to a SQL Server is always encrypted, through "
                                         "Microsoft's drivers and FreeTDS alike. By default the server's certificate "
                                         "is not checked, so servers on a self-signed certificate connect; that "
                                         "guards against eavesdropping, not against someone posing as the server. "
                                         "--verify-certificate refuses a server whose certificate is not signed by a "
                                         "trusted CA or does not name the server as given to --server, and a server "
                                         "that does not offer encryption. Install the server's CA in the system's "
                                         "store (%1; %2), or with FreeTDS give it with --ca-file.")
                             .arg(StoreAdviceInOurLanguage(AddToCertificateStore(CertificateStore::Debian)),
                                  StoreAdviceInOurLanguage(AddToCertificateStore(CertificateStore::Windows)))) +
           u'\n' +
           CommandLine::tr("Exit codes:\n"
                           "  0    done (or nothing to do)\n"
                           "  1    a failure stopped the run; its message, naming the row (BCE01) and\n"
                           "       column, is on standard error; rows written before it stay converted\n"
                           "  2    bad usage: an unknown or missing option, no password source, or an\n"
                           "       output where it would write over what is not its own\n"
                           "  130  stopped by the user (Ctrl-C or SIGTERM)\n");
}

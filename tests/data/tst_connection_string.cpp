// The connection string and its SQL Server driver forms, read back with a
// parser written here by the ODBC rules, independent of the module's own.
#include "data/ConnectionString.h"
#include "data/SqlServerDriver.h"
#include "data/SqliteUri.h"

#include <QTest>

#include <algorithm>
#include <optional>

namespace {

using Attributes = QList<QPair<QString, QString>>;

enum class BraceRule {
    Doubled,         // "}}" inside braces is "}" (ODBC, unixODBC, Microsoft)
    EndsAtBraceSemi  // braces end at the first "}" before ";" or the end (FreeTDS 1.3)
};

// Every key in order, duplicates kept; nullopt when the text is malformed.
// Plain values are read the strictest way drivers do: edge spaces dropped,
// no "=" or braces allowed.
std::optional<Attributes> readAttributes(const QString& text, BraceRule rule)
{
    Attributes attributes;
    qsizetype i = 0;
    while (i < text.size()) {
        QString key;
        while (i < text.size() && text[i] != QLatin1Char('='))
            key += text[i++];
        if (i++ == text.size())
            return std::nullopt;
        QString value;
        if (i < text.size() && text[i] == QLatin1Char('{')) {
            ++i;
            while (true) {
                if (i == text.size())
                    return std::nullopt;
                const bool closing = text[i] == QLatin1Char('}');
                const QChar after = i + 1 < text.size() ? text[i + 1] : QChar();
                if (closing && rule == BraceRule::Doubled && after == QLatin1Char('}')) {
                    value += QLatin1Char('}');
                    i += 2;
                } else if (closing && (rule == BraceRule::Doubled || after.isNull() || after == QLatin1Char(';'))) {
                    ++i;
                    break;
                } else {
                    value += text[i++];
                }
            }
            if (i < text.size() && text[i] != QLatin1Char(';'))
                return std::nullopt;
        } else {
            while (i < text.size() && text[i] != QLatin1Char(';'))
                value += text[i++];
            if (value.contains(QLatin1Char('=')) || value.contains(QLatin1Char('{')) || value.contains(QLatin1Char('}')))
                return std::nullopt;
            value = value.trimmed();
        }
        ++i;
        attributes.append({key.trimmed().toLower(), value});
    }
    return attributes;
}

ConnectionSettings settingsWith(int position, const QString& value)
{
    ConnectionSettings s{QStringLiteral("srv"), QStringLiteral("sa"), QStringLiteral("pw"), QStringLiteral("pics")};
    QString* fields[] = {&s.DataSource, &s.UserID, &s.Password, &s.InitialCatalog};
    *fields[position] = value;
    return s;
}

const char* const positions[] = {"DataSource", "UserID", "Password", "InitialCatalog"};

const QStringList awkwardValues{QStringLiteral(";"),           QStringLiteral("="),
                                QStringLiteral("{"),           QStringLiteral("}"),
                                QStringLiteral("}}"),          QStringLiteral("{braced}"),
                                QStringLiteral(" lead"),       QStringLiteral("trail "),
                                QStringLiteral("in ner"),      QStringLiteral("中文 密码"),
                                QStringLiteral("x;User ID=evil"), QStringLiteral("a}};Data Source=evil;"),
                                QStringLiteral("a};PWD=evil"), QStringLiteral("host\\instance"),
                                QStringLiteral("host,1433")};

void addAwkwardRows()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("value");
    for (int position = 0; position < 4; ++position) {
        for (const QString& value : awkwardValues)
            QTest::addRow("%s=[%s]", positions[position], qPrintable(value)) << position << value;
    }
}

} // namespace

class ConnectionStringTest : public QObject {
    Q_OBJECT

private slots:
    void plainValuesGiveTheTwoTemplates_data()
    {
        QTest::addColumn<QString>("catalog");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no catalog") << QString() << QStringLiteral("pw 中文")
                                    << QStringLiteral("Provider=SQLOLEDB.1;Password=pw 中文;Persist Security Info=True;"
                                                      "User ID=sa;Data Source=host\\inst");
        QTest::newRow("catalog") << QStringLiteral("图片") << QStringLiteral("pw")
                                 << QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;"
                                                   "User ID=sa;Initial Catalog=图片;Data Source=host\\inst");
        QTest::newRow("empty password") << QString() << QString()
                                        << QStringLiteral("Provider=SQLOLEDB.1;Password=;Persist Security Info=True;"
                                                          "User ID=sa;Data Source=host\\inst");
    }
    void plainValuesGiveTheTwoTemplates()
    {
        QFETCH(QString, catalog);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        QCOMPARE(BuildConnectionString({QStringLiteral("host\\inst"), QStringLiteral("sa"), password, catalog}), expected);
    }

    void awkwardValuesReadBackExactly_data() { addAwkwardRows(); }
    void awkwardValuesReadBackExactly()
    {
        QFETCH(int, position);
        QFETCH(QString, value);
        const ConnectionSettings settings = settingsWith(position, value);
        const std::optional<Attributes> read = readAttributes(BuildConnectionString(settings), BraceRule::Doubled);
        QVERIFY(read);
        const Attributes expected{{QStringLiteral("provider"), QStringLiteral("SQLOLEDB.1")},
                                  {QStringLiteral("password"), settings.Password},
                                  {QStringLiteral("persist security info"), QStringLiteral("True")},
                                  {QStringLiteral("user id"), settings.UserID},
                                  {QStringLiteral("initial catalog"), settings.InitialCatalog},
                                  {QStringLiteral("data source"), settings.DataSource}};
        QCOMPARE(*read, expected);

        const ConnectionSettings back = ParseConnectionString(BuildConnectionString(settings));
        QCOMPARE(back.DataSource, settings.DataSource);
        QCOMPARE(back.UserID, settings.UserID);
        QCOMPARE(back.Password, settings.Password);
        QCOMPARE(back.InitialCatalog, settings.InitialCatalog);
    }

    // A driver and the driver manager in front of it must read the same keys
    // and values, or a value has been refused.
    void driverStringsReadTheSameToDriverAndManager_data()
    {
        QTest::addColumn<bool>("undoubles");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("value");
        for (const bool undoubles : {true, false}) {
            for (int position = 0; position < 4; ++position) {
                for (const QString& value : awkwardValues + QStringList{QStringLiteral("nul\u0000x")})
                    QTest::addRow("%s %s=[%s]", undoubles ? "Microsoft" : "FreeTDS", positions[position], qPrintable(value))
                        << undoubles << position << value;
            }
        }
    }
    void driverStringsReadTheSameToDriverAndManager()
    {
        QFETCH(bool, undoubles);
        QFETCH(int, position);
        QFETCH(QString, value);
        const SqlServerDriver driver{QStringLiteral("Some Driver"), undoubles, QStringLiteral("Extra=1")};
        const ConnectionSettings settings = settingsWith(position, value);
        const std::optional<QString> text = SqlServerConnectionString(driver, settings);

        const bool carriable = !value.contains(QChar(0)) && (undoubles || !value.contains(QLatin1Char('}')));
        QCOMPARE(text.has_value(), carriable);
        if (!text)
            return;
        const Attributes expected{{QStringLiteral("driver"), driver.name},
                                  {QStringLiteral("server"), settings.DataSource},
                                  {QStringLiteral("uid"), settings.UserID},
                                  {QStringLiteral("pwd"), settings.Password},
                                  {QStringLiteral("database"), settings.InitialCatalog},
                                  {QStringLiteral("extra"), QStringLiteral("1")}};
        QCOMPARE(readAttributes(*text, BraceRule::Doubled), expected);
        if (!undoubles)
            QCOMPARE(readAttributes(*text, BraceRule::EndsAtBraceSemi), expected);
    }

    // The same order everywhere; without a usable driver nothing connects.
    void driverChoiceFollowsThePreferenceOrder_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("refusal");
        const QStringList order{QStringLiteral("ODBC Driver 18 for SQL Server"), QStringLiteral("ODBC Driver 17 for SQL Server"),
                                QStringLiteral("ODBC Driver 13 for SQL Server"), QStringLiteral("ODBC Driver 11 for SQL Server"),
                                QStringLiteral("SQL Server Native Client 11.0"), QStringLiteral("SQL Server Native Client 10.0"),
                                QStringLiteral("FreeTDS")};
        const QString legacy = QStringLiteral("SQL Server");
        for (qsizetype i = 0; i < order.size(); ++i) {
            // The legacy driver and every less preferred one listed first.
            QStringList installed = QStringList{legacy} + order.mid(i);
            std::reverse(installed.begin(), installed.end());
            QTest::addRow("%s", qPrintable(order[i])) << installed << order[i] << QString();
        }
        QTest::newRow("names in any case") << QStringList{QStringLiteral("odbc driver 13 for sql server")} << order[2]
                                           << QString();
        const QString install = QStringLiteral(": install Microsoft's \"ODBC Driver 18 for SQL Server\"");
        QTest::newRow("only the legacy driver") << QStringList{QStringLiteral("SQLite3"), legacy} << QString()
                                                << QStringLiteral("cannot write pictures of 400 KB or more") + install;
        QTest::newRow("none known") << QStringList{QStringLiteral("SQLite3")} << QString()
                                    << QStringLiteral("is installed") + install;
    }
    void driverChoiceFollowsThePreferenceOrder()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, chosen);
        QFETCH(QString, refusal);
        const std::optional<SqlServerDriver> preferred = PreferredSqlServerDriver(installed);
        QCOMPARE(preferred ? preferred->name : QString(), chosen);
        try {
            QCOMPARE(RequireSqlServerDriver(installed).name, chosen);
        } catch (const std::exception& e) {
            QVERIFY2(!refusal.isEmpty() && QString::fromUtf8(e.what()).contains(refusal), e.what());
        }
    }

    void embeddedDatabaseUris_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("uri");
        QTest::newRow("POSIX") << "/srv/pictures/demo.db" << "file:///srv/pictures/demo.db?mode=rw";
        QTest::newRow("drive letter") << "C:/pictures/demo.db" << "file:///C:/pictures/demo.db?mode=rw";
#ifdef Q_OS_WIN
        QTest::newRow("backslashes") << "D:\\pictures\\demo.db" << "file:///D:/pictures/demo.db?mode=rw";
        QTest::newRow("Windows share") << "\\\\server\\share\\demo.db" << "file:////server/share/demo.db?mode=rw";
#else
        QTest::newRow("a backslash is a character") << "/a\\b.db" << "file:///a%5Cb.db?mode=rw";
#endif
        QTest::newRow("Chinese and a space") << "C:/图片 库/demo.db" << "file:///C:/%E5%9B%BE%E7%89%87%20%E5%BA%93/demo.db?mode=rw";
        QTest::newRow("URI characters") << "/a?b#c%d&e/demo.db" << "file:///a%3Fb%23c%25d%26e/demo.db?mode=rw";
    }
    void embeddedDatabaseUris()
    {
        QFETCH(QString, file);
        QFETCH(QString, uri);
        QCOMPARE(SqliteFileUri(file), uri);
    }

    // How each driver is asked to encrypt, with and without checking the
    // certificate; a check the driver cannot make is refused, never dropped.
    void certificateCheckAttributes_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<QString>("server");  // the key naming the server, and its value
        QTest::addColumn<QString>("attributes");  // those after the database
        QTest::addColumn<QString>("refusal");
        const QString server = QStringLiteral("server=host\\inst");
        for (const char* microsoft : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "ODBC Driver 13 for SQL Server",
                                      "ODBC Driver 11 for SQL Server", "SQL Server Native Client 11.0", "SQL Server Native Client 10.0"}) {
            const QString name = QString::fromLatin1(microsoft);
            QTest::addRow("%s", microsoft) << name << false << QString() << server
                                           << QStringLiteral("encrypt=yes;trustservercertificate=yes") << QString();
            QTest::addRow("%s, verified", microsoft) << name << true << QString() << server
                                                     << QStringLiteral("encrypt=yes;trustservercertificate=no") << QString();
            QTest::addRow("%s, CA file", microsoft) << name << true << QStringLiteral("/ca.pem") << QString() << QString()
                                                    << QStringLiteral("add the CA to that store instead");
        }
        const QString freeTds = QStringLiteral("FreeTDS");
        const QString freeTdsExtra = QStringLiteral("tds_version=7.4;clientcharset=UTF-8");
        const QString section = QStringLiteral("servername=bmp2jpg-verified");
        QTest::newRow("FreeTDS") << freeTds << false << QString() << server << freeTdsExtra + QStringLiteral(";encryption=require")
                                 << QString();
        QTest::newRow("FreeTDS, verified") << freeTds << true << QString() << section
                                           << freeTdsExtra + QStringLiteral(";encryption=require") << QString();
        QTest::newRow("FreeTDS, CA file") << freeTds << true << QStringLiteral("/ca.pem") << section
                                          << freeTdsExtra + QStringLiteral(";encryption=require") << QString();
        const QString other = QStringLiteral("Other Driver");
        QTest::newRow("other") << other << false << QString() << server << QString() << QString();
        QTest::newRow("other, verified") << other << true << QString() << QString() << QString()
                                         << QStringLiteral("cannot be asked to check the server's certificate");
    }
    void certificateCheckAttributes()
    {
        QFETCH(QString, driver);
        QFETCH(bool, verify);
        QFETCH(QString, caFile);
        QFETCH(QString, server);
        QFETCH(QString, attributes);
        QFETCH(QString, refusal);
        const SqlServerDriver chosen = PreferredSqlServerDriver({driver}).value_or(SqlServerDriver{driver, false, QString()});
        const ConnectionSettings settings{QStringLiteral("host\\inst"), QStringLiteral("sa"), QStringLiteral("pw"), QStringLiteral("pics")};
        std::optional<QString> text;
        try {
            text = SqlServerConnectionString(chosen, settings, {verify, caFile});
        } catch (const std::exception& e) {
            QVERIFY2(!refusal.isEmpty() && QString::fromUtf8(e.what()).contains(refusal), e.what());
            return;
        }
        QVERIFY2(refusal.isEmpty(), qPrintable(*text));
        QVERIFY(text);
        QStringList expected{QStringLiteral("driver=") + driver, server, QStringLiteral("uid=sa"), QStringLiteral("pwd=pw"),
                             QStringLiteral("database=pics")};
        if (!attributes.isEmpty())
            expected += attributes.split(u';');
        const std::optional<Attributes> read = readAttributes(*text, BraceRule::EndsAtBraceSemi);
        QVERIFY(read);
        QStringList keyValues;
        for (const auto& [key, value] : *read)
            keyValues << key + u'=' + value;
        QCOMPARE(keyValues, expected);
    }

    // A "}" reaches only the drivers known to read "}}" back as "}"; FreeTDS
    // alone is told that "." and "(local)" are this machine.
    void valuesEachDriverReads_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("server");  // as the driver reads it; empty: refused
        const QString v18 = QStringLiteral("ODBC Driver 18 for SQL Server");
        const QString freeTds = QStringLiteral("FreeTDS");
        for (const char* name : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"})
            QTest::addRow("%s, brace", name) << QString::fromLatin1(name) << QStringLiteral("a}b") << QStringLiteral("a}b");
        for (const char* name : {"ODBC Driver 13 for SQL Server", "ODBC Driver 11 for SQL Server", "SQL Server Native Client 11.0",
                                 "SQL Server Native Client 10.0", "FreeTDS"})
            QTest::addRow("%s, brace", name) << QString::fromLatin1(name) << QStringLiteral("a}b") << QString();
        const std::pair<const char*, const char*> localNames[] = {{".", "127.0.0.1"},
                                                                  {"(local)", "127.0.0.1"},
                                                                  {".\\SQLEXPRESS", "127.0.0.1\\SQLEXPRESS"},
                                                                  {"(LOCAL)\\SQLEXPRESS", "127.0.0.1\\SQLEXPRESS"},
                                                                  {".,14330", "127.0.0.1,14330"},
                                                                  {"localhost", "localhost"},
                                                                  {"(local)x", "(local)x"},
                                                                  {"..\\x", "..\\x"}};
        for (const auto& [typed, freeTdsReads] : localNames) {
            QTest::addRow("Microsoft, %s", typed) << v18 << QString::fromLatin1(typed) << QString::fromLatin1(typed);
            QTest::addRow("FreeTDS, %s", typed) << freeTds << QString::fromLatin1(typed) << QString::fromLatin1(freeTdsReads);
        }
    }
    void valuesEachDriverReads()
    {
        QFETCH(QString, driver);
        QFETCH(QString, typed);
        QFETCH(QString, server);
        const std::optional<SqlServerDriver> chosen = PreferredSqlServerDriver({driver});
        QVERIFY(chosen);
        const std::optional<QString> text = SqlServerConnectionString(*chosen, {typed, QStringLiteral("sa"), QString(), QString()});
        const std::optional<Attributes> read = text ? readAttributes(*text, BraceRule::Doubled) : std::nullopt;
        QCOMPARE(read ? read->value(1).second : QString(), server);
    }

    // FreeTDS reads the CA file and the host-name check from freetds.conf
    // only: the section names the server as "Server" would have.
    void freeTdsSectionNamesTheServer_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<QString>("expected");  // empty: refused
        const QString head = QStringLiteral("[bmp2jpg-verified]\n");
        const QString tail = QStringLiteral("encryption = require\nca file = %1\ncheck certificate hostname = yes\n");
        QTest::newRow("host") << QStringLiteral("db.example.com") << QString()
                              << head + QStringLiteral("host = db.example.com\n") + tail.arg(QLatin1String("system"));
        QTest::newRow("port") << QStringLiteral("10.0.0.5,14330") << QStringLiteral("/etc/ssl/our ca.pem")
                              << head + QStringLiteral("host = 10.0.0.5\nport = 14330\n") + tail.arg(QLatin1String("/etc/ssl/our ca.pem"));
        QTest::newRow("instance") << QStringLiteral("db\\SQLEXPRESS") << QString()
                                  << head + QStringLiteral("host = db\ninstance = SQLEXPRESS\n") + tail.arg(QLatin1String("system"));
        QTest::newRow("local instance") << QStringLiteral("(local)\\SQLEXPRESS") << QString()
                                        << head + QStringLiteral("host = 127.0.0.1\ninstance = SQLEXPRESS\n") + tail.arg(QLatin1String("system"));
        QTest::newRow("new line in the name") << QStringLiteral("db\nca file = /tmp/evil.pem") << QString() << QString();
        QTest::newRow("comment mark") << QStringLiteral("db;x") << QString() << QString();
        QTest::newRow("comment mark in the CA file") << QStringLiteral("db") << QStringLiteral("/ca#1.pem") << QString();
        QTest::newRow("doubled space") << QStringLiteral("db") << QStringLiteral("/a  b.pem") << QString();
        QTest::newRow("longer than a line") << QStringLiteral("db") << QStringLiteral("/") + QString(300, u'a') << QString();
        QTest::newRow("port not a number") << QStringLiteral("db,x") << QString() << QString();
    }
    void freeTdsSectionNamesTheServer()
    {
        QFETCH(QString, server);
        QFETCH(QString, caFile);
        QFETCH(QString, expected);
        const std::optional<QString> section = FreeTdsVerifyingSection({server, QStringLiteral("sa"), QString(), QString()}, {true, caFile});
        QCOMPARE(section.value_or(QString()), expected);
    }
};

QTEST_GUILESS_MAIN(ConnectionStringTest)
#include "tst_connection_string.moc"

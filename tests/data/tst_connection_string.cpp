// The connection string and its SQL Server driver forms, read back with a
// parser written here by the ODBC rules, independent of the module's own.
#include "data/ConnectionString.h"
#include "data/SqlServerDriver.h"

#include <QTest>

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

    // How each driver family is asked to encrypt, with and without checking
    // the certificate; a check the driver cannot make is refused, never dropped.
    void certificateCheckAttributes_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<QString>("server");  // the key naming the server, and its value
        QTest::addColumn<QString>("encryption");
        QTest::addColumn<QString>("refusal");
        const int microsoft = int(SqlServerDriver::Family::Microsoft);
        const int freeTds = int(SqlServerDriver::Family::FreeTds);
        const int other = int(SqlServerDriver::Family::Other);
        const QString server = QStringLiteral("server=host\\inst");
        const QString section = QStringLiteral("servername=bmp2jpg-verified");
        QTest::newRow("Microsoft") << microsoft << false << QString() << server
                                   << QStringLiteral("encrypt=yes;trustservercertificate=yes") << QString();
        QTest::newRow("Microsoft, verified") << microsoft << true << QString() << server
                                             << QStringLiteral("encrypt=yes;trustservercertificate=no") << QString();
        QTest::newRow("Microsoft, CA file") << microsoft << true << QStringLiteral("/ca.pem") << QString() << QString()
                                            << QStringLiteral("update-ca-certificates");
        QTest::newRow("FreeTDS") << freeTds << false << QString() << server << QString() << QString();
        QTest::newRow("FreeTDS, verified") << freeTds << true << QString() << section
                                           << QStringLiteral("encryption=require") << QString();
        QTest::newRow("FreeTDS, CA file") << freeTds << true << QStringLiteral("/ca.pem") << section
                                          << QStringLiteral("encryption=require") << QString();
        QTest::newRow("legacy") << other << false << QString() << server << QString() << QString();
        QTest::newRow("legacy, verified") << other << true << QString() << QString() << QString()
                                          << QStringLiteral("cannot be asked to check the server's certificate");
    }
    void certificateCheckAttributes()
    {
        QFETCH(int, family);
        QFETCH(bool, verify);
        QFETCH(QString, caFile);
        QFETCH(QString, server);
        QFETCH(QString, encryption);
        QFETCH(QString, refusal);
        const SqlServerDriver driver{QStringLiteral("Some Driver"), family == int(SqlServerDriver::Family::Microsoft),
                                     QStringLiteral("Extra=1"), SqlServerDriver::Family(family)};
        const ConnectionSettings settings{QStringLiteral("host\\inst"), QStringLiteral("sa"), QStringLiteral("pw"), QStringLiteral("pics")};
        std::optional<QString> text;
        try {
            text = SqlServerConnectionString(driver, settings, {verify, caFile});
        } catch (const std::exception& e) {
            QVERIFY2(!refusal.isEmpty() && QString::fromUtf8(e.what()).contains(refusal), e.what());
            return;
        }
        QVERIFY2(refusal.isEmpty(), qPrintable(*text));
        QVERIFY(text);
        QStringList expected{QStringLiteral("driver=Some Driver"), server, QStringLiteral("uid=sa"), QStringLiteral("pwd=pw"),
                             QStringLiteral("database=pics"), QStringLiteral("extra=1")};
        if (!encryption.isEmpty())
            expected += encryption.split(u';');
        const std::optional<Attributes> attributes = readAttributes(*text, BraceRule::EndsAtBraceSemi);
        QVERIFY(attributes);
        QStringList read;
        for (const auto& [key, value] : *attributes)
            read << key + u'=' + value;
        QCOMPARE(read, expected);
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

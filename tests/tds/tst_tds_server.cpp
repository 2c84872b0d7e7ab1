// The scripted TDS server through the real FreeTDS driver: it must answer as
// SQL Server does where the program depends on it, or the tests built on it
// prove nothing.
#include "tests/tds/ScriptedTdsServer.h"
#include "tests/tds/TdsTestSupport.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <cstdio>

namespace {

QString connectionString(quint16 port)
{
    return QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=x;TDS_Version=7.4;ClientCharset=UTF-8;"
                          "DATABASE=pictures;")
        .arg(port);
}

// A QODBC connection removed again when it goes out of scope.
class Client {
public:
    explicit Client(quint16 port) : name_(QStringLiteral("tds-client-%1").arg(++serial_))
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name_);
        database.setDatabaseName(connectionString(port));
        if (!database.open())
            throw std::runtime_error(database.lastError().text().toStdString());
    }
    ~Client()
    {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlQuery query() const
    {
        QSqlQuery query(QSqlDatabase::database(name_, false));
        query.setForwardOnly(true);
        return query;
    }
    // The first column of the only row; throws when there is none.
    QVariant value(const QString& statement, const QVariantList& parameters = {}) const
    {
        QSqlQuery q = executed(statement, parameters);
        if (!q.next())
            throw std::runtime_error((statement + QStringLiteral(": no row ") + q.lastError().text()).toStdString());
        return q.value(0);
    }
    void run(const QString& statement, const QVariantList& parameters = {}) const { executed(statement, parameters); }

private:
    QSqlQuery executed(const QString& statement, const QVariantList& parameters) const
    {
        QSqlQuery q = query();
        bool done = false;
        if (parameters.isEmpty()) {
            done = q.exec(statement);
        } else if (q.prepare(statement)) {
            for (const QVariant& p : parameters)
                q.addBindValue(p);
            done = q.exec();
        }
        if (!done)
            throw std::runtime_error((statement + QStringLiteral(": ") + q.lastError().text()).toStdString());
        return q;
    }

    QString name_;
    static inline int serial_ = 0;
};

const QString writeStatement = QStringLiteral(
    "SET NOCOUNT ON; DECLARE @written TABLE (n int); UPDATE TOP (1) [BAC1] SET [BAC02] = ? OUTPUT 1 INTO @written "
    "WHERE [id] = ?; SELECT COUNT(*) FROM @written");

} // namespace

class TdsServerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { seed_ = TestSeed(); }

    void plainSessionCutsLargeValuesToTextSize_data()
    {
        AddPictureColumnTypes();
    }
    void plainSessionCutsLargeValuesToTextSize()
    {
        QFETCH(int, type);
        ScriptedTable table{SqlType(type)};
        const QByteArray picture = RandomBytes(20000, seed_);
        table.addRow({QStringLiteral("big"), picture, std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());

        QCOMPARE(client.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray(), picture.left(4096));
        // Nothing in the driver's configuration raised the limit before.
        QVERIFY2(!server.statements().join(u'\n').contains(QLatin1String("textsize"), Qt::CaseInsensitive),
                 qPrintable(server.statements().join(u'\n')));
        QCOMPARE(client.value(QStringLiteral("select DATALENGTH([BAC02]) from [BAC1] where [id] = 1")).toLongLong(), 20000);

        client.run(QStringLiteral("SET TEXTSIZE 2147483647"));
        QCOMPARE(client.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray(), picture);
        QCOMPARE(client.value(QStringLiteral("select top (1) DATALENGTH([BAC02]), [BAC02] from [BAC1] WITH (UPDLOCK, ROWLOCK) "
                                             "where [id] = ?"),
                              {1})
                     .toLongLong(),
                 20000);

        client.run(QStringLiteral("SET TEXTSIZE 0"));
        QCOMPARE(client.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray().size(), 4096);

        // Each connection starts again from the default.
        Client other(server.port());
        QCOMPARE(other.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray().size(), 4096);
    }

    void errorAfterFirstRowsReachesTheClient()
    {
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        server.failReadsAfterRows(QStringLiteral(R"(from \[?BAC1\]? where BAC02 is not null)"), 1);
        Client client(server.port());

        QSqlQuery query = client.query();
        QVERIFY2(query.exec(QStringLiteral("select BCE01 from BAC1 where BAC02 is not null")), qPrintable(query.lastError().text()));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("r0"));
        QVERIFY(!query.next());
        QVERIFY2(query.lastError().isValid(), "the read error looked like the end of the rows");
        QVERIFY2(query.lastError().text().contains(QLatin1String("logical consistency-based I/O error")),
                 qPrintable(query.lastError().text()));
    }

    void unknownStatementFailsNamingIt()
    {
        ScriptedTdsServer server;
        Client client(server.port());
        QSqlQuery query = client.query();
        QVERIFY(!query.exec(QStringLiteral("DELETE FROM BAC1")));
        QVERIFY2(query.lastError().text().contains(QLatin1String("Could not find stored procedure 'DELETE FROM BAC1'")),
                 qPrintable(query.lastError().text()));
        QVERIFY(server.statements().contains(QStringLiteral("DELETE FROM BAC1")));
    }

    void catalogueAnswersForTheTable()
    {
        ScriptedTdsServer server;
        Client client(server.port());
        QSqlQuery query = client.query();
        QVERIFY(query.exec(QStringLiteral("select name from sysdatabases")));
        QStringList names;
        while (query.next())
            names << query.value(0).toString();
        QCOMPARE(names, (QStringList{QStringLiteral("master"), QStringLiteral("pictures")}));
        QCOMPARE(client.value(QStringLiteral("select 1 from sysobjects where name='BAC1'")).toInt(), 1);

        QVERIFY(query.prepare(QStringLiteral(
            "select c.name, TYPE_NAME(c.system_type_id), c.is_nullable from sys.columns c where c.object_id = OBJECT_ID(?) "
            "and OBJECTPROPERTY(c.object_id, 'IsUserTable') = 1 order by c.column_id")));
        query.addBindValue(QStringLiteral("[BAC1]"));
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        QStringList columns;
        while (query.next())
            columns << query.value(0).toString() + u' ' + query.value(1).toString() + u' ' + query.value(2).toString();
        QCOMPARE(columns, (QStringList{QStringLiteral("id int 0"), QStringLiteral("BCE01 nvarchar 1"),
                                       QStringLiteral("BAC02 varbinary 1"), QStringLiteral("BAC04 varbinary 1")}));
        // Another database holds no BAC1.
        client.run(QStringLiteral("use master"));
        QSqlQuery none = client.query();
        QVERIFY(none.exec(QStringLiteral("select 1 from sysobjects where name='BAC1'")));
        QVERIFY(!none.next());
    }

    void parameterisedWriteStoresTheBoundValues()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        const QByteArray written = RandomBytes(9000, seed_ + 1);

        QCOMPARE(client.value(writeStatement, {written, 1}).toInt(), 1);
        QCOMPARE(server.table().rows().front().bac02, std::optional(written));
        QCOMPARE(client.value(writeStatement, {written, 7}).toInt(), 0);  // no such row
        QCOMPARE(client.value(writeStatement, {QVariant(QMetaType::fromType<QByteArray>()), 1}).toInt(), 1);
        QCOMPARE(server.table().rows().front().bac02, std::nullopt);

        const std::vector<LoggedStatement> log = server.log();
        const auto write = std::find_if(log.rbegin(), log.rend(), [](const LoggedStatement& s) { return s.text.contains(QLatin1String("UPDATE")); });
        QVERIFY(write != log.rend());
        const LoggedStatement& call = *write;
        QVERIFY2(call.kind.startsWith(QLatin1String("sp_")), qPrintable(call.kind));
        QCOMPARE(call.parameters.size(), size_t(2));
        QVERIFY(call.parameters[0].value.isNull());
        QCOMPARE(call.parameters[1].value.toInt(), 1);
        for (const LoggedStatement& s : server.log()) {
            std::printf("%d %s [%s] %s\n", s.connection, qPrintable(s.kind), qPrintable(s.declaration), qPrintable(s.text.left(120)));
            for (const RpcParameter& p : s.parameters)
                std::printf("    %s %s %s\n", qPrintable(p.name), qPrintable(p.type), p.value.isNull() ? "NULL" : qPrintable(p.value.toString().left(20)));
        }
    }

    void transactionKeepsChangesUntilCommit()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        Client writer(server.port());
        Client reader(server.port());
        const QString read = QStringLiteral("select [BAC02] from [BAC1] where [id] = 1");

        writer.run(QStringLiteral("BEGIN TRANSACTION"));
        QCOMPARE(writer.value(writeStatement, {QByteArray("new"), 1}).toInt(), 1);
        QCOMPARE(writer.value(read).toByteArray(), QByteArray("new"));
        QCOMPARE(reader.value(read).toByteArray(), QByteArray("old"));
        writer.run(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
        QCOMPARE(reader.value(read).toByteArray(), QByteArray("old"));

        writer.run(QStringLiteral("BEGIN TRANSACTION"));
        writer.value(writeStatement, {QByteArray("new"), 1});
        writer.run(QStringLiteral("COMMIT TRANSACTION"));
        QCOMPARE(reader.value(read).toByteArray(), QByteArray("new"));

        // Without a transaction COMMIT is an error, ROLLBACK under IF is not.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, writer.run(QStringLiteral("COMMIT TRANSACTION")));
        writer.run(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
    }

    void triggerRollbackEndsTheTransaction()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old a"), std::nullopt});
        table.addRow({QStringLiteral("b"), QByteArray("old b"), std::nullopt});
        table.rollbackTriggerRows.insert(2);
        ScriptedTdsServer server(table);
        Client writer(server.port());
        Client reader(server.port());
        const QString read = QStringLiteral("select [BAC02] from [BAC1] where [id] = ?");

        writer.run(QStringLiteral("BEGIN TRANSACTION"));
        QCOMPARE(writer.value(writeStatement, {QByteArray("new a"), 1}).toInt(), 1);
        try {
            writer.value(writeStatement, {QByteArray("new b"), 2});
            QFAIL("the write the trigger rolls back succeeded");
        } catch (const std::runtime_error& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QLatin1String("The transaction ended in the trigger. The batch has been aborted.")),
                     e.what());
        }
        // The earlier write of the transaction is undone too, and no transaction is left.
        QCOMPARE(writer.value(read, {1}).toByteArray(), QByteArray("old a"));
        QCOMPARE(writer.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 2")).toByteArray(), QByteArray("old b"));
        try {
            writer.run(QStringLiteral("COMMIT TRANSACTION"));
            QFAIL("COMMIT succeeded after the trigger ended the transaction");
        } catch (const std::runtime_error& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QLatin1String("no corresponding BEGIN TRANSACTION")), e.what());
        }
        writer.run(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
        QCOMPARE(reader.value(read, {1}).toByteArray(), QByteArray("old a"));
        // Outside a transaction the trigger undoes its own statement.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, writer.value(writeStatement, {QByteArray("new b"), 2}));
        QCOMPARE(reader.value(read, {2}).toByteArray(), QByteArray("old b"));
        QCOMPARE(writer.value(writeStatement, {QByteArray("new a"), 1}).toInt(), 1);
        QCOMPARE(reader.value(read, {1}).toByteArray(), QByteArray("new a"));
    }

    void disconnectDropsAnOpenTransaction()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        {
            Client writer(server.port());
            writer.run(QStringLiteral("BEGIN TRANSACTION"));
            writer.value(writeStatement, {QByteArray("new"), 1});
        }
        Client reader(server.port());
        QCOMPARE(reader.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray(), QByteArray("old"));
    }

    void cancelledResultIsAnsweredAndTheConnectionGoesOn()
    {
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        {
            QSqlQuery query = client.query();
            QVERIFY(query.exec(QStringLiteral("select BCE01 from BAC1 where BAC02 is not null")));
            QVERIFY(query.next());
            query.finish();
        }
        QCOMPARE(client.value(QStringLiteral("select COUNT(1) as cnt from BAC1 where BAC02 is not null")).toInt(), 3);
        const std::vector<LoggedStatement> log = server.log();
        QVERIFY2(std::any_of(log.begin(), log.end(), [](const LoggedStatement& s) { return s.kind == QLatin1String("attention"); }),
                 "the driver sent no attention, so this test proves nothing");
    }

private:
    quint32 seed_ = 0;
};

QTEST_GUILESS_MAIN(TdsServerTest)
#include "tst_tds_server.moc"

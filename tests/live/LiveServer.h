#pragma once

#include "data/ConnectionSettings.h"
#include "tests/data/ServerFolder.h"
#include "testdata/ImageTableReader.h"

#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>
#include <vector>

inline constexpr char kLiveServerVariable[] = "BMP2JPG_TEST_SQLSERVER";
inline constexpr char kLiveSkipReason[] =
    "BMP2JPG_TEST_SQLSERVER is not set: live SQL Server suite skipped (format: server;login;password)";

// The server, login and password BMP2JPG_TEST_SQLSERVER names as
// "server;login;password"; everything after the second ";" is the password,
// so it may hold ";" itself. nullopt when the variable is not set; throws
// std::runtime_error when it is malformed.
std::optional<ConnectionSettings> LiveServerFromEnvironment();

// A database of the suite's own on the live server, created empty and
// dropped again (with any connection still in it) when destroyed. Set-up and
// read-back go through connections of the test's own, made with the same
// ODBC driver and connection string the program would use.
class LiveDatabase {
public:
    LiveDatabase(const ConnectionSettings& server, quint32 seed);
    ~LiveDatabase();
    LiveDatabase(const LiveDatabase&) = delete;
    LiveDatabase& operator=(const LiveDatabase&) = delete;

    QString name() const { return settings_.InitialCatalog; }
    // What the program is given to reach this database.
    const ConnectionSettings& settings() const { return settings_; }
    // The server's major version: 10 for 2008 and 2008 R2, ... 13 for 2016, 16 for 2022.
    int majorVersion() const { return majorVersion_; }

    // Runs a statement in this database; throws with the server's text.
    QSqlQuery execute(const QString& statement, const QVariantList& parameters = {}) const;
    // BAC1 as stored, in BCE01 order.
    std::vector<ImageRow> imageTable() const;
    // A connection of its own to this database, as another client's.
    std::unique_ptr<DatabaseClient> anotherClient() const { return open(name()); }

private:
    std::unique_ptr<DatabaseClient> open(const QString& catalog) const;
    void drop() const;

    ConnectionSettings settings_;
    std::unique_ptr<DatabaseClient> master_;
    std::unique_ptr<DatabaseClient> database_;
    int majorVersion_ = 0;
};

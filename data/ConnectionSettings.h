#pragma once

#include <QString>

// The four texts a connection is made from; typed by the user at each start,
// never stored anywhere.
struct ConnectionSettings {
    QString DataSource;     // server name, or the folder of an embedded server
    QString UserID;         // SQL Server login name
    QString Password;       // password of that login, exactly as typed
    QString InitialCatalog; // database to work in; empty: the login's default
};

// A name as typed, without leading and trailing spaces and control
// characters; inner ones stay. Passwords are taken exactly as typed.
QString TrimmedSetting(const QString& text);

#pragma once

#include "data/ConnectionSettings.h"
#include "data/SqlServerDriver.h"

#include <QString>
#include <QStringList>

// Two sessions beat one on the links measured (bench/link): by a fifth where
// each answer takes 5 ms, by a twentieth at 0.5 ms.
inline constexpr int kDefaultSessions = 2;

// What the command line asks for. The password is never among it.
struct BatchOptions {
    bool help = false;
    bool version = false;
    ConnectionSettings connection;  // DataSource, UserID, InitialCatalog
    bool dryRun = false;
    int jobs = 1;
    int sessions = kDefaultSessions;
    CertificateCheck certificate;  // of a SQL Server
    QString backup;   // folder to keep each replaced value in; empty: none
    QString restore;  // backup folder to put back; empty: convert
    QString report;   // CSV file of every visited value; empty: none
};

// Reads the arguments (without the program name); throws UsageError.
BatchOptions ParseCommandLine(const QStringList& arguments);

QString HelpText();
QString VersionText();

// The variable a password may come from.
inline constexpr char kPasswordVariable[] = "BMP2JPG_PASSWORD";

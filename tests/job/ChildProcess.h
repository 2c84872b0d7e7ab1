#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

// The line end of a child's text output: Windows' C library writes "\r\n".
#ifdef Q_OS_WIN
inline const QString kChildLineEnd = QStringLiteral("\r\n");
#else
inline const QString kChildLineEnd = QStringLiteral("\n");
#endif

// How a test's child process ended and what it printed.
struct ChildOutcome {
    int exitCode;  // -1 when it crashed or did not end in time
    QString out;
    QString err;
};

// Starts `command` (the program first) with standard input closed and
// BMP2JPG_PASSWORD set to `password`, or removed when nullopt.
void StartChild(QProcess& process, const QStringList& command,
                const std::optional<QString>& password = QStringLiteral("secret"));
// Waits for the child to end, within five minutes.
ChildOutcome FinishChild(QProcess& process);
ChildOutcome RunChild(const QStringList& command, const std::optional<QString>& password = QStringLiteral("secret"));

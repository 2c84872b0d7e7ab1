#pragma once

#include <QString>

// The desktop job without windows on one database of an embedded-server
// folder, as a benchmark's child process runs it: prints "<seconds> <peak MiB>"
// and returns the exit code.
int RunDesktopJob(const QString& server, const QString& database);

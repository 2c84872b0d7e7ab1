#pragma once

#include "batch/CommandLine.h"

#include <QString>

// Checks, before anything is written, where --report and --backup would
// write: never over the database file, into the embedded server's folder
// (`serverFolder`, empty for a SQL Server) or the report into the backup
// folder, and never over a file that is not an earlier output of the same
// kind. Paths are compared as the system resolves them, symbolic links
// followed. Throws UsageError naming the paths.
void CheckOutputPaths(const BatchOptions& options, const QString& serverFolder);

#pragma once

#include "data/OdbcDriverProfile.h"

#include <QStringList>

// The batch command, from its arguments (without the program name) to its
// exit code: 0 done, 1 a failure stopped it, 2 bad usage, 130 stopped by the
// user. Databases that are not embedded servers are reached through `odbc`.
int RunBatch(const QStringList& arguments, const OdbcDriverProfile& odbc);

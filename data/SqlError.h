#pragma once

#include "data/DataErrors.h"

#include <QSqlError>

// The server's or driver's own text for a failed call.
inline EDatabaseError SqlError(const QSqlError& error)
{
    return EDatabaseError(error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

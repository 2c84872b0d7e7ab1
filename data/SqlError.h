#pragma once

#include "data/DataErrors.h"

#include <QRegularExpression>
#include <QSqlError>

// The server's or driver's own text for a failed call, and whether another
// client's locks caused it (SQL Server's errors 1205 and 1222).
inline EDatabaseError SqlError(const QSqlError& error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    // Qt joins the numbers of the driver's diagnostic records.
    const QStringList numbers = error.nativeErrorCode().split(QRegularExpression(QStringLiteral("[^0-9]+")), Qt::SkipEmptyParts);
    const bool lockConflict = numbers.contains(QLatin1String("1205")) || numbers.contains(QLatin1String("1222"));
    return EDatabaseError(text, lockConflict);
}

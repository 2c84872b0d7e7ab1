#pragma once

#include <QByteArray>
#include <QString>

// Narrow text as SQL Server holds it: bytes in the code page of its
// collation. Characters the code page lacks become '?', as SQL Server
// converts them; bytes that are no character of it read as '?'.
QByteArray CodePageBytes(const QString& text, int codePage);
QString CodePageText(const QByteArray& bytes, int codePage);

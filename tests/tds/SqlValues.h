#pragma once

#include "tests/tds/TdsTypes.h"

// How SQL Server names, stores, converts and compares the values of the types
// the scripted server plays. SQL Server's errors are thrown as SqlFailure.

bool IsInteger(SqlType type);  // tinyint to bigint, and bit
bool IsExactDecimal(SqlType type);
bool IsCharacter(SqlType type);
bool IsWide(SqlType type);  // UTF-16 character types
bool IsBinary(SqlType type);
bool IsLargeObject(SqlType type);  // image, text, ntext

QString TypeName(SqlType type);  // as TYPE_NAME gives it
QString DeclaredType(const SqlColumn& type);  // "nvarchar(50)", "varbinary(max)", "numeric(18,0)"
// A type as CAST, CONVERT and parameter declarations spell it.
SqlColumn ParseDeclaredType(const QString& text);

// What sys.columns says of a column.
int MaxLength(const SqlColumn& type);
int Precision(const SqlColumn& type);

// The collations the scripted server knows: SQL_Latin1_General_CP1_*,
// Latin1_General_* (code page 1252) and Chinese_PRC_* (936).
bool IsKnownCollation(const QString& collation);
int CodePage(const QString& collation);
// A collation as TDS carries it: LCID and comparison flags, then the sort id
// of a SQL collation (0 for a Windows one).
QByteArray CollationInfo(const QString& collation);
int CodePageOfInfo(const QByteArray& info);
// The collation "left = right" is decided under (collation precedence);
// throws SqlFailure 468 for two different implicit or explicit ones.
QString ComparisonCollation(const SqlColumn& left, const SqlColumn& right);

// The bytes SQL Server holds for a value: big-endian integers, text in the
// code page of its collation for the narrow character types, UTF-16LE for
// the wide ones, uniqueidentifier in its mixed-endian layout.
QByteArray StoredBytes(const QVariant& value, const SqlColumn& type);
qint64 DataLength(const QVariant& value, const SqlColumn& type);

// CAST(value AS to): what SQL Server makes of it, or its error. Narrow text
// takes to's code page; bytes made text are read in it as they are.
QVariant Converted(const QVariant& value, const SqlColumn& from, const SqlColumn& to);

// The error SQL Server gives when it compiles "left = right", if any.
std::optional<SqlFailure> ComparisonError(const SqlColumn& left, const SqlColumn& right);
// "left" against "right" after SQL Server's implicit conversions, text under
// ComparisonCollation: negative, zero or positive; nullopt when either is NULL.
std::optional<int> Compared(const QVariant& left, const SqlColumn& leftType, const QVariant& right, const SqlColumn& rightType);
// The error of storing a value of the type in the column, if any.
std::optional<SqlFailure> AssignmentError(const SqlColumn& value, const SqlColumn& column);

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// "select <column>[, <column>...] from <table> [where ...]", the one form whose
// rows can be written back: plain column names from one table, nothing that
// groups or combines rows. Names are unquoted ("[a b]" gives "a b").
struct SimpleSelect {
    QStringList columns;
    QStringList table;  // [schema,] name
    QString where;      // the condition after "where", or empty
};

std::optional<SimpleSelect> ParseSimpleSelect(const QString& statement);

// "[name]" with "]" doubled: understood by SQL Server and SQLite alike.
QString QuoteIdentifier(const QString& name);
QString QuoteIdentifier(const QStringList& qualifiedName);

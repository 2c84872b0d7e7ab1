#pragma once

#include "data/Dialect.h"

// Microsoft SQL Server through ODBC.
class SqlServerDialect : public Dialect {
public:
    std::chrono::milliseconds commitInterval() const override;
    std::chrono::milliseconds writersTurn() const override;
    void begin(Statements& session) const override;
    void commit(Statements& session) const override;
    void rollback(Statements& session) const override;
    bool holdsTransaction(Statements& session) const override;
    void prepareSession(Statements& session, const ConnectionSettings& settings) const override;
    std::optional<TableSchema> describeTable(Statements& session, const QStringList& name) const override;
    QString blobSizeExpression(const QString& quotedColumn) const override;
    QString blobHeadExpression(const QString& quotedColumn, int bytes) const override;
    QString fetchStatement(const TableSchema& table, const QString& quotedColumn, const QString& condition,
                           RowLock lock) const override;
    QString pageStatement(const TableSchema& table, const QString& selectList, const QString& condition,
                          const QString& order, int rows) const override;
    std::optional<std::vector<std::vector<QVariant>>> keyBounds(Statements& session, const TableSchema& table,
                                                                const QStringList& keyParts, const QString& order,
                                                                int parts) const override;
    QString blobPlaceholder() const override;
    qint64 updateRow(Statements& session, const TableSchema& table, const QString& assignments, const QString& condition,
                     const QVariantList& parameters) const override;
};

#include "tests/tds/TdsStatementLog.h"

namespace {

const QString placeholder = QStringLiteral(R"((?:@P\d+|\?))");

// The value a placeholder of a logged call stands for: by name, else by position.
QVariant placeholderValue(const LoggedStatement& s, const QString& token, qsizetype& next)
{
    if (token == QLatin1String("?"))
        return next < qsizetype(s.parameters.size()) ? s.parameters[next++].value : QVariant();
    for (const RpcParameter& p : s.parameters) {
        if (p.name.compare(token, Qt::CaseInsensitive) == 0)
            return p.value;
    }
    const qsizetype n = token.mid(2).toLongLong();
    return n > 0 && n <= qsizetype(s.parameters.size()) ? s.parameters[n - 1].value : QVariant();
}

QString shown(const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    return value.typeId() == QMetaType::QByteArray ? QString::fromLatin1(value.toByteArray().toHex()) : value.toString();
}

} // namespace

QString DumpLog(const std::vector<LoggedStatement>& log)
{
    QString text;
    for (const LoggedStatement& s : log) {
        QStringList values;
        for (const RpcParameter& p : s.parameters)
            values << (p.value.typeId() == QMetaType::QByteArray ? QStringLiteral("<%1 bytes>").arg(p.value.toByteArray().size())
                                                                  : p.value.toString());
        text += QStringLiteral("%1 %2%3: %4 [%5] [%6]\n")
                    .arg(s.connection)
                    .arg(s.kind, s.error ? QStringLiteral(" (Msg %1)").arg(s.error) : QString(), s.text.left(400), s.declaration,
                         values.join(QStringLiteral(", ")));
    }
    return text;
}

QRegularExpression WholeStatement(const QString& pattern)
{
    return QRegularExpression(QStringLiteral("^\\s*(?:%1)\\s*;?\\s*$").arg(pattern), QRegularExpression::CaseInsensitiveOption);
}

bool IsDriverProbe(const LoggedStatement& s)
{
    return s.kind == QLatin1String("login") || s.kind == QLatin1String("encryption") ||
           (s.kind == QLatin1String("sp_cursoropen") && WholeStatement(QStringLiteral("SET QUOTED_IDENTIFIER ON")).match(s.text).hasMatch());
}

std::vector<RowAccess> RowAccesses(const std::vector<LoggedStatement>& log)
{
    static const QString table = QStringLiteral(R"((\[[^\]]+\](?:\.\[[^\]]+\])?))");
    static const QRegularExpression fetch = WholeStatement(
        QStringLiteral(R"(select top \(1\) DATALENGTH\(\[(BAC\d+)\]\), \[\1\] from %1 WITH \(UPDLOCK, ROWLOCK(?:, READPAST)?\) where (.+))").arg(table));
    static const QRegularExpression write = WholeStatement(
        QStringLiteral(R"(SET NOCOUNT ON; SAVE TRANSACTION \w+; DECLARE @(\w+) TABLE \(n int\); UPDATE TOP \(1\) %1 SET \[(BAC\d+)\] = CAST\(%2 AS varbinary\(max\)\) )"
                       R"(OUTPUT 1 INTO @\1 WHERE (.+); SELECT COUNT\(\*\) AS rows_written FROM @\1)")
            .arg(table, placeholder));
    static const QRegularExpression token(placeholder);
    std::vector<RowAccess> accesses;
    for (const LoggedStatement& s : log) {
        const QString text = s.text.simplified();
        QRegularExpressionMatch m = fetch.match(text);
        const bool isWrite = !m.hasMatch();
        if (isWrite && !(m = write.match(text)).hasMatch())
            continue;
        RowAccess access{&s, isWrite, m.captured(2), m.captured(isWrite ? 3 : 1), m.captured(isWrite ? 4 : 3), {}};
        qsizetype next = isWrite ? 1 : 0;  // a write's first parameter is the new value
        for (const QRegularExpressionMatch& t : token.globalMatch(access.condition))
            access.key << shown(placeholderValue(s, t.captured(0), next));
        accesses.push_back(access);
    }
    return accesses;
}

QString ExpectedRowCondition(TableKey key, SqlType nameType)
{
    const QString p = placeholder;
    const QString text = QStringLiteral(R"(\[BCE01\] = CAST\(CAST\(%1 AS varbinary\(8000\)\) AS %2\))")
                             .arg(p, nameType == SqlType::NVarChar || nameType == SqlType::NChar ? QStringLiteral(R"(nvarchar\(4000\))")
                                                                                                 : QStringLiteral(R"(varchar\(8000\))"));
    switch (key) {
    case TableKey::IntId: return QStringLiteral(R"(\[id\] = %1)").arg(p);
    case TableKey::NumericIdentity: return QStringLiteral(R"(\[id\] = CAST\(%1 AS numeric\(18,0\)\))").arg(p);
    case TableKey::Guid: return QStringLiteral(R"(\[id\] = CAST\(%1 AS uniqueidentifier\))").arg(p);
    case TableKey::BinaryId: return QStringLiteral(R"(\[id\] = CAST\(%1 AS varbinary\(8000\)\))").arg(p);
    case TableKey::Name: return text;
    case TableKey::NameAndId: return QStringLiteral(R"(%1 and \[id\] = %2)").arg(text, p);
    case TableKey::None: break;
    }
    // The exact column and the sizes find the candidates; only they are digested.
    const QString narrow = QStringLiteral(R"(%1 and DATALENGTH\(\[BAC02\]\) = %2 and DATALENGTH\(\[BAC04\]\) = %2)").arg(text, p);
    const auto digest = [&](const char* column) {
        return QStringLiteral(R"(HASHBYTES\('SHA2_256', CONVERT\(varbinary\(max\), \[%1\]\)\) = CAST\(%2 AS varbinary\(8000\)\))")
            .arg(QLatin1String(column), p);
    };
    return QStringLiteral("%1 and case when %1 then case when %2 and %3 then 1 end end = 1").arg(narrow, digest("BAC02"), digest("BAC04"));
}

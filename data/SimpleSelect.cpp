#include "data/SimpleSelect.h"

#include <QRegularExpression>

namespace {

const QString identifier = QStringLiteral(R"((?:\[(?:[^\]]|\]\])+\]|"(?:[^"]|"")+"|[^\W\d]\w*))");

QString unquoted(const QString& name)
{
    if (name.startsWith(QLatin1Char('[')))
        return name.mid(1, name.size() - 2).replace(QLatin1String("]]"), QLatin1String("]"));
    if (name.startsWith(QLatin1Char('"')))
        return name.mid(1, name.size() - 2).replace(QLatin1String("\"\""), QLatin1String("\""));
    return name;
}

QStringList unquotedNames(const QString& list)
{
    static const QRegularExpression one(identifier, QRegularExpression::UseUnicodePropertiesOption);
    QStringList names;
    for (const QRegularExpressionMatch& m : one.globalMatch(list))
        names << unquoted(m.captured());
    return names;
}

} // namespace

std::optional<SimpleSelect> ParseSimpleSelect(const QString& statement)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*select\s+(%1(?:\s*,\s*%1)*)\s+from\s+(%1(?:\s*\.\s*%1)?)(?:\s+where\s+(.*?))?\s*;?\s*$)").arg(identifier),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption |
            QRegularExpression::UseUnicodePropertiesOption);
    // Anything that merges rows leaves no single table row behind a result row.
    static const QRegularExpression merging(QStringLiteral(R"(\b(group|having|union|intersect|except)\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(statement);
    if (!m.hasMatch() || m.captured(3).contains(merging))
        return std::nullopt;
    return SimpleSelect{unquotedNames(m.captured(1)), unquotedNames(m.captured(2)),
                        m.captured(3)};
}

QString QuoteIdentifier(const QString& name)
{
    return QLatin1Char('[') + QString(name).replace(QLatin1String("]"), QLatin1String("]]")) + QLatin1Char(']');
}

QString QuoteIdentifier(const QStringList& qualifiedName)
{
    QStringList parts;
    for (const QString& part : qualifiedName)
        parts << QuoteIdentifier(part);
    return parts.join(QLatin1Char('.'));
}

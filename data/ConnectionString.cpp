#include "data/ConnectionString.h"

#include "data/DataErrors.h"

namespace {

QString attribute(const QString& key, const QString& value)
{
    return key + QLatin1Char('=') + QuoteOdbcValue(value);
}

} // namespace

bool OdbcValueNeedsBraces(const QString& value)
{
    static const QString syntax = QStringLiteral(";{}=");
    for (QChar c : value) {
        if (syntax.contains(c))
            return true;
    }
    // Parsers disagree on whether surrounding spaces belong to the value.
    return !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
}

QString QuoteOdbcValue(const QString& value)
{
    if (!OdbcValueNeedsBraces(value))
        return value;
    QString doubled = value;
    doubled.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + doubled + QLatin1Char('}');
}

QString BuildConnectionString(const ConnectionSettings& settings)
{
    QStringList parts{QStringLiteral("Provider=SQLOLEDB.1"), attribute(QStringLiteral("Password"), settings.Password),
                      QStringLiteral("Persist Security Info=True"), attribute(QStringLiteral("User ID"), settings.UserID)};
    if (!settings.InitialCatalog.isEmpty())
        parts << attribute(QStringLiteral("Initial Catalog"), settings.InitialCatalog);
    parts << attribute(QStringLiteral("Data Source"), settings.DataSource);
    return parts.join(QLatin1Char(';'));
}

QMap<QString, QString> ParseOdbcAttributes(const QString& text)
{
    QMap<QString, QString> attributes;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), at);
        if (equals < 0)
            throw EDatabaseError(QStringLiteral("Malformed connection string: \"%1\"").arg(text.mid(at)));
        const QString key = text.mid(at, equals - at).trimmed().toLower();
        at = equals + 1;
        QString value;
        if (at < text.size() && text[at] == QLatin1Char('{')) {
            for (++at;; ++at) {
                if (at >= text.size())
                    throw EDatabaseError(QStringLiteral("Malformed connection string: missing \"}\" after %1").arg(key));
                if (text[at] == QLatin1Char('}')) {
                    if (at + 1 < text.size() && text[at + 1] == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        ++at;
                        continue;
                    }
                    ++at;
                    break;
                }
                value += text[at];
            }
            if (at < text.size() && text[at] != QLatin1Char(';'))
                throw EDatabaseError(QStringLiteral("Malformed connection string: text after the braced value of %1").arg(key));
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), at);
            value = text.mid(at, end < 0 ? -1 : end - at);
            at = end < 0 ? text.size() : end;
        }
        ++at; // the ";"
        attributes.insert(key, value);
    }
    return attributes;
}

ConnectionSettings ParseConnectionString(const QString& connectionString)
{
    const QMap<QString, QString> attributes = ParseOdbcAttributes(connectionString);
    ConnectionSettings settings;
    settings.Password = attributes.value(QStringLiteral("password"));
    settings.UserID = attributes.value(QStringLiteral("user id"));
    settings.InitialCatalog = attributes.value(QStringLiteral("initial catalog"));
    settings.DataSource = attributes.value(QStringLiteral("data source"));
    return settings;
}

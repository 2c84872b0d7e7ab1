#include "data/DatabaseFolder.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString suffix = QStringLiteral(".db");

} // namespace

bool NamesEmbeddedServer(const QString& dataSource, const OdbcDriverProfile& odbc)
{
    const QFileInfo folder(dataSource);
    return odbc.foldersAreEmbeddedServers && folder.isAbsolute() && folder.isDir();
}

QStringList DatabaseFolder::databaseNames() const
{
    QStringList names;
    const QDir folder(path_);
    for (const QString& file : folder.entryList({QLatin1Char('*') + suffix}, QDir::Files | QDir::CaseSensitive)) {
        if (file.size() > suffix.size())
            names << file.chopped(suffix.size());
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

std::optional<QString> DatabaseFolder::databaseFile(const QString& name) const
{
    if (!databaseNames().contains(name))
        return std::nullopt;
    return QDir(path_).filePath(name + suffix);
}

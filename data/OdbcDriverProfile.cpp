#include "data/OdbcDriverProfile.h"

#include "data/DataErrors.h"

#include <QDir>
#include <QTemporaryFile>

#include <memory>

namespace {

// FreeTDS takes a CA file and the host-name check only from freetds.conf,
// and reads that file only for a server named by section.
void WriteFreeTdsConf(QTemporaryFile& conf, const QString& section)
{
    if (!conf.isOpen() && !conf.open())
        throw EDatabaseError(QStringLiteral("Cannot create a freetds.conf in \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(QDir::tempPath()), conf.errorString()));
    const QByteArray bytes = section.toUtf8();
    if (!conf.resize(0) || !conf.seek(0) || conf.write(bytes) != bytes.size() || !conf.flush())
        throw EDatabaseError(QStringLiteral("Cannot write \"%1\": %2").arg(conf.fileName(), conf.errorString()));
    qputenv("FREETDSCONF", QFile::encodeName(conf.fileName()));
}

} // namespace

OdbcDriverProfile OdbcDriverProfile::SqlServer(const CertificateCheck& certificate)
{
    OdbcDriverProfile profile;
    auto conf = std::make_shared<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("bmp2jpg-freetds-XXXXXX.conf")));
    profile.driverConnectionString = [certificate, conf](const ConnectionSettings& settings) -> std::optional<QString> {
        const SqlServerDriver driver = RequireSqlServerDriver(InstalledOdbcDrivers());
        if (driver.family == SqlServerDriver::Family::FreeTds && certificate.verify) {
            const std::optional<QString> section = FreeTdsVerifyingSection(settings, certificate);
            if (!section)
                throw EDatabaseError(QStringLiteral("FreeTDS cannot be told to check the certificate of server \"%1\"%2: "
                                                    "freetds.conf cannot carry that name or path (\";\", \"#\", control "
                                                    "characters, doubled spaces or more than 200 characters)")
                                         .arg(settings.DataSource, certificate.caFile.isEmpty()
                                                                       ? QString()
                                                                       : QStringLiteral(" with CA file \"%1\"").arg(certificate.caFile)));
            WriteFreeTdsConf(*conf, *section);
        }
        return SqlServerConnectionString(driver, settings, certificate);
    };
    return profile;
}

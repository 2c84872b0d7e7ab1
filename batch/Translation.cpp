#include "batch/Translation.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

bool WantsSimplifiedChinese(const QStringList& uiLanguages)
{
    for (const QString& name : uiLanguages) {
        const QLocale language(name);
        if (language.language() == QLocale::English)
            return false;
        // QLocale gives zh, zh_CN and zh_SG the simplified script.
        if (language.language() == QLocale::Chinese && language.script() == QLocale::SimplifiedHanScript)
            return true;
    }
    return false;
}

void InstallTranslation()
{
#ifdef Q_OS_UNIX
    // As gettext does: the C locale means the untranslated texts, whatever
    // LANGUAGE says.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(variable);
        if (value.isEmpty())
            continue;
        if (value == "C" || value.startsWith("C.") || value == "POSIX")
            return;
        break;
    }
#endif
    if (!WantsSimplifiedChinese(QLocale::system().uiLanguages()))
        return;
    static QTranslator translator;
    if (translator.load(QStringLiteral(":/i18n/bmp2jpg-batch_zh_CN.qm")))
        QCoreApplication::installTranslator(&translator);
}

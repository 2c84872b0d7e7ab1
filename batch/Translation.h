#pragma once

#include <QStringList>

// The batch command speaks Simplified Chinese or English.

// Whether the user's languages, most wanted first (QLocale::uiLanguages),
// ask for Simplified Chinese before English. Languages it does not speak,
// Traditional Chinese among them, are passed over.
bool WantsSimplifiedChinese(const QStringList& uiLanguages);

// Installs the Chinese translation built into the executable when the
// user's locale asks for it; the texts stay English otherwise.
void InstallTranslation();

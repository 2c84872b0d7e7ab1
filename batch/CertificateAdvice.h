#pragma once

#include "data/SqlServerDriver.h"

#include <QString>

// A failed connection's message, followed, when the certificate was to be
// checked and the driver's words point at TLS, by what the user can do.
QString WithCertificateAdvice(const QString& driverMessage, const CertificateCheck& certificate);

// How to add a CA to a certificate store, as data/ words it in English
// (AddToCertificateStore), in the language of the batch command.
QString StoreAdviceInOurLanguage(const QString& storeAdvice);

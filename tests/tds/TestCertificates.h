#pragma once

#include "tests/tds/TdsChannel.h"

#include <QString>

// A CA made for one test run, a server certificate signed by it, and a
// second CA that signed nothing.
struct TestCertificates {
    QString caFile;       // PEM
    QString otherCaFile;  // PEM
    ServerCertificate server;
};

// Writes the two CA files into `folder`; the server certificate names
// `names` (subjectAltName entries). Throws std::runtime_error when OpenSSL
// fails or the build has none.
TestCertificates MakeTestCertificates(const QString& folder, const char* names = "IP:127.0.0.1,DNS:localhost");

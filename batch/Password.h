#pragma once

#include <QString>

// The password: the environment variable when it is set, otherwise typed on
// the terminal without echo. Throws UsageError when there is neither.
QString ReadPassword();

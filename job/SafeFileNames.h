#pragma once

#include <QString>

// File names made from a row's text that stay inside their folder and are
// valid on every platform, whatever the text holds: no separators, no
// Windows device names, a bounded length.

// A scratch file's name: readable, letters and digits kept. Names may
// collide; the scratch files make each one unique.
QString ScratchFileName(const QString& identifier);

// A backup file's name for a row key: different for different keys, also
// where case is ignored (up to a digest when long).
QString BackupFileName(const QString& key);

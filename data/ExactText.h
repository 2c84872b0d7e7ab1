#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Stored text as it is, also when its bytes are not valid UTF-8 (SQLite keeps
// whatever bytes it is given): each byte outside a valid UTF-8 sequence
// becomes the lone surrogate U+DC80 + (byte - 0x80), so the text still names
// its row and gives back the same bytes.
QString ExactText(const QByteArray& bytes);
// The bytes ExactText makes `text` from; nullopt for a text it makes from none.
std::optional<QByteArray> ExactBytes(const QString& text);

#pragma once
#include <QByteArray>
#include <QString>

// Windows-1252, the single-byte code page of the INI and language files.
// Bytes without a character (0x81, 0x8D, 0x8F, 0x90, 0x9D) decode to the same
// code point, as Windows does, so every file round-trips byte for byte.
namespace Cp1252 {
QString decode(QByteArrayView bytes);
// Characters outside the code page become '?'.
QByteArray encode(QStringView text);
} // namespace Cp1252

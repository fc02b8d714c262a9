#pragma once
#include <QString>
#include <QStringView>
#include <cstdint>

// The number parse used on texts from INI files, serial lines and text boxes.
// Blanks, tabs and line feeds anywhere are skipped; an optional sign, digits, an
// optional "." with digits and an optional exponent are read from the start; the
// first character that does not fit ends the number; no number gives 0.
double Val(QStringView text);
double Val(const char *text, std::size_t length);

// Conversions with rounding to nearest, an exact half to the even neighbour.
// A result outside the target range raises RuntimeError(Overflow).
std::int16_t CInt(double value);
std::int32_t CLng(double value);
std::uint8_t CByte(double value);

// The strict conversion of a whole text (blanks around it allowed) in the regional
// number format, or in the C format as a fallback; anything else raises
// RuntimeError(TypeMismatch).
double RegionalNumber(const QString &text);

// Round half to even without range checks (the caller clamps first).
double RoundHalfEven(double value);

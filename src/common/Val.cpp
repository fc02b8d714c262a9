#include "common/Val.h"
#include "common/Error.h"

#include <QLocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool isSkipped(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// Gathers the longest number prefix into plain ASCII and lets strtod convert it,
// so that the decimal conversion itself is exact and locale-free.
template <typename CharAt> double parseNumber(std::size_t length, CharAt at)
{
    std::string digits;
    digits.reserve(32);
    std::size_t i = 0;
    auto next = [&]() -> char16_t {
        while (i < length && isSkipped(at(i)))
            ++i;
        return i < length ? at(i) : u'\0';
    };
    char16_t c = next();
    if (c == u'+' || c == u'-') {
        digits.push_back(char(c));
        ++i;
        c = next();
    }
    bool anyDigit = false;
    while (c >= u'0' && c <= u'9') {
        digits.push_back(char(c));
        anyDigit = true;
        ++i;
        c = next();
    }
    if (c == u'.') {
        digits.push_back('.');
        ++i;
        c = next();
        while (c >= u'0' && c <= u'9') {
            digits.push_back(char(c));
            anyDigit = true;
            ++i;
            c = next();
        }
    }
    if (!anyDigit)
        return 0.0;
    if (c == u'e' || c == u'E' || c == u'd' || c == u'D') {
        // The exponent counts only when digits follow it.
        std::size_t save = i;
        std::string exponent = "e";
        ++i;
        c = next();
        if (c == u'+' || c == u'-') {
            exponent.push_back(char(c));
            ++i;
            c = next();
        }
        bool expDigit = false;
        while (c >= u'0' && c <= u'9') {
            exponent.push_back(char(c));
            expDigit = true;
            ++i;
            c = next();
        }
        if (expDigit)
            digits += exponent;
        else
            i = save;
    }
    return std::strtod(digits.c_str(), nullptr);
}

template <typename T> T convertChecked(double value, double low, double high)
{
    if (std::isnan(value))
        throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    const double rounded = RoundHalfEven(value);
    if (rounded < low || rounded > high)
        throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    return static_cast<T>(rounded);
}

} // namespace

double Val(QStringView text)
{
    return parseNumber(std::size_t(text.size()), [&](std::size_t i) { return char16_t(text[qsizetype(i)].unicode()); });
}

double Val(const char *text, std::size_t length)
{
    return parseNumber(length, [&](std::size_t i) { return char16_t(static_cast<unsigned char>(text[i])); });
}

double RoundHalfEven(double value) { return std::nearbyint(value); }

std::int16_t CInt(double value) { return convertChecked<std::int16_t>(value, -32768.0, 32767.0); }
std::int32_t CLng(double value) { return convertChecked<std::int32_t>(value, -2147483648.0, 2147483647.0); }
std::uint8_t CByte(double value) { return convertChecked<std::uint8_t>(value, 0.0, 255.0); }

double RegionalNumber(const QString &text)
{
    const QString t = text.trimmed();
    bool ok = false;
    double value = QLocale::system().toDouble(t, &ok);
    if (!ok)
        value = QLocale::c().toDouble(t, &ok);
    if (!ok)
        throw RuntimeError(ErrorNumber::TypeMismatch,
                           QStringLiteral("Type mismatch: \"%1\" is not a number").arg(text));
    return value;
}

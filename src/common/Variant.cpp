#include "common/Variant.h"
#include "common/Error.h"
#include "common/Val.h"

#include <cmath>
#include <limits>

VarType Variant::type() const
{
    static constexpr VarType kinds[] = {VarType::Empty,   VarType::Integer,  VarType::Long, VarType::Single,
                                        VarType::Double,  VarType::Currency, VarType::Date, VarType::String,
                                        VarType::Boolean, VarType::Byte};
    return kinds[data_.index()];
}

// An OLE date: days since 1899-12-30 on the local wall clock. Counted by date and
// time of day, not by elapsed milliseconds, so the zone's offset (which in 1899 was
// often an odd local mean time) and summer time play no part.
static const QDate kOleEpoch(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;

static double dateToDouble(const QDateTime &dt)
{
    const QDateTime local = dt.toLocalTime();
    return double(kOleEpoch.daysTo(local.date())) + double(local.time().msecsSinceStartOfDay()) / double(kMsPerDay);
}

static QDateTime doubleToDate(double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6)
        throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    const qint64 ms = qint64(std::llround(days * double(kMsPerDay)));
    qint64 whole = ms / kMsPerDay, rest = ms % kMsPerDay;
    if (rest < 0) {
        --whole;
        rest += kMsPerDay;
    }
    return QDateTime(kOleEpoch.addDays(whole), QTime::fromMSecsSinceStartOfDay(int(rest)), Qt::LocalTime);
}

double Variant::toDouble() const
{
    switch (type()) {
    case VarType::Empty: return 0.0;
    case VarType::Integer: return get<std::int16_t>();
    case VarType::Long: return get<std::int32_t>();
    case VarType::Single: return get<float>();
    case VarType::Double: return get<double>();
    case VarType::Currency: return get<Currency>().toDouble();
    case VarType::Date: return dateToDouble(get<QDateTime>());
    case VarType::String: return Val(get<QString>());
    case VarType::Boolean: return get<bool>() ? -1.0 : 0.0;
    case VarType::Byte: return get<std::uint8_t>();
    }
    return 0.0;
}

QString Variant::toString() const
{
    switch (type()) {
    case VarType::Empty: return {};
    case VarType::Integer: return QString::number(get<std::int16_t>());
    case VarType::Long: return QString::number(get<std::int32_t>());
    case VarType::Single: return QString::number(double(get<float>()), 'g', 7);
    case VarType::Double: return QString::number(get<double>(), 'g', 15);
    case VarType::Currency: return QString::number(get<Currency>().toDouble(), 'f', 4);
    case VarType::Date: return get<QDateTime>().toString(Qt::ISODate);
    case VarType::String: return get<QString>();
    case VarType::Boolean: return get<bool>() ? QStringLiteral("True") : QStringLiteral("False");
    case VarType::Byte: return QString::number(get<std::uint8_t>());
    }
    return {};
}

// A text converted to a number must be a number as a whole, as a DA server checks.
static double strictNumber(const QString &text)
{
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok)
        throw RuntimeError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
    return d;
}

Variant Variant::convertTo(VarType target) const
{
    if (target == type())
        return *this;
    const bool fromText = type() == VarType::String;
    auto number = [&]() { return fromText ? strictNumber(get<QString>()) : toDouble(); };
    switch (target) {
    case VarType::Empty: return {};
    case VarType::Integer: return Variant(CInt(number()));
    case VarType::Long: return Variant(CLng(number()));
    case VarType::Byte: return Variant(CByte(number()));
    case VarType::Single: {
        const double d = number();
        if (std::isfinite(d) && std::fabs(d) > double(std::numeric_limits<float>::max()))
            throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
        return Variant(float(d));
    }
    case VarType::Double: return Variant(number());
    case VarType::Currency: {
        const double d = number() * 10000.0;
        if (!std::isfinite(d) || std::fabs(d) > 9.2e18)
            throw RuntimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
        return Variant(Currency{std::int64_t(RoundHalfEven(d))});
    }
    case VarType::Date: {
        if (fromText) {
            const QDateTime dt = QDateTime::fromString(get<QString>().trimmed(), Qt::ISODate);
            if (!dt.isValid())
                throw RuntimeError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
            return Variant(dt);
        }
        return Variant(doubleToDate(toDouble()));
    }
    case VarType::String: return Variant(toString());
    case VarType::Boolean: {
        if (fromText) {
            const QString t = get<QString>().trimmed();
            if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
                return Variant(true);
            if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
                return Variant(false);
        }
        return Variant(number() != 0.0);
    }
    }
    throw RuntimeError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
}

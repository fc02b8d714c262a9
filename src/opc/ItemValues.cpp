#include "opc/ItemValues.h"
#include "common/Error.h"
#include "common/Val.h"
#include "log/Log.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

ItemValues::ItemValues(OPCServer &server) : server_(server)
{
    server_.OnRead = [this](std::int32_t count, const std::vector<OPCItem *> &, std::vector<std::int32_t> &errors,
                            std::int32_t &result) {
        if (!stateAllowsRequests()) {
            result = E_FAIL_;
            return;
        }
        // ReadRequest: every item succeeds; the toolkit serves the values it holds.
        errors.assign(std::size_t(std::max(count, 0)), S_OK_);
        result = S_OK_;
    };
    // WriteRequest changes nothing itself: the toolkit stores the values once this
    // handler has accepted them.
    server_.OnWrite = [this](std::int32_t, const std::vector<OPCItem *> &, const std::vector<Variant> &,
                             std::vector<std::int32_t> &, std::int32_t &result) {
        if (!stateAllowsRequests())
            result = E_FAIL_;
    };
    server_.OnWriteVQT = [this](std::int32_t count, const std::vector<OPCItem *> &items,
                                const std::vector<Variant> &values, const std::vector<std::int16_t> &qualities,
                                const std::vector<QDateTime> &timestamps, std::vector<std::int32_t> &errors,
                                std::int32_t &result) {
        if (!stateAllowsRequests()) {
            result = E_FAIL_;
            return;
        }
        try {
            for (std::int32_t i = 0; i < count; ++i) {
                const auto k = std::size_t(i);
                items.at(k)->SetVQT(values.at(k), qualities.at(k), timestamps.at(k));
                errors.at(k) = S_OK_;
            }
            result = S_OK_;
        } catch (const std::exception &e) {
            result = E_FAIL_;
            Log::ReportEvent(QString::fromUtf8(e.what()), QStringLiteral("OnWriteVQT Event Error"));
        }
    };
    server_.OnTraceMessage = [](const QString &line) { Log::LogTraceMessage(line.isEmpty() ? line : line.chopped(1)); };
}

ItemValues::~ItemValues()
{
    server_.OnRead = nullptr;
    server_.OnWrite = nullptr;
    server_.OnWriteVQT = nullptr;
    server_.OnTraceMessage = nullptr;
}

bool ItemValues::stateAllowsRequests() const
{
    const std::int32_t state = server_.ServerState();
    return state == ServerStates::Running || state == ServerStates::Test;
}

void ItemValues::PasaDatoValue(OPCItem *item, const Variant &value, std::int16_t quality)
{
    if (!item)
        return;
    try {
        item->SetVQT(value, quality);
    } catch (const RuntimeError &) {
        // A value the item cannot take is dropped; the item keeps the last good one.
    }
}

namespace {

// The leading number clamped to the target range before rounding, so it never overflows.
double clampedRound(const QString &text, double low, double high)
{
    return RoundHalfEven(std::clamp(Val(text), low, high));
}

QDateTime regionalDate(const QString &text)
{
    const QString t = text.trimmed();
    for (auto format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        QDateTime dt = QLocale::system().toDateTime(t, format);
        if (dt.isValid())
            return dt;
        const QDate d = QLocale::system().toDate(t, format);
        if (d.isValid())
            return QDateTime(d, QTime(0, 0));
    }
    QDateTime iso = QDateTime::fromString(t, Qt::ISODate);
    if (iso.isValid())
        return iso;
    throw RuntimeError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
}

} // namespace

Variant ConvertValue(int typeCode, const QString &text)
{
    try {
        if (typeCode >= 8192)
            return Variant(text);
        switch (VarType(typeCode)) {
        case VarType::Empty: return {};
        case VarType::Boolean: return Variant(Val(text) != 0.0);
        case VarType::Byte: return Variant(std::uint8_t(clampedRound(text, 0, 255)));
        case VarType::Integer: return Variant(std::int16_t(clampedRound(text, -32768, 32767)));
        case VarType::Long: return Variant(std::int32_t(clampedRound(text, -2147483648.0, 2147483647.0)));
        case VarType::Single: return Variant(RegionalNumber(text)).convertTo(VarType::Single);
        case VarType::Double: return Variant(RegionalNumber(text));
        case VarType::Currency: return Variant(RegionalNumber(text)).convertTo(VarType::Currency);
        case VarType::Date: return Variant(regionalDate(text));
        case VarType::String: return Variant(text);
        }
    } catch (const RuntimeError &) {
    }
    return Variant(std::int16_t(0));
}

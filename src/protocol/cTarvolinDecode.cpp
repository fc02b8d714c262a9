// Decoding of the "W" lines into the connection's items, and the zone procedures.
#include "common/Error.h"
#include "common/Val.h"
#include "opc/ItemTable.h"
#include "protocol/PanelTexts.h"
#include "protocol/cTarvolin.h"

#include <cfloat>
#include <cmath>

namespace {

bool skipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The plain decimals panels send ("01", " 12.5 ") read without the general parse;
// anything else (exponents, stray signs, commas) goes to Val. The result is
// Val's: digits mantissa over a power of ten is exact, so the one rounding of the
// division is the correctly rounded value strtod gives.
bool plainDecimal(QByteArrayView field, double &value)
{
    static constexpr double powers[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (field.size() > 15)
        return false;
    std::int64_t mantissa = 0;
    int fractionDigits = 0;
    bool negative = false, signSeen = false, dotSeen = false, anyDigit = false;
    for (const char c : field) {
        if (skipped(c))
            continue;
        if (c >= '0' && c <= '9') {
            mantissa = mantissa * 10 + (c - '0');
            anyDigit = true;
            if (dotSeen)
                ++fractionDigits;
        } else if ((c == '-' || c == '+') && !signSeen && !anyDigit && !dotSeen) {
            negative = c == '-';
            signSeen = true;
        } else if (c == '.' && !dotSeen) {
            dotSeen = true;
        } else {
            return false;
        }
    }
    if (!anyDigit) {
        value = 0.0;
        return true;
    }
    value = double(mantissa) / powers[fractionDigits];
    if (negative)
        value = -value;
    return true;
}

double fieldValue(QByteArrayView field)
{
    double value = 0.0;
    if (plainDecimal(field, value))
        return value;
    return Val(field.data(), std::size_t(field.size()));
}

// A number field as an unsigned byte; one that does not fit reads 0.
std::uint8_t byteField(QByteArrayView field)
{
    try {
        return CByte(fieldValue(field));
    } catch (const RuntimeError &) {
        return 0;
    }
}

bool isSatura(QByteArrayView text)
{
    static constexpr char word[] = "SATURA";
    if (text.size() != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        if (FieldTexts::upper(text[i]) != word[i])
            return false;
    return true;
}

const QString On = QStringLiteral("ON");
const QString Off = QStringLiteral("OFF");
const QString NoText;

} // namespace

void cTarvolin::ProcessFrame(QByteArrayView frame)
{
    if (CommError_ != 0)
        SetCommError(0);
    Silence_ = 0;
    if (frame.size() < 7)
        return;
    const std::uint8_t panel = byteField(frame.sliced(1, 2));
    const std::uint8_t z = byteField(frame.sliced(4, 1));
    if (z < 1 || z > Zones)
        return;
    SetItemValue(Variant(panel), NPanelIndex_);
    ZoneStatus &s = Zones_[z - 1];
    s.ZoneSilence = TimeoutError_;

    const char t0 = frame[5], t1 = frame[6];
    const Variant one(std::int16_t(1));
    if (t0 == 'G' && t1 == 'r') {
        processGroupReport(z, frame);
    } else if (t0 == 'O' && t1 == 'F') {
        SetZoneState(z, 1, Off);
    } else if (t0 == 'P' && t1 == 'I') {
        SetZoneState(z, 1, Off);
        setZoneItem(z, ZPrgIng, one);
        s.PrgIng = FlagHoldTicks;
    } else if (t0 == 'P' && t1 == 'U') {
        SetZoneState(z, 1, Off);
        setZoneItem(z, ZPrgUsr, one);
        s.PrgUsr = 1;
    } else if (t0 == 'F' && t1 == 'R') {
        setZoneItem(z, ZFailPower, one);
        s.FailPower = FlagHoldTicks;
    } else if (t0 == 'F' && t1 == 'B') {
        setZoneItem(z, ZFailBat, one);
        s.FailBat = FlagHoldTicks;
    } else if (t0 == 'F' && t1 == 'G') {
        setZoneItem(z, ZFailGroup, one);
        s.FailGroup = FlagHoldTicks;
    } else {
        SetZoneState(z, 0, NoText);
    }
}

// "W01 1Gr1 CO       Auto01   12.5 Alarma": group 8, gas 10-12, group state
// 18-21, detector 22-23, measure 25-30, detector state 32-37 (1-based).
void cTarvolin::processGroupReport(int z, QByteArrayView frame)
{
    if (frame.size() < 37)
        return;
    const std::uint8_t g = byteField(frame.sliced(7, 1));
    const QByteArrayView gas = frame.sliced(9, 3);
    const QByteArrayView groupState = frame.sliced(17, 4);
    const std::uint8_t d = byteField(frame.sliced(21, 2));

    const Variant gasCode(PanelTexts::GasCode(gas));
    const Variant gasText(texts_.trimmed(gas));
    setGroupItem(z, g, GState, Variant(PanelTexts::GroupStateCode(groupState)));
    setGroupItem(z, g, GStateStr, Variant(texts_.trimmedUpper(groupState)));
    setGroupItem(z, g, GGas, gasCode);
    setGroupItem(z, g, GGasStr, gasText);
    setDetectorItem(z, d, DGas, gasCode);
    setDetectorItem(z, d, DGasStr, gasText);
    setDetectorItem(z, d, DGroup, Variant(g));
    float measure = 0.0f;
    if (ParseMeasure(frame.sliced(24, 6), measure))
        setDetectorItem(z, d, DValue, Variant(measure));
    const QByteArrayView detectorState = Saturated_ ? QByteArrayView("Satura") : frame.sliced(31, 6);
    setDetectorItem(z, d, DState, Variant(PanelTexts::DetectorStateCode(detectorState)));
    setDetectorItem(z, d, DStateStr, Variant(texts_.trimmedUpper(detectorState)));
    SetZoneState(z, 2, On);
}

bool cTarvolin::ParseMeasure(QByteArrayView text, float &measure)
{
    if (isSatura(text)) {
        Saturated_ = true;
        measure = 99999.0f;
        return true;
    }
    Saturated_ = false;
    char copy[16];
    const qsizetype n = std::min<qsizetype>(text.size(), sizeof copy);
    bool percentSeen = false;
    for (qsizetype i = 0; i < n; ++i) {
        copy[i] = text[i];
        if (copy[i] == '%' && !percentSeen) {
            copy[i] = ' ';
            percentSeen = true;
        }
    }
    const double value = fieldValue(QByteArrayView(copy, n));
    // A measure beyond the float range (an exponent in the field) is not a reading.
    if (!std::isfinite(value) || std::fabs(value) > double(FLT_MAX))
        return false;
    measure = float(value);
    return true;
}

void cTarvolin::setZoneItem(int z, ZoneField f, const Variant &value)
{
    if (z >= 1 && z <= Zones)
        SetItemValue(value, zoneIndex_[std::size_t(z)][f]);
}

void cTarvolin::setGroupItem(int z, int g, GroupField f, const Variant &value)
{
    if (z >= 1 && z <= Zones && g >= 1 && g <= Groups)
        SetItemValue(value, groupIndex_[std::size_t(z)][std::size_t(g)][f]);
}

void cTarvolin::setDetectorItem(int z, int d, DetectorField f, const Variant &value)
{
    if (z >= 1 && z <= Zones && d >= 1 && d <= Detectors)
        SetItemValue(value, detectorIndex_[std::size_t(z)][std::size_t(d)][f]);
}

void cTarvolin::SetZoneState(int zone, std::uint8_t state, const QString &text)
{
    setZoneItem(zone, ZState, Variant(state));
    setZoneItem(zone, ZStateStr, Variant(text));
    ZoneStatus &s = Zones_[std::size_t(zone - 1)];
    if (s.State == state)
        return;
    s.State = state;
    if (state == 1)
        ClearZoneDetail(zone);
    else if (state == 2)
        ClearZoneFlags(zone);
}

void cTarvolin::ResetZone(int zone)
{
    setZoneItem(zone, ZState, Variant(std::int16_t(0)));
    setZoneItem(zone, ZStateStr, Variant(NoText));
    Zones_[std::size_t(zone - 1)].State = 0;
    ClearZoneFlags(zone);
    ClearZoneDetail(zone);
}

void cTarvolin::ClearZoneFlags(int zone)
{
    ZoneStatus &s = Zones_[std::size_t(zone - 1)];
    const Variant zero(std::int16_t(0));
    const std::pair<std::int16_t *, ZoneField> flags[] = {
        {&s.PrgIng, ZPrgIng},   {&s.PrgUsr, ZPrgUsr},       {&s.FailPower, ZFailPower},
        {&s.FailBat, ZFailBat}, {&s.FailGroup, ZFailGroup},
    };
    for (const auto &[field, item] : flags) {
        if (*field > 0) {
            *field = 0;
            setZoneItem(zone, item, zero);
        }
    }
}

void cTarvolin::ClearZoneDetail(int zone)
{
    const Variant zero(std::int16_t(0));
    const Variant empty(NoText);
    for (int g = 1; g <= Groups; ++g) {
        setGroupItem(zone, g, GState, zero);
        setGroupItem(zone, g, GStateStr, empty);
        setGroupItem(zone, g, GGas, zero);
        setGroupItem(zone, g, GGasStr, empty);
    }
    for (int d = 1; d <= Detectors; ++d) {
        setDetectorItem(zone, d, DGroup, zero);
        setDetectorItem(zone, d, DValue, zero);
        setDetectorItem(zone, d, DState, zero);
        setDetectorItem(zone, d, DStateStr, empty);
        setDetectorItem(zone, d, DGas, zero);
        setDetectorItem(zone, d, DGasStr, empty);
    }
}

#include "protocol/PanelTexts.h"

namespace {

struct Row {
    const char *text;
    std::uint8_t code;
};

template <std::size_t N> std::uint8_t lookup(QByteArrayView text, const Row (&rows)[N], std::uint8_t otherwise)
{
    for (const Row &row : rows)
        if (text == QByteArrayView(row.text))
            return row.code;
    return otherwise;
}

constexpr Row GroupStates[] = {
    {"Stop", 1}, {"Auto", 2}, {"Manu", 3}, {"Ven1", 4}, {"Ven2", 5}, {"Goff", 6}, {"V CI", 7},
};

constexpr Row Gases[] = {
    {"CO ", 1}, {"CO2", 2}, {"NO ", 3}, {"NO2", 4},  {"H2S", 5},  {"SO2", 6},
    {"CL2", 7}, {"HCL", 8}, {"O2 ", 9}, {"EXP", 10}, {"NH3", 11},
};

constexpr Row DetectorStates[] = {
    {"N.Ven1", 2}, {"L.Ven1", 2}, {"N.Ven2", 3}, {"L.Ven2", 3}, {"Alarma", 4}, {"Alarm ", 4}, {"Error ", 5},
    {"ErrSen", 6}, {"DetFau", 6}, {"Aviso ", 7}, {"Warn. ", 7}, {"Preala", 8}, {"Satura", 9},
};

} // namespace

namespace PanelTexts {

std::uint8_t GroupStateCode(QByteArrayView text) { return lookup(text, GroupStates, UnknownGroupState); }
std::uint8_t GasCode(QByteArrayView text) { return lookup(text, Gases, UnknownGas); }
std::uint8_t DetectorStateCode(QByteArrayView text) { return lookup(text, DetectorStates, UnknownDetectorState); }

} // namespace PanelTexts

#pragma once
#include <QByteArrayView>
#include <cstdint>

// The fixed texts a panel reports and their codes. Fields are compared whole and
// case-sensitively, blanks included (bytes as received, one per character).
namespace PanelTexts {

// Group state field (4 characters): "Stop" 1 … "V CI" 7, anything else 255.
std::uint8_t GroupStateCode(QByteArrayView text);
// Gas field (3 characters): "CO " 1 … "NH3" 11, anything else 0.
std::uint8_t GasCode(QByteArrayView text);
// Detector state field (6 characters): Spanish and English wordings, anything else 1.
std::uint8_t DetectorStateCode(QByteArrayView text);

constexpr std::uint8_t UnknownGroupState = 255;
constexpr std::uint8_t UnknownGas = 0;
constexpr std::uint8_t UnknownDetectorState = 1;
constexpr std::uint8_t SaturatedDetectorState = 9;

} // namespace PanelTexts

#pragma once
#include "common/Variant.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

class OPCServer;

// OPC DA qualities the program uses (the low byte of a DA quality word).
namespace Quality {
constexpr std::int16_t Bad = 0x00;
constexpr std::int16_t BadConfigurationError = 0x04;
constexpr std::int16_t BadDeviceFailure = 0x0C;
constexpr std::int16_t BadOutOfService = 0x1C;
constexpr std::int16_t Good = 0xC0;
} // namespace Quality

// Access rights of an item.
namespace AccessRights {
constexpr std::uint8_t Read = 1;
constexpr std::uint8_t Write = 2;
constexpr std::uint8_t ReadWrite = 3;
} // namespace AccessRights

// One item of the toolkit's store. Its data type is fixed by the initial value;
// later values are converted to it.
class OPCItem {
public:
    const Variant &Value() const { return value_; }
    const QString &ItemID() const { return id_; }
    std::uint8_t AccessRights() const { return rights_; }
    VarType DataType() const { return type_; }
    std::int16_t Quality() const { return quality_; }
    const QDateTime &Timestamp() const { return timestamp_; }
    std::int32_t UserIndex() const { return userIndex_; }
    void setUserIndex(std::int32_t index) { userIndex_ = index; }

    // Value, quality and timestamp at once; no value means a quality-only change.
    // An invalid (null) timestamp means "now". A value that cannot be converted to
    // the item's type raises RuntimeError and leaves the item as it was.
    void SetVQT(const std::optional<Variant> &value, std::int16_t quality, const QDateTime &timestamp = {});

    // Position in creation order (0-based): a stable handle for the network side.
    int handle() const { return handle_; }
    // Whether the last SetVQT brought the value and quality the item already had: panels
    // repeat most of their state in every frame, so most calls change only the timestamp.
    bool onlyTimestampChanged() const { return onlyTimestampChanged_; }

private:
    friend class OPCTags;
    OPCItem(OPCServer *owner, int handle, QString id, std::uint8_t rights, Variant value, std::int16_t quality,
            QDateTime timestamp);

    OPCServer *owner_;
    int handle_;
    QString id_;
    std::uint8_t rights_;
    VarType type_;
    Variant value_;
    std::int16_t quality_;
    QDateTime timestamp_;
    std::int32_t userIndex_ = 0;
    bool onlyTimestampChanged_ = false;
};

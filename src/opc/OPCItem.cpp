#include "opc/OPCItem.h"
#include "opc/OPCServer.h"

OPCItem::OPCItem(OPCServer *owner, int handle, QString id, std::uint8_t rights, Variant value, std::int16_t quality,
                 QDateTime timestamp)
    : owner_(owner), handle_(handle), id_(std::move(id)), rights_(rights), type_(value.type()),
      value_(std::move(value)), quality_(quality), timestamp_(std::move(timestamp))
{
}

void OPCItem::SetVQT(const std::optional<Variant> &value, std::int16_t quality, const QDateTime &timestamp)
{
    bool same = quality == quality_;
    if (value) {
        // Convert first so that a refused value leaves the item untouched.
        Variant converted = (type_ == VarType::Empty) ? *value : value->convertTo(type_);
        same = same && converted == value_;
        value_ = std::move(converted);
    }
    onlyTimestampChanged_ = same;
    quality_ = quality;
    timestamp_ = timestamp.isValid() ? timestamp : owner_->clock().now();
    owner_->itemChanged(*this);
}

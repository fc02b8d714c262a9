#pragma once
#include "opc/OPCItem.h"

#include <QHash>
#include <memory>
#include <vector>

// The toolkit's item collection: items in creation order, looked up by ID.
// Items live as long as the collection; pointers to them stay valid.
class OPCTags {
public:
    explicit OPCTags(OPCServer *owner) : owner_(owner) {}

    // Creates an item. A duplicate or empty ID raises RuntimeError(ToolkitError).
    // A null timestamp means "now".
    OPCItem *Add(const QString &itemId, std::uint8_t accessRights, const Variant &initialValue, std::int16_t quality,
                 const QDateTime &timestamp = {});
    // The item with that ID (exact match); raises RuntimeError(ToolkitError) when none.
    OPCItem *Item(const QString &itemId) const;
    // The same lookup without raising.
    OPCItem *find(const QString &itemId) const;

    int Count() const { return int(items_.size()); }
    // Room for `more` items, so that creating thousands at once does not regrow the index.
    void reserve(int more);
    OPCItem *at(int handle) const { return items_[std::size_t(handle)].get(); }

    // Enumeration in creation order.
    class const_iterator {
    public:
        using Inner = std::vector<std::unique_ptr<OPCItem>>::const_iterator;
        explicit const_iterator(Inner it) : it_(it) {}
        OPCItem *operator*() const { return it_->get(); }
        const_iterator &operator++()
        {
            ++it_;
            return *this;
        }
        bool operator!=(const const_iterator &o) const { return it_ != o.it_; }
        bool operator==(const const_iterator &o) const { return it_ == o.it_; }

    private:
        Inner it_;
    };
    const_iterator begin() const { return const_iterator(items_.begin()); }
    const_iterator end() const { return const_iterator(items_.end()); }

private:
    OPCServer *owner_;
    std::vector<std::unique_ptr<OPCItem>> items_;
    QHash<QString, OPCItem *> byId_;
    mutable std::size_t lastFound_ = 0; // where find() looks first
};

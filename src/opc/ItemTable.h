#pragma once
#include <QString>
#include <cstdint>
#include <vector>

class OPCItem;

// One published item as the program keeps it beside the toolkit: its values live
// in the toolkit's item, its description (which the toolkit has no place for) here.
struct ItemRecord {
    OPCItem *Tag = nullptr; // null when the toolkit refused the item
    QString Description;
};

// The process-wide item table: indexed from 1, grown one entry per item by the
// engines' InitialUpdate, never shrunk. Each toolkit item's UserIndex is its index.
class ItemTable {
public:
    ItemTable() : entries_(1) {}
    int ItemCount() const { return int(entries_.size()) - 1; }
    // Appends an entry and returns its index.
    int add(ItemRecord record)
    {
        entries_.push_back(std::move(record));
        return ItemCount();
    }
    // Room for `more` entries, so that a start fills the table without copying it.
    void reserve(int more) { entries_.reserve(entries_.size() + std::size_t(more)); }
    bool contains(int index) const { return index >= 1 && index <= ItemCount(); }
    ItemRecord &operator[](int index) { return entries_[std::size_t(index)]; }
    const ItemRecord &operator[](int index) const { return entries_[std::size_t(index)]; }

private:
    std::vector<ItemRecord> entries_;
};

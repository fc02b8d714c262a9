#pragma once
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>

class OPCServer;
class ItemTable;
class ItemValues;

// A time stamp as the operator's region writes a date with its time, always to
// the second (the short time format of many regions stops at the minute).
QString GeneralDateText(const QDateTime &stamp, const QLocale &locale);

// The seven fields of the item detail.
struct ItemDetail {
    QString txtTagFQID, txtTagCanDT, txtTagAccPerm, txtTagValue, txtTagQuality, txtTagTimestamp, txtTagDesc;
    bool operator==(const ItemDetail &) const = default;
};

// Fills the detail for a clicked node (its full path and tag). A folder blanks
// everything but the path; a leaf whose item is gone blanks value, quality,
// timestamp and description and leaves type and access as they were.
void ShowNodeDetail(ItemDetail &detail, const QString &fullPath, const QString &tag, const OPCServer &server,
                    const ItemTable &items);

// The item detail of the selected node. It watches the one item it shows, so the
// fields follow every change of that item (an engine's update, a client's write,
// the operator's test write) and changes of other items never touch it.
class ItemDetailPane {
public:
    ItemDetailPane(OPCServer &server, const ItemTable &items);
    ~ItemDetailPane();
    ItemDetailPane(const ItemDetailPane &) = delete;
    ItemDetailPane &operator=(const ItemDetailPane &) = delete;

    // A node was clicked, expanded or collapsed: its detail is shown.
    void showNode(const QString &fullPath, const QString &tag);
    const ItemDetail &detail() const { return detail_; }

    // Receives the detail each time it is filled.
    std::function<void(const ItemDetail &)> onShow;

private:
    void refresh();

    OPCServer &server_;
    const ItemTable &items_;
    ItemDetail detail_;
    QString path_, tag_;
    int observer_ = 0;
};

// The operator's test write: the text converted to the item's type and handed
// to the item with quality Good. Nothing happens for a folder or no selection.
// Returns true when an item was written (the caller then tells the panel engine
// about a writable item).
bool TestWrite(const QString &selectedTag, const QString &text, OPCServer &server, ItemValues &values);

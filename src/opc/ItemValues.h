#pragma once
#include "common/Variant.h"
#include "opc/OPCServer.h"

#include <QObject>
#include <functional>

// The program's side of the exchange with the toolkit: values handed to items, the
// answers to clients' reads and writes (gated by the server state), and the
// toolkit's trace lines passed to the log.
class ItemValues {
public:
    explicit ItemValues(OPCServer &server);
    ~ItemValues();

    // The item detail pane, when there is one: the ID it shows and its refresh.
    std::function<QString()> detailItemId;
    std::function<void()> refreshDetail;

    // Sets the item's value and quality (timestamp now); refreshes the detail when
    // it shows this item. Errors are ignored.
    void PasaDatoValue(OPCItem *item, const Variant &value, std::int16_t quality);
    // The same for the item with that ID, quality Good; nothing when there is none.
    void PasaDatoValueTagName(const QString &itemId, const Variant &value);

private:
    bool stateAllowsRequests() const;
    bool detailShows(const OPCItem *item) const;
    void refresh();

    OPCServer &server_;
    QObject context_; // owns deferred refreshes, so none outlives this object
};

// An operator's text as a value of the given variant type code (the test write).
// Never fails: text that cannot be converted gives Integer 0.
Variant ConvertValue(int typeCode, const QString &text);

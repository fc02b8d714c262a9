#pragma once
#include "common/Variant.h"
#include "opc/OPCServer.h"

// The program's side of the exchange with the toolkit: values handed to items, the
// answers to clients' reads and writes (gated by the server state), and the
// toolkit's trace lines passed to the log.
class ItemValues {
public:
    explicit ItemValues(OPCServer &server);
    ~ItemValues();
    ItemValues(const ItemValues &) = delete;
    ItemValues &operator=(const ItemValues &) = delete;

    // Sets the item's value and quality, timestamp now. A value the item cannot
    // take is dropped; nothing is raised.
    void PasaDatoValue(OPCItem *item, const Variant &value, std::int16_t quality);

private:
    bool stateAllowsRequests() const;

    OPCServer &server_;
};

// An operator's text as a value of the given variant type code (the test write).
// Never fails: text that cannot be converted gives Integer 0.
Variant ConvertValue(int typeCode, const QString &text);

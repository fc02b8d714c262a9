#pragma once
#include "TestSupport.h"
#include "opc/ItemTable.h"
#include "opc/OPCServer.h"
#include "protocol/XTimerSupport.h"
#include "protocol/cTarvolin.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>

// System timers that tick only when a test says so.
class ManualTimers : public XTimerSupport::SystemTimers {
public:
    ManualTimers() { previous_ = XTimerSupport::setSystemTimers(this); }
    ~ManualTimers() override { XTimerSupport::setSystemTimers(previous_); }

    std::int32_t SetTimer(std::int32_t intervalMs) override
    {
        if (exhausted)
            return 0;
        const std::int32_t id = nextId_++;
        running[id] = intervalMs;
        ++started;
        return id;
    }
    void KillTimer(std::int32_t id) override
    {
        running.erase(id);
        killed.push_back(id);
    }
    // Delivers one tick of system timer id, as the event loop would.
    void fire(std::int32_t id) { XTimerSupport::TimerProc(nullptr, 0x113, id, 0); }

    bool exhausted = false;
    int started = 0;
    std::map<std::int32_t, std::int32_t> running; // id -> interval
    std::vector<std::int32_t> killed;

private:
    XTimerSupport::SystemTimers *previous_;
    std::int32_t nextId_ = 1000;
};

// One engine with its items in a fresh toolkit and table; ticks on demand.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override { engine = makeEngine(1); }

    std::unique_ptr<cTarvolin> makeEngine(std::int16_t index)
    {
        auto e = std::make_unique<cTarvolin>();
        e->setClaveProtocol(QStringLiteral("K67"));
        e->setIndex(index);
        e->InitialUpdate(server, nullptr, table);
        return e;
    }

    // Runs n ticks of the engine's timer through the timer table.
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            timers.fire(XTimerAccess::TimerID(engine->timer()));
    }
    // A line (CR appended) received by the engine.
    void line(const QByteArray &text) { engine->Receive(QByteArrayView(text + '\r')); }

    OPCItem *item(const QString &id) const { return server.Tags().find(id); }
    Variant value(const QString &id) const
    {
        OPCItem *i = item(id);
        return i ? i->Value() : Variant();
    }
    // The table entry of an item, by name.
    const ItemRecord &record(const QString &id) const { return table[item(id)->UserIndex()]; }

    TempAppFolder folder; // before the engines: the INI they read lives here
    ManualTimers timers;  // outlives the engines, which stop their timers on the way out
    OPCServer server;
    ItemTable table;
    std::unique_ptr<cTarvolin> engine;
};

// A "Gr" line: zone z, group g, gas (3), group state (4), detector d, measure (6),
// detector state (6), panel p.
inline QByteArray grLine(int z, int g, const char *gas, const char *groupState, int d, const char *measure,
                         const char *detectorState, int p = 1)
{
    QByteArray s = "W" + QByteArray::number(p).rightJustified(2, '0') + " " + QByteArray::number(z) + "Gr" +
                   QByteArray::number(g) + " " + QByteArray(gas) + "     " + QByteArray(groupState) +
                   QByteArray::number(d).rightJustified(2, '0') + " " + QByteArray(measure) + " " +
                   QByteArray(detectorState);
    return s;
}

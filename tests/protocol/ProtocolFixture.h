#pragma once
#include "TestSupport.h"
#include "opc/ItemTable.h"
#include "opc/OPCServer.h"
#include "protocol/XTimerSupport.h"
#include "protocol/cTarvolin.h"

#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <memory>

// System timers that tick only when a test says so.
class ManualTimers : public XTimerSupport::SystemTimers {
public:
    ManualTimers() { previous_ = XTimerSupport::setSystemTimers(this); }
    ~ManualTimers() override { XTimerSupport::setSystemTimers(previous_); }
    std::int32_t SetTimer(std::int32_t intervalMs) override
    {
        if (exhausted)
            return 0;
        std::int32_t id = reuseIds ? 1 : nextId_++;
        while (running.count(id))
            ++id;
        running[id] = intervalMs;
        return id;
    }
    void KillTimer(std::int32_t id) override
    {
        running.erase(id);
        killed.push_back(id);
    }
    // Delivers ticks of system timer id, as the event loop would.
    void fire(std::int32_t id, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            XTimerSupport::TimerProc(nullptr, 0x113, id, 0);
    }
    bool exhausted = false;
    bool reuseIds = false;                        // hand out the lowest free id again, as real timers do
    std::map<std::int32_t, std::int32_t> running; // id -> interval
    std::vector<std::int32_t> killed;

private:
    XTimerSupport::SystemTimers *previous_;
    std::int32_t nextId_ = 1000;
};

// One engine with its items in a fresh toolkit and table; ticks on demand. Every
// value the engine hands on is counted and kept as it was written.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine = makeEngine(1);
        engine->frameObserver = [this](QByteArrayView l) { observed << QString::fromLatin1(l); };
        engine->ProtocolStart();
    }
    std::unique_ptr<cTarvolin> makeEngine(std::int16_t index)
    {
        auto e = std::make_unique<cTarvolin>();
        e->setIndex(index);
        e->InitialUpdate(server, table);
        e->setValueWriter([this](OPCItem *item, const Variant &v, std::int16_t q) {
            ++writes[item->ItemID()];
            written[item->ItemID()] = v;
            item->SetVQT(v, q);
        });
        return e;
    }
    void tick(int n = 1) { timers.fire(XTimerAccess::TimerID(engine->timer()), n); }
    void feed(const QByteArray &bytes) { engine->Receive(QByteArrayView(bytes)); }
    Variant value(const QString &id) const
    {
        const OPCItem *i = server.Tags().find(id);
        return i ? i->Value() : Variant();
    }
    // A spec "Z1.State=2 #Z1.State=3 %Z1.State=17 @error=0" of what it names: an item's value as text (IDs without
    // "C01."), how often the engine wrote it ("#"), the type code of its last write ("%"), or the engine's own state:
    // "@error", "@silence", "@buffer", "@dropped", "@lines" (observed), "@written" (items written) and "@zone2"
    // (state/silence/PrgIng/PrgUsr/FailPower/FailBat/FailGroup).
    QString items(const char *spec) const
    {
        QStringList actual;
        for (const QString &pair : QString::fromLatin1(spec).split(' ', Qt::SkipEmptyParts)) {
            const QString id = pair.section('=', 0, 0), item = "C01." + id.mid(1);
            auto n = [](qint64 x) { return QString::number(x); };
            const cTarvolin::ZoneStatus &z = engine->zone(std::clamp(id.mid(5).toInt(), 1, 4));
            const QStringList zone = {n(z.State),     n(z.ZoneSilence), n(z.PrgIng),   n(z.PrgUsr),
                                      n(z.FailPower), n(z.FailBat),     n(z.FailGroup)};
            const std::map<QString, QString> state = {
                {"@error", n(engine->CommError())},     {"@silence", n(engine->Silence())},
                {"@buffer", n(engine->rxBufferSize())}, {"@dropped", n(qint64(engine->discardedLines()))},
                {"@lines", n(observed.size())},         {"@zone", zone.join('/')},
                {"@written", n(qint64(writes.size()))}};
            actual << id + '=' +
                          (id.startsWith('#')   ? n(writes.count(item) ? writes.at(item) : 0)
                           : id.startsWith('%') ? n(qint64(written.at(item).type()))
                           : id.startsWith('@') ? state.at(id.startsWith("@zone") ? QString("@zone") : id)
                                                : value("C01." + id).toString());
        }
        return actual.join(' ');
    }
    // Feeds each step's lines (if any, the last CR added), lets the ticks pass, then expects its spec.
    void play(std::initializer_list<std::tuple<QByteArray, int, const char *>> steps)
    {
        for (const auto &[lines, ticks, spec] : steps) {
            if (!lines.isEmpty())
                feed(lines + '\r');
            tick(ticks);
            EXPECT_EQ(items(spec), QString::fromLatin1(spec)) << lines.constData() << " +" << ticks;
        }
    }

    TempAppFolder folder; // before the engines: the INI they read lives here
    ManualTimers timers;  // outlives the engines, which stop their timers on the way out
    OPCServer server;
    ItemTable table;
    std::map<QString, int> writes;
    std::map<QString, Variant> written;
    QStringList observed; // the lines the monitor would show
    std::unique_ptr<cTarvolin> engine;
};

#define EXPECT_ITEMS(spec) EXPECT_EQ(items(spec), QString::fromLatin1(spec))

// A "Gr" line: zone z, group g, gas (3), group state (4), detector d, measure (6), detector state (6), panel p.
inline QByteArray grLine(int z, int g, const char *gas, const char *groupState, int d, const char *measure,
                         const char *detectorState, int p = 1)
{
    return "W" + QByteArray::number(p).rightJustified(2, '0') + " " + QByteArray::number(z) + "Gr" +
           QByteArray::number(g) + " " + gas + "     " + groupState + QByteArray::number(d).rightJustified(2, '0') +
           " " + measure + " " + detectorState;
}

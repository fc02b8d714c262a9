// Arbitrary bytes through line assembly and decoding into a real item store, in chunks and
// between supervision ticks as the input says; the engine and its 478 items stay consistent.
#include "FuzzCheck.h"
#include "opc/ItemTable.h"
#include "opc/OPCServer.h"
#include "protocol/XTimerSupport.h"
#include "protocol/cTarvolin.h"

#include <cstdint>

namespace {

// One connection for the whole run, as in the server; the input decides when a
// second passes.
struct World : XTimerSupport::SystemTimers {
    World()
    {
        qputenv("OPC_KV7_HOME", "/nonexistent/kv7-fuzz");
        XTimerSupport::setSystemTimers(this);
        engine.setIndex(1);
        engine.InitialUpdate(server, table);
        engine.ProtocolStart();
        for (OPCItem *item : server.Tags())
            types.push_back(item->DataType());
    }
    std::int32_t SetTimer(std::int32_t) override { return 1; }
    void KillTimer(std::int32_t) override {}
    OPCServer server;
    ItemTable table;
    cTarvolin engine;
    std::vector<VarType> types;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static World *world = new World;
    cTarvolin &e = world->engine;
    if (size == 0)
        return 0;
    // The first byte shapes the chunks (1 to 64 bytes) and how many seconds pass after each.
    const std::size_t chunk = 1 + data[0] % 64;
    const int ticksPerChunk = data[0] >> 6 == 3 ? 40 : data[0] >> 6;
    for (std::size_t pos = 1; pos < size; pos += chunk) {
        e.Receive(QByteArrayView(reinterpret_cast<const char *>(data) + pos, qsizetype(std::min(chunk, size - pos))));
        for (int t = 0; t < ticksPerChunk; ++t)
            XTimerSupport::TimerProc(nullptr, 0x113, XTimerAccess::TimerID(e.timer()), 0);
    }
    check(world->table.ItemCount() == cTarvolin::ItemsPerConnection && e.rxBufferSize() <= cTarvolin::RxBufferLimit);
    check((e.CommError() == 0 || e.CommError() == 1) && e.Silence() >= 0 && e.Silence() <= e.TimeoutError() + 1);
    for (int z = 1; z <= cTarvolin::Zones; ++z) {
        const cTarvolin::ZoneStatus &s = e.zone(z);
        check(s.State >= 0 && s.State <= 2 && s.ZoneSilence >= 0 && s.ZoneSilence <= e.TimeoutError() &&
              (s.PrgUsr == 0 || s.PrgUsr == 1));
        for (std::int16_t hold : {s.PrgIng, s.FailPower, s.FailBat, s.FailGroup})
            check(hold >= 0 && hold <= cTarvolin::FlagHoldTicks);
    }
    // Every item keeps the type it was created with, and its table entry.
    int i = 0;
    for (OPCItem *item : world->server.Tags())
        check(item->DataType() == world->types[std::size_t(i)] && item->Value().type() == item->DataType() &&
              item->UserIndex() == ++i);
    check(world->server.Tags().Item("C01.Error_Comm")->Value() == Variant(std::uint8_t(e.CommError())));
    return 0;
}

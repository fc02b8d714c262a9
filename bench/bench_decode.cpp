// Frame decoding: bytes of panel traffic in a buffer, through line assembly and
// decoding, to item values in the toolkit's store, for 16 lines. Reported as
// frames per second on one core (items_per_second).
#include "../tools/kv7sim/PanelModel.h"
#include "opc/ItemTable.h"
#include "opc/ItemValues.h"
#include "opc/OPCServer.h"
#include "protocol/XTimerSupport.h"
#include "protocol/cTarvolin.h"

#include <QByteArray>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

constexpr int Lines = 16;
constexpr int FramesPerLine = 4000;

// Supervision ticks are not part of decoding; the engines only need a timer id.
class IdleTimers : public XTimerSupport::SystemTimers {
public:
    std::int32_t SetTimer(std::int32_t) override { return ++last; }
    void KillTimer(std::int32_t) override {}
    std::int32_t last = 0;
};

// A server with 16 connections wired as the shell wires them: values go through
// ItemValues::PasaDatoValue into the toolkit's items.
struct Server {
    explicit Server(bool monitor)
    {
        qputenv("OPC_KV7_HOME", "/nonexistent/kv7-bench");
        XTimerSupport::setSystemTimers(&timers);
        for (int i = 1; i <= Lines; ++i) {
            auto e = std::make_unique<cTarvolin>();
            e->setClaveProtocol(QStringLiteral("K67"));
            e->setIndex(std::int16_t(i));
            e->InitialUpdate(server, table);
            e->setValueWriter(
                [this](OPCItem *item, const Variant &v, std::int16_t q) { values.PasaDatoValue(item, v, q); });
            if (monitor)
                e->frameObserver = [this](QByteArrayView line) { monitorChars += QString::fromLatin1(line).size(); };
            e->ProtocolStart();
            engines.push_back(std::move(e));
        }
    }
    ~Server()
    {
        engines.clear();
        XTimerSupport::setSystemTimers(nullptr);
    }
    IdleTimers timers;
    OPCServer server;
    ItemTable table;
    ItemValues values{server};
    std::vector<std::unique_ptr<cTarvolin>> engines;
    qsizetype monitorChars = 0;
};

struct Traffic {
    std::vector<QByteArray> lines;
    std::int64_t frames = 0;
};

// Simulated panels, one per line; only lines of the given kind when filtered.
Traffic makeTraffic(const char *onlyType = nullptr)
{
    Traffic t;
    for (int i = 1; i <= Lines; ++i) {
        kv7sim::PanelModel panel(i, 7919u * unsigned(i));
        QByteArray bytes;
        int n = 0;
        while (n < FramesPerLine) {
            const std::string frame = panel.nextFrame();
            const bool group = frame.size() >= 7 && frame.compare(5, 2, "Gr") == 0;
            if (onlyType && (std::string(onlyType) == "Gr") != group)
                continue;
            bytes.append(frame.data(), qsizetype(frame.size())).append('\r');
            ++n;
        }
        t.lines.push_back(bytes);
        t.frames += n;
    }
    return t;
}

// Feeds every line in chunks as serial reads deliver them.
void run(benchmark::State &state, const Traffic &traffic, bool monitor)
{
    Server s(monitor);
    const qsizetype chunk = state.range(0);
    for (auto _ : state) {
        for (int i = 0; i < Lines; ++i) {
            const QByteArray &bytes = traffic.lines[std::size_t(i)];
            cTarvolin &engine = *s.engines[std::size_t(i)];
            for (qsizetype pos = 0; pos < bytes.size(); pos += chunk)
                engine.Receive(QByteArrayView(bytes).sliced(pos, std::min(chunk, bytes.size() - pos)));
        }
        benchmark::DoNotOptimize(s.server.Tags().at(10)->Value());
    }
    state.SetItemsProcessed(state.iterations() * traffic.frames);
    state.SetBytesProcessed(state.iterations() * [&] {
        std::int64_t b = 0;
        for (const QByteArray &l : traffic.lines)
            b += l.size();
        return b;
    }());
}

void BM_DecodeMixedTraffic(benchmark::State &state)
{
    static const Traffic traffic = makeTraffic();
    run(state, traffic, false);
}

void BM_DecodeGroupReports(benchmark::State &state)
{
    static const Traffic traffic = makeTraffic("Gr");
    run(state, traffic, false);
}

void BM_DecodeZoneReports(benchmark::State &state)
{
    static const Traffic traffic = makeTraffic("zone");
    run(state, traffic, false);
}

void BM_DecodeWithMonitorOn(benchmark::State &state)
{
    static const Traffic traffic = makeTraffic();
    run(state, traffic, true);
}

} // namespace

// Chunk sizes: what one read of a 4800-baud line typically returns, and a large
// backlog read at once.
BENCHMARK(BM_DecodeMixedTraffic)->Arg(8)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGroupReports)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeZoneReports)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeWithMonitorOn)->Arg(64)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// Line assembly and supervision of the link, driven by ticks on demand.
#include "ProtocolFixture.h"
#include "common/Error.h"

#include <QStringList>

namespace {

class Link : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        engine->frameObserver = [this](QByteArrayView l) { observed << QString::fromLatin1(l); };
        engine->ProtocolStart();
    }
    QStringList observed;
};

TEST_F(Link, LinesAreCutAtCarriageReturnsWhateverTheChunks)
{
    // Input while stopped is lost.
    engine->ProtocolStop();
    feed("W01 1OF\r");
    engine->ProtocolStart();
    EXPECT_TRUE(observed.isEmpty());
    // A lone "W" brings the link up and writes nothing else.
    feed("W\r");
    EXPECT_EQ(engine->CommError(), 0);
    EXPECT_EQ(written, (std::map<QString, Variant>{{"C01.Error_Comm", Variant(std::int16_t(0))}}));
    // Two lines in one chunk: both shown, both decoded, in order.
    feed("W03 1OF\rW04 2PI\r");
    EXPECT_ITEMS("NPanel=4 Z1.State=1 Z2.StsPrgIng=1");
    // One line over several chunks: decoded once, when its CR arrives.
    const QByteArray l = grLine(3, 2, "SO2", "Auto", 12, " 77.7 ", "Error ") + '\r';
    for (qsizetype i = 0; i < l.size() - 1; ++i)
        feed(l.mid(i, 1));
    EXPECT_EQ(writesTo("C01.Z3.D12.Value"), 0);
    feed("\r");
    EXPECT_EQ(writesTo("C01.Z3.D12.Value"), 1);
    EXPECT_ITEMS("Z3.D12.Value=77.7");
    EXPECT_EQ(engine->rxBufferSize(), 0);
    // A lone CR is a line; "w" and other letters are not frames and prove nothing;
    // an LF after a CR starts the next line, which then is not a frame either.
    tick(101);
    feed("\rw01 4OF\rX01 4OF\r");
    EXPECT_EQ(engine->CommError(), 1);
    feed("W01 1OF\r\nW01 4OF\r");
    EXPECT_ITEMS("Z1.State=1 Error_Comm=0");
    EXPECT_EQ(writesTo("C01.Z4.State"), 0);
    EXPECT_EQ(observed, (QStringList{"W\r", "W03 1OF\r", "W04 2PI\r", QString::fromLatin1(l), "\r", "w01 4OF\r",
                                     "X01 4OF\r", "W01 1OF\r", "\nW01 4OF\r"}));
}

TEST_F(Link, PartialLineBeyondTheLimitIsDroppedWithItsTail)
{
    // Exactly at the limit the partial line is kept and completes.
    feed("W01 1OF" + QByteArray(cTarvolin::RxBufferLimit - 7, 'x'));
    EXPECT_EQ(engine->rxBufferSize(), cTarvolin::RxBufferLimit);
    feed("\r");
    EXPECT_ITEMS("Z1.State=1");
    EXPECT_EQ(engine->discardedLines(), 0u);
    // One more character and it goes, with the rest of that line: a tail that
    // happens to look like a frame must not be decoded.
    feed(QByteArray(cTarvolin::RxBufferLimit + 1, 'y'));
    EXPECT_EQ(engine->rxBufferSize(), 0);
    EXPECT_EQ(engine->discardedLines(), 1u);
    feed("W01 2OF");
    feed("W01 3OF\rW01 4OF\r");
    EXPECT_ITEMS("Z2.State=0 Z3.State=0 Z4.State=1");
    // A stream without CR never grows the buffer beyond the limit.
    for (int i = 0; i < 100; ++i) {
        feed(QByteArray(97, char('a' + i % 26)));
        ASSERT_LE(engine->rxBufferSize(), cTarvolin::RxBufferLimit);
    }
    EXPECT_GE(engine->discardedLines(), 2u);
    // Complete lines in the same chunk as an over-long tail are still decoded.
    feed("\rW09 1PU\r" + QByteArray(600, 'z'));
    EXPECT_ITEMS("NPanel=9");
    EXPECT_EQ(engine->rxBufferSize(), 0);
    // A failing monitor does not stop decoding.
    engine->frameObserver = [](QByteArrayView) { throw RuntimeError(61, QStringLiteral("Disk full")); };
    EXPECT_NO_THROW(feed("\rW01 2OF\rW01 3O"));
    feed("F\r");
    EXPECT_ITEMS("Z2.State=1 Z3.State=1");
}

TEST_F(Link, SilenceRaisesTheErrorOnTheTickAfterTheLimitAndStopStartKeepsTheCount)
{
    // A fresh connection is in error until its first frame; ticks do not count then.
    tick(300);
    EXPECT_EQ(engine->Silence(), 0);
    EXPECT_ITEMS("Error_Comm=1");
    feed("W01 1OF\r");
    EXPECT_ITEMS("Error_Comm=0");
    tick(60);
    engine->ProtocolStop();
    engine->ProtocolStart();
    EXPECT_EQ(engine->Silence(), 60);
    EXPECT_EQ(timers.running.size(), 1u); // stop and start left one system timer
    tick(40);
    EXPECT_ITEMS("Error_Comm=0");
    tick();
    EXPECT_ITEMS("Error_Comm=1");
    EXPECT_EQ(written["C01.Error_Comm"], Variant(std::int16_t(1)));
    tick(50);
    EXPECT_EQ(engine->Silence(), 101);
    EXPECT_EQ(writesTo("C01.Error_Comm"), 2);
    feed("W\r");
    EXPECT_ITEMS("Error_Comm=0");
    EXPECT_EQ(engine->Silence(), 0);
}

TEST_F(Link, SilentZonesAreResetAndFlagHoldsFallBack)
{
    const QByteArray on = grLine(1, 1, "CO ", "Auto", 1, "  1   ", "      ") + '\r';
    feed(grLine(2, 1, "CO ", "Auto", 6, " 10.0 ", "Alarma") + "\rW01 2FG\r");
    // Power: a second fault restarts the hold; it runs only while the zone is ON.
    feed(on + "W01 1FR\rW01 3FB\r");
    tick(60);
    feed(on + "W01 1FR\r");
    tick(39);
    EXPECT_EQ(engine->zone(2).State, 2);
    // Other traffic does not keep zone 2 alive: it is reset on its 100th tick.
    tick();
    EXPECT_ITEMS("Z2.State=0 Z2.StateStr= Z2.D06.Value=0 Z2.D06.StateStr= Z2.StsFailGroup=0 Z1.State=2");
    EXPECT_EQ(written["C01.Z2.State"], Variant(std::int16_t(0)));
    tick(10);
    feed(on);
    tick(49);
    EXPECT_ITEMS("Z1.StsFailPower=1");
    tick();
    EXPECT_ITEMS("Z1.StsFailPower=0");
    EXPECT_EQ(written["C01.Z1.StsFailPower"], Variant(std::int16_t(0)));
    // Battery: while its zone is unknown the hold stands still.
    EXPECT_EQ(engine->zone(3).FailBat, 100);
    EXPECT_ITEMS("Z3.StsFailBat=1");
    // Group and engineering flags count whatever the zone's state; the user flag
    // has no countdown and goes only with the zone, which is not reset again.
    feed("W01 4FG\rW01 2PU\rW01 2PI\r");
    tick(50);
    feed("W01 2OF\r");
    tick(49);
    EXPECT_ITEMS("Z4.StsFailGroup=1 Z2.StsPrgIng=1");
    tick();
    EXPECT_ITEMS("Z4.StsFailGroup=0 Z2.StsPrgIng=0 Z2.StsPrgUsr=1");
    tick(50);
    EXPECT_ITEMS("Z2.State=0 Z2.StsPrgUsr=0");
    const int resets = writesTo("C01.Z2.State");
    tick(200);
    EXPECT_EQ(writesTo("C01.Z2.State"), resets);
}

TEST(LinkSettings, TimeoutErrorComesFromTheProtocolFile)
{
    const std::pair<const char *, int> cases[] = {{"150", 150}, {"50", 100},      {"40000", 100},
                                                  {"abc", 100}, {"32767", 32767}, {" 2 00 ", 200}};
    for (const auto &[setting, limit] : cases) {
        TempAppFolder folder;
        ManualTimers timers;
        folder.write("KV7.ini", QByteArray("[KV7]\r\nTimeoutError=") + setting + "\r\n");
        OPCServer server;
        ItemTable table;
        cTarvolin engine;
        engine.setIndex(1);
        engine.InitialUpdate(server, table);
        EXPECT_EQ(engine.TimeoutError(), limit) << setting;
        if (limit != 32767)
            continue;
        // The largest limit does not overflow the silence count.
        engine.ProtocolStart();
        engine.Receive("W01 1OF\rW01 2OF\r");
        timers.fire(XTimerAccess::TimerID(engine.timer()), 32767);
        EXPECT_EQ(engine.zone(2).State, 0);
        EXPECT_EQ(engine.CommError(), 0);
        timers.fire(XTimerAccess::TimerID(engine.timer()));
        EXPECT_EQ(engine.CommError(), 1);
    }
}

TEST(LinkWithoutItems, NoInitialUpdateOrRefusedItemsRunHarmlessly)
{
    TempAppFolder folder;
    ManualTimers timers;
    TraceRecorder trace;
    cTarvolin bare;
    bare.ProtocolStart();
    bare.Receive("W01 1OF\r" + grLine(2, 1, "CO ", "Auto", 1, "  1   ", "Alarma") + "\r");
    timers.fire(XTimerAccess::TimerID(bare.timer()), 250);
    EXPECT_EQ(bare.zone(2).State, 0);
    EXPECT_EQ(bare.CommError(), 1);
    EXPECT_TRUE(timers.running.count(XTimerAccess::TimerID(bare.timer()))); // still ticking

    OPCServer server;
    ItemTable table;
    cTarvolin first, second;
    first.setIndex(1);
    second.setIndex(1); // the same names again: the toolkit refuses every one
    first.InitialUpdate(server, table);
    second.InitialUpdate(server, table);
    EXPECT_EQ(std::make_pair(table.ItemCount(), server.Tags().Count()), std::make_pair(956, 478));
    ASSERT_EQ(trace.lines.size(), 478);
    EXPECT_TRUE(trace.lines.first().startsWith("InitialUpdate. Tag:C01.Error_Comm Err:Duplicate item ID"));
    EXPECT_TRUE(trace.lines.last().startsWith("InitialUpdate. Tag:C01.Z4.D16.GasStr Err:"));
    EXPECT_EQ(second.keyIndex("Z1"), 478 + 3);
    EXPECT_EQ(table[second.keyIndex("Z1")].Tag, nullptr);
    second.ProtocolStart();
    second.Receive("W05 1OF\r");
    EXPECT_EQ(server.Tags().Item("C01.NPanel")->Value(), Variant(std::uint8_t(0)));
}

} // namespace

// Line assembly and supervision of the link, driven by ticks on demand.
#include "ProtocolFixture.h"
#include "common/Error.h"
#include "log/Log.h"

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
    void feed(const QByteArray &bytes) { engine->Receive(QByteArrayView(bytes)); }
    Variant errorComm() const { return value("C01.Error_Comm"); }

    QStringList observed;
};

TEST_F(Link, LinesAreCutAtCarriageReturnsWhateverTheChunks)
{
    // Two lines in one chunk: both shown, both decoded, in order.
    feed("W03 1OF\rW04 2PI\r");
    EXPECT_EQ(observed, (QStringList{"W03 1OF\r", "W04 2PI\r"}));
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(4)));
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(1)));

    // One line over several chunks: decoded once, when its CR arrives.
    const QByteArray l = grLine(3, 2, "SO2", "Auto", 12, " 77.7 ", "Error ") + '\r';
    for (qsizetype i = 0; i < l.size() - 1; ++i) {
        feed(l.mid(i, 1));
        EXPECT_EQ(observed.size(), 2);
    }
    EXPECT_EQ(value("C01.Z3.D12.Value"), Variant(0.0f));
    feed("\r");
    EXPECT_EQ(observed.size(), 3);
    EXPECT_EQ(observed.last(), QString::fromLatin1(l));
    EXPECT_EQ(value("C01.Z3.D12.Value"), Variant(77.7f));
    EXPECT_EQ(engine->rxBufferSize(), 0);
}

TEST_F(Link, OnlyLinesBeginningWithCapitalWAreDecoded)
{
    feed("\r");
    EXPECT_EQ(observed, QStringList{"\r"});
    feed("w01 1OF\rX01 1OF\r");
    EXPECT_EQ(engine->CommError(), 1);
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(1)));
    // An LF after the CR starts the next line, which is then not a frame.
    feed("W01 1OF\r\nW01 2OF\r");
    EXPECT_EQ(observed.last(), QStringLiteral("\nW01 2OF\r"));
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z2.State"), Variant(std::uint8_t(0)));
}

TEST_F(Link, ALoneWClearsTheErrorButWritesNoZone)
{
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(1)));
    feed("W\r");
    EXPECT_EQ(engine->CommError(), 0);
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(0)));
    EXPECT_TRUE(record("C01.Z1.State").Value.isEmpty());
    EXPECT_TRUE(record("C01.NPanel").Value.isEmpty());
}

TEST_F(Link, InputWhileStoppedIsLost)
{
    engine->ProtocolStop();
    feed("W01 1OF\r");
    EXPECT_TRUE(observed.isEmpty());
    EXPECT_EQ(engine->CommError(), 1);
    engine->ProtocolStart();
    feed("W01 1OF\r");
    EXPECT_EQ(observed.size(), 1);
}

TEST_F(Link, PartialLineBeyondTheLimitIsDroppedWithItsTail)
{
    // Exactly at the limit the partial line is kept and completes.
    QByteArray kept(cTarvolin::RxBufferLimit - 7, 'x');
    feed("W01 1OF" + kept);
    EXPECT_EQ(engine->rxBufferSize(), cTarvolin::RxBufferLimit);
    feed("\r");
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(1)));
    EXPECT_EQ(engine->discardedLines(), 0u);

    // One more character and it goes, together with the rest of that line: a
    // tail that happens to look like a frame must not be decoded.
    feed(QByteArray(cTarvolin::RxBufferLimit + 1, 'y'));
    EXPECT_EQ(engine->rxBufferSize(), 0);
    EXPECT_EQ(engine->discardedLines(), 1u);
    feed("W01 2OF");
    feed("W01 3OF\rW01 4OF\r");
    EXPECT_EQ(value("C01.Z2.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z3.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z4.State"), Variant(std::uint8_t(1)));

    // A stream without CR never grows the buffer beyond the limit.
    for (int i = 0; i < 100; ++i) {
        feed(QByteArray(97, char('a' + i % 26)));
        ASSERT_LE(engine->rxBufferSize(), cTarvolin::RxBufferLimit);
    }
    EXPECT_GE(engine->discardedLines(), 2u);
    // Complete lines in the same chunk as an over-long tail are still decoded.
    feed("\rW09 1PU\r" + QByteArray(600, 'z'));
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(9)));
    EXPECT_EQ(engine->rxBufferSize(), 0);
}

TEST_F(Link, ABurstArrivingInsideAHandlerWaitsItsTurn)
{
    bool nested = false;
    engine->frameObserver = [&](QByteArrayView l) {
        observed << QString::fromLatin1(l);
        if (!nested) {
            nested = true;
            engine->Receive(QByteArrayView("W02 3OF\r"));
        }
    };
    feed("W01 1OF\rW01 2OF\r");
    EXPECT_EQ(observed, (QStringList{"W01 1OF\r", "W01 2OF\r", "W02 3OF\r"}));
    EXPECT_EQ(value("C01.Z3.State"), Variant(std::uint8_t(1)));
}

TEST_F(Link, AFailingMonitorDoesNotStopDecoding)
{
    engine->frameObserver = [](QByteArrayView) { throw RuntimeError(61, QStringLiteral("Disk full")); };
    EXPECT_NO_THROW(feed("W01 1OF\rW01 2OF\rW01 3O"));
    EXPECT_EQ(value("C01.Z2.State"), Variant(std::uint8_t(1)));
    feed("F\r");
    EXPECT_EQ(value("C01.Z3.State"), Variant(std::uint8_t(1)));
}

TEST_F(Link, SilenceRaisesTheErrorOnTheTickAfterTheLimit)
{
    // A fresh connection is in error until its first frame; ticks do not count then.
    tick(300);
    EXPECT_EQ(engine->Silence(), 0);
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(1)));

    feed("W01 1OF\r");
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(0)));
    tick(100);
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(0)));
    tick();
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(1)));
    EXPECT_EQ(record("C01.Error_Comm").Value, Variant(std::int16_t(1)));
    tick(50);
    EXPECT_EQ(engine->Silence(), 101);
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(1)));

    feed("W\r");
    EXPECT_EQ(errorComm(), Variant(std::uint8_t(0)));
    EXPECT_EQ(engine->Silence(), 0);
}

TEST_F(Link, SilenceCountResumesAfterStopAndStart)
{
    feed("W01 1OF\r");
    tick(60);
    engine->ProtocolStop();
    engine->ProtocolStart();
    EXPECT_EQ(engine->Silence(), 60);
    tick(40);
    EXPECT_EQ(engine->CommError(), 0);
    tick();
    EXPECT_EQ(engine->CommError(), 1);
    // Stop/start left exactly one system timer running for the engine.
    EXPECT_EQ(timers.running.size(), 1u);
}

TEST_F(Link, SilentZoneIsResetOnItsHundredthTick)
{
    feed(grLine(2, 1, "CO ", "Auto", 6, " 10.0 ", "Alarma") + "\rW01 2FG\r");
    tick(99);
    EXPECT_EQ(engine->zone(2).State, 2);
    // Other traffic does not keep the zone alive.
    feed("W01 1OF\r");
    tick();
    EXPECT_EQ(engine->zone(2).State, 0);
    EXPECT_EQ(value("C01.Z2.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z2.StateStr"), Variant(QString()));
    EXPECT_EQ(value("C01.Z2.D06.Value"), Variant(0.0f));
    EXPECT_EQ(value("C01.Z2.StsFailGroup"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(1)));
}

TEST_F(Link, PowerAndBatteryHoldsRunOnlyWhileTheZoneIsOn)
{
    const QByteArray on = grLine(1, 1, "CO ", "Auto", 1, "  1   ", "      ") + '\r';
    feed(on);
    feed("W01 1FR\r");
    tick(60);
    feed(on + "W01 1FR\r"); // second fault 60 ticks later, zone kept alive
    tick(50);
    feed(on);
    tick(49);
    EXPECT_EQ(value("C01.Z1.StsFailPower"), Variant(std::uint8_t(1)));
    tick();
    EXPECT_EQ(value("C01.Z1.StsFailPower"), Variant(std::uint8_t(0)));

    // In state unknown the hold stands still, and turning ON clears it at once.
    feed("W01 3FB\r");
    tick(150);
    EXPECT_EQ(engine->zone(3).FailBat, 100);
    EXPECT_EQ(value("C01.Z3.StsFailBat"), Variant(std::uint8_t(1)));
    feed(grLine(3, 1, "CO ", "Auto", 1, "  1   ", "      ") + '\r');
    EXPECT_EQ(value("C01.Z3.StsFailBat"), Variant(std::uint8_t(0)));
}

TEST_F(Link, ProgrammingFlagFallsBackAfterAHundredTicks)
{
    feed("W01 4PI\r");
    feed("W01 4PU\r");
    tick(99);
    EXPECT_EQ(value("C01.Z4.StsPrgIng"), Variant(std::uint8_t(1)));
    tick();
    EXPECT_EQ(value("C01.Z4.StsPrgIng"), Variant(std::uint8_t(0)));
    // The user flag has no countdown of its own; the zone reset took it.
    EXPECT_EQ(value("C01.Z4.StsPrgUsr"), Variant(std::uint8_t(0)));
    EXPECT_EQ(engine->zone(4).State, 0);

    // The same on a zone kept alive: user flag stays, engineering flag goes.
    feed("W01 2PU\rW01 2PI\r");
    tick(50);
    feed("W01 2OF\r");
    tick(50);
    EXPECT_EQ(value("C01.Z2.StsPrgIng"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z2.StsPrgUsr"), Variant(std::uint8_t(1)));
}

TEST(LinkSettings, TimeoutErrorComesFromTheProtocolFile)
{
    const struct {
        const char *setting;
        int limit;
    } cases[] = {{"150", 150}, {"50", 100}, {"40000", 100}, {"abc", 100}, {"32767", 32767}, {" 2 00 ", 200}};
    for (const auto &c : cases) {
        TempAppFolder folder;
        ManualTimers timers;
        folder.write(QStringLiteral("KV7.ini"), QByteArray("[KV7]\r\nTimeoutError=") + c.setting + "\r\n");
        OPCServer server;
        ItemTable table;
        cTarvolin engine;
        engine.setIndex(1);
        engine.InitialUpdate(server, nullptr, table);
        EXPECT_EQ(engine.TimeoutError(), c.limit) << c.setting;
    }
}

TEST(LinkSettings, LargestLimitDoesNotOverflowTheSilenceCount)
{
    TempAppFolder folder;
    ManualTimers timers;
    folder.write(QStringLiteral("KV7.ini"), "[KV7]\r\nTimeoutError=32767\r\n");
    OPCServer server;
    ItemTable table;
    cTarvolin engine;
    engine.setIndex(1);
    engine.InitialUpdate(server, nullptr, table);
    engine.ProtocolStart();
    engine.Receive(QByteArrayView("W01 1OF\r"));
    const std::int32_t id = XTimerAccess::TimerID(engine.timer());
    for (int i = 0; i < 32768; ++i)
        timers.fire(id);
    EXPECT_EQ(engine.CommError(), 1);
    // The timer survived: it still ticks the zones.
    engine.Receive(QByteArrayView("W01 2OF\r"));
    for (int i = 0; i < 32767; ++i)
        timers.fire(id);
    EXPECT_EQ(engine.zone(2).State, 0);
}

TEST(LinkWithoutItems, AnEngineNeverInitialisedRunsHarmlessly)
{
    TempAppFolder folder;
    ManualTimers timers;
    cTarvolin engine;
    engine.ProtocolStart();
    engine.Receive(QByteArrayView("W01 1OF\r" + grLine(2, 1, "CO ", "Auto", 1, "  1   ", "Alarma") + "\r"));
    const std::int32_t id = XTimerAccess::TimerID(engine.timer());
    for (int i = 0; i < 250; ++i)
        timers.fire(id);
    EXPECT_EQ(engine.zone(2).State, 0);
    EXPECT_EQ(engine.CommError(), 1);
    // Still alive in the timer table.
    EXPECT_TRUE(timers.running.count(id));
}

TEST(LinkWithoutItems, RefusedItemsAreLoggedAndTheirEntriesKept)
{
    TempAppFolder folder;
    ManualTimers timers;
    QStringList trace;
    Log::Listener previous = Log::setListener([&](const QString &l) { trace << l; });
    OPCServer server;
    ItemTable table;
    cTarvolin first, second;
    first.setIndex(1);
    second.setIndex(1); // the same names again: the toolkit refuses every one
    first.InitialUpdate(server, nullptr, table);
    second.InitialUpdate(server, nullptr, table);
    Log::setListener(previous);

    EXPECT_EQ(table.ItemCount(), 956);
    EXPECT_EQ(server.Tags().Count(), 478);
    ASSERT_EQ(trace.size(), 478);
    EXPECT_TRUE(trace.first().startsWith(QStringLiteral("InitialUpdate. Tag:C01.Error_Comm Err:")));
    EXPECT_TRUE(trace.last().startsWith(QStringLiteral("InitialUpdate. Tag:C01.Z4.D16.GasStr Err:")));
    EXPECT_EQ(second.keyIndex(QStringLiteral("Z1")), 478 + 3);

    // Writes to the dead entries land in the table and nowhere else.
    second.ProtocolStart();
    second.Receive(QByteArrayView("W05 1OF\r"));
    EXPECT_EQ(table[second.NPanelIndex()].Value, Variant(std::uint8_t(5)));
    EXPECT_EQ(server.Tags().Item(QStringLiteral("C01.NPanel"))->Value(), Variant(std::uint8_t(0)));
}

} // namespace

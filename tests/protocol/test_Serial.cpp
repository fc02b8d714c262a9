// End to end on pseudo-terminals: bytes written on the master side reach the items
// through the real serial port code and the engine.
#include "ProtocolFixture.h"
#include "PtyPair.h"
#include "common/Error.h"
#include "log/Log.h"
#include "protocol/comPort.h"

#include <QStringList>

namespace {

// The shell's wiring of one connection: open the port, start the engine, and on
// every receive event pass the input on while characters are waiting.
class Serial : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        ASSERT_TRUE(pty.ok());
        folder.write(QStringLiteral("OPC-KV7.ini"),
                     ("[Ports]\r\nCOM1=" + pty.slavePath() + "\r\nCOM2=/nonexistent/ttyKV7\r\n").toLatin1());
        engine->frameObserver = [this](QByteArrayView l) { observed << QString::fromLatin1(l); };
        QObject::connect(&port, &comPort::OnComm, [this](int) {
            ++handlerCalls;
            if (port.CommEvent() != comPort::comEvReceive)
                return;
            do
                engine->Receive(port.Input());
            while (port.InBufferCount() >= 1);
        });
        port.setSettings(QStringLiteral("4800,n,8,1"));
        port.setCommPort(1);
        if (port.PortOpen())
            port.setPortOpen(false);
        port.setDTREnable(true);
        port.setRTSEnable(true);
        port.setPortOpen(true);
        port.setRTSEnable(true);
        engine->ProtocolStart();
    }
    void TearDown() override
    {
        engine->ProtocolStop();
        port.setPortOpen(false);
        port.setDTREnable(false);
    }
    bool send(const QByteArray &bytes) { return pty.write(bytes); }
    bool seen(int lines)
    {
        return waitFor([&] { return observed.size() >= lines; }, 5000);
    }

    PtyPair pty;
    comPort port{0};
    QStringList observed;
    int handlerCalls = 0;
};

TEST_F(Serial, FramesReachTheItems)
{
    EXPECT_TRUE(port.PortOpen());
    ASSERT_TRUE(send(grLine(2, 3, "H2S", "Auto", 7, " 15.5 ", "Alarma", 4) + '\r'));
    ASSERT_TRUE(seen(1));
    EXPECT_EQ(value("C01.Z2.D07.Value"), Variant(15.5f));
    EXPECT_EQ(value("C01.Z2.G3.GasStr"), Variant(QStringLiteral("H2S")));
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(4)));
    EXPECT_EQ(value("C01.Error_Comm"), Variant(std::uint8_t(0)));
}

TEST_F(Serial, SplitAndBundledLinesAreReassembled)
{
    const QByteArray a = grLine(1, 1, "CO ", "Auto", 1, "  1.0 ", "      ") + '\r';
    // Split across reads: the halves arrive separately.
    ASSERT_TRUE(send(a.left(10)));
    waitFor([] { return false; }, 100);
    EXPECT_TRUE(observed.isEmpty());
    ASSERT_TRUE(send(a.mid(10)));
    ASSERT_TRUE(seen(1));
    EXPECT_EQ(observed[0], QString::fromLatin1(a));

    // Several lines in one write, an empty line and a non-"W" line among them.
    ASSERT_TRUE(send("W01 2OF\r\rX01 3OF\rW01 4PI\r"));
    ASSERT_TRUE(seen(5));
    EXPECT_EQ(observed.mid(1), (QStringList{"W01 2OF\r", "\r", "X01 3OF\r", "W01 4PI\r"}));
    EXPECT_EQ(value("C01.Z2.State"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z3.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z4.StsPrgIng"), Variant(std::uint8_t(1)));
}

TEST_F(Serial, BytesAbove127ArriveAsLatin1)
{
    ASSERT_TRUE(send(grLine(3, 2, "\xc9X ", "\xe0uto", 2,
                            "  \xb0"
                            "5  ",
                            "Al\xe1rm ") +
                     '\r'));
    ASSERT_TRUE(seen(1));
    EXPECT_EQ(value("C01.Z3.G2.GasStr"), Variant(QString::fromLatin1("\xc9X")));
    EXPECT_EQ(value("C01.Z3.G2.StateStr"), Variant(QString::fromLatin1("\xc0UTO")));
    EXPECT_EQ(value("C01.Z3.D02.StateStr"), Variant(QString::fromLatin1("AL\xc1RM")));
    EXPECT_EQ(value("C01.Z3.D02.Value"), Variant(0.0f));
    EXPECT_EQ(observed[0].size(), 38);
}

TEST_F(Serial, ALineThatNeverEndsIsBoundedAndTheNextOneStillArrives)
{
    ASSERT_TRUE(send(QByteArray(700, 'W')));
    waitFor([&] { return engine->discardedLines() >= 1; }, 5000);
    EXPECT_EQ(engine->discardedLines(), 1u);
    EXPECT_LE(engine->rxBufferSize(), cTarvolin::RxBufferLimit);
    ASSERT_TRUE(send(QByteArray(300, 'W') + "\rW01 1OF\r"));
    ASSERT_TRUE(seen(1));
    EXPECT_EQ(observed.last(), QStringLiteral("W01 1OF\r"));
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(1)));
}

TEST_F(Serial, CharactersArrivingDuringTheHandlerAreTakenInTheSameCall)
{
    bool wrote = false;
    engine->frameObserver = [&](QByteArrayView l) {
        observed << QString::fromLatin1(l);
        if (!wrote) {
            wrote = true;
            ASSERT_TRUE(send("W01 2OF\r"));
            ASSERT_TRUE(pty.waitQueued(8));
        }
    };
    ASSERT_TRUE(send("W01 1OF\r"));
    ASSERT_TRUE(seen(2));
    EXPECT_EQ(handlerCalls, 1);
    EXPECT_EQ(observed, (QStringList{"W01 1OF\r", "W01 2OF\r"}));
    waitFor([] { return false; }, 50);
    EXPECT_EQ(handlerCalls, 1);
    EXPECT_TRUE(port.PortOpen());
}

TEST(SerialPort, OpenFailuresAndSettings)
{
    TempAppFolder folder;
    folder.write(QStringLiteral("OPC-KV7.ini"), "[Ports]\r\nCOM2=/nonexistent/ttyKV7\r\n");
    EXPECT_EQ(comPort::devicePathFor(2), QStringLiteral("/nonexistent/ttyKV7"));
    EXPECT_EQ(comPort::devicePathFor(3), QStringLiteral("/dev/ttyS2"));

    comPort port(5);
    EXPECT_EQ(port.Index(), 5);
    port.setCommPort(2);
    EXPECT_THROW(port.setPortOpen(true), RuntimeError);
    EXPECT_FALSE(port.PortOpen());
    port.setCommPort(0);
    EXPECT_THROW(port.setPortOpen(true), RuntimeError);
    EXPECT_EQ(port.InBufferCount(), 0);
    EXPECT_TRUE(port.Input().isEmpty());

    port.setSettings(QStringLiteral("9600,E,7,2"));
    for (const char *bad : {"4800,n,8", "fast,n,8,1", "4800,x,8,1", "4800,n,9,1", "4800,n,8,3", ""})
        EXPECT_THROW(port.setSettings(QString::fromLatin1(bad)), RuntimeError) << bad;
    EXPECT_EQ(port.Settings(), QStringLiteral("9600,E,7,2"));
    EXPECT_THROW(port.setHandshaking(7), RuntimeError);
}

TEST(SerialPort, APortInUseCannotChangeItsNumber)
{
    TempAppFolder folder;
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    folder.write(QStringLiteral("OPC-KV7.ini"), ("[Ports]\r\nCOM4=" + pty.slavePath() + "\r\n").toLatin1());
    comPort port;
    port.setCommPort(4);
    port.setDTREnable(true);
    port.setPortOpen(true); // a pseudo-terminal has no modem lines: still open
    ASSERT_TRUE(port.PortOpen());
    EXPECT_THROW(port.setCommPort(5), RuntimeError);
    EXPECT_THROW(port.setPortOpen(true), RuntimeError);
    port.setPortOpen(false);
    EXPECT_FALSE(port.PortOpen());
    port.setCommPort(5);
    EXPECT_EQ(port.CommPort(), 5);
}

TEST(SerialPort, ADeviceThatGoesAwayClosesThePort)
{
    TempAppFolder folder;
    auto pty = std::make_unique<PtyPair>();
    ASSERT_TRUE(pty->ok());
    folder.write(QStringLiteral("OPC-KV7.ini"), ("[Ports]\r\nCOM1=" + pty->slavePath() + "\r\n").toLatin1());
    comPort port;
    int events = 0;
    QObject::connect(&port, &comPort::OnComm, [&](int) {
        ++events;
        port.Input();
    });
    port.setCommPort(1);
    port.setPortOpen(true);
    ASSERT_TRUE(pty->write("W01 1OF\r"));
    ASSERT_TRUE(waitFor([&] { return events >= 1; }));
    QStringList trace;
    Log::Listener previous = Log::setListener([&](const QString &l) { trace << l; });
    const QString device = pty->slavePath();
    pty.reset(); // the far end hangs up
    // The port closes instead of reporting the failure for ever.
    EXPECT_TRUE(waitFor([&] { return !port.PortOpen(); }, 5000));
    Log::setListener(previous);
    EXPECT_EQ(port.InBufferCount(), 0);
    ASSERT_EQ(trace.size(), 1);
    EXPECT_EQ(trace[0], QStringLiteral("(COM1 ") + device + QStringLiteral(" closed: the device went away)"));
}

} // namespace

// The serial path on pseudo-terminals: bytes written on the master side reach the
// items through the real port code and the engine; the panel simulator on such a line.
#include "ProtocolFixture.h"
#include "protocol/comPort.h"

#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <poll.h>
#include <termios.h>

namespace {

// The shell's wiring of one connection: on every receive event the input goes to
// the engine while characters are waiting.
class Serial : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        folder.write("OPC-KV7.ini", ("[Ports]\r\nCOM1=" + pty.slavePath() + "\r\n").toLatin1());
        QObject::connect(&port, &comPort::OnComm, [this](int) {
            ++handlerCalls;
            if (port.CommEvent() != comPort::comEvReceive)
                return;
            do {
                const QByteArray input = port.InputBytes();
                received += input.size();
                engine->Receive(input);
            } while (port.InBufferCount() >= 1);
        });
        port.setSettings("4800,n,8,1");
        port.setCommPort(1);
        port.setDTREnable(true);
        port.setRTSEnable(true);
        port.setPortOpen(true); // a pseudo-terminal has no modem lines: still open
    }
    // Sends bytes and waits until the handler has taken them all.
    bool send(const QByteArray &bytes)
    {
        sent += bytes.size();
        return pty.write(bytes) && waitFor([&] { return received >= sent; });
    }
    PtyPair pty;
    comPort port{0};
    int handlerCalls = 0;
    qsizetype sent = 0, received = 0;
};

TEST_F(Serial, FramesReachTheItemsWhateverTheirBursts)
{
    const QByteArray a = grLine(2, 3, "H2S", "Auto", 7, " 15.5 ", "Alarma", 4) + '\r';
    ASSERT_TRUE(send(a.left(10)));
    EXPECT_TRUE(observed.isEmpty());
    ASSERT_TRUE(send(a.mid(10)));
    EXPECT_ITEMS("Z2.D07.Value=15.5 NPanel=4 Error_Comm=0");
    // Lines in one write, an empty and a non-"W" one among them; bytes above 127
    // arrive as Latin-1, one character each.
    const QByteArray b = grLine(3, 2, "CO ", "\xe0uto", 2, "  5   ", "Al\xe1rm ") + '\r';
    ASSERT_TRUE(send("W01 2OF\r\rX01 3OF\rW01 4PI\r" + b));
    EXPECT_ITEMS("Z2.State=1 Z3.G2.StateStr=\xc0UTO Z3.D02.StateStr=AL\xc1RM Z4.StsPrgIng=1");
    EXPECT_EQ(observed, (QStringList{QString::fromLatin1(a), "W01 2OF\r", "\r", "X01 3OF\r", "W01 4PI\r",
                                     QString::fromLatin1(b)}));
    // A line that never ends is bounded, and the next one still arrives.
    ASSERT_TRUE(send(QByteArray(700, 'W')));
    EXPECT_EQ(engine->discardedLines(), 1u);
    ASSERT_TRUE(send(QByteArray(300, 'W') + "\rW01 1OF\r"));
    EXPECT_EQ(observed.last(), "W01 1OF\r");

    // Characters that arrive while the handler runs are taken in the same call.
    const int calls = handlerCalls;
    engine->frameObserver = [&](QByteArrayView l) {
        observed << QString::fromLatin1(l);
        if (l.startsWith("W01 2PU")) { // waits on the line: the event loop must not nest here
            ASSERT_TRUE(pty.write("W01 3PU\r"));
            for (int i = 0; i < 500 && pty.waitingOnSlave() < 8; ++i) {
                pollfd p{pty.slaveFd(), POLLIN, 0};
                ::poll(&p, 1, 10);
            }
        }
    };
    sent += 8; // what the observer writes
    ASSERT_TRUE(send("W01 2PU\r"));
    settle();
    EXPECT_EQ(handlerCalls, calls + 1);
    EXPECT_EQ(observed.mid(observed.size() - 2), (QStringList{"W01 2PU\r", "W01 3PU\r"}));
}

TEST(SerialPort, OpenFailuresSettingsAndADeviceThatGoesAway)
{
    TempAppFolder folder;
    auto pty = std::make_unique<PtyPair>();
    folder.write("OPC-KV7.ini",
                 ("[Ports]\r\nCOM1=" + pty->slavePath() + "\r\nCOM2=/nonexistent/ttyKV7\r\n").toLatin1());
    EXPECT_EQ(comPort::devicePathFor(2), "/nonexistent/ttyKV7");
    EXPECT_EQ(comPort::devicePathFor(3), "/dev/ttyS2");
    comPort port(5);
    int events = 0;
    QObject::connect(&port, &comPort::OnComm, [&](int index) {
        events += index == 5;
        port.InputBytes();
    });
    for (std::int16_t number : {2, 0}) {
        port.setCommPort(number);
        EXPECT_EQ(errorOf([&] { port.setPortOpen(true); }), 8002) << number;
    }
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.InBufferCount() + port.InputBytes().size(), 0);
    for (const char *bad : {"4800,n,8", "fast,n,8,1", "4800,x,8,1", "4800,n,9,1", "4800,n,8,3", ""})
        EXPECT_EQ(errorOf([&] { port.setSettings(QLatin1String(bad)); }), 380) << bad;
    EXPECT_EQ(errorOf([&] { port.setHandshaking(7); }), 380);
    port.setSettings("9600,E,7,2");
    port.setCommPort(1);
    port.setPortOpen(true);
    ASSERT_TRUE(port.PortOpen());
    EXPECT_EQ(errorOf([&] { port.setCommPort(5); }) + errorOf([&] { port.setPortOpen(true); }), 2 * 8005);
    ASSERT_TRUE(pty->write("W01 1OF\r"));
    ASSERT_TRUE(waitFor([&] { return events >= 1; }));
    // The far end hangs up: the port closes instead of reporting a failure for ever.
    TraceRecorder trace;
    const QString device = pty->slavePath();
    pty.reset();
    EXPECT_TRUE(waitFor([&] { return !port.PortOpen(); }));
    EXPECT_EQ(trace.lines, QStringList{"(COM1 " + device + " closed: the device went away)"});
}

TEST(Simulator, RefusesABadArgumentAndSendsOnAnExistingDeviceAt4800Baud)
{
    const QString simulator = binDir() + "/kv7sim";
    QProcess bad;
    bad.start(simulator, {"--pty", "1", "--bogus"});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_NE(bad.exitCode(), 0);
    EXPECT_TRUE(bad.readAllStandardError().startsWith("kv7sim: "));
    PtyPair pty; // the slave plays the serial device; what it sends arrives on the master
    QProcess sim;
    sim.start(simulator, {"--device", pty.slavePath(), "--rate", "100"});
    QByteArray sent;
    ASSERT_TRUE(waitFor([&] { return (sent += pty.readMaster()).size() >= 200; }, 10000));
    const QList<QByteArray> lines = sent.split('\r');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith("W01 ")) << lines[i].constData();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    ::kill(pid_t(sim.processId()), SIGTERM);
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_TRUE(QRegularExpression("^kv7sim: \\d+ frames sent, \\d+ dropped on 1 lines\n$")
                    .match(sim.readAllStandardError())
                    .hasMatch());
}

} // namespace

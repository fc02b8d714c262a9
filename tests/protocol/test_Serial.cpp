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

using Serial = EngineFixture;

// "baud/stop bits" of the line as the port set it; a pseudo-terminal keeps no character size or parity.
QString lineSettings(int fd)
{
    termios t{};
    tcgetattr(fd, &t);
    const speed_t baud = cfgetospeed(&t); // any other speed reads 0
    return QStringLiteral("%1/%2").arg((baud == B9600) * 9600 + (baud == B4800) * 4800).arg(t.c_cflag & CSTOPB ? 2 : 1);
}

TEST_F(Serial, APortRefusesBadSettingsAndFeedsTheEngineWhateverTheBurstsAndTheSimulatorSendsOnIt)
{
    PtyPair pty;
    folder.write("OPC-KV7.ini", ("[Ports]\r\nCOM1=" + pty.slavePath() + "\r\nCOM2=/nonexistent/ttyKV7\r\n").toLatin1());
    EXPECT_EQ(comPort::devicePathFor(2), "/nonexistent/ttyKV7");
    EXPECT_EQ(comPort::devicePathFor(3), "/dev/ttyS2");
    comPort port(5);
    int handlerCalls = 0;
    qsizetype sent = 0, received = 0;
    // The shell's wiring: on every receive event the input goes to the engine while characters are waiting.
    QObject::connect(&port, &comPort::OnComm, [&](int index) {
        handlerCalls += index == 5;
        if (port.CommEvent() != comPort::comEvReceive)
            return;
        do {
            const QByteArray input = port.InputBytes();
            received += input.size();
            engine->Receive(input);
        } while (port.InBufferCount() >= 1);
    });
    auto send = [&](const QByteArray &bytes) {
        sent += bytes.size();
        return pty.write(bytes) && waitFor([&] { return received >= sent; });
    };
    for (std::int16_t number : {2, 0})
        EXPECT_EQ(errorOf([&] { port.setCommPort(number), port.setPortOpen(true); }), 8002) << number;
    EXPECT_EQ(port.PortOpen() + port.InBufferCount() + port.InputBytes().size(), 0); // closed, nothing to read
    for (const char *bad : {"4800,n,8", "fast,n,8,1", "4800,x,8,1", "4800,n,9,1", "4800,n,8,3", ""})
        EXPECT_EQ(errorOf([&] { port.setSettings(QLatin1String(bad)); }), 380) << bad;
    EXPECT_EQ(errorOf([&] { port.setHandshaking(7); }), 380);
    port.setSettings("9600,E,7,2");
    port.setCommPort(1);
    port.setDTREnable(true);
    port.setRTSEnable(true);
    port.setPortOpen(true); // a pseudo-terminal has no modem lines: still open
    ASSERT_TRUE(port.PortOpen());
    EXPECT_EQ(lineSettings(pty.slaveFd()), "9600/2");
    EXPECT_EQ(errorOf([&] { port.setCommPort(5); }) + errorOf([&] { port.setPortOpen(true); }), 2 * 8005);
    port.setSettings("4800,n,8,1"); // applied to the open port
    EXPECT_EQ(lineSettings(pty.slaveFd()), "4800/1");

    // A line in two bursts; lines in one write, bytes above 127 arriving as Latin-1.
    const QByteArray a = grLine(2, 3, "H2S", "Auto", 7, " 15.5 ", "Alarma", 4) + '\r';
    ASSERT_TRUE(send(a.left(10)));
    EXPECT_TRUE(observed.isEmpty());
    ASSERT_TRUE(send(a.mid(10) + "W01 4OF\r" + grLine(3, 2, "CO ", "\xe0uto", 2, "  5   ", "Al\xe1rm ") + '\r'));
    EXPECT_ITEMS("Z2.D07.Value=15.5 NPanel=1 Error_Comm=0 Z4.State=1 Z3.G2.StateStr=\xc0UTO Z3.D02.StateStr=AL\xc1RM");
    EXPECT_EQ(observed.size(), 3);

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
    EXPECT_EQ(observed.mid(3), (QStringList{"W01 2PU\r", "W01 3PU\r"}));

    // The panel simulator refuses a bad argument, and sends on an existing device at 4800 baud.
    const QString simulator = binDir() + "/kv7sim";
    QProcess sim;
    sim.start(simulator, {"--pty", "1", "--bogus"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_NE(sim.exitCode(), 0);
    EXPECT_TRUE(sim.readAllStandardError().startsWith("kv7sim: "));
    PtyPair device; // the slave plays the serial device; what it sends arrives on the master
    sim.start(simulator, {"--device", device.slavePath(), "--rate", "100"});
    QByteArray output;
    ASSERT_TRUE(waitFor([&] { return (output += device.readMaster()).size() >= 200; }, 10000));
    EXPECT_TRUE(QRegularExpression("^(W01 [^\r]*\r)+[^\r]*$").match(QString::fromLatin1(output)).hasMatch())
        << output.constData();
    EXPECT_EQ(lineSettings(device.slaveFd()), "4800/1");
    ::kill(pid_t(sim.processId()), SIGTERM);
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_TRUE(QRegularExpression("^kv7sim: \\d+ frames sent, \\d+ dropped on 1 lines\n$")
                    .match(sim.readAllStandardError())
                    .hasMatch());
}

} // namespace

// The panel lines of a running server on pseudo-terminals: ports, engines, items.
#include "ShellFixture.h"
#include "protocol/cTarvolin.h"
#include "protocol/comPort.h"
#include "shell/PanelConnections.h"
#include "shell/ServiceMode.h"

#include <QCoreApplication>
#include <QFile>
#include <QTreeView>
#include <memory>

namespace {

struct PanelLines : ShellTest {
    PtyPair pty[3];
    // The connections of the protocol file, and COM1..COM3 mapped to the given devices.
    void configure(const QByteArray &connections, const QString &com1, const QString &com2, const QString &com3)
    {
        folder.write("KV7.ini", crlf("[KV7]\n" + connections));
        const QString ini = "[OPC-KV7]\nUaPort=0\n[Configuracion]\nTiempoSesion=3\nLanguage=1\n"
                            "[Ports]\nCOM1=%1\nCOM2=%2\nCOM3=%3\n";
        folder.write("OPC-KV7.ini", crlf(ini.arg(com1, com2, com3).toLatin1()));
    }
    static QByteArray offFrame(int panel) { return QStringLiteral("W%1 1OF\r").arg(panel).toLatin1(); }
    static QString openStates(Server &s)
    {
        QString states;
        const ConnectionTable &table = s.logic().connections().table();
        for (int i = 1; i <= table.ConnectionCount; ++i)
            states += QString::number(table.Connections[std::size_t(i)].PortIndex) +
                      (table.Connections[std::size_t(i)].IsOpen ? "+" : "-");
        return states;
    }
};

// A start with the debug word. COM2 is missing; COM1 serves two connections, which would read
// each other's bytes: the second is refused. A connection on port 0 runs without a port. Frames
// reach their connection's items, the monitor (before its window opens) and the statistics list;
// the shutdown stops the engines and closes every port, the monitor and its log.
TEST_F(PanelLines, ADebugStartsFramesReachItemsMonitorAndStatisticsAndPortsThatCannotBeOpenedAreReported)
{
    configure("C1-On=1\nC1-Com=1\nC1-Nm=North\nC2-On=1\nC2-Com=2\nC3-On=1\nC3-Com=1\nC4-On=1\nC4-Com=0\nC5-On=1\n"
              "C5-Com=3\n",
              pty[0].slavePath(), folder.file("no-such-tty"), pty[2].slavePath());
    {
        Server s;
        ASSERT_EQ(s.load({"vortelmax"}), MainOPC::LoadResult::Running) << qPrintable(s.logic().startupError());
        EXPECT_TRUE(DebugMode && s.trace().contains("(Session opened)"));
        for (int i = 0; i < 5; ++i) // past "TiempoSesion": a debug session never expires
            s.logic().tmrMain_Timer();
        EXPECT_EQ(s.session(), "1 edit+login open []");
        EXPECT_EQ(openStates(s), "0+1-2-3+4+");
        EXPECT_EQ(s.opc().Tags().Count(), 5 * 478);
        EXPECT_FALSE(s.logic().connections().port(3)->PortOpen());
        const QStringList errors = s.trace().filter("Cannot open");
        ASSERT_EQ(errors.size(), 2);
        EXPECT_TRUE(errors[0].startsWith("(Cannot open COM2. Protocol:KV7  Error: ")) << qPrintable(errors[0]);
        EXPECT_EQ(errors[1], "(Cannot open COM1. Protocol:KV7  Error: Port already used by connection 1)");
        // Every engine runs; those without data keep their communication error.
        const ConnectionTable &table = s.logic().connections().table();
        for (int i = 1; i <= 5; ++i)
            EXPECT_TRUE(table.Connections[std::size_t(i)].Engine->Running()) << i;
        EXPECT_EQ(s.logic().connections().firstEngine(), table.Connections[1].Engine);
        ASSERT_TRUE(pty[0].write(offFrame(21) + offFrame(22)) && pty[2].write("W25 1O"));
        ASSERT_TRUE(waitFor([&] { return s.value("C01.NPanel") == "22"; }));
        ASSERT_TRUE(pty[2].write("F\r")); // the rest of a line in a second burst
        ASSERT_TRUE(waitFor([&] { return s.value("C05.NPanel") == "25"; }));
        EXPECT_EQ(QStringList({s.value("C01.Z1.StateStr"), s.value("C05.Z1.StateStr"), s.value("C01.Error_Comm"),
                               s.value("C05.Error_Comm"), s.value("C02.Error_Comm"), s.value("C03.NPanel"),
                               s.value("C04.Error_Comm")}),
                  QStringList({"OFF", "OFF", "0", "0", "1", "0", "1"}));
        FrameMonitor &monitor = s.logic().monitor();
        EXPECT_EQ(QStringList({monitor.lineText(0), monitor.lineText(2)}),
                  QStringList({"RX:<<W21 1OF\r", "RX:<<W25 1OF\r"}));

        StatisticsModel &stats = s.logic().statistics();
        EXPECT_EQ(s.window()->statisticsList()->model(), &stats);
        ASSERT_TRUE(waitFor([&] {
            return stats.value("North (1): Frames per second").toDouble() > 0 &&
                   stats.value("Panel 5: Frames per second").toDouble() > 0;
        }));
        EXPECT_EQ(stats.rowCount(), 5 * 4 + 4);
        EXPECT_EQ(QStringList({stats.value("North (1): Frames dropped"), stats.value("Panel 2: Communication error"),
                               stats.value("OPC UA sessions"), stats.value("Subscriptions"),
                               stats.value("Notifications per second")}),
                  QStringList({"0", "Yes", "0", "0", "0.0"}));
        EXPECT_LT(stats.value("Panel 5: Seconds since the last frame").toDouble(), 5.0);

        // One monitor window, however often the menu item is used.
        s.window()->action("mnuVBus")->trigger();
        s.window()->action("mnuVBus")->trigger();
        ASSERT_TRUE(s.window()->monitorWindow());
        EXPECT_TRUE(s.window()->findChildren<fBus *>().size() == 1 && s.window()->monitorWindow()->isVisible());
        monitor.setLogging(true);
        s.logic().mnuFileForceExit_Click();
        EXPECT_FALSE(monitor.BusMonitorOn() || monitor.logging());
        EXPECT_EQ(s.logic().connections().table().ConnectionCount, 0);
        for (int k = 0; k < s.logic().connections().portCount(); ++k)
            EXPECT_FALSE(s.logic().connections().port(k)->PortOpen()) << k;
    }
    const QByteArray log = folder.read("KV7.log");
    EXPECT_TRUE(log.left(log.indexOf('\n')).endsWith("START REGISTER *********************\r") &&
                log.endsWith("STOP REGISTER *********************\r\n"));
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(PanelLines, ALineWhoseDeviceIsMissingOrGoesAwayIsReopenedWhenItComesBack)
{
    // COM1 is a stable name (as under /dev/serial/by-id) whose device is not there
    // at start, then comes, goes away, and comes back as another device.
    const QString link = folder.file("by-id-panel");
    configure("C1-On=1\nC1-Com=1\n", link, pty[1].slavePath(), pty[2].slavePath());
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    PanelConnections &lines = s.logic().connections();
    int tries = 0;
    QObject::connect(&lines.reopenTimer(), &QTimer::timeout, [&] { ++tries; });
    lines.reopenTimer().setInterval(10);
    // Several silent tries while the device is missing: nothing spins, nothing repeats.
    auto triesPass = [&] {
        const int from = tries;
        return waitFor([&] { return tries >= from + 3; });
    };
    ASSERT_TRUE(triesPass());
    EXPECT_EQ(openStates(s), "0-");
    EXPECT_EQ(s.value("C01.Error_Comm"), "1");

    auto device = std::make_unique<PtyPair>();
    ASSERT_TRUE(QFile::link(device->slavePath(), link));
    ASSERT_TRUE(waitFor([&] { return lines.port(0)->PortOpen(); }));
    ASSERT_TRUE(device->write(offFrame(31)));
    ASSERT_TRUE(waitFor([&] { return s.value("C01.NPanel") == "31"; }));
    EXPECT_EQ(s.value("C01.Error_Comm"), "0"); // cleared by the first frame

    // Unplugged: its name goes first (as udev removes it), so that no other pseudo-terminal
    // that takes the freed number can be opened in its place.
    ASSERT_TRUE(QFile::remove(link));
    device.reset();
    ASSERT_TRUE(waitFor([&] { return !lines.port(0)->PortOpen(); }));
    ASSERT_TRUE(triesPass());
    auto replugged = std::make_unique<PtyPair>();
    ASSERT_TRUE(QFile::link(replugged->slavePath(), link));
    ASSERT_TRUE(waitFor([&] { return lines.port(0)->PortOpen(); }));
    EXPECT_FALSE(lines.reopenTimer().isActive());
    ASSERT_TRUE(replugged->write(offFrame(32)));
    ASSERT_TRUE(waitFor([&] { return s.value("C01.NPanel") == "32"; }));
    EXPECT_EQ(openStates(s), "0+");

    // Each loss and each return is traced once, whatever the number of tries.
    const QStringList trace = s.trace();
    EXPECT_EQ(trace.filter("Cannot open COM1").size(), 1);
    EXPECT_EQ(trace.filter("COM1 " + link + " closed: the device went away").size(), 1);
    EXPECT_EQ(trace.filter("(COM1 " + link + " open again)").size(), 2);
}

// The lines open once the server serves, one per turn of its loop; closing them all
// before their turn leaves every one closed.
TEST_F(PanelLines, LinesOpenAfterTheListenerAndACloseStopsTheOpeningsStillDue)
{
    configure("C1-On=1\nC1-Com=1\nC2-On=1\nC2-Com=2\nC3-On=1\nC3-Com=3\n", pty[0].slavePath(), pty[1].slavePath(),
              pty[2].slavePath());
    {
        Server s;
        ASSERT_EQ(s.start(), MainOPC::LoadResult::Running);
        EXPECT_TRUE(s.opc().serving());
        EXPECT_EQ(openStates(s), "0-1-2-");
        settle();
        EXPECT_EQ(openStates(s), "0+1+2+");
    }
    Server s;
    ASSERT_EQ(s.start(), MainOPC::LoadResult::Running);
    QCoreApplication::processEvents();
    s.logic().connections().Ports_Desconectar();
    settle();
    EXPECT_EQ(openStates(s).count('+'), 0) << qPrintable(openStates(s));
}

// The server without a window, in this process: its status line counts each line's frames
// since the last line.
TEST_F(PanelLines, TheServiceStatusLineCountsEachLinesFramesSinceTheLastOne)
{
    configure("C1-On=1\nC1-Com=1\nC2-On=1\nC2-Com=0\nC3-On=1\nC3-Com=3\n", pty[0].slavePath(), pty[1].slavePath(),
              pty[2].slavePath());
    ServiceMode service;
    ASSERT_EQ(service.start({"opc-kv7", "--service"}), MainOPC::LoadResult::Running);
    OPCServer &opc = service.server().server();
    // Two frames and a line that is no frame: C01 leaves its communication error.
    ASSERT_TRUE(pty[0].write("W11 1OF\rX\rW11 2OF\r"));
    ASSERT_TRUE(waitFor([&] { return opc.Tags().find("C01.Error_Comm")->Value().toString() == "0"; }));
    EXPECT_EQ(service.statusLine(),
              "Service status: frames C01 2, C02 0, C03 0; 2 in communication error; 0 sessions, 0 subscriptions");
    ASSERT_TRUE(pty[0].write("W11 1OF\r"));
    ASSERT_TRUE(waitFor([&] { return pty[0].waitingOnSlave() == 0; }));
    settle();
    EXPECT_EQ(service.statusLine(),
              "Service status: frames C01 1, C02 0, C03 0; 2 in communication error; 0 sessions, 0 subscriptions");
}

} // namespace

// The panel simulator: its frames decode to what it meant, its lines pace, drop and
// end as told, and the program on a pseudo-terminal feeds the real serial code.
#include "../../tools/kv7sim/PanelLine.h"
#include "../../tools/kv7sim/PanelModel.h"
#include "ProtocolFixture.h"
#include "protocol/comPort.h"

#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString simulator() { return binDir() + "/kv7sim"; }

// Every simulated frame, decoded, lands in the items the model reported.
TEST_F(EngineFixture, SimulatedFramesDecodeToWhatThePanelReported)
{
    engine->ProtocolStart();
    kv7sim::PanelModel panel(12, 99);
    int groupReports = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string frame = panel.nextFrame();
        line(QByteArray::fromStdString(frame));
        const auto &r = panel.last();
        const QString Z = QStringLiteral("C01.Z%1.").arg(r.zone);
        ASSERT_EQ(value("C01.NPanel"), Variant(std::uint8_t(12)));
        if (r.type != "Gr") {
            if (r.type == "OF" || r.type == "PI" || r.type == "PU")
                ASSERT_EQ(value(Z + "StateStr"), Variant("OFF")) << frame;
            continue;
        }
        ++groupReports;
        const QString D = Z + QStringLiteral("D%1.").arg(r.detector, 2, 10, QLatin1Char('0'));
        const QString G = Z + QStringLiteral("G%1.").arg(r.group);
        const QString measure = QString::fromStdString(r.measure).toUpper();
        const bool saturated = measure == "SATURA";
        const QString state = saturated ? "SATURA" : QString::fromStdString(r.detectorState).trimmed().toUpper();
        ASSERT_EQ(QStringList({value(Z + "StateStr").toString(), value(D + "Group").toString(),
                               value(G + "GasStr").toString(), value(G + "StateStr").toString(),
                               value(D + "StateStr").toString()}),
                  QStringList({"ON", QString::number(r.group), QString::fromStdString(r.gas).trimmed(),
                               QString::fromStdString(r.groupState).toUpper(), state}))
            << frame;
        ASSERT_NE(value(G + "Gas"), Variant(std::uint8_t(0))) << frame;
        ASSERT_NE(value(G + "State"), Variant(std::uint8_t(255))) << frame;
        ASSERT_NEAR(value(D + "Value").get<float>(), saturated ? 99999.0 : std::stod(r.measure), 1e-3) << frame;
        ASSERT_EQ(value(D + "State") == Variant(std::uint8_t(saturated ? 9 : 1)), saturated || state.isEmpty())
            << frame;
    }
    EXPECT_GT(groupReports, 4000); // a realistic mix, with some zone reports
    EXPECT_LT(groupReports, 4990);
}

// One simulated line writing into a pipe that nobody reads unless the test does.
struct SimulatedLine : ::testing::Test {
    int fds[2] = {-1, -1};
    void SetUp() override { ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
    void TearDown() override { ::close(fds[0]); } // PanelLine closes the write end
    QByteArray readAll() const
    {
        QByteArray out;
        char buf[4096];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
            out.append(buf, n);
        return out;
    }
};

TEST_F(SimulatedLine, AScriptIsPlayedOnceAndSilenceEndsTheTraffic)
{
    const QList<QByteArray> script = {"W07 3OF", "W07 2PI", "", "W07 1Gr2 NH3     Ven105  44.0  Alarma"};
    PanelLine::Setup setup;
    setup.rate = 200;
    setup.script = &script;
    PanelLine played(fds[1], -1, 7, 1, setup);
    played.start();
    ASSERT_TRUE(waitFor([&] { return played.finished(); }));
    EXPECT_EQ(played.framesSent(), 4u);
    EXPECT_EQ(readAll(), "W07 3OF\rW07 2PI\r\rW07 1Gr2 NH3     Ven105  44.0  Alarma\r");

    int more[2];
    ASSERT_EQ(::pipe2(more, O_NONBLOCK | O_CLOEXEC), 0);
    PanelLine::Setup silent;
    silent.rate = 1000;
    silent.silentAfter = 0.05;
    PanelLine model(more[1], -1, 1, 1, silent);
    model.start();
    EXPECT_TRUE(waitFor([&] { return model.finished(); }));
    ::close(more[0]);
}

TEST_F(SimulatedLine, FramesBeyondWhatTheLineHoldsAreDroppedWhole)
{
    PanelLine::Setup flood;
    flood.rate = 20000; // far more than a pipe buffers
    PanelLine line(fds[1], -1, 1, 1, flood);
    line.start();
    ASSERT_TRUE(waitFor([&] { return line.framesDropped() > 0; }));
    // What went out is whole frames; only the last may still be on its way.
    const QList<QByteArray> frames = readAll().split('\r');
    ASSERT_GT(frames.size(), 10);
    for (qsizetype i = 0; i + 1 < frames.size(); ++i)
        ASSERT_TRUE(frames[i].startsWith("W01 ") && frames[i].size() >= 7) << frames[i].constData();
}

TEST_F(EngineFixture, SimulatorOnAPseudoTerminalFeedsTheRealSerialCode)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    QProcess sim;
    sim.start(simulator(), {"--pty", "1", "--rate", "500", "--seed", "3"});
    ASSERT_TRUE(waitFor([&] { return sim.canReadLine() || sim.state() == QProcess::NotRunning; }));
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    ASSERT_TRUE(path.startsWith("/dev/")) << path.toStdString();
    folder.write("OPC-KV7.ini", ("[Ports]\r\nCOM1=" + path + "\r\n").toLatin1());
    comPort port;
    int lines = 0;
    QObject::connect(&port, &comPort::OnComm, [&](int) {
        do
            engine->Receive(port.InputBytes());
        while (port.InBufferCount() >= 1);
    });
    engine->frameObserver = [&](QByteArrayView) { ++lines; };
    port.setSettings("4800,n,8,1");
    port.setCommPort(1);
    port.setPortOpen(true);
    engine->ProtocolStart();
    EXPECT_TRUE(waitFor([&] { return lines >= 100; }, 10000)) << lines;
    EXPECT_ITEMS("Error_Comm=0 NPanel=1");
    int on = 0, moved = 0;
    for (int z = 1; z <= 4; ++z) {
        on += value(QStringLiteral("C01.Z%1.State").arg(z)).toString() == "2";
        for (int d = 1; d <= 16; ++d)
            moved += value(QStringLiteral("C01.Z%1.D%2.Value").arg(z).arg(d, 2, 10, QLatin1Char('0'))) != Variant(0.0f);
    }
    EXPECT_GE(on, 1);
    EXPECT_GE(moved, 1);
    ::kill(pid_t(sim.processId()), SIGTERM);
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_TRUE(QRegularExpression("^kv7sim: \\d+ frames sent, 0 dropped on 1 lines\n$")
                    .match(QString::fromLocal8Bit(sim.readAllStandardError()))
                    .hasMatch());
}

TEST(SimulatorCommandLine, ArgumentsAndAnExistingDeviceAt4800Baud)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    const char *bad[] = {"",
                         "--pty",
                         "--pty 0",
                         "--pty x",
                         "--pty 1 --rate -3",
                         "--pty 1 --silent-after soon",
                         "--pty 1 --bogus",
                         "--pty 1 --loop",
                         "--pty 1 --script /nonexistent/script.txt",
                         "--device /nonexistent/ttyKV7"};
    for (const char *line : bad) {
        const QStringList args = QString(line).split(' ', Qt::SkipEmptyParts);
        QProcess p;
        p.start(simulator(), args);
        ASSERT_TRUE(p.waitForFinished(5000)) << args.join(' ').toStdString();
        EXPECT_NE(p.exitCode(), 0) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().startsWith("kv7sim: ")) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    }
    QProcess help;
    help.start(simulator(), {"--help"});
    ASSERT_TRUE(help.waitForFinished(5000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--silent-after"));

    PtyPair pty; // the slave plays the serial device; what it sends arrives on the master
    ASSERT_TRUE(pty.ok());
    QProcess sim;
    sim.start(simulator(), {"--device", pty.slavePath(), "--rate", "100"});
    QByteArray sent;
    ASSERT_TRUE(waitFor([&] { return (sent += pty.readMaster()).size() >= 200; }, 10000));
    const QList<QByteArray> lines = sent.split('\r');
    ASSERT_GE(lines.size(), 3);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith("W01 ")) << lines[i].toStdString();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    ::kill(pid_t(sim.processId()), SIGTERM);
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
}

} // namespace

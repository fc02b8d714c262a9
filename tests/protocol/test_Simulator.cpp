// The panel simulator: its frames decode to what it meant, on a pseudo-terminal
// read by the real serial code, and it behaves as a command-line tool.
#include "../../tools/kv7sim/PanelModel.h"
#include "ProtocolFixture.h"
#include "PtyPair.h"
#include "protocol/comPort.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <cmath>
#include <csignal>
#include <termios.h>

namespace {

QString simulator() { return binDir() + QStringLiteral("/kv7sim"); }

// Every simulated frame, decoded, lands in the items the model reported.
TEST_F(EngineFixture, SimulatedFramesDecodeToWhatThePanelReported)
{
    engine->ProtocolStart();
    kv7sim::PanelModel panel(12, 99);
    int groupReports = 0, zoneReports = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string frame = panel.nextFrame();
        engine->Receive(QByteArrayView(QByteArray::fromStdString(frame) + '\r'));
        const auto &r = panel.last();
        const QString Z = QStringLiteral("C01.Z%1.").arg(r.zone);
        ASSERT_EQ(value("C01.NPanel"), Variant(std::uint8_t(12)));
        if (r.type != "Gr") {
            ++zoneReports;
            if (r.type == "OF" || r.type == "PI" || r.type == "PU") {
                ASSERT_EQ(value(Z + "StateStr"), Variant(QStringLiteral("OFF"))) << frame;
            }
            continue;
        }
        ++groupReports;
        const QString D = Z + QStringLiteral("D%1.").arg(r.detector, 2, 10, QLatin1Char('0'));
        const QString G = Z + QStringLiteral("G%1.").arg(r.group);
        ASSERT_EQ(value(Z + "StateStr"), Variant(QStringLiteral("ON"))) << frame;
        ASSERT_EQ(value(D + "Group"), Variant(std::uint8_t(r.group))) << frame;
        ASSERT_EQ(value(G + "GasStr"), Variant(QString::fromStdString(r.gas).trimmed())) << frame;
        ASSERT_NE(value(G + "Gas"), Variant(std::uint8_t(0))) << frame;
        ASSERT_EQ(value(G + "StateStr"), Variant(QString::fromStdString(r.groupState).toUpper())) << frame;
        ASSERT_NE(value(G + "State"), Variant(std::uint8_t(255))) << frame;
        const float measure = value(D + "Value").get<float>();
        if (QString::fromStdString(r.measure).toUpper() == "SATURA") {
            ASSERT_EQ(measure, 99999.0f);
            ASSERT_EQ(value(D + "State"), Variant(std::uint8_t(9)));
        } else {
            ASSERT_NEAR(measure, std::stod(r.measure), 1e-3) << frame;
            ASSERT_EQ(value(D + "StateStr"), Variant(QString::fromStdString(r.detectorState).trimmed().toUpper()));
            const bool quiet = r.detectorState == "      ";
            ASSERT_EQ(value(D + "State") == Variant(std::uint8_t(1)), quiet) << frame;
        }
    }
    // A realistic mix: mostly group reports, some zone reports.
    EXPECT_GT(groupReports, 4000);
    EXPECT_GT(zoneReports, 10);
}

// The simulator, running, with a way to stop it and read what it said.
class SimulatorProcess {
public:
    explicit SimulatorProcess(const QStringList &args)
    {
        process.start(simulator(), args);
        process.waitForStarted(5000);
    }
    ~SimulatorProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QString firstLine()
    {
        waitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 5000);
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    // Sends the signal and waits; the exit code, or -1 when it did not end.
    int stop(int signal)
    {
        ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(5000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QProcess process;
};

class Simulator : public EngineFixture {
protected:
    // Opens the slave path with the real serial element and feeds the engine.
    void attach(const QString &path)
    {
        folder.write(QStringLiteral("OPC-KV7.ini"), ("[Ports]\r\nCOM1=" + path + "\r\n").toLatin1());
        QObject::connect(&port, &comPort::OnComm, [this](int) {
            do
                engine->Receive(port.Input());
            while (port.InBufferCount() >= 1);
        });
        engine->frameObserver = [this](QByteArrayView) { ++lines; };
        port.setSettings(QStringLiteral("4800,n,8,1"));
        port.setCommPort(1);
        port.setDTREnable(true);
        port.setRTSEnable(true);
        port.setPortOpen(true);
        engine->ProtocolStart();
    }
    comPort port;
    int lines = 0;
};

TEST_F(Simulator, PanelsOnAPseudoTerminalChangeTheItems)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    SimulatorProcess sim({"--pty", "1", "--rate", "200", "--seed", "3"});
    const QString path = sim.firstLine();
    ASSERT_TRUE(path.startsWith("/dev/")) << path.toStdString();
    attach(path);
    ASSERT_TRUE(waitFor([&] { return lines >= 150; }, 10000)) << lines;
    EXPECT_EQ(value("C01.Error_Comm"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(1)));
    int on = 0;
    for (int z = 1; z <= 4; ++z)
        on += value(QStringLiteral("C01.Z%1.State").arg(z)) == Variant(std::uint8_t(2));
    EXPECT_GE(on, 1);
    // Measures move: some detector left zero.
    bool moved = false;
    for (int z = 1; z <= 4 && !moved; ++z)
        for (int d = 1; d <= 16 && !moved; ++d)
            moved = value(QStringLiteral("C01.Z%1.D%2.Value").arg(z).arg(d, 2, 10, QLatin1Char('0'))) != Variant(0.0f);
    EXPECT_TRUE(moved);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST_F(Simulator, ScriptAndSilence)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    QTemporaryFile script;
    ASSERT_TRUE(script.open());
    script.write("W07 3OF\nW07 2PI\n\nW07 1Gr2 NH3     Ven105  44.0  Alarma\n");
    script.flush();
    SimulatorProcess sim({"--pty", "1", "--script", script.fileName(), "--rate", "50", "--silent-after", "5"});
    attach(sim.firstLine());
    ASSERT_TRUE(waitFor([&] { return lines >= 4; }, 10000)) << lines;
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(7)));
    EXPECT_EQ(value("C01.Z3.StateStr"), Variant(QStringLiteral("OFF")));
    EXPECT_EQ(value("C01.Z2.StsPrgIng"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z1.D05.Value"), Variant(44.0f));
    EXPECT_EQ(value("C01.Z1.G2.StateStr"), Variant(QStringLiteral("VEN1")));
    // Played once: nothing more comes.
    waitFor([] { return false; }, 300);
    EXPECT_EQ(lines, 4);
    EXPECT_EQ(sim.stop(SIGINT), 0);
}

TEST_F(Simulator, SilentAfterStopsTheTraffic)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    SimulatorProcess sim({"--pty", "1", "--rate", "100", "--silent-after", "0.5"});
    attach(sim.firstLine());
    ASSERT_TRUE(waitFor([&] { return lines >= 10; }, 10000));
    // Once silent, a full second passes without a line.
    int before = -1;
    for (int round = 0; round < 20 && before != lines; ++round) {
        before = lines;
        waitFor([] { return false; }, 1000);
    }
    EXPECT_EQ(before, lines);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimulatorCommandLine, BadArgumentsFailWithAMessage)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    const QStringList bad[] = {{},
                               {"--pty"},
                               {"--pty", "0"},
                               {"--pty", "x"},
                               {"--pty", "1", "--rate", "-3"},
                               {"--pty", "1", "--silent-after", "soon"},
                               {"--pty", "1", "--bogus"},
                               {"--pty", "1", "--loop"},
                               {"--pty", "1", "--script", "/nonexistent/script.txt"},
                               {"--device", "/nonexistent/ttyKV7"}};
    for (const QStringList &args : bad) {
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
}

TEST(SimulatorCommandLine, SendsOnAnExistingDeviceAt4800Baud)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    PtyPair pty; // the slave plays the serial device; what it sends arrives on the master
    ASSERT_TRUE(pty.ok());
    SimulatorProcess sim({"--device", pty.slavePath(), "--rate", "100"});
    const QByteArray sent = pty.readMaster(400, 10000);
    ASSERT_GE(sent.size(), 400);
    const QList<QByteArray> lines = sent.split('\r');
    ASSERT_GE(lines.size(), 3);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith("W01 ")) << lines[i].toStdString();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimulatorCommandLine, KeepsRunningWhenNobodyReads)
{
    if (!QFile::exists(simulator()))
        GTEST_SKIP() << "kv7sim is not built";
    // Far more than a pseudo-terminal buffers: the simulator must drop, not hang.
    SimulatorProcess sim({"--pty", "2", "--rate", "20000"});
    EXPECT_FALSE(sim.firstLine().isEmpty());
    waitFor([] { return false; }, 1500);
    EXPECT_EQ(sim.process.state(), QProcess::Running);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    const QString summary = QString::fromLocal8Bit(sim.process.readAllStandardError());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(\\d+) dropped")).match(summary);
    ASSERT_TRUE(m.hasMatch()) << summary.toStdString();
    EXPECT_GT(m.captured(1).toLongLong(), 0);
}

} // namespace

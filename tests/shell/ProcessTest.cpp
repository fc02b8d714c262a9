// The real program on a test's own application folder, headless.
#include "ShellFixture.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <csignal>

namespace {

struct Process : ShellTest {
    QString registration() const { return folder.path() + "/.config/opc/servers/QUARLEN.KV7.1.ini"; }
    void SetUp() override
    {
        ShellTest::SetUp();
        folder.write("OPC-KV7.ini", crlf("[OPC-KV7]\nUaPort=0\n[Configuracion]\nMainLeft=3000\n"));
        folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=0\n"));
    }
    // Starts the server without a display: it must choose the offscreen platform.
    void start(QProcess &p, const QStringList &arguments = {}, const QString &home = {}) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("OPC_KV7_HOME", home.isEmpty() ? folder.path() : home);
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        p.setProcessEnvironment(env);
        p.start(binDir() + "/opc-kv7", arguments);
    }
    static bool serving(QProcess &p)
    {
        waitFor([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 20000);
        return p.readLine().startsWith("Serving OPC UA at opc.tcp://");
    }
    // Sends the signal and waits for the end: the exit code, -1 for a crash or a kill.
    static int stop(QProcess &p, int signal)
    {
        if (::kill(pid_t(p.processId()), signal) != 0 || !p.waitForFinished(20000))
            return -2;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // Runs the program to its end; its exit code, its standard error.
    std::pair<int, QByteArray> run(const QStringList &arguments, const QString &home = {}) const
    {
        QProcess p;
        start(p, arguments, home);
        if (!p.waitForFinished(20000))
            return {-1, {}};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError()};
    }
};

TEST_F(Process, ASecondInstanceEndsSilentlyAndSignalsCloseCleanly)
{
    QProcess first;
    start(first);
    ASSERT_TRUE(serving(first)) << first.readAllStandardError().constData();
    EXPECT_EQ(run({"-regserver"}), std::make_pair(0, QByteArray()));
    EXPECT_FALSE(QFileInfo::exists(registration()));
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(stop(first, SIGTERM), 0);
    // The accepted close saved the placement.
    EXPECT_EQ(QStringList({ini("MainLeft"), ini("WindowState"), ini("TabSelected"), ini("TraceLevel")}),
              QStringList({"3000", "0", "0", "0"}));

    // Killed hard, a server leaves no lock behind; SIGINT closes as SIGTERM does.
    for (const int signal : {SIGKILL, SIGINT}) {
        QProcess next;
        start(next);
        ASSERT_TRUE(serving(next)) << next.readAllStandardError().constData();
        EXPECT_EQ(stop(next, signal), signal == SIGKILL ? -1 : 0);
    }
}

TEST_F(Process, RegistrationRunsAndStartupErrors)
{
    EXPECT_EQ(run({"now", "-RegServer", "please"}).first, 0);
    QFile f(registration());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        QRegularExpression("^\\[Server\\]\nProgID=QUARLEN.KV7.1\nCLSID=\\{[-0-9A-F]{36}\\}\nAppID=\\{[-0-9A-F]{36}\\}\n"
                           "Name=OPC-KV7\nDescription=OPC Server for Gas Panels\nVendor=QUARLEN\nExecutable=" +
                           QRegularExpression::escape(QFileInfo(binDir() + "/opc-kv7").canonicalFilePath()) +
                           "\nEndpoint=opc.tcp://[^:]+:\\d+\n$")
            .match(f.readAll())
            .hasMatch());
    // A registration run loads and saves nothing of the operator's.
    EXPECT_EQ(QStringList({ini("MainLeft"), ini("TabSelected")}), QStringList({"3000", "<none>"}));
    EXPECT_EQ(run({"/UNREGSERVER"}).first, 0);
    EXPECT_FALSE(QFileInfo::exists(registration()));

    // Start-up errors: one clear line and a non-zero status.
    QDir().mkpath(registration()); // the registration cannot be written
    QTcpServer taken;              // the OPC UA port is someone else's
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    for (const auto &[arguments, home] :
         {std::pair{QStringList{"-regserver"}, QString()}, std::pair{QStringList{}, folder.file("missing/folder")},
          std::pair{QStringList{}, QString()}}) {
        if (arguments.isEmpty() && home.isEmpty())
            Ini::IniPutString("OPC-KV7", "UaPort", QString::number(taken.serverPort()));
        const auto [code, err] = run(arguments, home);
        EXPECT_EQ(code, 1) << err.constData();
        EXPECT_EQ(err.count("OPC-KV7: Startup Error: "), 1) << err.constData();
    }
}

} // namespace

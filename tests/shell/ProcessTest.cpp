#include "ShellFixture.h"

#include <QProcess>
#include <QTcpServer>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// The real program on a test's own application folder, headless.
struct ProcessTest : ::testing::Test {
    TempAppFolder folder;
    void SetUp() override
    {
        installLanguageFile(folder);
        folder.write(QStringLiteral("OPC-KV7.ini"), crlf(QStringLiteral("[OPC-KV7]\nUaPort=0\n")));
        folder.write(QStringLiteral("KV7.ini"), crlf(QStringLiteral("[KV7]\nC1-On=1\nC1-Com=0\n")));
    }
    void start(QProcess &p, const QStringList &arguments = {}) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OPC_KV7_HOME"), folder.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path() + QStringLiteral("/.config"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the program must choose offscreen itself
        p.setProcessEnvironment(env);
        p.start(binDir() + QStringLiteral("/opc-kv7"), arguments);
    }
    // Waits for the line that tells where the server serves.
    static bool serving(QProcess &p, QByteArray &out)
    {
        for (int i = 0; i < 100 && !out.contains("Serving OPC UA at opc.tcp://"); ++i) {
            if (p.state() == QProcess::NotRunning)
                break;
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        return out.contains("Serving OPC UA at opc.tcp://");
    }
    QString ini(const QString &key) const
    {
        return Ini::IniGetString(QStringLiteral("Configuracion"), key, QStringLiteral("<none>"));
    }
};

TEST_F(ProcessTest, SecondInstanceEndsSilentlyAndSigtermClosesCleanly)
{
    QProcess first;
    start(first);
    QByteArray out;
    ASSERT_TRUE(serving(first, out)) << first.readAllStandardError().constData();

    QProcess second;
    start(second, {QStringLiteral("-regserver")});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder.path() + QStringLiteral("/.config/opc/servers/QUARLEN.KV7.1.ini")));
    EXPECT_EQ(first.state(), QProcess::Running);

    ASSERT_EQ(::kill(pid_t(first.processId()), SIGTERM), 0);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    // The accepted close saved the placement.
    EXPECT_NE(ini(QStringLiteral("MainLeft")), QStringLiteral("<none>"));
    EXPECT_EQ(ini(QStringLiteral("WindowState")), QStringLiteral("0"));
    EXPECT_EQ(ini(QStringLiteral("TabSelected")), QStringLiteral("0"));
    EXPECT_EQ(ini(QStringLiteral("TraceLevel")), QStringLiteral("0"));

    // The folder is free again.
    QProcess third;
    start(third);
    QByteArray out3;
    ASSERT_TRUE(serving(third, out3));
    ASSERT_EQ(::kill(pid_t(third.processId()), SIGINT), 0);
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(third.exitCode(), 0);
}

TEST_F(ProcessTest, ServerKilledHardLeavesNoLockBehind)
{
    QProcess first;
    start(first);
    QByteArray out;
    ASSERT_TRUE(serving(first, out));
    first.kill();
    ASSERT_TRUE(first.waitForFinished(20000));
    QProcess second;
    start(second);
    QByteArray out2;
    EXPECT_TRUE(serving(second, out2)) << second.readAllStandardError().constData();
    second.terminate(); // SIGTERM
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
}

TEST_F(ProcessTest, RegserverAndUnregserverRunAndEnd)
{
    const QString file = folder.path() + QStringLiteral("/.config/opc/servers/QUARLEN.KV7.1.ini");
    QProcess reg;
    start(reg, {QStringLiteral("-RegServer")});
    ASSERT_TRUE(reg.waitForFinished(20000));
    EXPECT_EQ(reg.exitCode(), 0);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    f.close();
    EXPECT_TRUE(text.contains("ProgID=QUARLEN.KV7.1"));
    EXPECT_TRUE(
        text.contains("Executable=" + QFileInfo(binDir() + QStringLiteral("/opc-kv7")).canonicalFilePath().toUtf8()))
        << text.constData();
    EXPECT_TRUE(text.contains("Endpoint=opc.tcp://"));
    EXPECT_TRUE(text.contains("Description=OPC Server for Gas Panels"));

    QProcess unreg;
    start(unreg, {QStringLiteral("/UNREGSERVER")});
    ASSERT_TRUE(unreg.waitForFinished(20000));
    EXPECT_EQ(unreg.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(file));
}

TEST_F(ProcessTest, StartupErrorsAreOneClearLineAndANonZeroStatus)
{
    // The OPC UA port is taken by someone else.
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    Ini::IniPutString(QStringLiteral("OPC-KV7"), QStringLiteral("UaPort"), QString::number(taken.serverPort()));
    QProcess p;
    start(p);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 1);
    const QByteArray err = p.readAllStandardError();
    EXPECT_EQ(err.count("OPC-KV7: Startup Error: "), 1) << err.constData();

    // An application folder that does not exist.
    QProcess q;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OPC_KV7_HOME"), folder.path() + QStringLiteral("/missing/folder"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    q.setProcessEnvironment(env);
    q.start(binDir() + QStringLiteral("/opc-kv7"), {});
    ASSERT_TRUE(q.waitForFinished(20000));
    EXPECT_EQ(q.exitCode(), 1);
    EXPECT_TRUE(q.readAllStandardError().contains("OPC-KV7: Startup Error: "));
}

} // namespace

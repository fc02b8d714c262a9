// The real program as systemd runs it: `--service`, a notify socket, a watchdog.
#include "NotifySocket.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <csignal>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

TEST(ServiceMode, NotifiesSystemdServesWithoutWidgetsAndLogsWithPriorities)
{
    TempAppFolder folder;
    folder.installLanguageFile();
    const quint16 port = freePort();
    folder.write("OPC-KV7.ini", QStringLiteral("[OPC-KV7]\r\nUaHost=127.0.0.1\r\nUaPort=%1\r\n[Ports]\r\nCOM5=%2\r\n")
                                    .arg(port)
                                    .arg(folder.file("no-such-tty"))
                                    .toLatin1());
    folder.write("KV7.ini", "[KV7]\r\nC1-On=1\r\nC1-Com=0\r\nC2-On=1\r\nC2-Com=5\r\n");
    NotifySocket systemd("200000"); // the child inherits it; pings every 100 ms
    QProcess server;
    server.start(binDir() + "/opc-kv7", {"--service"});
    ASSERT_TRUE(server.waitForStarted(10000));

    // Ready only once the listener accepts.
    ASSERT_TRUE(waitFor([&] { return systemd.messages().contains("READY=1"); }, 20000))
        << server.readAllStandardError().constData();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(client.waitForConnected(5000));
    EXPECT_TRUE(waitFor([&] { return systemd.messages().count("WATCHDOG=1") >= 3; }, 10000));
    EXPECT_TRUE(systemd.messages().contains("STATUS=2 panel lines, 2 in communication error, 0 clients connected"))
        << qPrintable(systemd.messages().join('|'));

    QFile maps(QStringLiteral("/proc/%1/maps").arg(server.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    EXPECT_TRUE(mapped.contains("libQt6Core"));
    EXPECT_FALSE(mapped.contains("libQt6Widgets"));
    EXPECT_FALSE(mapped.contains("libQt6Gui"));

    ASSERT_EQ(::kill(pid_t(server.processId()), SIGTERM), 0);
    // Read on while it closes, as systemd does: a full socket would hold its pings.
    ASSERT_TRUE(waitFor(
        [&] {
            systemd.messages();
            return server.state() == QProcess::NotRunning;
        },
        20000));
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_TRUE(systemd.messages().contains("STOPPING=1"));
    // Each trace line once, with its journal priority.
    const QByteArray log = server.readAllStandardError();
    EXPECT_EQ(log.count("<6>(Server initialization completed.)\n"), 1) << log.constData();
    EXPECT_EQ(log.count("(Server initialization completed.)"), 1);
    EXPECT_EQ(log.count("COM5"), 1);
    EXPECT_TRUE(log.contains("\n<4>(No se puede abrir COM5. ")) << log.constData();
    EXPECT_EQ(folder.read("OPC-KV7.ini").count("TraceLevel=0"), 1); // the shutdown saved
}

TEST(ServiceMode, WithoutTheWindowModuleOnlyTheServiceRuns)
{
    TempAppFolder folder;
    folder.installLanguageFile();
    folder.write("OPC-KV7.ini", "[OPC-KV7]\r\nUaPort=0\r\n");
    // The program alone, in a folder without its window module.
    const QString alone = folder.file("opc-kv7");
    ASSERT_TRUE(QFile::copy(binDir() + "/opc-kv7", alone));
    QProcess p;
    p.start(alone, {"-regserver"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("cannot load the window module"));
    p.start(alone, {"--service", "-regserver"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    EXPECT_TRUE(QFile::exists(folder.path() + "/.config/opc/servers/QUARLEN.KV7.1.ini"));
}

} // namespace

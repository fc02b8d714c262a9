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

TEST(ServiceMode, NotifiesSystemdServesWithoutWidgetsAndLogsWithPriorities)
{
    TempAppFolder folder;
    folder.installLanguageFile();
    QTcpServer probe; // a free port
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    folder.write("OPC-KV7.ini", QStringLiteral("[OPC-KV7]\r\nUaHost=127.0.0.1\r\nUaPort=%1\r\n[Ports]\r\nCOM5=%2\r\n")
                                    .arg(port)
                                    .arg(folder.file("no-such-tty"))
                                    .toLatin1());
    folder.write("KV7.ini", "[KV7]\r\nC1-On=1\r\nC1-Com=0\r\nC2-On=1\r\nC2-Com=5\r\n");
    NotifySocket systemd("200000"); // the child inherits it; pings every 100 ms
    QProcess server;
    server.start(binDir() + "/opc-kv7", {"--service"});
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
    EXPECT_EQ(
        QList<bool>({mapped.contains("libQt6Core"), mapped.contains("libQt6Widgets"), mapped.contains("libQt6Gui")}),
        QList<bool>({true, false, false}));

    ASSERT_EQ(::kill(pid_t(server.processId()), SIGTERM), 0);
    // Read on while it closes, as systemd does: a full socket would hold its pings.
    ASSERT_TRUE(
        waitFor([&] { return !systemd.messages().isEmpty() && server.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_TRUE(systemd.messages().contains("STOPPING=1"));
    // Each trace line once, with its journal priority.
    const QByteArray log = server.readAllStandardError();
    EXPECT_EQ(log.count("<6>(Server initialization completed.)\n"), 1) << log.constData();
    EXPECT_EQ(log.count("(Server initialization completed.)") + log.count("COM5"), 2);
    EXPECT_TRUE(log.contains("\n<4>(No se puede abrir COM5. ")) << log.constData();
    EXPECT_EQ(folder.read("OPC-KV7.ini").count("TraceLevel=0"), 1); // the shutdown saved
}

TEST(ServiceMode, WithoutTheWindowModuleOnlyTheServiceRuns)
{
    TempAppFolder folder;
    folder.installLanguageFile();
    folder.write("OPC-KV7.ini", "[OPC-KV7]\r\nUaPort=0\r\n");
    const QString alone = folder.file("opc-kv7"); // the program alone, in a folder without its window module
    ASSERT_TRUE(QFile::copy(binDir() + "/opc-kv7", alone));
    QProcess p;
    p.start(alone, {"-regserver"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("cannot load the window module"));
    p.start(alone, {"--service", "-regserver"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    EXPECT_TRUE(QFile::exists(folder.file(".config/opc/servers/QUARLEN.KV7.1.ini")));
}

} // namespace

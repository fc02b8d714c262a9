// Running as a systemd service: journal priorities of the trace lines, the
// notifier's messages, and the real program with `--service`, a notify socket and a watchdog.
#include "TestSupport.h"
#include "service/JournalLine.h"
#include "service/ServiceNotifier.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Stands in for systemd: a datagram socket in the abstract namespace that
// NOTIFY_SOCKET names while the test runs, and the watchdog variables it asks for.
struct NotifySocket {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    QStringList received; // every message so far, in order
    explicit NotifySocket(const char *watchdogUsec = nullptr)
    {
        const QByteArray name = "kv7-notify-test-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(fd);
        sockaddr_un address{AF_UNIX, {}};
        std::copy(name.begin(), name.end(), address.sun_path + 1);
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr *>(&address),
                         socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
                  0);
        qputenv("NOTIFY_SOCKET", '@' + name);
        if (watchdogUsec)
            qputenv("WATCHDOG_USEC", watchdogUsec);
    }
    ~NotifySocket()
    {
        for (const char *name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
            qunsetenv(name);
        ::close(fd);
    }
    QStringList messages()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) >= 0;)
            received << QString::fromUtf8(buffer, n);
        return received;
    }
};

// The lines as the program writes them, one or more of each kind, and near misses:
// an error word inside a line that is no failed action, a session line that is not
// alone in its parentheses.
TEST(Service, JournalPrioritiesNotifierMessagesAndTheRealProgramAsAServiceWithoutWidgetsOrTheWindowModule)
{
    using P = JournalPriority;
    const std::pair<const char *, JournalPriority> cases[] = {
        {"(Group Minimum Update Period Error: Overflow)", P::Error},
        {"InitialUpdate. Tag:C01.Z1.State Err:Duplicate name", P::Error},
        {"(No se puede abrir COM12. Protocolo:KV7  Error: Port already used by connection 1)", P::Warning},
        {"(COM2 /dev/ttyUSB0 closed: the device went away)", P::Warning},
        {"(COM2 /dev/serial/by-id/usb-FTDI-if00 open again)", P::Info},
        {"(OPC-KV7/UaPort: 70000 is no TCP port; using 4840)", P::Warning},
        {"(No usable language file (/var/lib/opc-kv7/OPC-KV7.LNG); the designed captions stay)", P::Warning},
        {"(OPC-KV7: Error writing to OPC-KV7.ini)", P::Warning},
        {"UA 127.0.0.1:50212 connection error BadTcpMessageTooLarge: chunk too large", P::Warning},
        {"(Server Status: Running)", P::Info},
        {"(Service status: frames C01 60, C02 0; 1 in communication error; 2 sessions, 3 subscriptions)", P::Info},
        {"(Auto Session opened)", P::Info},
        {"(Session closed)", P::Info},
        {"Client connected; clients: 1", P::Info},
        {"Client refused; clients: 0", P::Info},
        {"UA server started at opc.tcp://host:4840 with 478 items", P::Info},
        {"UA connection from 127.0.0.1:50212 closed", P::Info},
        {"UA 127.0.0.1:50212 secure channel 7 opened, token 1, lifetime 600000 ms", P::Info},
        {"UA session ns=1;i=3 \"client\" ended: closed by the client", P::Info},
        {"(Server Status: Error)", P::Info},
        {"UA Read of 2 attributes, 1 item values; Error: none", P::Debug},
        {"(Session opened by hand, then more)", P::Debug},
        {"Startup Error: without the parentheses of the log calls", P::Debug}};
    for (const auto &[line, priority] : cases)
        EXPECT_EQ(journalLine(QString::fromUtf8(line)), QStringLiteral("<%1>%2").arg(int(priority)).arg(line)) << line;
    // A line break would start a journal entry without a priority.
    EXPECT_EQ(journalLine(QStringLiteral("(Startup Error: bad\r\nvalue\n)")),
              QStringLiteral("<3>(Startup Error: bad  value )"));

    // The notifier: ready, status, stopping, and watchdog pings from the running event loop when
    // systemd asks for them for this process.
    const std::pair<const char *, QByteArray> disabled[] = {
        {nullptr, {}}, {"not a number", {}}, {"0", {}}, {"100000", QByteArray::number(::getppid())}};
    for (const auto &[usec, pid] : disabled) {
        NotifySocket systemd(usec);
        if (!pid.isEmpty())
            qputenv("WATCHDOG_PID", pid);
        EXPECT_EQ(ServiceNotifier().watchdogInterval(), 0ms) << (usec ? usec : "none") << " " << pid.constData();
    }
    NotifySocket systemd("100000");
    ServiceNotifier notifier;
    EXPECT_EQ(notifier.watchdogInterval(), 50ms);
    notifier.ready();
    notifier.setStatus(3, 1, 2);
    notifier.setStatus(3, 1, 2); // unchanged: not sent again
    notifier.setStatus(1, 0, 1);
    notifier.setStatus(2, 2, 0);
    notifier.stopping();
    // Nothing before the loop runs: a hung loop sends no ping.
    EXPECT_EQ(systemd.messages(),
              QStringList({"READY=1", "STATUS=3 panel lines, 1 in communication error, 2 clients connected",
                           "STATUS=1 panel line, 0 in communication error, 1 client connected",
                           "STATUS=2 panel lines, 2 in communication error, 0 clients connected", "STOPPING=1"}));
    EXPECT_TRUE(waitFor([&] { return systemd.messages().count("WATCHDOG=1") >= 3; }, 5000));
    EXPECT_EQ(systemd.messages().size(), 5 + systemd.messages().count("WATCHDOG=1"));

    // The real program with `--service`: it notifies systemd, serves without widgets, logs with priorities.
    TempAppFolder folder;
    folder.installLanguageFile();
    QTcpServer probe; // a free port
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    PtyPair line; // COM6: the service's own event loop reads its frames
    folder.write("OPC-KV7.ini",
                 QStringLiteral("[OPC-KV7]\r\nUaHost=127.0.0.1\r\nUaPort=%1\r\n[Ports]\r\nCOM5=%2\r\nCOM6=%3\r\n")
                     .arg(port)
                     .arg(folder.file("no-such-tty"), line.slavePath())
                     .toLatin1());
    folder.write("KV7.ini", "[KV7]\r\nC1-On=1\r\nC1-Com=0\r\nC2-On=1\r\nC2-Com=5\r\nC3-On=1\r\nC3-Com=6\r\n");
    NotifySocket supervisor("200000"); // the child inherits it; pings every 100 ms
    QProcess server;
    server.start(binDir() + "/opc-kv7", {"--service"});
    // Ready only once the listener accepts.
    ASSERT_TRUE(waitFor([&] { return supervisor.messages().contains("READY=1"); }, 20000))
        << server.readAllStandardError().constData();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(client.waitForConnected(5000));
    EXPECT_TRUE(waitFor([&] { return supervisor.messages().count("WATCHDOG=1") >= 3; }, 10000));
    EXPECT_TRUE(supervisor.messages().contains("STATUS=3 panel lines, 3 in communication error, 0 clients connected"))
        << qPrintable(supervisor.messages().join('|'));
    ASSERT_TRUE(line.write("W11 1OF\r"));
    EXPECT_TRUE(waitFor(
        [&] {
            return supervisor.messages().contains(
                "STATUS=3 panel lines, 2 in communication error, 0 clients connected");
        },
        10000))
        << qPrintable(supervisor.messages().join('|'));
    QFile maps(QStringLiteral("/proc/%1/maps").arg(server.processId()));
    const QByteArray mapped = maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
    EXPECT_EQ(
        QList<bool>({mapped.contains("libQt6Core"), mapped.contains("libQt6Widgets"), mapped.contains("libQt6Gui")}),
        QList<bool>({true, false, false}));

    ASSERT_EQ(::kill(pid_t(server.processId()), SIGTERM), 0);
    // Read on while it closes, as systemd does: a full socket would hold its pings.
    ASSERT_TRUE(
        waitFor([&] { return !supervisor.messages().isEmpty() && server.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_TRUE(supervisor.messages().contains("STOPPING=1"));
    // Each trace line once, with its journal priority.
    const QByteArray log = server.readAllStandardError();
    EXPECT_EQ(log.count("<6>(Server initialization completed.)\n"), 1) << log.constData();
    EXPECT_EQ(log.count("(Server initialization completed.)") + log.count("COM5"), 2);
    EXPECT_TRUE(log.contains("\n<4>(No se puede abrir COM5. ")) << log.constData();
    EXPECT_EQ(folder.read("OPC-KV7.ini").count("TraceLevel=0"), 1); // the shutdown saved

    // The program alone, in a folder without its window module, runs only as a service.
    const QString alone = folder.file("opc-kv7");
    ASSERT_TRUE(QFile::copy(binDir() + "/opc-kv7", alone));
    server.start(alone, {"-regserver"});
    ASSERT_TRUE(server.waitForFinished(20000));
    EXPECT_EQ(server.exitCode(), 1);
    EXPECT_TRUE(server.readAllStandardError().contains("cannot load the window module"));
    server.start(alone, {"--service", "-regserver"});
    ASSERT_TRUE(server.waitForFinished(20000));
    EXPECT_EQ(server.exitCode(), 0) << server.readAllStandardError().constData();
    EXPECT_TRUE(QFile::exists(folder.file(".config/opc/servers/QUARLEN.KV7.1.ini")));
}

} // namespace

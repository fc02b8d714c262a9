// Start-up, server status, placement, the close requests and shutdown, in this process and as
// the real program.
#include "ShellFixture.h"
#include "common/Clock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <csignal>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

struct Startup : ShellTest {
    static bool allQualities(OPCServer &opc, std::int16_t quality)
    {
        for (const OPCItem *item : opc.Tags())
            if (item->Quality() != quality)
                return false;
        return true;
    }
    static bool near(double twips, double expected) { return std::abs(twips - expected) <= 15; } // 1 pixel
};

TEST_F(Startup, StartsInOrderAndServesEveryItemWithTheStatusQuality)
{
    ManualClock clock;
    Server s;
    s.opc().setClock(clock);
    ASSERT_EQ(s.start(), MainOPC::LoadResult::Running) << qPrintable(s.logic().startupError());
    settle();
    OPCServer &opc = s.opc();
    // It serves before any widget exists.
    EXPECT_TRUE(opc.serving() && s.logic().FirstTick && !s.window());
    EXPECT_TRUE(opc.RegistrationGuid1.startsWith('{') && opc.RegistrationGuid1 != opc.RegistrationGuid2);
    // The engine made its items before serving started; the status gave them Good.
    ASSERT_EQ(opc.Tags().Count(), 478);
    EXPECT_TRUE(allQualities(opc, Quality::Good));
    EXPECT_EQ(opc.Tags().at(300)->Timestamp(), clock.now());
    // A server started by hand makes and shows its window at the first tick, with all
    // that was set before: caption, trace, session, status, trace level.
    s.logic().mnuEditStatusCurrent_Click(4);
    s.logic().mnuTraceLevel_Click(2);
    EXPECT_FALSE(s.window());
    s.logic().tmrMain_Timer();
    ASSERT_TRUE(s.window());
    EXPECT_EQ(s.status(), "state 4, shown, timer 1000, loaded");
    EXPECT_EQ(opc.PathDelimiter + s.window()->windowTitle(), ".OPC-KV7");
    const QStringList trace = s.trace();
    const auto closed = trace.indexOf("(Session closed)"), done = trace.indexOf("(Server initialization completed.)");
    EXPECT_TRUE(closed >= 0 && closed < done && done < trace.indexOf("(Server Status: Running)"));
    EXPECT_EQ(s.session(), "0 -+login locked []");
    EXPECT_TRUE(s.checked("mnuEditStatusCurrent(4)") && !s.checked("mnuEditStatusCurrent(1)") &&
                s.checked("mnuTraceGroup") && !s.checked("mnuTraceNone"));

    // Each status gives every item its quality and checks its menu item; the values stay.
    const std::tuple<int, std::int16_t, const char *> statuses[] = {{4, 0x1C, "Suspended"},
                                                                    {2, 0x0C, "Failed"},
                                                                    {3, 0x04, "No Configuration"},
                                                                    {5, 0xC0, "Test"},
                                                                    {9, 0xC0, "UNKNOWN!"}};
    for (const auto &[status, quality, text] : statuses) {
        s.logic().mnuEditStatusCurrent_Click(status);
        EXPECT_TRUE(allQualities(opc, quality)) << status;
        EXPECT_EQ(s.trace().last(), QStringLiteral("(Server Status: %1)").arg(text));
        QString checked;
        for (int n = 1; n <= 5; ++n)
            checked += s.checked(QStringLiteral("mnuEditStatusCurrent(%1)").arg(n)) ? QString::number(n) : "";
        EXPECT_EQ(checked, status <= 5 ? QString::number(status) : "") << status;
    }
    EXPECT_EQ(s.value("C01.Error_Comm"), "1");
    // Toolkit trace lines reach the trace pane at the level chosen.
    s.window()->action("mnuTraceConnect")->trigger();
    ASSERT_TRUE(opc.clientConnecting());
    EXPECT_EQ(s.trace().last(), "Client connected; clients: 1");
    s.window()->action("mnuTraceClear")->trigger();
    EXPECT_TRUE(s.window()->tracePane()->toPlainText().isEmpty());
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(Startup, PlacementIsSavedInOneReplacementAndCloseRequestsDependOnTheSessionAndOnWhoStartedTheServer)
{
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        const QRectF p = s.window()->placementTwips();
        EXPECT_TRUE(near(p.left(), 1000) && near(p.top(), 1000) && near(p.width(), 9000) && near(p.height(), 6500));
        EXPECT_EQ(std::make_pair(s.window()->windowStateCode(), s.window()->selectedTab()), std::make_pair(0, 0));
        s.logic().session().Sesion_Iniciar(true);
        s.window()->setPlacementTwips(QRectF(1500, 750, 9600, 7200));
        s.window()->setSelectedTab(2);
        s.logic().mnuTraceLevel_Click(3);
        ASSERT_TRUE(s.logic().requestClose(MainOPC::UnloadMode::Code));
        EXPECT_EQ(s.status(), "state 2, hidden, timer 0, unloaded");
    }
    EXPECT_EQ(folder.read("OPC-KV7.ini"), crlf("[OPC-KV7]\nUaPort=0\n[Configuracion]\nMainLeft=1500\nMainTop=750\n"
                                               "MainWidth=9600\nMainHeight=7200\nWindowState=0\nTabSelected=2\n"
                                               "TraceLevel=3\n"));
    {
        // The next start restores it all, shown.
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        s.logic().tmrMain_Timer();
        EXPECT_EQ(s.window()->placementTwips(), QRectF(1500, 750, 9600, 7200));
        EXPECT_EQ(std::make_pair(s.window()->selectedTab(), s.opc().TraceLevel()), std::make_pair(2, 3));
        EXPECT_TRUE(s.checked("mnuTraceItem") && !s.checked("mnuTraceNone"));
        s.logic().mnuFileForceExit_Click();
    }
    // A tab beyond the last gives the last; closed minimized, only the state is kept.
    folder.write("OPC-KV7.ini", crlf("[OPC-KV7]\nUaPort=0\n[Configuracion]\nTabSelected=7\nWindowState=1\n"));
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        EXPECT_EQ(std::make_pair(s.window()->selectedTab(), s.window()->windowStateCode()),
                  std::make_pair(s.window()->tabCount() - 1, 1));
        s.logic().mnuFileForceExit_Click();
        EXPECT_EQ(ini("WindowState") + ini("MainLeft"), "1<none>");
    }
    // A damaged value is reported, replaced by its design value, and written back sound; a file
    // with binary noise and an empty protocol file still serve.
    folder.write("OPC-KV7.ini", "\xff\xfe[Configur" +
                                    crlf("\n[OPC-KV7]\nUaPort=0\n[Configuracion]\nTabSelected=-2\n"
                                         "MainLeft=\nMainTop=abc\n=\n[[[\nMainWidth\n") +
                                    QByteArray("\0\0garbage", 9));
    folder.write("KV7.ini", QByteArray());
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        EXPECT_EQ(std::make_pair(s.window()->selectedTab(), int(s.opc().Tags().Count())), std::make_pair(0, 0));
        EXPECT_EQ(s.trace().filter(QRegularExpression("^\\(Configuracion/Main(Left|Top): Type mismatch")).size(), 2);
        EXPECT_TRUE(near(s.window()->placementTwips().top(), 1000));
        s.logic().mnuFileForceExit_Click();
        EXPECT_TRUE(near(ini("MainTop").toInt(), 1000));
    }

    // The close writes the file once, with the bytes that separate writes of its keys give.
    const QByteArray before = crlf("; placement\n[Configuracion]\nTraceLevel=1\nLanguage=0\nmaintop=10\n"
                                   "[OPC-KV7]\nUaPort=0\n[Other]\nMainLeft=5\n");
    folder.write("OPC-KV7.ini", before);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        s.window()->setPlacementTwips(QRectF(1500, 750, 9600, 7200));
        s.window()->setSelectedTab(1);
        s.logic().mnuTraceLevel_Click(2);
        ASSERT_GE(
            ::inotify_add_watch(watch, QFile::encodeName(folder.path()).constData(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
        s.logic().mnuFileForceExit_Click();
    }
    // The events name their file NUL-padded: one write of the file, in place or by replacement.
    QByteArray events(65536, '\0');
    events.truncate(std::max<ssize_t>(::read(watch, events.data(), events.size()), 0));
    ::close(watch);
    EXPECT_EQ(events.count(QByteArrayView("OPC-KV7.ini\0", 12)), 1);
    const QByteArray saved = folder.read("OPC-KV7.ini");
    folder.write("OPC-KV7.ini", before);
    for (const auto &[key, value] : pairs("MainLeft=1500|MainTop=750|MainWidth=9600|MainHeight=7200|WindowState=0|"
                                          "TabSelected=1|TraceLevel=2"))
        Ini::IniPutString("Configuracion", key, value);
    EXPECT_EQ(saved, folder.read("OPC-KV7.ini"));

    // A client's server closes after its last client; a hand-started one stays, and its
    // close box restores the window instead without a session.
    Ini::IniPutString("Configuracion", "Visible", "0");
    for (bool launched : {true, false}) {
        Server s;
        ASSERT_EQ(s.load(launched ? QStringList{"/embedding"} : QStringList{}), MainOPC::LoadResult::Running);
        bool unloadedSignal = false;
        QObject::connect(&s.logic(), &MainOPC::unloaded, [&] { unloadedSignal = true; });
        s.logic().tmrMain_Timer(); // "Visible" 0 keeps only a client's server hidden
        ASSERT_TRUE(s.opc().clientConnecting() && s.opc().clientConnecting());
        s.opc().clientDisconnected();
        EXPECT_FALSE(s.logic().ShutdownPending);
        s.opc().clientDisconnected();
        EXPECT_EQ(s.logic().ShutdownPending, launched);
        EXPECT_EQ(s.opc().clientConnecting(), !launched); // too late once the close is pending
        EXPECT_EQ(s.status(), launched ? "state 1, hidden, timer 2000, loaded" : "state 1, shown, timer 1000, loaded");
        s.logic().tmrMain_Timer();
        EXPECT_EQ(s.status(), launched ? "state 2, hidden, timer 0, unloaded" : "state 1, shown, timer 1000, loaded");
        EXPECT_EQ(unloadedSignal, launched);
        if (launched)
            continue;
        s.window()->setWindowStateCode(1);
        EXPECT_FALSE(s.logic().requestClose(MainOPC::UnloadMode::CloseBox));
        EXPECT_EQ(s.window()->windowStateCode(), 0);
        s.logic().session().Sesion_Iniciar(true);
        EXPECT_TRUE(s.logic().requestClose(MainOPC::UnloadMode::CloseBox));
        EXPECT_EQ(s.status(), "state 2, hidden, timer 0, unloaded");
    }
    EXPECT_TRUE(dialogs.requests().empty());

    // A client's server refuses Exit with a message, but not the system's close.
    Server s;
    ASSERT_EQ(s.load({"-Embedding"}), MainOPC::LoadResult::Running);
    s.logic().session().Sesion_Iniciar(true);
    s.logic().mnuFileExit_Click();
    EXPECT_EQ(s.status(), "state 1, hidden, timer 1000, loaded");
    ASSERT_EQ(dialogs.requests().size(), 1u);
    const Dialogs::Request &r = dialogs.requests()[0];
    EXPECT_EQ(r.kind, Dialogs::Kind::Message);
    EXPECT_EQ(QStringList({r.title, r.text.left(41), r.buttons.join(',')}),
              QStringList({"OPC-KV7", "El servidor lo ha iniciado un cliente OPC", "&Aceptar"}));
    EXPECT_TRUE(s.logic().requestClose(MainOPC::UnloadMode::SystemSession));
    EXPECT_EQ(s.status(), "state 2, hidden, timer 0, unloaded");
}

// The real program on a test's own application folder, headless.
struct Process : ShellTest {
    QString registration() const { return folder.path() + "/.config/opc/servers/QUARLEN.KV7.1.ini"; }
    void SetUp() override
    {
        ShellTest::SetUp();
        folder.write("OPC-KV7.ini", crlf("[OPC-KV7]\nUaPort=0\n[Configuracion]\nMainLeft=3000\n"));
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
    // Starts the server and waits until it serves.
    bool serving(QProcess &p) const
    {
        start(p);
        waitFor([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 20000);
        return p.readLine().startsWith("Serving OPC UA at opc.tcp://");
    }
    // The exit code once it ends: -1 for a crash or a kill, -2 when it does not end.
    static int exitCode(QProcess &p)
    {
        return !p.waitForFinished(20000) ? -2 : p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    static int stop(QProcess &p, int signal) { return ::kill(pid_t(p.processId()), signal) ? -3 : exitCode(p); }
    std::pair<int, QByteArray> run(const QStringList &arguments, const QString &home = {}) const
    {
        QProcess p;
        start(p, arguments, home);
        return {exitCode(p), p.readAllStandardError()};
    }
};

TEST_F(Process, RegistrationASecondInstanceSignalsAndStartupErrors)
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

    // A second instance ends silently; signals close cleanly.
    QProcess first;
    ASSERT_TRUE(serving(first)) << first.readAllStandardError().constData();
    EXPECT_EQ(run({"-regserver"}), std::make_pair(0, QByteArray()));
    EXPECT_FALSE(QFileInfo::exists(registration()));
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(stop(first, SIGTERM), 0);
    EXPECT_EQ(QStringList({ini("MainLeft"), ini("WindowState"), ini("TabSelected"), ini("TraceLevel")}),
              QStringList({"3000", "0", "0", "0"}));

    // Killed hard, a server leaves no lock behind; SIGINT closes as SIGTERM does.
    for (const int signal : {SIGKILL, SIGINT}) {
        QProcess next;
        ASSERT_TRUE(serving(next)) << next.readAllStandardError().constData();
        EXPECT_EQ(stop(next, signal), signal == SIGKILL ? -1 : 0);
    }

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

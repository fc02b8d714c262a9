#include "ShellFixture.h"
#include "common/AppInfo.h"
#include "config/Ini.h"
#include "opc/OPCServer.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

namespace {

// An application folder with the language file and one panel line that needs
// no serial port (port 0), so the whole start-up runs and items exist.
struct StartupTest : ::testing::Test {
    TempAppFolder folder;
    DialogRecorder dialogs;
    void SetUp() override
    {
        installLanguageFile(folder);
        folder.write(QStringLiteral("KV7.ini"), crlf(QStringLiteral("[KV7]\nC1-On=1\nC1-Com=0\nC1-Nm=Sala\n")));
    }
    QString ini(const QString &key) const
    {
        return Ini::IniGetString(QStringLiteral("Configuracion"), key, QStringLiteral("<none>"));
    }
};

TEST_F(StartupTest, StartsInOrderGivesIdentityAndEveryItemGood)
{
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running) << qPrintable(s.logic().startupError());
    OPCServer &opc = s.opc();
    EXPECT_EQ(opc.ProgID, QStringLiteral("QUARLEN.KV7.1"));
    EXPECT_EQ(opc.ServerName, QStringLiteral("OPC-KV7"));
    EXPECT_EQ(opc.ServerDescription, QStringLiteral("OPC Server for Gas Panels"));
    EXPECT_TRUE(opc.RegistrationGuid1.startsWith(QLatin1Char('{')) && opc.RegistrationGuid1 != opc.RegistrationGuid2);
    EXPECT_EQ(opc.MinUpdatePeriod, 50);
    EXPECT_EQ(opc.StatisticsPeriod, 1000);
    EXPECT_EQ(opc.ServerState(), ServerStates::Running);
    EXPECT_TRUE(opc.serving());
    EXPECT_TRUE(s.logic().tmrMain().isActive());
    EXPECT_EQ(s.logic().tmrMain().interval(), 1000);
    EXPECT_TRUE(s.logic().FirstTick);
    EXPECT_EQ(s.window->windowTitle(), QStringLiteral("OPC-KV7"));

    // The connection's engine made its items before serving started.
    ASSERT_EQ(opc.Tags().Count(), 478);
    for (const OPCItem *item : opc.Tags())
        ASSERT_EQ(item->Quality(), Quality::Good) << qPrintable(item->ItemID());

    // The session is closed before the connections load; serving comes last.
    const int closed = s.traceIndex(QStringLiteral("(Session closed)"));
    const int done = s.traceIndex(QStringLiteral("(Server initialization completed.)"));
    const int running = s.traceIndex(QStringLiteral("(Server Status: Running)"));
    ASSERT_GE(closed, 0);
    EXPECT_LT(closed, done);
    EXPECT_LT(done, running);
    EXPECT_EQ(SessionSeconds, 0);
    EXPECT_FALSE(s.window->controlEnabled(QStringLiteral("mnuEdit")));
    EXPECT_TRUE(s.window->detailField(QStringLiteral("txtTagValue"))->isReadOnly());

    // A server started by hand shows its window at the first tick.
    EXPECT_FALSE(s.window->isVisible());
    s.logic().tmrMain_Timer();
    EXPECT_TRUE(s.window->isVisible());
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(StartupTest, ServerStatusSetsEveryItemsQuality)
{
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    auto allQualities = [&](std::int16_t q) {
        for (const OPCItem *item : s.opc().Tags())
            if (item->Quality() != q)
                return false;
        return true;
    };
    s.logic().mnuEditStatusCurrent_Click(ServerStates::Suspended);
    EXPECT_TRUE(allQualities(0x1C));
    EXPECT_TRUE(s.traceHas(QStringLiteral("(Server Status: Suspended)")));
    EXPECT_TRUE(s.window->action(QStringLiteral("mnuEditStatusCurrent(4)"))->isChecked());
    EXPECT_FALSE(s.window->action(QStringLiteral("mnuEditStatusCurrent(1)"))->isChecked());
    s.logic().mnuEditStatusCurrent_Click(ServerStates::Failed);
    EXPECT_TRUE(allQualities(0x0C));
    s.logic().mnuEditStatusCurrent_Click(ServerStates::Test);
    EXPECT_TRUE(allQualities(0xC0));
    s.logic().mnuEditStatusCurrent_Click(9);
    EXPECT_TRUE(s.traceHas(QStringLiteral("(Server Status: UNKNOWN!)")));
    EXPECT_TRUE(allQualities(0xC0));
    // Values stay: only the quality changes.
    EXPECT_EQ(s.value(QStringLiteral("C01.Error_Comm")), Variant(std::uint8_t(1)));
}

TEST_F(StartupTest, PlacementDefaultsWithoutIniAndIsSavedAtClose)
{
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    const QRectF p = s.window->placementTwips();
    // 1000 twips is 66.7 pixels at 96 DPI: within one pixel (15 twips) either way.
    EXPECT_NEAR(p.left(), 1000, 15);
    EXPECT_NEAR(p.top(), 1000, 15);
    EXPECT_NEAR(p.width(), 9000, 15);
    EXPECT_NEAR(p.height(), 6500, 15);
    EXPECT_EQ(s.window->windowStateCode(), 0);
    EXPECT_EQ(s.window->selectedTab(), 0);

    s.logic().Sesion_Iniciar(true);
    s.window->setPlacementTwips(QRectF(1500, 750, 9600, 7200));
    s.window->setSelectedTab(2);
    s.logic().mnuTraceLevel_Click(3);
    EXPECT_TRUE(s.window->action(QStringLiteral("mnuTraceItem"))->isChecked());
    EXPECT_FALSE(s.window->action(QStringLiteral("mnuTraceNone"))->isChecked());
    ASSERT_TRUE(s.logic().requestClose(MainOPC::UnloadMode::Code));
    EXPECT_EQ(s.opc().ServerState(), ServerStates::Failed);
    EXPECT_FALSE(s.logic().tmrMain().isActive());
    EXPECT_EQ(ini(QStringLiteral("MainLeft")), QStringLiteral("1500"));
    EXPECT_EQ(ini(QStringLiteral("MainTop")), QStringLiteral("750"));
    EXPECT_EQ(ini(QStringLiteral("MainWidth")), QStringLiteral("9600"));
    EXPECT_EQ(ini(QStringLiteral("MainHeight")), QStringLiteral("7200"));
    EXPECT_EQ(ini(QStringLiteral("WindowState")), QStringLiteral("0"));
    EXPECT_EQ(ini(QStringLiteral("TabSelected")), QStringLiteral("2"));
    EXPECT_EQ(ini(QStringLiteral("TraceLevel")), QStringLiteral("3"));

    // The next start restores all of it, the trace level included.
    Server again;
    ASSERT_EQ(again.load(), MainOPC::LoadResult::Running);
    EXPECT_EQ(again.window->placementTwips(), QRectF(1500, 750, 9600, 7200));
    EXPECT_EQ(again.window->selectedTab(), 2);
    EXPECT_EQ(again.opc().TraceLevel(), 3);
    EXPECT_TRUE(again.window->action(QStringLiteral("mnuTraceItem"))->isChecked());
}

TEST_F(StartupTest, PlacementRoundTripsAcrossShowingTheWindow)
{
    folder.write(
        QStringLiteral("OPC-KV7.ini"),
        crlf(QStringLiteral("[Configuracion]\nMainLeft=1200\nMainTop=900\nMainWidth=11400\nMainHeight=7800\n")));
    for (int run = 0; run < 2; ++run) {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        s.logic().tmrMain_Timer(); // shown, with whatever frame the platform adds
        ASSERT_TRUE(s.window->isVisible());
        s.logic().mnuFileForceExit_Click();
        EXPECT_EQ(ini(QStringLiteral("MainLeft")), QStringLiteral("1200")) << run;
        EXPECT_EQ(ini(QStringLiteral("MainTop")), QStringLiteral("900")) << run;
        EXPECT_EQ(ini(QStringLiteral("MainWidth")), QStringLiteral("11400")) << run;
        EXPECT_EQ(ini(QStringLiteral("MainHeight")), QStringLiteral("7800")) << run;
    }
}

TEST_F(StartupTest, SelectedTabIsLimitedAndWindowStateRestored)
{
    folder.write(QStringLiteral("OPC-KV7.ini"),
                 crlf(QStringLiteral("[Configuracion]\nTabSelected=7\nWindowState=1\n")));
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        EXPECT_EQ(s.window->selectedTab(), s.window->tabCount() - 1);
        EXPECT_EQ(s.window->windowStateCode(), 1);
        s.logic().Sesion_Iniciar(true);
        ASSERT_TRUE(s.logic().requestClose(MainOPC::UnloadMode::Code));
        // Closed minimized: the state is kept, the placement keys are not written.
        EXPECT_EQ(ini(QStringLiteral("WindowState")), QStringLiteral("1"));
        EXPECT_EQ(ini(QStringLiteral("MainLeft")), QStringLiteral("<none>"));
    }
    Ini::IniPutString(QStringLiteral("Configuracion"), QStringLiteral("TabSelected"), QStringLiteral("-2"));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    EXPECT_EQ(s.window->selectedTab(), 0);
}

TEST_F(StartupTest, DamagedPlacementValueIsReportedAndRepairedNotFatal)
{
    folder.write(QStringLiteral("OPC-KV7.ini"),
                 crlf(QStringLiteral("[Configuracion]\nMainLeft=\nMainTop=abc\nMainWidth=9600\n")));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    const QString trace = s.window->tracePane()->toPlainText();
    EXPECT_TRUE(trace.contains(QStringLiteral("Configuracion/MainLeft"))) << qPrintable(trace);
    EXPECT_TRUE(trace.contains(QStringLiteral("Configuracion/MainTop")));
    EXPECT_NEAR(s.window->placementTwips().left(), 1000, 15);
    EXPECT_EQ(s.window->placementTwips().width(), 9600);
    s.logic().mnuFileForceExit_Click();
    EXPECT_TRUE(s.logic().isUnloaded());
    bool ok = false;
    ini(QStringLiteral("MainLeft")).toInt(&ok);
    EXPECT_TRUE(ok) << qPrintable(ini(QStringLiteral("MainLeft")));
    ini(QStringLiteral("MainTop")).toInt(&ok);
    EXPECT_TRUE(ok);
}

TEST_F(StartupTest, CloseBoxWithoutSessionRestoresInsteadOfClosing)
{
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    s.window->setWindowStateCode(1);
    s.window->show();
    EXPECT_FALSE(s.logic().requestClose(MainOPC::UnloadMode::CloseBox));
    EXPECT_EQ(s.window->windowStateCode(), 0);
    EXPECT_TRUE(s.window->isVisible());
    EXPECT_EQ(s.opc().ServerState(), ServerStates::Running);
    EXPECT_TRUE(s.logic().tmrMain().isActive());
    EXPECT_TRUE(dialogs.requests().empty());

    // With a session the close box closes.
    s.logic().Sesion_Iniciar(true);
    EXPECT_TRUE(s.logic().requestClose(MainOPC::UnloadMode::CloseBox));
    EXPECT_TRUE(s.logic().isUnloaded());
    EXPECT_FALSE(s.window->isVisible());
}

TEST_F(StartupTest, ClientLaunchedServerRefusesCloseButNotForceOrSystemShutdown)
{
    {
        Server s;
        ASSERT_EQ(s.load({QStringLiteral("opc-kv7"), QStringLiteral("-Embedding")}), MainOPC::LoadResult::Running);
        EXPECT_TRUE(s.logic().LaunchedByClient);
        s.logic().Sesion_Iniciar(true);
        s.logic().mnuFileExit_Click();
        EXPECT_FALSE(s.logic().isUnloaded());
        ASSERT_EQ(dialogs.requests().size(), 1u);
        const Dialogs::Request &r = dialogs.requests()[0];
        EXPECT_EQ(r.kind, Dialogs::Kind::Message);
        EXPECT_EQ(r.title, QStringLiteral("OPC-KV7"));
        EXPECT_TRUE(r.text.startsWith(QStringLiteral("El servidor lo ha iniciado un cliente OPC")));
        EXPECT_EQ(r.buttons, QStringList{QStringLiteral("&Aceptar")});
        EXPECT_EQ(s.opc().ServerState(), ServerStates::Running);

        EXPECT_TRUE(s.logic().requestClose(MainOPC::UnloadMode::SystemSession));
        EXPECT_EQ(s.opc().ServerState(), ServerStates::Failed);
    }
    Server s;
    ASSERT_EQ(s.load({QStringLiteral("opc-kv7"), QStringLiteral("/embedding")}), MainOPC::LoadResult::Running);
    s.logic().mnuFileForceExit_Click();
    EXPECT_TRUE(s.logic().isUnloaded());
    EXPECT_TRUE(ExitForced);
}

TEST_F(StartupTest, ClientLaunchedServerClosesAfterItsLastClientAndRefusesNewOnes)
{
    Ini::IniPutString(QStringLiteral("Configuracion"), QStringLiteral("Visible"), QStringLiteral("0"));
    Server s;
    ASSERT_EQ(s.load({QStringLiteral("opc-kv7"), QStringLiteral("-Embedding")}), MainOPC::LoadResult::Running);
    bool unloadedSignal = false;
    QObject::connect(&s.logic(), &MainOPC::unloaded, [&] { unloadedSignal = true; });

    s.logic().tmrMain_Timer(); // first tick: "Visible" 0 keeps a client's server hidden
    EXPECT_FALSE(s.window->isVisible());

    ASSERT_TRUE(s.opc().clientConnecting());
    ASSERT_TRUE(s.opc().clientConnecting());
    EXPECT_EQ(s.logic().ClientCount, 2);
    s.opc().clientDisconnected();
    EXPECT_FALSE(s.logic().ShutdownPending);
    s.opc().clientDisconnected();
    EXPECT_TRUE(s.logic().ShutdownPending);
    EXPECT_EQ(s.logic().tmrMain().interval(), 2000);
    EXPECT_FALSE(s.opc().clientConnecting()); // too late: the close is pending
    EXPECT_FALSE(s.logic().isUnloaded());

    // The main timer itself closes the server.
    EXPECT_TRUE(waitFor([&] { return s.logic().isUnloaded(); }, 15000));
    EXPECT_TRUE(unloadedSignal);
    EXPECT_EQ(s.opc().ServerState(), ServerStates::Failed);
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(StartupTest, ToolkitTraceLinesAndRequestDisconnectReachTheTracePane)
{
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    s.logic().Sesion_Iniciar(true);
    s.window->action(QStringLiteral("mnuTraceConnect"))->trigger();
    EXPECT_EQ(s.opc().TraceLevel(), 1);
    ASSERT_TRUE(s.opc().clientConnecting());
    EXPECT_TRUE(s.traceHas(QStringLiteral("Client connected; clients: 1")));
    s.logic().mnuFileClientDisc_Click(); // asks clients to go; the server stays
    EXPECT_EQ(s.opc().ServerState(), ServerStates::Running);
    EXPECT_FALSE(s.window->tracePane()->toPlainText().contains(QStringLiteral("Request Disconnect Error")));
    s.window->action(QStringLiteral("mnuTraceClear"))->trigger();
    EXPECT_TRUE(s.window->tracePane()->toPlainText().isEmpty());
}

TEST_F(StartupTest, HandStartedServerKeepsRunningWithoutClients)
{
    Ini::IniPutString(QStringLiteral("Configuracion"), QStringLiteral("Visible"), QStringLiteral("0"));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    s.logic().tmrMain_Timer();
    EXPECT_TRUE(s.window->isVisible()); // "Visible" only concerns a client's server
    ASSERT_TRUE(s.opc().clientConnecting());
    s.opc().clientDisconnected();
    EXPECT_FALSE(s.logic().ShutdownPending);
    s.logic().tmrMain_Timer();
    EXPECT_FALSE(s.logic().isUnloaded());
}

TEST_F(StartupTest, RegistrationRunsRegisterAndEndWithoutTouchingSettings)
{
    folder.write(QStringLiteral("OPC-KV7.ini"), crlf(QStringLiteral("[Configuracion]\nMainLeft=3000\n")));
    QString file;
    {
        Server s;
        EXPECT_EQ(s.load({QStringLiteral("opc-kv7"), QStringLiteral("now"), QStringLiteral("RegServer"),
                          QStringLiteral("please")}),
                  MainOPC::LoadResult::Registered);
        file = s.opc().registrationFile();
        EXPECT_TRUE(QFileInfo::exists(file));
        EXPECT_TRUE(s.logic().isUnloaded());
        EXPECT_EQ(s.opc().Tags().Count(), 0); // nothing else loaded
        EXPECT_FALSE(s.window->isVisible());
    }
    // The saved placement of the operator survives a registration run.
    EXPECT_EQ(ini(QStringLiteral("MainLeft")), QStringLiteral("3000"));
    EXPECT_EQ(ini(QStringLiteral("TabSelected")), QStringLiteral("<none>"));
    {
        Server s;
        EXPECT_EQ(s.load({QStringLiteral("opc-kv7"), QStringLiteral("/UNREGSERVER")}), MainOPC::LoadResult::Registered);
        EXPECT_FALSE(QFileInfo::exists(file));
    }
}

TEST_F(StartupTest, FailedRegistrationIsAStartupError)
{
    // A folder where the registration file should go: the write fails.
    QDir().mkpath(folder.path() + QStringLiteral("/.config/opc/servers/QUARLEN.KV7.1.ini"));
    Server s;
    EXPECT_EQ(s.load({QStringLiteral("opc-kv7"), QStringLiteral("-regserver")}), MainOPC::LoadResult::Failed);
    EXPECT_FALSE(s.logic().startupError().isEmpty());
    EXPECT_TRUE(s.window->tracePane()->toPlainText().contains(QStringLiteral("(Startup Error: ")));
    EXPECT_TRUE(s.logic().isUnloaded());
}

TEST_F(StartupTest, SecondServerOnTheSameFolderEndsSilently)
{
    Server first;
    ASSERT_EQ(first.load(), MainOPC::LoadResult::Running);
    Server second;
    EXPECT_EQ(second.load({QStringLiteral("opc-kv7"), QStringLiteral("-regserver")}),
              MainOPC::LoadResult::SecondInstance);
    EXPECT_FALSE(QFileInfo::exists(second.opc().registrationFile()));
    EXPECT_EQ(second.opc().Tags().Count(), 0);
    EXPECT_TRUE(dialogs.requests().empty());
    // The first one's close frees the folder.
    first.logic().mnuFileForceExit_Click();
    Server third;
    EXPECT_EQ(third.load(), MainOPC::LoadResult::Running);
}

TEST_F(StartupTest, SessionUnlocksMenusAndExpires)
{
    Ini::IniPutString(QStringLiteral("Configuracion"), QStringLiteral("TiempoSesion"), QStringLiteral("3"));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    s.logic().Sesion_Iniciar(true);
    EXPECT_TRUE(s.window->controlEnabled(QStringLiteral("mnuEdit")));
    EXPECT_TRUE(s.window->controlEnabled(QStringLiteral("mnuFileExit")));
    EXPECT_FALSE(s.window->detailField(QStringLiteral("txtTagValue"))->isReadOnly());
    s.logic().tmrMain_Timer();
    EXPECT_EQ(s.window->sessionPanel(), QStringLiteral("1"));
    s.logic().tmrMain_Timer();
    EXPECT_EQ(s.window->sessionPanel(), QStringLiteral("0"));
    s.logic().tmrMain_Timer();
    EXPECT_EQ(SessionSeconds, 0);
    EXPECT_EQ(s.window->sessionPanel(), QString());
    EXPECT_FALSE(s.window->controlEnabled(QStringLiteral("mnuEdit")));
    EXPECT_TRUE(s.window->detailField(QStringLiteral("txtTagValue"))->isReadOnly());
}

TEST_F(StartupTest, AutoSessionAndDebugWordOpenUntimedSessions)
{
    folder.write(QStringLiteral("KV7.ini"), crlf(QStringLiteral("[KV7]\nAutoSesion=1\n")));
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        EXPECT_TRUE(s.logic().AutoSession);
        EXPECT_TRUE(s.window->controlEnabled(QStringLiteral("mnuEdit")));
        EXPECT_FALSE(s.window->controlEnabled(QStringLiteral("mnuAInicioSesion")));
        EXPECT_FALSE(s.window->controlEnabled(QStringLiteral("mnuACerrarSesion")));
        EXPECT_TRUE(s.traceHas(QStringLiteral("(Auto Session opened)")));
        for (int i = 0; i < 3; ++i)
            s.logic().tmrMain_Timer();
        EXPECT_EQ(SessionSeconds, 1);
        s.logic().mnuFileForceExit_Click();
    }
    folder.write(QStringLiteral("KV7.ini"), QByteArray());
    Server s;
    ASSERT_EQ(s.load({QStringLiteral("opc-kv7"), QStringLiteral("vortelmax")}), MainOPC::LoadResult::Running);
    EXPECT_TRUE(DebugMode);
    EXPECT_TRUE(s.traceHas(QStringLiteral("(Session opened)")));
    EXPECT_TRUE(s.window->controlEnabled(QStringLiteral("mnuEdit")));
    s.logic().mnuFileForceExit_Click();
    DebugMode = false;
}

} // namespace

#include "shell/MainOPC.h"
#include "common/AppInfo.h"
#include "common/Error.h"
#include "common/Val.h"
#include "config/Ini.h"
#include "dialogs/AboutBox.h"
#include "dialogs/Dialogs.h"
#include "dialogs/MsgBox.h"
#include "lang/LangText.h"
#include "lang/Language.h"
#include "log/Log.h"
#include "opc/CodeText.h"
#include "opc/NamespaceView.h"
#include "protocol/cTarvolin.h"
#include "shell/CommandLine.h"
#include "shell/MainView.h"
#include "shell/PanelConnections.h"
#include "shell/Placement.h"
#include "ua/UaSecuritySetup.h"
#include "ua/UaServer.h"

#include <QFile>
#include <QHostInfo>

#include <cstdio>

bool DebugMode = false;

namespace {

const QString Configuracion = QStringLiteral("Configuracion");

// The server's two fixed registration GUIDs.
const QString Guid1 = QStringLiteral("{6B1D7C52-3F0E-4A8B-9C21-5E7A4D0B8F13}");
const QString Guid2 = QStringLiteral("{A4E29F06-81C3-4D57-B6E8-2F0C9A7D3E41}");

// A warning the operator of a headless server must see in the journal as well.
void warn(const QString &line)
{
    Log::LogDebugMessage(line);
    if (Log::traceOnStandardError())
        return;
    std::fprintf(stderr, "%s: %s\n", qPrintable(AppInfo::Title), qPrintable(line));
    std::fflush(stderr);
}

// Controls whose captions follow the language, in the order they are set.
struct LanguageControl {
    const char *control;
    const char *key;
};
constexpr LanguageControl LanguageControls[] = {
    {"mnuFile", "mnuArchivo"},
    {"mnuAInicioSesion", "mnuAInicioSesion"},
    {"mnuACerrarSesion", "mnuACerrarSesion"},
    {"mnuFileForceExit", "mnuFileForceExit"},
    {"mnuFileExit", "mnuASalir"},
    {"mnuEdit", "mnuEdit"},
    {"mnuEditConfiguracion", "mnuEditConfiguracion"},
    {"mnuCPassword", "mnuCPassword"},
    {"mnuCIdioma", "mnuCIdioma"},
    {"mnuCISel(0)", "mnuIdioma_0"},
    {"mnuCISel(1)", "mnuIdioma_1"},
    {"mnuVer", "mnuVer"},
    {"mnuVBus", "mnuVBus"},
    {"mnuHelpAbout", "mnuHelpAbout"},
    {"lblTagDesc", "lblTagDesc"},
    {"lblTagFQID", "lblTagFQID"},
    {"lblTagCanDT", "lblTagCanDT"},
    {"lblTagAccPerm", "lblTagAccPerm"},
    {"lblTagValue", "lblTagValue"},
    {"lblTagQuality", "lblTagQuality"},
    {"lblTagTimestamp", "lblTagTimestamp"},
    {"txtTagValue", "txtTagValueTT"},
};

std::int16_t qualityForStatus(int n)
{
    switch (n) {
    case ServerStates::Failed: return Quality::BadDeviceFailure;
    case ServerStates::NoConfiguration: return Quality::BadConfigurationError;
    case ServerStates::Suspended: return Quality::BadOutOfService;
    default: return Quality::Good;
    }
}

} // namespace

MainOPC::MainOPC(MainView &view, QObject *parent) : QObject(parent), view_(view)
{
    values_ = std::make_unique<ItemValues>(server_);
    detail_.onShow = [this](const ItemDetail &detail) { view_.showDetail(detail); };
    connections_ = std::make_unique<PanelConnections>(server_, items_, *values_);
    connections_->onPortError = [](const QString &line) {
        if (Log::traceOnStandardError())
            return;
        std::fprintf(stderr, "%s: %s\n", qPrintable(AppInfo::Title), qPrintable(line));
        std::fflush(stderr);
    };
    monitor_ = std::make_unique<FrameMonitor>();
    statisticsSource_ = std::make_unique<ServerStatistics>(*connections_);
    statistics_ = std::make_unique<StatisticsModel>(*statisticsSource_);
    connections_->onFrame = [this](int connection, QByteArrayView line) {
        statisticsSource_->frameReceived(connection);
        monitor_->frameReceived(line);
    };

    tmrMain_.setInterval(1000);
    connect(&tmrMain_, &QTimer::timeout, this, &MainOPC::tmrMain_Timer);

    // Notices raised deep in a handler are shown once that handler is done, so no
    // dialog ever runs the event loop in the middle of other work.
    previousNoticeListener_ = Log::setNoticeListener([this](const Log::Notice &notice) {
        QTimer::singleShot(0, this, [notice] { Dialogs::show(Dialogs::forNotice(notice)); });
    });

    server_.OnClientConnect = [this](std::int32_t count, bool &accept) { OnClientConnect(count, accept); };
    server_.OnClientDisconnect = [this](std::int32_t count) { OnClientDisconnect(count); };
}

MainOPC::~MainOPC()
{
    Log::setNoticeListener(std::move(previousNoticeListener_));
    statistics_.reset(); // it reads the connections and the OPC UA server
    server_.StopServer();
    server_.setFrontEnd(nullptr);
    uaServer_.reset();
    server_.OnClientConnect = nullptr;
    server_.OnClientDisconnect = nullptr;
    connections_.reset();
    values_.reset();
}

MainOPC::LoadResult MainOPC::Form_Load(const QStringList &arguments)
{
    // One server per application folder: a second start ends silently.
    applicationFolder_ = AppInfo::applicationFolder();
    const QString lockPath = applicationFolder_ + QLatin1Char('/') + AppInfo::Title + QStringLiteral(".lock");
    instanceLock_ = std::make_unique<QLockFile>(lockPath);
    instanceLock_->setStaleLockTime(0);
    const bool locked = instanceLock_->tryLock(0);
    // QLockFile leaves the mode to the umask; nobody else may write the lock.
    if (locked)
        QFile::setPermissions(lockPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (!locked) {
        const bool held = instanceLock_->error() == QLockFile::LockFailedError;
        instanceLock_.reset();
        unloaded_ = true;
        if (held)
            return LoadResult::SecondInstance;
        startupError_ = QStringLiteral("Cannot use the application folder %1").arg(applicationFolder_);
        Log::ReportEvent(startupError_, QStringLiteral("Startup Error"));
        return LoadResult::Failed;
    }

    const CommandLine commandLine = CommandLine::parse(CommandLine::join(arguments));
    try {
        giveIdentity();
        createFrontEnd();
        server_.setLaunchedByClient(commandLine.launchedByClient);
        if (commandLine.unregisterServer || commandLine.registerServer) {
            if (commandLine.unregisterServer)
                server_.UnregisterServer();
            else
                server_.RegisterServer();
            CloseForced = true;
            requestClose(UnloadMode::Code);
            return LoadResult::Registered;
        }
        DebugMode = commandLine.debugMode;
        startUp();
        return LoadResult::Running;
    } catch (const std::exception &e) {
        const RuntimeError *runtime = dynamic_cast<const RuntimeError *>(&e);
        startupError_ = runtime ? runtime->description() : QString::fromUtf8(e.what());
        Log::ReportEvent(startupError_, QStringLiteral("Startup Error"));
        CloseForced = true;
        requestClose(UnloadMode::Code);
        return LoadResult::Failed;
    }
}

void MainOPC::giveIdentity()
{
    server_.ServerName = AppInfo::Title;
    server_.VendorName = AppInfo::companyName();
    server_.ServerDescription = AppInfo::fileDescription();
    server_.ProgID = AppInfo::ProgID;
    server_.RegistrationGuid1 = Guid1;
    server_.RegistrationGuid2 = Guid2;
    server_.MinUpdatePeriod = 50;
    server_.PathDelimiter = QStringLiteral(".");
    server_.StatisticsPeriod = 1000;
    server_.setServerState(ServerStates::NoConfiguration);
}

void MainOPC::createFrontEnd()
{
    const QString host = Ini::IniGetString(AppInfo::Title, QStringLiteral("UaHost"), QString()).trimmed();
    std::int32_t port = Ini::IniGetInt(AppInfo::Title, QStringLiteral("UaPort"), 4840);
    if (port < 0 || port > 65535) {
        warn(QStringLiteral("%1/UaPort: %2 is no TCP port; using 4840").arg(AppInfo::Title).arg(port));
        port = 4840;
    }
    uaServer_ = std::make_unique<UaServer>(server_, host, quint16(port), [this](const OPCItem &item) {
        return items_.contains(item.UserIndex()) ? items_[item.UserIndex()].Description : QString();
    });
    configureUaSecurity(host);
    server_.setFrontEnd(uaServer_.get());
    statisticsSource_->setUaServer(uaServer_.get());
}

void MainOPC::configureUaSecurity(const QString &host)
{
    Ua::SecuritySettings settings;
    auto key = [](const char *name, const QString &byDefault) {
        return Ini::IniGetString(AppInfo::Title, QLatin1String(name), byDefault);
    };
    settings.policies = key("UaSecurityPolicies", settings.policies);
    settings.anonymous = key("UaAnonymous", settings.anonymous);
    settings.autoTrust = key("UaAutoTrust", settings.autoTrust);
    settings.applicationFolder = AppInfo::applicationFolder();
    settings.identity.applicationUri = uaServer_->applicationUri();
    settings.identity.applicationName = AppInfo::Title;
    settings.identity.organization = AppInfo::companyName();
    settings.identity.hostNames = {QHostInfo::localHostName()};
    if (!host.isEmpty() && host != QLatin1String("0.0.0.0") && host != QLatin1String("::") &&
        !settings.identity.hostNames.contains(host))
        settings.identity.hostNames << host;
    for (const QString &problem : Ua::configureSecurity(uaServer_->config(), settings))
        warn(AppInfo::Title + QLatin1Char('/') + problem);
}

void MainOPC::startUp()
{
    view_.setCaption(AppInfo::Title);
    readPlacement();

    loadLanguage();
    buildLanguageMenu();

    passwords_.ReadPasswordFile();
    session_.CloseSession();
    LoadGeneralSettings(settings_);
    // A debug start shows frames from the first one on.
    if (DebugMode)
        monitor_->setBusMonitorOn(true);
    connections_->Carga_General();
    ApplyLanguage();

    session_.SessionTimeout = settings_.SessionTimeout;
    session_.DebugMode = DebugMode;
    session_.openAtStartUp(Ini::ProtocolIniGetInt(AppInfo::Protocol.name, QStringLiteral("AutoSesion"), 0) != 0);

    InitializeServer();
    statistics_->setPeriod(server_.StatisticsPeriod);
    statistics_->start();

    LaunchedByClient = server_.LaunchedByClient();
    FirstTick = true;
}

void MainOPC::readPlacement()
{
    placementRead_ = true;
    // A damaged value must not keep the server from serving: it falls back to its
    // design value, is reported, and is written back sound at shutdown.
    auto number = [](const char *key, double designed) {
        const QString text = Ini::IniGetString(Configuracion, QLatin1String(key), QString::number(designed));
        try {
            return Placement::strictNumber(text);
        } catch (const RuntimeError &e) {
            warn(QStringLiteral("%1/%2: %3; using %4")
                     .arg(Configuracion, QLatin1String(key), e.description())
                     .arg(designed));
            return designed;
        }
    };
    const double left = number("MainLeft", Placement::DefaultLeft);
    const double top = number("MainTop", Placement::DefaultTop);
    const double width = number("MainWidth", Placement::DefaultWidth);
    const double height = number("MainHeight", Placement::DefaultHeight);
    view_.setPlacementTwips(QRectF(left, top, width, height));

    const int tab = Ini::IniGetInt(Configuracion, QStringLiteral("TabSelected"), 0);
    const double state = number("WindowState", 0);
    view_.setWindowStateCode(state == 1 || state == 2 ? int(state) : 0);
    view_.setSelectedTab(Placement::clampTab(tab, view_.tabCount()));
}

void MainOPC::savePlacement()
{
    // One replacement of the file: a server killed while saving (a service past
    // its stop time-out) keeps either the old keys or the new ones, never a mix.
    std::vector<Profile::Entry> keys;
    auto put = [&keys](const char *key, qint64 value) {
        keys.push_back({Configuracion, QLatin1String(key), QString::number(value)});
    };
    if (view_.windowStateCode() != 1) {
        const QRectF p = view_.placementTwips();
        put("MainLeft", qRound64(p.left()));
        put("MainTop", qRound64(p.top()));
        put("MainWidth", qRound64(p.width()));
        put("MainHeight", qRound64(p.height()));
    }
    put("WindowState", view_.windowStateCode());
    put("TabSelected", view_.selectedTab());
    put("TraceLevel", server_.TraceLevel());
    Ini::IniPutStrings(keys);
}

void MainOPC::buildLanguageMenu()
{
    const QStringList &names = Language::Languages();
    view_.setLanguageMenu(names);
    languageEntries_ = int(names.size());
    // A "Language" beyond the file's languages reads the first one; the menu
    // says so instead of failing the start-up.
    const int index = Language::LanguageIndex();
    view_.setLanguageChecked(index >= 0 && index < names.size() ? index : 0, true);
}

Language::LoadResult MainOPC::loadLanguage()
{
    const std::int32_t stored = Ini::IniGetInt(Configuracion, QStringLiteral("Language"), 0);
    return Language::LoadLanguageFile(std::int16_t(std::clamp<std::int32_t>(stored, -32768, 32767)));
}

void MainOPC::ApplyLanguage()
{
    if (loadLanguage() == Language::LoadResult::Fatal || Language::Languages().isEmpty())
        return; // the designed captions stay
    if (languageEntries_ != Language::Languages().size())
        buildLanguageMenu(); // the file was repaired since the menu was made
    for (const LanguageControl &c : LanguageControls) {
        if (QLatin1String(c.control) == QLatin1String("mnuCISel(1)") && Language::Languages().size() < 2)
            continue; // a one-language file has no second entry
        view_.setControlText(QLatin1String(c.control), GetLangText(QLatin1String(c.key)));
    }
    statistics_->applyLanguage();
}

void MainOPC::setStatisticsPeriod(std::int32_t ms)
{
    server_.StatisticsPeriod = ms;
    statistics_->setPeriod(ms);
}

void MainOPC::setMinUpdatePeriod(std::int32_t ms) { server_.MinUpdatePeriod = ms; }

void MainOPC::mnuCISel_Click(int index)
{
    view_.setLanguageChecked(Language::LanguageIndex(), false);
    view_.setLanguageChecked(index, true);
    Ini::IniPutString(Configuracion, QStringLiteral("Language"), QString::number(index));
    ApplyLanguage();
}

void MainOPC::InitializeServer()
{
    // The level saved at shutdown lives in "Configuracion"; a level set by hand in
    // the title's section wins, so both places work.
    std::int32_t level = Ini::IniGetInt(Configuracion, QStringLiteral("TraceLevel"), 0);
    level = Ini::IniGetInt(AppInfo::Title, QStringLiteral("TraceLevel"), level);
    view_.showNamespace(server_.Tags());
    server_.SetTraceLevel(level, 3);
    view_.showTraceLevel(level);
    server_.StartServer();
    tmrMain_.start();
    Log::LogDebugMessage(QStringLiteral("Server initialization completed."));
    mnuEditStatusCurrent_Click(ServerStates::Running);
}

void MainOPC::mnuEditStatusCurrent_Click(int n)
{
    try {
        server_.setServerState(n);
        view_.setStatusChecked(n);
        Log::LogDebugMessage(QStringLiteral("Server Status: ") + ServerStatusText(server_.ServerState()));
        const std::int16_t quality = qualityForStatus(n);
        for (OPCItem *item : server_.Tags())
            item->SetVQT(std::nullopt, quality);
    } catch (const RuntimeError &e) {
        Log::ReportEvent(e.description(), QStringLiteral("Set Server Status Error"));
    }
}

void MainOPC::tmrMain_Timer()
{
    if (unloading_ || unloaded_)
        return;
    if (FirstTick) {
        FirstTick = false;
        LaunchedByClient = server_.LaunchedByClient();
        const bool visible = !LaunchedByClient || Ini::IniGetInt(Configuracion, QStringLiteral("Visible"), 1) != 0;
        view_.setWindowVisible(visible);
    }
    if (ShutdownPending) {
        mnuFileForceExit_Click();
        return;
    }
    session_.tick();
}

bool MainOPC::Form_QueryUnload(UnloadMode mode)
{
    try {
        if (mode == UnloadMode::CloseBox && !session_.isOpen()) {
            view_.restoreAndShow();
            return false;
        }
        if (server_.LaunchedByClient() && !CloseForced && mode != UnloadMode::SystemSession) {
            ShowMessage(LangTextOr(QStringLiteral("NoPosClose"),
                                   QStringLiteral("The server serves OPC clients and cannot be closed now.")),
                        AppInfo::Title, fMsgBox::Question, 2, 1,
                        LangTextOr(QStringLiteral("&Aceptar"), QStringLiteral("&Aceptar")),
                        LangTextOr(QStringLiteral("&Cancelar"), QStringLiteral("&Cancelar")));
            return false;
        }
    } catch (const std::exception &) {
    }
    tmrMain_.stop();
    server_.setServerState(ServerStates::Failed);
    return true;
}

void MainOPC::Form_Unload()
{
    statistics_->stop();
    if (monitor_->BusMonitorOn()) {
        view_.closeMonitorWindow();
        monitor_->unload(); // the frame log's STOP REGISTER line, once
    }
    try {
        connections_->Ports_Desconectar();
        connections_->Conexiones_Liberar();
    } catch (const std::exception &) {
    }
    if (placementRead_) {
        try {
            savePlacement();
        } catch (const std::exception &) {
        }
    }
    server_.StopServer();
    if (instanceLock_)
        instanceLock_->unlock();
}

bool MainOPC::requestClose(UnloadMode mode)
{
    if (unloading_ || unloaded_)
        return true;
    if (!Form_QueryUnload(mode))
        return false;
    unloading_ = true;
    Form_Unload();
    unloaded_ = true;
    view_.destroyWindow();
    emit unloaded();
    return true;
}

void MainOPC::mnuFileForceExit_Click()
{
    CloseForced = true;
    try {
        requestClose(UnloadMode::Code);
    } catch (const std::exception &) {
    }
}

void MainOPC::mnuFileClientDisc_Click()
{
    try {
        server_.RequestDisconnect(QStringLiteral("Server shutdown in 1 minute..."));
    } catch (const RuntimeError &e) {
        Log::ReportEvent(e.description(), QStringLiteral("Request Disconnect Error"));
    }
}

void MainOPC::mnuTraceLevel_Click(int level)
{
    try {
        std::int32_t l = level;
        server_.SetTraceLevel(l);
        view_.showTraceLevel(level);
    } catch (const RuntimeError &e) {
        Log::ReportEvent(e.description(), QStringLiteral("Trace Level Update Error"));
    }
}

void MainOPC::mnuTraceCOM_Click(bool checked) { server_.ComTrace = checked; }

void MainOPC::mnuHelpAbout_Click()
{
    frmAbout about;
    about.showModal();
}

void MainOPC::tvNamespace_NodeClick(const QString &fullPath, const QString &tag) { detail_.showNode(fullPath, tag); }

void MainOPC::txtTagValue_Enter(const QString &selectedTag, const QString &text)
{
    if (!session_.isOpen())
        return; // the value box is locked without a session
    if (!TestWrite(selectedTag, text, server_, *values_))
        return;
    OPCItem *item = server_.Tags().find(selectedTag);
    if (item && (item->AccessRights() & AccessRights::Write))
        if (cTarvolin *engine = connections_->firstEngine())
            engine->Pasa_Dato(item);
}

void MainOPC::OnClientConnect(std::int32_t count, bool &accept)
{
    if (ShutdownPending) {
        accept = false;
        return;
    }
    ClientCount = std::int16_t(count + 1);
    accept = true;
}

void MainOPC::OnClientDisconnect(std::int32_t count)
{
    ClientCount = std::int16_t(count);
    // Clients dropped by the shutdown itself schedule nothing.
    if (unloading_ || unloaded_)
        return;
    if (LaunchedByClient && ClientCount == 0) {
        tmrMain_.stop();
        tmrMain_.setInterval(2000);
        tmrMain_.start();
        ShutdownPending = true;
    }
}

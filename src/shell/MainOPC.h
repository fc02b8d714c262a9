#pragma once
#include "config/Settings.h"
#include "lang/Language.h"
#include "log/Log.h"
#include "monitor/FrameMonitor.h"
#include "monitor/Statistics.h"
#include "opc/ItemTable.h"
#include "opc/ItemValues.h"
#include "opc/NamespaceView.h"
#include "opc/OPCServer.h"
#include "session/OperatorSession.h"
#include "session/PasswordStore.h"
#include "shell/MainView.h"
#include "shell/ServerStatistics.h"

#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

class PanelConnections;
class UaServer;

// Process-wide operator state.
extern bool DebugMode;

// The server's main window logic: start-up, the close request and shutdown, the
// panel lines, the main timer and server status, the language menu and the
// toolkit's client events. It owns the toolkit, the item table, the connections,
// the operator session with its password, the communications monitor and the
// statistics for the life of the process.
class MainOPC : public QObject {
    Q_OBJECT
public:
    enum class LoadResult {
        Running,        // serving
        SecondInstance, // another server holds the application folder: end silently
        Registered,     // a (un)registration run: done
        Failed,         // a start-up error: see startupError()
    };
    // Why the window is closing.
    enum class UnloadMode {
        CloseBox,      // the operator's close box or system menu
        Code,          // the program (Exit, Force close)
        SystemSession, // the system is shutting down: SIGTERM, SIGINT, session end
    };

    explicit MainOPC(MainView &view, QObject *parent = nullptr);
    ~MainOPC() override;

    // The load event: the whole start-up. `arguments` as in main's argv.
    LoadResult Form_Load(const QStringList &arguments);
    const QString &startupError() const { return startupError_; }

    // A request to close. Returns false when refused; otherwise the shutdown has
    // run and unloaded() has been emitted.
    bool requestClose(UnloadMode mode);
    bool Form_QueryUnload(UnloadMode mode);
    void Form_Unload();
    bool isUnloaded() const { return unloaded_; }

    // Menu actions.
    void mnuFileExit_Click() { requestClose(UnloadMode::Code); }
    void mnuFileForceExit_Click();
    void mnuFileClientDisc_Click();
    void mnuCISel_Click(int index);
    void mnuEditStatusCurrent_Click(int n); // the status operation
    void mnuTraceLevel_Click(int level);
    void mnuTraceCOM_Click(bool checked);
    void mnuHelpAbout_Click();
    void mnuACerrarSesion_Click() { session_.CloseSession(); }
    // The two period dialogs' results: the toolkit's periods, the statistics list's sampling.
    void setStatisticsPeriod(std::int32_t ms);
    void setMinUpdatePeriod(std::int32_t ms);

    // A node of tvNamespace clicked, expanded or collapsed: its detail is shown.
    void tvNamespace_NodeClick(const QString &fullPath, const QString &tag);
    // The operator's test write from the item detail (Enter in txtTagValue).
    void txtTagValue_Enter(const QString &selectedTag, const QString &text);

    void ApplyLanguage();
    void tmrMain_Timer();

    // Toolkit client events.
    void OnClientConnect(std::int32_t count, bool &accept);
    void OnClientDisconnect(std::int32_t count);

    OPCServer &server() { return server_; }
    // The OPC UA side of the toolkit, for its session and subscription counts.
    const UaServer *uaServer() const { return uaServer_.get(); }
    PanelConnections &connections() { return *connections_; }
    QTimer &tmrMain() { return tmrMain_; }
    PasswordStore &passwords() { return passwords_; }
    OperatorSession &session() { return session_; }
    FrameMonitor &monitor() { return *monitor_; }
    StatisticsModel &statistics() { return *statistics_; }

    bool CloseForced = false;
    std::int16_t ClientCount = 0;
    bool LaunchedByClient = false;
    bool ShutdownPending = false;
    bool FirstTick = false;

signals:
    // The shutdown is complete; the process may end.
    void unloaded();

private:
    void startUp();
    void readPlacement();
    void savePlacement();
    void buildLanguageMenu();
    Language::LoadResult loadLanguage();
    void InitializeServer();
    void giveIdentity();
    void createFrontEnd();
    // The OPC UA security keys of the application INI file.
    void configureUaSecurity(const QString &host);

    MainView &view_;
    OPCServer server_;
    ItemTable items_;
    std::unique_ptr<ItemValues> values_;
    ItemDetailPane detail_{server_, items_};
    std::unique_ptr<PanelConnections> connections_;
    std::unique_ptr<UaServer> uaServer_;
    PasswordStore passwords_;
    OperatorSession session_{view_};
    std::unique_ptr<FrameMonitor> monitor_;
    std::unique_ptr<ServerStatistics> statisticsSource_;
    std::unique_ptr<StatisticsModel> statistics_;
    GeneralSettings settings_;
    QTimer tmrMain_;
    std::unique_ptr<QLockFile> instanceLock_;
    QString applicationFolder_;
    QString startupError_;
    int languageEntries_ = 0;    // entries in the language menu
    bool placementRead_ = false; // only a placement read from the file is written back
    bool unloading_ = false;
    bool unloaded_ = false;
    Log::NoticeListener previousNoticeListener_;
};

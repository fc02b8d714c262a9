#pragma once
#include "common/Clock.h"
#include "opc/OPCItem.h"
#include "opc/OPCTags.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// Result codes of the toolkit's request events.
constexpr std::int32_t S_OK_ = 0;
constexpr std::int32_t E_FAIL_ = std::int32_t(0x80004005u);
constexpr std::int32_t DISP_E_TYPEMISMATCH_ = std::int32_t(0x80020005u);
constexpr std::int32_t DISP_E_OVERFLOW_ = std::int32_t(0x8002000Au);
constexpr std::int32_t OPC_E_BADRIGHTS_ = std::int32_t(0xC0040006u);

// Toolkit server states.
namespace ServerStates {
constexpr std::int32_t Running = 1;
constexpr std::int32_t Failed = 2;
constexpr std::int32_t NoConfiguration = 3;
constexpr std::int32_t Suspended = 4;
constexpr std::int32_t Test = 5;
} // namespace ServerStates

// The network side that serves the store to clients (our OPC UA server). The
// toolkit drives it; it talks back only through the toolkit's client entry points.
class OPCFrontEnd {
public:
    virtual ~OPCFrontEnd() = default;
    virtual void start() = 0; // raises RuntimeError when it cannot serve
    virtual void stop() = 0;
    virtual void requestDisconnect(const QString &reason) = 0;
    // The server goes down in that many seconds: clients are told, and served until then.
    virtual void announceShutdown(int seconds) = 0;
    virtual QString endpointUrl() const = 0;
};

// Stand-in for the OPC server toolkit control: identity and settings, server state,
// the item store, registration, and the events through which the program answers
// clients. Everything runs on the main thread; events are plain callbacks.
class OPCServer {
public:
    OPCServer();
    ~OPCServer();
    OPCServer(const OPCServer &) = delete;
    OPCServer &operator=(const OPCServer &) = delete;

    // Settings.
    QString ServerName, VendorName, ServerDescription, ProgID;
    QString RegistrationGuid1, RegistrationGuid2;
    std::int32_t MinUpdatePeriod = 100;
    std::int32_t StatisticsPeriod = 1000;
    QString PathDelimiter = QStringLiteral(".");
    bool ComTrace = false;

    std::int32_t ServerState() const { return serverState_; }
    void setServerState(std::int32_t state);
    bool LaunchedByClient() const { return launchedByClient_; }
    void setLaunchedByClient(bool launched) { launchedByClient_ = launched; }
    std::int32_t TraceLevel() const { return traceLevel_; }
    OPCTags &Tags() { return tags_; }
    const OPCTags &Tags() const { return tags_; }

    // Methods.
    void RegisterServer();   // raises RuntimeError when the file cannot be written
    void UnregisterServer(); // raises RuntimeError when the file cannot be removed
    void StartServer();
    void StopServer();
    void SetTraceLevel(std::int32_t &level, std::int32_t option = 3);
    void RequestDisconnect(const QString &reason);

    // Registration file of this server: $XDG_CONFIG_HOME/opc/servers/<ProgID>.ini.
    QString registrationFile() const;

    // Events, raised on the main thread.
    std::function<void(std::int32_t clientsBefore, bool &accept)> OnClientConnect;
    std::function<void(std::int32_t clientsRemaining)> OnClientDisconnect;
    std::function<void(const QString &line)> OnTraceMessage;
    std::function<void(std::int32_t count, const std::vector<OPCItem *> &items, std::vector<std::int32_t> &errors,
                       std::int32_t &result)>
        OnRead;
    std::function<void(std::int32_t count, const std::vector<OPCItem *> &items, const std::vector<Variant> &values,
                       std::vector<std::int32_t> &errors, std::int32_t &result)>
        OnWrite;
    std::function<void(std::int32_t count, const std::vector<OPCItem *> &items, const std::vector<Variant> &values,
                       const std::vector<std::int16_t> &qualities, const std::vector<QDateTime> &timestamps,
                       std::vector<std::int32_t> &errors, std::int32_t &result)>
        OnWriteVQT;

    // Observers of every value/quality change, of the changes of one item, and of
    // the state. Each call returns the id that removes the observer.
    using ItemObserver = std::function<void(OPCItem &)>;
    using StateObserver = std::function<void(std::int32_t state)>;
    int addItemObserver(ItemObserver observer);
    int addItemObserver(const OPCItem &item, ItemObserver observer);
    int addStateObserver(StateObserver observer);
    void removeObserver(int id);

    // Where item timestamps come from: "now" for a value handed without one.
    const Clock &clock() const { return *clock_; }
    void setClock(const Clock &clock) { clock_ = &clock; }

    // --- Client entry points, used by the network front end ---------------------
    void setFrontEnd(OPCFrontEnd *frontEnd) { frontEnd_ = frontEnd; }
    OPCFrontEnd *frontEnd() const { return frontEnd_; }
    bool serving() const { return serving_; }
    std::int32_t clientCount() const { return clientCount_; }
    // A client arrives: OnClientConnect decides; true when it is accepted (and counted).
    bool clientConnecting();
    void clientDisconnected();
    // A client reads items: OnRead answers; returns the request result.
    std::int32_t clientRead(const std::vector<OPCItem *> &items, std::vector<std::int32_t> &errors);
    // A client writes values: OnWrite answers, then the toolkit stores each value whose
    // error is 0, converted to its item's type. Returns the request result.
    std::int32_t clientWrite(const std::vector<OPCItem *> &items, const std::vector<Variant> &values,
                             std::vector<std::int32_t> &errors);
    // A client writes values with qualities and timestamps: OnWriteVQT stores them.
    std::int32_t clientWriteVQT(const std::vector<OPCItem *> &items, const std::vector<Variant> &values,
                                const std::vector<std::int16_t> &qualities, const std::vector<QDateTime> &timestamps,
                                std::vector<std::int32_t> &errors);
    // A trace line of the toolkit, passed on when the level allows it. The event
    // receives the line with one trailing newline, as the original toolkit sent it.
    void trace(std::int32_t level, const QString &line);

private:
    friend class OPCItem;
    void itemChanged(OPCItem &item);

    OPCTags tags_;
    std::int32_t serverState_ = ServerStates::NoConfiguration;
    bool launchedByClient_ = false;
    std::int32_t traceLevel_ = 0;
    bool serving_ = false;
    std::int32_t clientCount_ = 0;
    OPCFrontEnd *frontEnd_ = nullptr;
    struct Observer {
        int id;
        ItemObserver item;
        StateObserver state;
        const OPCItem *only = nullptr; // the one item observed, or none for all
    };
    std::vector<Observer> observers_;
    int nextObserverId_ = 1;
    const Clock *clock_ = &Clock::system();
};

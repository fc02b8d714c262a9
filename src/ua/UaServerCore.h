#pragma once
#include "common/Variant.h"
#include "ua/UaAddressSpace.h"
#include "ua/UaConnection.h"
#include "ua/UaStructures.h"
#include "ua/UaSubscription.h"

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

class OPCServer;
class OPCItem;

// The OPC UA server without its sockets: connections, sessions, the address space
// and the services. One file per service set: UaDiscovery.cpp, UaSessionService.cpp,
// UaView.cpp, UaAttribute.cpp, UaSubscription.cpp, UaMonitoredItems.cpp; UaServerCore.cpp
// dispatches.
namespace Ua {

struct ServerConfig {
    QString endpointUrl;    // opc.tcp://host:port
    QString applicationUri; // urn:<host>:<ProgID>
    QString productUri;
    QString namespaceUri; // namespace 1
    TransportLimits transport;
    int maxConnections = 150;
    int maxSessions = 100;
    double minSessionTimeoutMs = 10000;
    double maxSessionTimeoutMs = 3600000;
    double unactivatedSessionTimeoutMs = 30000; // a created session must be activated within
    int maxContinuationPoints = 10;             // per session
    std::uint32_t maxNodesPerRequest = 20000;   // Read, Write, Browse, TranslateBrowsePaths, RegisterNodes
    std::uint16_t secondsTillShutdown = 10;     // announced by requestDisconnect
    // Subscriptions: enough for every item of a full installation in one session,
    // bounded so that no client can exhaust the memory.
    int maxSubscriptionsPerSession = 50;
    std::size_t maxMonitoredItemsPerSession = 20000;
    std::size_t maxMonitoredItems = 100000; // all sessions together
    std::size_t maxPublishRequestsPerSession = 20;
    std::size_t maxRetransmissionMessages = 20; // per subscription, for Republish
    std::uint32_t maxQueueSize = 100;           // per monitored item
    std::uint32_t maxNotificationsPerMessage = 5000;
    double minPublishingIntervalMs = 10; // besides the toolkit's MinUpdatePeriod
    double maxPublishingIntervalMs = 3600000;
    std::uint32_t maxKeepAliveCount = 10000;
    std::uint32_t maxLifetimeCount = 100000;
    double maxSubscriptionLifetimeMs = 3600000; // lifetime count x interval, unless the keep-alive needs more
};

using DescriptionFn = std::function<QString(const OPCItem &)>;

struct ContinuationPoint {
    QByteArray id;
    NodeRef node = NoNode;
    BrowseDescription description;
    std::uint32_t maxReferences = 0;
    std::size_t offset = 0;
};

struct Session {
    NodeId sessionId;
    NodeId authenticationToken;
    QString name;
    std::uint32_t channelId = 0;
    double timeoutMs = 0;
    qint64 lastActivityMs = 0;
    bool activated = false;
    bool counted = false; // reported to the toolkit as a connected client
    std::vector<ContinuationPoint> continuationPoints;
    SessionSubscriptions subscriptions;
};

struct RequestContext {
    Connection &connection;
    std::uint32_t requestId;
    RequestHeader header;
    Session *session = nullptr;
    bool deferred = false; // the service answers later (Publish)
};

// Thrown by a service to answer with a ServiceFault.
struct ServiceError {
    StatusCode status;
};

class ServerCore : public MessageHandler {
public:
    ServerCore(OPCServer &server, ServerConfig config, DescriptionFn describe = {});
    ~ServerCore() override;
    ServerCore(const ServerCore &) = delete;
    ServerCore &operator=(const ServerCore &) = delete;

    // Builds the address space from the items that exist now; later items are added
    // as requests arrive.
    void start();
    // Ends every session and closes every connection.
    void stop();
    // Time-outs of connections and sessions; the owner calls it periodically.
    void tick();
    // The publishing cycle of every subscription that is due. The publishing timer
    // calls it; so can a harness that runs without an event loop.
    void runSubscriptions();

    // A new connection; the core owns it until removeConnection.
    Connection *addConnection(const QString &peer);
    // Forgets a connection (closing it first when still open). Not to be called from
    // inside the connection's own callbacks.
    void removeConnection(Connection *connection);
    bool acceptsConnections() const { return int(connections_.size()) < config_.maxConnections; }

    void requestDisconnect(const QString &reason);

    const ServerConfig &config() const { return config_; }
    void setEndpointUrl(const QString &url) { config_.endpointUrl = url; }
    AddressSpace &addressSpace() { return addressSpace_; }
    std::size_t connectionCount() const { return connections_.size(); }
    std::size_t sessionCount() const { return sessions_.size(); }
    std::size_t monitoredItemCount() const { return monitoredItemTotal_; }
    std::size_t subscriptionCount() const;

    // MessageHandler.
    void handleMessage(Connection &connection, std::uint32_t requestId, const QByteArray &body) override;
    void connectionClosed(Connection &connection) override;
    qint64 nowMs() const override { return clock_.elapsed(); }
    std::uint32_t newChannelId() override { return nextChannelId_++; }
    bool comTraceEnabled() const override;
    void comTrace(const QString &line) override;
    void connectTrace(const QString &line) override;

    // The UA ServerState for the toolkit's server state.
    static std::int32_t uaServerState(std::int32_t toolkitState);
    // The StatusCode for an OPC DA quality, and back.
    static StatusCode statusFromQuality(std::int16_t quality);
    static std::int16_t qualityFromStatus(StatusCode status);
    // The UA data type node for an item's variant type.
    static std::uint32_t dataTypeOf(VarType type);

private:
    using Service = void (ServerCore::*)(RequestContext &, Decoder &, Encoder &);
    struct ServiceEntry {
        std::uint32_t requestId;
        const char *name;
        Service handler;
        bool needsSession;
    };
    static const ServiceEntry *findService(std::uint32_t encodingId);

    // Discovery (UaDiscovery.cpp).
    void getEndpoints(RequestContext &, Decoder &, Encoder &);
    void findServers(RequestContext &, Decoder &, Encoder &);
    ApplicationDescription applicationDescription(const QString &url) const;
    std::vector<EndpointDescription> endpoints(const QString &requestedUrl) const;

    // Sessions (UaSessionService.cpp).
    void createSession(RequestContext &, Decoder &, Encoder &);
    void activateSession(RequestContext &, Decoder &, Encoder &);
    void closeSession(RequestContext &, Decoder &, Encoder &);
    void cancel(RequestContext &, Decoder &, Encoder &);
    Session *findSession(const NodeId &authenticationToken);
    void endSession(Session *session, const QString &why);
    void expireSessions();

    // View (UaView.cpp).
    void browse(RequestContext &, Decoder &, Encoder &);
    void browseNext(RequestContext &, Decoder &, Encoder &);
    void translateBrowsePaths(RequestContext &, Decoder &, Encoder &);
    void registerNodes(RequestContext &, Decoder &, Encoder &);
    void unregisterNodes(RequestContext &, Decoder &, Encoder &);
    void browseNode(Session &session, const BrowseDescription &description, std::uint32_t maxReferences,
                    std::size_t offset, NodeRef node, BrowseResult &result);

    // Attributes (UaAttribute.cpp).
    void read(RequestContext &, Decoder &, Encoder &);
    void write(RequestContext &, Decoder &, Encoder &);
    DataValue readNodeAttribute(NodeRef node, std::uint32_t attributeId, bool &isValue);
    DataValue itemValue(const OPCItem &item) const;

    // Subscriptions (UaSubscription.cpp).
    void createSubscription(RequestContext &, Decoder &, Encoder &);
    void modifySubscription(RequestContext &, Decoder &, Encoder &);
    void setPublishingMode(RequestContext &, Decoder &, Encoder &);
    void deleteSubscriptions(RequestContext &, Decoder &, Encoder &);
    void publish(RequestContext &, Decoder &, Encoder &);
    void republish(RequestContext &, Decoder &, Encoder &);
    void unsupportedService(RequestContext &, Decoder &, Encoder &);
    void reviseSubscription(Subscription &s, double interval, std::uint32_t lifetime, std::uint32_t keepAlive,
                            std::uint32_t maxNotifications);
    Subscription *findSubscription(Session &session, std::uint32_t id);
    // The session's subscription with that id; BadSubscriptionIdInvalid when there is none.
    Subscription &requireSubscription(Session &session, std::uint32_t id);
    void deleteSubscription(Session &session, std::uint32_t id, const QString &why);
    void endSubscriptions(Session &session, StatusCode pendingStatus);
    void scheduleSubscriptions();
    void publishCycle(Session &session, Subscription &s, qint64 now);
    void servePublishRequests(Session &session);
    bool sendMessage(Session &session, Subscription &s, bool keepAlive);
    void answerPublish(PendingPublish &request, PublishResponse &response);
    void dropPublishRequests(const Connection &connection);
    void expirePublishRequests();

    // Monitored items (UaMonitoredItems.cpp).
    void createMonitoredItems(RequestContext &, Decoder &, Encoder &);
    void modifyMonitoredItems(RequestContext &, Decoder &, Encoder &);
    void setMonitoringMode(RequestContext &, Decoder &, Encoder &);
    void deleteMonitoredItems(RequestContext &, Decoder &, Encoder &);
    StatusCode applyParameters(MonitoredItem &m, const Subscription &s, const MonitoringParameters &p,
                               double &revisedInterval, std::uint32_t &revisedQueue);
    void removeMonitoredItem(Session &session, Subscription &s, std::uint32_t id);
    void sample(MonitoredItem &m, qint64 now);
    void sampleDue(Subscription &s, qint64 now);
    void itemChanged(OPCItem &item);
    void serverStateChanged();
    void watchItems();

    // The value a monitored item samples: item values with the state gate, as Read
    // gives them without the toolkit's read event (UaAttribute.cpp).
    DataValue sampleAttribute(NodeRef node, std::uint32_t attributeId);
    DataValue gatedItemValue(const OPCItem &item) const;

    // Server object values.
    QHash<std::uint32_t, ValueSource> serverValues();
    ServerStatusDataType serverStatus() const;
    BuildInfo buildInfo() const;
    std::uint32_t secondsTillShutdown() const;

    void sendFault(Connection &connection, std::uint32_t requestId, std::uint32_t requestHandle, StatusCode status);
    bool traceOn(int level) const;
    void trace(int level, const QString &line);
    // A service's operation list must hold something and stay within the limit.
    void checkOperationCount(std::size_t count) const;
    // TimestampsToReturn must name one of the four choices.
    static void checkTimestampsToReturn(std::int32_t value);

    OPCServer &server_;
    ServerConfig config_;
    DescriptionFn describe_;
    AddressSpace addressSpace_;
    QElapsedTimer clock_;
    DateTime startTime_ = 0;
    bool started_ = false;
    std::list<std::unique_ptr<Connection>> connections_;
    std::vector<std::unique_ptr<Session>> sessions_;
    std::vector<std::unique_ptr<Session>> endedSessions_; // freed when no request is in progress
    int dispatchDepth_ = 0; // toolkit events may let other events, requests too, run inside a request
    std::uint32_t nextChannelId_ = 1;
    std::uint32_t nextSessionNumber_ = 1;
    std::uint64_t nextContinuationPoint_ = 1;
    QString shutdownReason_;
    qint64 shutdownAtMs_ = -1;
    QByteArray responseBuffer_;
    QTimer publishTimer_; // one timer for every subscription: fires at the next one due
    std::unordered_map<const OPCItem *, std::vector<MonitoredItem *>> watchers_; // item -> its monitored items
    std::uint32_t nextSubscriptionId_ = 1;
    std::uint32_t nextMonitoredItemId_ = 1;
    std::size_t monitoredItemTotal_ = 0;
    int itemObserver_ = 0, stateObserver_ = 0;
    std::vector<Reference> referenceScratch_;
};

} // namespace Ua

#pragma once
#include "common/Clock.h"
#include "common/Variant.h"
#include "ua/UaAccessControl.h"
#include "ua/UaAddressSpace.h"
#include "ua/UaConnection.h"
#include "ua/UaStructures.h"
#include "ua/UaSubscription.h"

#include <QTimer>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

class OPCServer;
class OPCItem;

// The OPC UA server without its sockets: channels, sessions, the address space and
// the services. One file per service set: UaDiscovery.cpp, UaSessionService.cpp,
// UaView.cpp, UaAttribute.cpp, UaSubscription.cpp, UaMonitoredItems.cpp;
// UaServerCore.cpp dispatches.
namespace Ua {

// An endpoint's security: a policy and the mode it is offered with.
struct SecurityOffer {
    std::shared_ptr<const SecurityPolicy> policy;
    SecurityMode mode;
};

struct ServerConfig {
    QString endpointUrl;    // opc.tcp://host:port
    QString applicationUri; // urn:<host>:<ProgID>
    QString productUri;
    QString namespaceUri; // namespace 1
    TransportLimits transport;
    std::vector<SecurityOffer> security{{std::make_shared<SecurityPolicyNone>(), SecurityMode::None}};
    std::shared_ptr<const AccessControl> accessControl = std::make_shared<AnonymousAccess>();
    int maxConnections = 150;
    int maxSessions = 100;
    double minSessionTimeoutMs = 10000;
    double maxSessionTimeoutMs = 3600000;
    double unactivatedSessionTimeoutMs = 30000; // a created session must be activated within
    int maxContinuationPoints = 10;             // per session
    std::uint32_t maxNodesPerRequest = 20000;   // operations in one request, whatever the service
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
    UserIdentity user;
    QByteArray serverNonce; // the last one given to the client
    std::vector<ContinuationPoint> continuationPoints;
    SessionSubscriptions subscriptions;
};

// One request on its way through a service.
struct RequestContext {
    RequestContext(Channel &c, std::uint32_t id) : channel(c), requestId(id) {}
    Channel &channel;
    std::uint32_t requestId = 0;
    std::uint32_t requestHandle = 0;
    Session *session = nullptr;       // the activated session, for services that need one
    bool deferred = false;            // the service answers later (Publish)
    std::function<void()> afterReply; // what must follow the answer
};

struct ServiceEntry; // the service table's entries (UaServerCore.cpp)

// Thrown by a service to answer with a ServiceFault.
struct ServiceError {
    StatusCode status;
};

class ServerCore : public ChannelHost {
public:
    ServerCore(OPCServer &server, ServerConfig config, DescriptionFn describe = {},
               const Clock &clock = Clock::system());
    ~ServerCore() override;
    ServerCore(const ServerCore &) = delete;
    ServerCore &operator=(const ServerCore &) = delete;

    // Builds the address space from the items that exist now; later items are added
    // as requests arrive.
    void start();
    // Ends every session and closes every channel.
    void stop();
    // Time-outs of channels, sessions and Publish requests; the owner calls it
    // periodically.
    void tick();
    // The publishing cycle of every subscription that is due. The publishing timer
    // calls it; so can a harness that moves a manual clock.
    void runSubscriptions();

    // A channel from a transport; the core owns it until removeChannel.
    Channel &addChannel(std::unique_ptr<Channel> channel);
    // Forgets a channel (failing it first when still open).
    void removeChannel(Channel &channel);
    bool acceptsConnections() const { return int(channels_.size()) < config_.maxConnections; }

    void requestDisconnect(const QString &reason);

    const ServerConfig &config() const { return config_; }
    std::size_t sessionCount() const { return sessions_.size(); }
    std::size_t monitoredItemCount() const { return monitoredItemTotal_; }
    std::size_t subscriptionCount() const;
    // Data changes sent to clients since start (the statistics list's rate).
    std::uint64_t notificationsSent() const { return notificationsSent_; }

    // ChannelHost.
    void handleMessage(Channel &channel, std::uint32_t requestId, const QByteArray &body) override;
    void channelClosed(Channel &channel) override;
    std::uint32_t newChannelId() override { return nextChannelId_++; }
    const Clock &clock() const override { return clock_; }
    const SecurityPolicy *securityPolicy(const QString &uri) const override;
    bool offers(const QString &policyUri, SecurityMode mode) const override;
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
    static const ServiceEntry *findService(const NodeId &typeId);

    qint64 nowMs() const { return clock_.monotonicMs(); }
    DateTime now() const { return toDateTime(clock_.now()); }
    // Stamps and sends a response to the request with that handle.
    void reply(Channel &channel, std::uint32_t requestId, std::uint32_t requestHandle, const TypeDesc &type,
               void *response, ResponseHeader &header);
    void sendFault(Channel &channel, std::uint32_t requestId, std::uint32_t requestHandle, StatusCode status);
    // The session a request's header names, activated and on the request's channel.
    Session &activeSession(const RequestHeader &header, const Channel &channel);
    // TimestampsToReturn must name one of the four choices.
    static void checkTimestampsToReturn(std::int32_t value);
    bool traceOn(int level) const;
    void trace(int level, const QString &line);

    // Discovery (UaDiscovery.cpp).
    void getEndpoints(RequestContext &, const GetEndpointsRequest &, GetEndpointsResponse &);
    void findServers(RequestContext &, const FindServersRequest &, FindServersResponse &);
    ApplicationDescription applicationDescription(const QString &url) const;
    std::vector<EndpointDescription> endpoints(const QString &requestedUrl) const;

    // Sessions (UaSessionService.cpp).
    void createSession(RequestContext &, const CreateSessionRequest &, CreateSessionResponse &);
    void activateSession(RequestContext &, const ActivateSessionRequest &, ActivateSessionResponse &);
    void closeSession(RequestContext &, const CloseSessionRequest &, CloseSessionResponse &);
    void cancel(RequestContext &, const CancelRequest &, CancelResponse &);
    Session *findSession(const NodeId &authenticationToken);
    void endSession(Session *session, const QString &why);
    void expireSessions();

    // View (UaView.cpp).
    void browse(RequestContext &, const BrowseRequest &, BrowseResponse &);
    void browseNext(RequestContext &, const BrowseNextRequest &, BrowseNextResponse &);
    void translateBrowsePaths(RequestContext &, const TranslateBrowsePathsToNodeIdsRequest &,
                              TranslateBrowsePathsToNodeIdsResponse &);
    void registerNodes(RequestContext &, const RegisterNodesRequest &, RegisterNodesResponse &);
    void unregisterNodes(RequestContext &, const UnregisterNodesRequest &, UnregisterNodesResponse &);
    void browseNode(Session &session, const BrowseDescription &description, std::uint32_t maxReferences,
                    std::size_t offset, NodeRef node, BrowseResult &result);

    // Attributes (UaAttribute.cpp).
    void read(RequestContext &, const ReadRequest &, ReadResponse &);
    void write(RequestContext &, const WriteRequest &, WriteResponse &);
    DataValue readNodeAttribute(const Session &session, NodeRef node, std::uint32_t attributeId, bool &isValue);
    DataValue itemValue(const OPCItem &item) const;
    // The user's access level to an item (its own, as far as the user's rights go).
    std::uint8_t userAccessLevel(const Session &session, const OPCItem &item) const;

    // Subscriptions (UaSubscription.cpp).
    void createSubscription(RequestContext &, const CreateSubscriptionRequest &, CreateSubscriptionResponse &);
    void modifySubscription(RequestContext &, const ModifySubscriptionRequest &, ModifySubscriptionResponse &);
    void setPublishingMode(RequestContext &, const SetPublishingModeRequest &, SetPublishingModeResponse &);
    void deleteSubscriptions(RequestContext &, const DeleteSubscriptionsRequest &, DeleteSubscriptionsResponse &);
    void publish(RequestContext &, const PublishRequest &, PublishResponse &);
    void republish(RequestContext &, const RepublishRequest &, RepublishResponse &);
    void reviseSubscription(Subscription &s, double interval, std::uint32_t lifetime, std::uint32_t keepAlive,
                            std::uint32_t maxNotifications);
    Subscription *findSubscription(Session &session, std::uint32_t id);
    // The session's subscription with that id; BadSubscriptionIdInvalid when there is none.
    Subscription &requireSubscription(Session &session, std::uint32_t id);
    void deleteSubscription(Session &session, std::uint32_t id, const QString &why);
    void endSubscriptions(Session &session, StatusCode pendingStatus);
    // Answers the waiting Publish requests of a session with that status.
    void failPublishRequests(Session &session, StatusCode status);
    void scheduleSubscriptions();
    void publishCycle(Session &session, Subscription &s, qint64 now);
    void servePublishRequests(Session &session);
    bool sendMessage(Session &session, Subscription &s, bool keepAlive);
    void answerPublish(PendingPublish &request, PublishResponse &response);
    void dropPublishRequests(const Channel &channel);
    void expirePublishRequests();

    // Monitored items (UaMonitoredItems.cpp).
    void createMonitoredItems(RequestContext &, const CreateMonitoredItemsRequest &, CreateMonitoredItemsResponse &);
    void modifyMonitoredItems(RequestContext &, const ModifyMonitoredItemsRequest &, ModifyMonitoredItemsResponse &);
    void setMonitoringMode(RequestContext &, const SetMonitoringModeRequest &, SetMonitoringModeResponse &);
    void deleteMonitoredItems(RequestContext &, const DeleteMonitoredItemsRequest &, DeleteMonitoredItemsResponse &);
    StatusCode applyParameters(MonitoredItem &m, const Subscription &s, const MonitoringParameters &p,
                               double &revisedInterval, std::uint32_t &revisedQueue);
    void removeMonitoredItem(Session &session, Subscription &s, std::uint32_t id);
    // Takes a sample now (monotonic ms); stamp is the server timestamp it gets.
    void sample(MonitoredItem &m, qint64 now, DateTime stamp);
    void sampleDue(Subscription &s, qint64 now);
    void itemChanged(OPCItem &item);
    void serverStateChanged();
    void watchItems();

    // The value a monitored item samples: item values with the state gate, as Read
    // gives them without the toolkit's read event (UaAttribute.cpp).
    DataValue sampleAttribute(const Session &session, NodeRef node, std::uint32_t attributeId);
    DataValue gatedItemValue(const OPCItem &item) const;

    // Server object values.
    QHash<std::uint32_t, ValueSource> serverValues();
    ServerStatusDataType serverStatus() const;
    BuildInfo buildInfo() const;
    std::uint32_t secondsTillShutdown() const;

    OPCServer &server_;
    ServerConfig config_;
    DescriptionFn describe_;
    const Clock &clock_;
    AddressSpace addressSpace_;
    DateTime startTime_ = 0;
    bool started_ = false;
    std::list<std::unique_ptr<Channel>> channels_;
    std::vector<std::unique_ptr<Session>> sessions_;
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
    std::uint64_t notificationsSent_ = 0;
    int itemObserver_ = 0, stateObserver_ = 0;
    std::vector<Reference> referenceScratch_;
};

} // namespace Ua

#pragma once
#include "common/Clock.h"
#include "common/Variant.h"
#include "ua/UaAccessControl.h"
#include "ua/UaAddressSpace.h"
#include "ua/UaBudgets.h"
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
// UaView.cpp, UaAttribute.cpp, UaSubscription.cpp, UaMonitoredItems.cpp,
// UaSubscriptionTransfer.cpp, UaTriggering.cpp, UaMethodCall.cpp, and the Server
// object's diagnostics in UaDiagnostics.cpp; UaServerCore.cpp dispatches.
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
    std::shared_ptr<const AccessControl> accessControl = std::make_shared<UserAccess>();
    int maxConnections = 150;
    int maxSessions = 100;
    double minSessionTimeoutMs = 10000;
    double maxSessionTimeoutMs = 3600000;
    double unactivatedSessionTimeoutMs = Budget::UnactivatedSessionTimeoutMs;
    int channelsPerAddress = Budget::ChannelsPerAddress;
    int sessionsPerAddress = Budget::SessionsPerAddress;
    int channelWithoutSessionTimeoutMs = Budget::ChannelWithoutSessionTimeoutMs;
    std::size_t queuedValuesPerSession = Budget::QueuedValuesPerSession;
    std::size_t retainedNotificationsPerSession = Budget::RetainedNotificationsPerSession;
    int orphanedSubscriptions = Budget::OrphanedSubscriptions;
    std::size_t orphanedValues = Budget::OrphanedValues;
    int maxContinuationPoints = 10;           // per session
    std::uint32_t maxNodesPerRequest = 20000; // operations in one request, whatever the service
    std::uint16_t secondsTillShutdown = 10;   // announced by requestDisconnect
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
    // Generous: common clients ask up to a few ten thousand (asyncua 10,800) and get
    // what they ask; the memory a silent subscription holds is bounded elsewhere.
    std::uint32_t maxKeepAliveCount = 100000;
    std::uint32_t maxLifetimeCount = 300000;
    double maxSubscriptionLifetimeMs = 3600000; // lifetime count x interval, unless the keep-alive needs more

    // A refused user name or password is answered after this delay, doubled with each
    // further failure in a row up to the maximum; meanwhile no password is checked.
    int failedActivationDelayMs = 500;
    int maxFailedActivationDelayMs = 8000;
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
    QString address; // the client's network address, without its port
    std::uint32_t channelId = 0;
    double timeoutMs = 0;
    qint64 lastActivityMs = 0;
    bool activated = false;
    bool counted = false; // reported to the toolkit as a connected client
    bool ended = false;   // kept only for the subscriptions it left (ServerCore::orphans_)
    UserIdentity user;
    QByteArray serverNonce; // the last one given to the client
    // The certificate of the channel that created it.
    QByteArray clientCertificate;
    QString applicationUri; // the client's, from CreateSession
    bool secured = false;   // activated last on a channel that signs
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

// What ServerDiagnosticsSummary counts over the server's life; what it holds now
// (sessions, subscriptions) is counted when asked.
struct DiagnosticsCounters {
    std::uint32_t securityRejectedSessions = 0, rejectedSessions = 0, sessionTimeouts = 0, sessionAborts = 0,
                  securityRejectedRequests = 0, rejectedRequests = 0;
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
    // Whether a new connection from that peer (address:port) may be served; a full
    // table first gives up a channel without a session.
    bool admitConnection(const QString &peer);

    void requestDisconnect(const QString &reason);
    // The server goes down in that many seconds: ServerState Shutdown, counting down.
    void announceShutdown(int seconds);

    const ServerConfig &config() const { return config_; }
    std::size_t sessionCount() const { return sessions_.size(); }
    std::size_t monitoredItemCount() const { return monitoredItemTotal_; }
    std::size_t subscriptionCount() const;
    std::size_t channelCount() const { return channels_.size(); }
    ServerDiagnosticsSummaryDataType diagnosticsSummary() const;
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
    // A session's or channel's network address: the peer without its port.
    static QString addressOf(const QString &peer);
    // The ServerState clients see: Shutdown once announced.
    std::int32_t uaState() const;
    void closeChannelsWithoutSession();
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
    // Gives up the least valuable session (never activated, else the longest idle
    // one without subscriptions); false when every session is worth keeping.
    bool giveUpSession();
    // The channel's proofs for a session: its certificate for CreateSession, its
    // signature for ActivateSession.
    void checkClientCertificate(const Channel &channel, const CreateSessionRequest &request) const;
    // Whether an endpoint offers that policy and mode (a channel may be open for discovery only).
    bool endpointOffers(const QString &policyUri, SecurityMode mode) const;
    void checkClientSignature(const Channel &channel, const Session &session, const SignatureData &signature) const;
    // A refused user: counted, and answered later.
    void refuseUser(RequestContext &context, const Session &session, const UserIdentity &user);
    void sendDelayedFaults();
    QByteArray serverCertificate() const;
    // Ends a session; its subscriptions live on until their lifetime ends unless
    // deleteSubscriptions.
    void endSession(Session *session, const QString &why, bool deleteSubscriptions = false);
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
    // Every session, then every ended one that still holds subscriptions.
    template <class F> void forEachSubscriber(F &&f) const
    {
        for (auto &s : sessions_)
            f(*s);
        for (auto &s : orphans_)
            f(*s);
    }
    // Keeps an ended session's subscriptions, within the orphan budget: the oldest
    // go first (UaSubscriptionTransfer.cpp).
    void keepOrphans(std::unique_ptr<Session> ended);
    // Forgets ended sessions whose subscriptions are all gone.
    void forgetEmptyOrphans();
    // Ends the oldest subscription without a session; false when there is none.
    bool giveUpOrphan(const QString &why);
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
    // Removes the monitored items of s marked removed, with everything that points to
    // them: one pass over each list, however many go.
    void removeMarkedItems(Session &session, Subscription &s);
    // Takes a sample now (monotonic ms); stamp is the server timestamp it gets. value:
    // the item's value when the caller has it already (one change, many watchers).
    void sample(MonitoredItem &m, qint64 now, DateTime stamp, const DataValue *value = nullptr);
    void sampleDue(Subscription &s, qint64 now);
    void itemChanged(OPCItem &item);
    void serverStateChanged();
    void watchItems();

    // Subscriptions moved between sessions (UaSubscriptionTransfer.cpp).
    void transferSubscriptions(RequestContext &, const TransferSubscriptionsRequest &, TransferSubscriptionsResponse &);
    // Queues the latest value of every reporting monitored item of s once more.
    void resendValues(Subscription &s);

    // Triggering links between monitored items (UaTriggering.cpp).
    void setTriggering(RequestContext &, const SetTriggeringRequest &, SetTriggeringResponse &);

    // Methods of the Server object (UaMethodCall.cpp).
    void call(RequestContext &, const CallRequest &, CallResponse &);
    CallMethodResult callMethod(Session &session, const CallMethodRequest &request);

    // Diagnostics (UaDiagnostics.cpp): a request answered with a ServiceFault.
    void countRejection(const TypeDesc *request, StatusCode status);
    void addDiagnosticsValues(QHash<std::uint32_t, ValueSource> &values);

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
    struct ChannelEntry {
        std::unique_ptr<Channel> channel;
        QString address;
        qint64 sessionSeenMs; // when it last had a session (or was opened)
    };
    std::list<ChannelEntry> channels_;
    bool shuttingDown_ = false;
    std::vector<std::unique_ptr<Session>> sessions_;
    // Ended sessions whose subscriptions wait for a transfer, the oldest first.
    std::vector<std::unique_ptr<Session>> orphans_;
    std::uint32_t nextChannelId_ = 1;
    std::uint32_t nextSessionNumber_ = 1;
    std::uint64_t nextContinuationPoint_ = 1;
    QString shutdownReason_;
    qint64 shutdownAtMs_ = -1;
    QByteArray responseBuffer_;
    QTimer publishTimer_; // one timer for every subscription: fires at the next one due
    // By item handle: the item's monitored items, and how many of them report a new
    // timestamp alone (most updates bring nothing else, and then only they are asked).
    struct Watchers {
        std::vector<MonitoredItem *> items;
        std::size_t timestampTriggered = 0;
    };
    std::vector<Watchers> watchers_;
    std::uint32_t nextSubscriptionId_ = 1;
    std::uint32_t nextMonitoredItemId_ = 1;
    std::size_t monitoredItemTotal_ = 0;
    std::uint64_t notificationsSent_ = 0;
    int itemObserver_ = 0, stateObserver_ = 0;
    std::vector<Reference> referenceScratch_;
    DiagnosticsCounters diagnostics_;
    // Failed user activations: their answers wait until dueMs.
    struct DelayedFault {
        Channel *channel;
        std::uint32_t requestId, requestHandle;
        qint64 dueMs;
    };
    std::vector<DelayedFault> delayedFaults_;
    qint64 userChecksBlockedUntilMs_ = 0;
    int failedActivationsInRow_ = 0;
    std::uint64_t failedActivations_ = 0;
};

} // namespace Ua

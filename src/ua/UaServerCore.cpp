#include "ua/UaServerCore.h"
#include "common/AppInfo.h"
#include "common/BuildIdentity.h"
#include "common/Error.h"
#include "opc/OPCServer.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace Ua {

// A service: its request and response types, whether it needs an activated session,
// its operation list (when it has one), and the handler, a function of (context,
// request, response).
struct ServiceEntry {
    const char *name;
    const TypeDesc *request;
    const TypeDesc *response;
    bool inSession;
    std::size_t (*operationCount)(const void *request); // nullptr: no operation list
    bool emptyListAllowed;
    RequestHeader &(*requestHeader)(void *request);
    ResponseHeader &(*responseHeader)(void *response);
    void (*call)(ServerCore &core, RequestContext &context, const void *request, void *response);
};

namespace {

constexpr bool InSession = true, WithoutSession = false;

template <class> struct HandlerTraits;
template <class Req, class Resp> struct HandlerTraits<void (ServerCore::*)(RequestContext &, const Req &, Resp &)> {
    using Request = Req;
    using Response = Resp;
};

template <auto Handler, auto List = nullptr>
constexpr ServiceEntry service(const char *name, bool inSession, bool emptyListAllowed = false)
{
    using Req = typename HandlerTraits<decltype(Handler)>::Request;
    using Resp = typename HandlerTraits<decltype(Handler)>::Response;
    std::size_t (*count)(const void *) = nullptr;
    if constexpr (List != nullptr)
        count = [](const void *r) { return (static_cast<const Req *>(r)->*List).size(); };
    return {name,
            &Req::desc(),
            &Resp::desc(),
            inSession,
            count,
            emptyListAllowed,
            [](void *r) -> RequestHeader & { return static_cast<Req *>(r)->requestHeader; },
            [](void *r) -> ResponseHeader & { return static_cast<Resp *>(r)->responseHeader; },
            [](ServerCore &core, RequestContext &context, const void *request, void *response) {
                (core.*Handler)(context, *static_cast<const Req *>(request), *static_cast<Resp *>(response));
            }};
}

} // namespace

ServerCore::ServerCore(OPCServer &server, ServerConfig config, DescriptionFn describe, const Clock &clock)
    : server_(server), config_(std::move(config)), describe_(std::move(describe)), clock_(clock),
      addressSpace_(server, config_.namespaceUri)
{
    publishTimer_.setSingleShot(true);
    publishTimer_.callOnTimeout([this] { runSubscriptions(); });
}

ServerCore::~ServerCore() { stop(); }

const ServiceEntry *ServerCore::findService(const NodeId &typeId)
{
    using C = ServerCore;
    static const ServiceEntry services[] = {
        service<&C::findServers>("FindServers", WithoutSession),
        service<&C::getEndpoints>("GetEndpoints", WithoutSession),
        service<&C::createSession>("CreateSession", WithoutSession),
        service<&C::activateSession>("ActivateSession", WithoutSession),
        service<&C::closeSession>("CloseSession", WithoutSession),
        service<&C::cancel>("Cancel", InSession),
        service<&C::browse, &BrowseRequest::nodesToBrowse>("Browse", InSession),
        service<&C::browseNext, &BrowseNextRequest::continuationPoints>("BrowseNext", InSession),
        service<&C::translateBrowsePaths, &TranslateBrowsePathsToNodeIdsRequest::browsePaths>(
            "TranslateBrowsePathsToNodeIds", InSession),
        service<&C::registerNodes, &RegisterNodesRequest::nodesToRegister>("RegisterNodes", InSession),
        service<&C::unregisterNodes, &UnregisterNodesRequest::nodesToUnregister>("UnregisterNodes", InSession),
        service<&C::read, &ReadRequest::nodesToRead>("Read", InSession),
        service<&C::write, &WriteRequest::nodesToWrite>("Write", InSession),
        service<&C::createSubscription>("CreateSubscription", InSession),
        service<&C::modifySubscription>("ModifySubscription", InSession),
        service<&C::setPublishingMode, &SetPublishingModeRequest::subscriptionIds>("SetPublishingMode", InSession),
        // A Publish request need not acknowledge anything.
        service<&C::publish, &PublishRequest::subscriptionAcknowledgements>("Publish", InSession, true),
        service<&C::republish>("Republish", InSession),
        service<&C::deleteSubscriptions, &DeleteSubscriptionsRequest::subscriptionIds>("DeleteSubscriptions",
                                                                                       InSession),
        service<&C::createMonitoredItems, &CreateMonitoredItemsRequest::itemsToCreate>("CreateMonitoredItems",
                                                                                       InSession),
        service<&C::modifyMonitoredItems, &ModifyMonitoredItemsRequest::itemsToModify>("ModifyMonitoredItems",
                                                                                       InSession),
        service<&C::setMonitoringMode, &SetMonitoringModeRequest::monitoredItemIds>("SetMonitoringMode", InSession),
        service<&C::deleteMonitoredItems, &DeleteMonitoredItemsRequest::monitoredItemIds>("DeleteMonitoredItems",
                                                                                          InSession),
        service<&C::transferSubscriptions, &TransferSubscriptionsRequest::subscriptionIds>("TransferSubscriptions",
                                                                                           InSession),
        service<&C::setTriggering>("SetTriggering", InSession),
        service<&C::call, &CallRequest::methodsToCall>("Call", InSession),
    };
    if (typeId.ns != 0 || typeId.kind != NodeId::Kind::Numeric)
        return nullptr;
    for (const auto &s : services)
        if (s.request->binaryEncodingId == typeId.numeric)
            return &s;
    return nullptr;
}

void ServerCore::start()
{
    if (started_)
        return;
    started_ = true;
    startTime_ = now();
    addressSpace_.buildStandard(serverValues());
    addressSpace_.syncItems();
    watchItems();
    trace(1, QStringLiteral("UA server started at %1 with %2 items")
                 .arg(config_.endpointUrl)
                 .arg(addressSpace_.itemCount()));
}

void ServerCore::stop()
{
    // Channels close first and without an Error message: a client takes that as a
    // lost connection and comes back by itself when the server is there again.
    for (auto &c : channels_)
        c.channel->close();
    diagnostics_.sessionAborts += std::uint32_t(sessions_.size());
    while (!sessions_.empty())
        endSession(sessions_.back().get(), QStringLiteral("server stopped"), true);
    for (auto &orphan : orphans_)
        endSubscriptions(*orphan, Status::BadSessionClosed);
    orphans_.clear();
    for (int *id : {&itemObserver_, &stateObserver_}) {
        if (*id)
            server_.removeObserver(*id);
        *id = 0;
    }
    publishTimer_.stop();
    shuttingDown_ = false;
    shutdownAtMs_ = -1;
    shutdownReason_.clear();
}

void ServerCore::tick()
{
    for (auto &c : channels_)
        c.channel->tick();
    expireSessions();
    closeChannelsWithoutSession();
    expirePublishRequests();
    sendDelayedFaults();
}

QString ServerCore::addressOf(const QString &peer)
{
    const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? peer : peer.left(colon);
}

bool ServerCore::admitConnection(const QString &peer)
{
    const QString address = addressOf(peer);
    int open = 0, fromAddress = 0;
    for (const ChannelEntry &c : channels_) {
        if (c.channel->isClosed())
            continue;
        ++open;
        fromAddress += c.address == address;
    }
    if (fromAddress >= config_.channelsPerAddress)
        return false;
    if (open < config_.maxConnections)
        return true;
    // Full: the oldest channel that serves no session makes room.
    ChannelEntry *idle = nullptr;
    for (ChannelEntry &c : channels_) {
        const std::uint32_t id = c.channel->channelId();
        const bool hasSession = id != 0 && std::any_of(sessions_.begin(), sessions_.end(),
                                                       [id](const auto &s) { return s->channelId == id; });
        if (!hasSession && !c.channel->isClosed() && (!idle || c.sessionSeenMs < idle->sessionSeenMs))
            idle = &c;
    }
    if (!idle)
        return false;
    idle->channel->fail(Status::BadTcpServerTooBusy, QStringLiteral("Connection given up for a new client"));
    return true;
}

void ServerCore::closeChannelsWithoutSession()
{
    const qint64 now = nowMs();
    for (ChannelEntry &c : channels_) {
        const std::uint32_t id = c.channel->channelId();
        if (id == 0 || c.channel->isClosed()) // not open yet: the connection's own time-out applies
            continue;
        if (std::any_of(sessions_.begin(), sessions_.end(), [id](const auto &s) { return s->channelId == id; }))
            c.sessionSeenMs = now;
        else if (now - c.sessionSeenMs > config_.channelWithoutSessionTimeoutMs)
            c.channel->fail(Status::BadTimeout, QStringLiteral("No session on the channel"));
    }
}

Channel &ServerCore::addChannel(std::unique_ptr<Channel> channel)
{
    trace(1, QStringLiteral("UA connection from %1").arg(channel->peer()));
    const QString address = addressOf(channel->peer());
    channels_.push_back({std::move(channel), address, nowMs()});
    return *channels_.back().channel;
}

void ServerCore::removeChannel(Channel &channel)
{
    auto it = std::find_if(channels_.begin(), channels_.end(),
                           [&](const ChannelEntry &c) { return c.channel.get() == &channel; });
    if (it == channels_.end())
        return;
    channel.close();
    channels_.erase(it);
}

void ServerCore::channelClosed(Channel &channel)
{
    // Sessions outlive their channel until they time out: a client may come back on
    // a new channel and activate them there. Publish requests cannot be answered
    // on another channel, so they go.
    dropPublishRequests(channel);
    std::erase_if(delayedFaults_, [&](const DelayedFault &f) { return f.channel == &channel; });
    trace(1, QStringLiteral("UA connection from %1 closed").arg(channel.peer()));
}

const SecurityPolicy *ServerCore::securityPolicy(const QString &uri) const
{
    for (const SecurityOffer &offer : config_.security)
        if (offer.policy->uri() == uri)
            return offer.policy.get();
    // Discovery stays reachable without security where no endpoint offers None:
    // clients ask for the endpoints that way first.
    static const SecurityPolicyNone none;
    return uri == SecurityPolicyNone::policyUri() ? &none : nullptr;
}

bool ServerCore::offers(const QString &policyUri, SecurityMode mode) const
{
    return (mode == SecurityMode::None && policyUri == SecurityPolicyNone::policyUri()) ||
           endpointOffers(policyUri, mode);
}

bool ServerCore::endpointOffers(const QString &policyUri, SecurityMode mode) const
{
    return std::any_of(config_.security.begin(), config_.security.end(),
                       [&](const SecurityOffer &o) { return o.mode == mode && o.policy->uri() == policyUri; });
}

void ServerCore::requestDisconnect(const QString &reason)
{
    shutdownReason_ = reason;
    shutdownAtMs_ = nowMs() + qint64(config_.secondsTillShutdown) * 1000;
    trace(1, QStringLiteral("UA clients asked to disconnect: %1").arg(reason));
}

void ServerCore::announceShutdown(int seconds)
{
    shuttingDown_ = true;
    shutdownAtMs_ = nowMs() + qint64(seconds) * 1000;
    if (shutdownReason_.isEmpty())
        shutdownReason_ = QStringLiteral("Server shutdown");
    trace(1, QStringLiteral("UA server shuts down in %1 s").arg(seconds));
    // Every monitored value hears of it at the next publishing cycle.
    serverStateChanged();
}

std::int32_t ServerCore::uaState() const
{
    constexpr std::int32_t Shutdown = 4;
    return shuttingDown_ ? Shutdown : uaServerState(server_.ServerState());
}

std::uint32_t ServerCore::secondsTillShutdown() const
{
    if (shutdownAtMs_ < 0)
        return 0;
    const qint64 left = shutdownAtMs_ - nowMs();
    return left <= 0 ? 0 : std::uint32_t((left + 999) / 1000);
}

// Every request passes here: decoded by its type description, checked (session,
// operation count), served, stamped and encoded; whatever a service throws becomes a
// ServiceFault, so every request is answered.
void ServerCore::handleMessage(Channel &channel, std::uint32_t requestId, const QByteArray &body)
{
    addressSpace_.syncItems();
    RequestContext context(channel, requestId);
    const TypeDesc *requestType = nullptr;
    auto fail = [&](StatusCode status) {
        countRejection(requestType, status);
        sendFault(channel, requestId, context.requestHandle, status);
    };
    try {
        Decoder d(body, config_.transport.decode);
        const NodeId typeId = decodeNodeId(d);
        RequestHeader header;
        decodeInto(d, header);
        context.requestHandle = header.requestHandle;
        const ServiceEntry *service = findService(typeId);
        requestType = service ? service->request : nullptr;
        if (!service) {
            trace(4, QStringLiteral("UA unsupported request %1").arg(typeId.toString()));
            throw ServiceError{Status::BadServiceUnsupported};
        }
        if (traceOn(4))
            trace(4, QStringLiteral("UA %1 request %2 on channel %3")
                         .arg(QLatin1String(service->name))
                         .arg(header.requestHandle)
                         .arg(channel.channelId()));
        if (service->inSession)
            context.session = &activeSession(header, channel);
        // The header, first in every request, is decoded already.
        AnyStructure request(*service->request);
        service->requestHeader(request.get()) = std::move(header);
        decodeStructure(d, *service->request, request.get(), 1);
        if (service->operationCount) {
            const std::size_t count = service->operationCount(request.get());
            if (count == 0 && !service->emptyListAllowed)
                throw ServiceError{Status::BadNothingToDo};
            if (count > config_.maxNodesPerRequest)
                throw ServiceError{Status::BadTooManyOperations};
        }
        AnyStructure response(*service->response);
        service->call(*this, context, request.get(), response.get());
        if (!context.deferred)
            reply(channel, requestId, context.requestHandle, *service->response, response.get(),
                  service->responseHeader(response.get()));
        if (context.afterReply)
            context.afterReply();
    } catch (const ServiceError &error) {
        fail(error.status);
    } catch (const CodecError &error) {
        fail(error.status == Status::BadEncodingLimitsExceeded ? error.status : Status::BadDecodingError);
    } catch (const RuntimeError &) {
        fail(Status::BadInternalError);
    } catch (const std::bad_alloc &) {
        responseBuffer_ = QByteArray();
        fail(Status::BadOutOfMemory);
    }
}

void ServerCore::reply(Channel &channel, std::uint32_t requestId, std::uint32_t requestHandle, const TypeDesc &type,
                       void *response, ResponseHeader &header)
{
    header.timestamp = now();
    header.requestHandle = requestHandle;
    responseBuffer_.resize(0);
    Encoder e(responseBuffer_);
    encodeMessage(e, type, response);
    channel.sendResponse(requestId, requestHandle, responseBuffer_);
    // A large answer must not pin its memory until the next request.
    if (responseBuffer_.capacity() > (1 << 20))
        responseBuffer_ = QByteArray();
}

void ServerCore::sendFault(Channel &channel, std::uint32_t requestId, std::uint32_t requestHandle, StatusCode status)
{
    if (traceOn(4))
        trace(4, QStringLiteral("UA request %1 fails: %2").arg(requestHandle).arg(QLatin1String(statusName(status))));
    channel.sendResponse(requestId, requestHandle, encodeServiceFault(requestHandle, status, now()));
}

Session &ServerCore::activeSession(const RequestHeader &header, const Channel &channel)
{
    Session *session = findSession(header.authenticationToken);
    if (!session)
        throw ServiceError{Status::BadSessionIdInvalid};
    if (session->channelId != channel.channelId())
        throw ServiceError{Status::BadSecureChannelIdInvalid};
    if (!session->activated)
        throw ServiceError{Status::BadSessionNotActivated};
    session->lastActivityMs = nowMs();
    return *session;
}

bool ServerCore::traceOn(int level) const { return server_.OnTraceMessage && server_.TraceLevel() >= level; }

void ServerCore::checkTimestampsToReturn(std::int32_t value)
{
    if (value < 0 || value > 3)
        throw ServiceError{Status::BadTimestampsToReturnInvalid};
}

namespace {

// Lines carry client-supplied text (session names, endpoint URLs, node ids): no
// control character may break a line or forge another.
QString escaped(const QString &line)
{
    auto control = [](QChar c) {
        return c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    };
    if (std::none_of(line.begin(), line.end(), control))
        return line;
    QString out;
    for (QChar c : line)
        out += control(c) ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : QString(c);
    return out;
}

} // namespace

void ServerCore::trace(int level, const QString &line)
{
    if (traceOn(level))
        server_.trace(level, escaped(line));
}

bool ServerCore::comTraceEnabled() const { return server_.ComTrace && bool(server_.OnTraceMessage); }

void ServerCore::comTrace(const QString &line)
{
    if (comTraceEnabled())
        server_.trace(0, escaped(line));
}

void ServerCore::connectTrace(const QString &line) { trace(1, line); }

// --- Mappings between the toolkit and OPC UA --------------------------------------

std::int32_t ServerCore::uaServerState(std::int32_t toolkitState)
{
    switch (toolkitState) {
    case ServerStates::Running: return 0;
    case ServerStates::Failed: return 1;
    case ServerStates::NoConfiguration: return 2;
    case ServerStates::Suspended: return 3;
    case ServerStates::Test: return 5;
    default: return 7; // Unknown
    }
}

StatusCode ServerCore::statusFromQuality(std::int16_t quality)
{
    const std::uint8_t q = std::uint8_t(quality & 0xFF);
    StatusCode status;
    switch (q & 0xFC) {
    case 0xC0: status = Status::Good; break;
    case 0xD8: status = Status::GoodLocalOverride; break;
    case 0x40: status = Status::Uncertain; break;
    case 0x44: status = Status::UncertainLastUsableValue; break;
    case 0x50: status = Status::UncertainSensorNotAccurate; break;
    case 0x54: status = Status::UncertainEngineeringUnitsExceeded; break;
    case 0x58: status = Status::UncertainSubNormal; break;
    case 0x00: status = Status::Bad; break;
    case 0x04: status = Status::BadConfigurationError; break;
    case 0x08: status = Status::BadNotConnected; break;
    case 0x0C: status = Status::BadDeviceFailure; break;
    case 0x10: status = Status::BadSensorFailure; break;
    case 0x14:
    case 0x18: status = Status::BadNoCommunication; break;
    case 0x1C: status = Status::BadOutOfService; break;
    case 0x20: status = Status::BadWaitingForInitialData; break;
    default: status = (q & 0xC0) == 0xC0 ? Status::Good : (q & 0xC0) == 0x40 ? Status::Uncertain : Status::Bad; break;
    }
    static const StatusCode limits[] = {0, Status::LimitLow, Status::LimitHigh, Status::LimitConstant};
    return status | limits[q & 0x03];
}

std::int16_t ServerCore::qualityFromStatus(StatusCode status)
{
    static const struct {
        StatusCode status;
        std::uint8_t quality;
    } table[] = {
        {Status::Good, 0xC0},
        {Status::GoodLocalOverride, 0xD8},
        {Status::Uncertain, 0x40},
        {Status::UncertainLastUsableValue, 0x44},
        {Status::UncertainSensorNotAccurate, 0x50},
        {Status::UncertainEngineeringUnitsExceeded, 0x54},
        {Status::UncertainSubNormal, 0x58},
        {Status::Bad, 0x00},
        {Status::BadConfigurationError, 0x04},
        {Status::BadNotConnected, 0x08},
        {Status::BadDeviceFailure, 0x0C},
        {Status::BadSensorFailure, 0x10},
        {Status::BadNoCommunication, 0x18},
        {Status::BadOutOfService, 0x1C},
        {Status::BadWaitingForInitialData, 0x20},
    };
    const StatusCode code = status & 0xFFFF0000u;
    std::uint8_t quality = isBad(status) ? 0x00 : isGood(status) ? 0xC0 : 0x40;
    for (const auto &entry : table)
        if (entry.status == code)
            quality = entry.quality;
    return std::int16_t(quality | ((status >> 8) & 0x03));
}

std::uint32_t ServerCore::dataTypeOf(VarType type)
{
    switch (type) {
    case VarType::Byte: return Id::Byte;
    case VarType::Integer: return Id::Int16;
    case VarType::Long: return Id::Int32;
    case VarType::Single: return Id::Float;
    case VarType::Double:
    case VarType::Currency: return Id::Double;
    case VarType::Date: return Id::DateTime;
    case VarType::String: return Id::String;
    case VarType::Boolean: return Id::Boolean;
    case VarType::Empty: break;
    }
    return Id::BaseDataType;
}

// --- The Server object's values -----------------------------------------------------

BuildInfo ServerCore::buildInfo() const
{
    BuildInfo info;
    info.productUri = config_.productUri;
    info.manufacturerName = server_.VendorName.isEmpty() ? AppInfo::companyName() : server_.VendorName;
    info.productName = server_.ServerName.isEmpty() ? AppInfo::Title : server_.ServerName;
    info.softwareVersion = AppInfo::versionText();
    info.buildNumber = AppInfo::buildNumber();
    info.buildDate = toDateTime(QDateTime::fromSecsSinceEpoch(AppInfo::buildEpoch(), Qt::UTC));
    return info;
}

ServerStatusDataType ServerCore::serverStatus() const
{
    ServerStatusDataType status;
    status.startTime = startTime_;
    status.currentTime = now();
    status.state = uaState();
    status.buildInfo = buildInfo();
    status.secondsTillShutdown = secondsTillShutdown();
    status.shutdownReason = LocalizedText{QString(), shutdownReason_};
    return status;
}

QHash<std::uint32_t, ValueSource> ServerCore::serverValues()
{
    auto u32 = [](std::uint32_t v) { return Variant::integer(BuiltinType::UInt32, v); };
    auto u16 = [](std::uint16_t v) { return Variant::integer(BuiltinType::UInt16, v); };
    QHash<std::uint32_t, ValueSource> v;
    v[Id::ServerArray] = [this] { return Variant::stringArray({config_.applicationUri}); };
    v[Id::NamespaceArray] = [this] {
        return Variant::stringArray({QStringLiteral("http://opcfoundation.org/UA/"), config_.namespaceUri});
    };
    v[Id::ServerStatus] = [this] { return Variant::extensionObject(makeExtension(serverStatus())); };
    v[Id::ServiceLevel] = [this] {
        const auto s = server_.ServerState();
        return Variant::integer(BuiltinType::Byte, s == ServerStates::Running || s == ServerStates::Test ? 255 : 0);
    };
    v[Id::Auditing] = [] { return Variant::boolean(false); };
    v[Id::StartTime] = [this] { return Variant::dateTime(startTime_); };
    v[Id::CurrentTime] = [this] { return Variant::dateTime(now()); };
    v[Id::State] = [this] { return Variant::integer(BuiltinType::Int32, uaState()); };
    v[Id::BuildInfoVar] = [this] { return Variant::extensionObject(makeExtension(buildInfo())); };
    v[Id::SecondsTillShutdown] = [this, u32] { return u32(secondsTillShutdown()); };
    v[Id::ShutdownReason] = [this] { return Variant::localizedText(LocalizedText{QString(), shutdownReason_}); };
    v[Id::ProductUri] = [this] { return Variant::string(buildInfo().productUri); };
    v[Id::ManufacturerName] = [this] { return Variant::string(buildInfo().manufacturerName); };
    v[Id::ProductName] = [this] { return Variant::string(buildInfo().productName); };
    v[Id::SoftwareVersion] = [this] { return Variant::string(buildInfo().softwareVersion); };
    v[Id::BuildNumber] = [this] { return Variant::string(buildInfo().buildNumber); };
    v[Id::BuildDate] = [this] { return Variant::dateTime(buildInfo().buildDate); };
    v[Id::ServerProfileArray] = [] {
        return Variant::stringArray({QStringLiteral("http://opcfoundation.org/UA-Profile/Server/MicroEmbeddedDevice")});
    };
    v[Id::LocaleIdArray] = [] { return Variant::stringArray({QStringLiteral("en")}); };
    v[Id::MinSupportedSampleRate] = [this] { return Variant::real(BuiltinType::Double, server_.MinUpdatePeriod); };
    v[Id::MaxBrowseContinuationPoints] = [this, u16] { return u16(std::uint16_t(config_.maxContinuationPoints)); };
    v[Id::MaxQueryContinuationPoints] = [u16] { return u16(0); };
    v[Id::MaxHistoryContinuationPoints] = [u16] { return u16(0); };
    v[Id::MaxArrayLength] = [this, u32] { return u32(std::uint32_t(config_.transport.decode.maxArrayLength)); };
    v[Id::MaxStringLength] = [this, u32] { return u32(std::uint32_t(config_.transport.decode.maxStringLength)); };
    v[Id::MaxByteStringLength] = [this, u32] { return u32(std::uint32_t(config_.transport.decode.maxStringLength)); };
    // Every service with an operation list is held to the one limit handleMessage
    // enforces.
    for (auto id :
         {Id::MaxNodesPerRead, Id::MaxNodesPerWrite, Id::MaxNodesPerBrowse, Id::MaxNodesPerRegisterNodes,
          Id::MaxNodesPerTranslateBrowsePathsToNodeIds, Id::MaxNodesPerMethodCall, Id::MaxMonitoredItemsPerCall})
        v[id] = [this, u32] { return u32(config_.maxNodesPerRequest); };
    addDiagnosticsValues(v);
    return v;
}

} // namespace Ua

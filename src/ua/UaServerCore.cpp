#include "ua/UaServerCore.h"
#include "common/AppInfo.h"
#include "common/Error.h"
#include "opc/OPCServer.h"

#include <QDate>
#include <QLocale>
#include <algorithm>
#include <cmath>

namespace Ua {

ServerCore::ServerCore(OPCServer &server, ServerConfig config, DescriptionFn describe)
    : server_(server), config_(std::move(config)), describe_(std::move(describe)),
      addressSpace_(server, config_.namespaceUri)
{
    clock_.start();
    publishTimer_.setSingleShot(true);
    publishTimer_.callOnTimeout([this] { runSubscriptions(); });
}

ServerCore::~ServerCore() { stop(); }

const ServerCore::ServiceEntry *ServerCore::findService(std::uint32_t encodingId)
{
    static const ServiceEntry services[] = {
        {Id::FindServersRequest_Binary, "FindServers", &ServerCore::findServers, false},
        {Id::GetEndpointsRequest_Binary, "GetEndpoints", &ServerCore::getEndpoints, false},
        {Id::CreateSessionRequest_Binary, "CreateSession", &ServerCore::createSession, false},
        {Id::ActivateSessionRequest_Binary, "ActivateSession", &ServerCore::activateSession, false},
        {Id::CloseSessionRequest_Binary, "CloseSession", &ServerCore::closeSession, false},
        {Id::CancelRequest_Binary, "Cancel", &ServerCore::cancel, true},
        {Id::BrowseRequest_Binary, "Browse", &ServerCore::browse, true},
        {Id::BrowseNextRequest_Binary, "BrowseNext", &ServerCore::browseNext, true},
        {Id::TranslateBrowsePathsToNodeIdsRequest_Binary, "TranslateBrowsePathsToNodeIds",
         &ServerCore::translateBrowsePaths, true},
        {Id::RegisterNodesRequest_Binary, "RegisterNodes", &ServerCore::registerNodes, true},
        {Id::UnregisterNodesRequest_Binary, "UnregisterNodes", &ServerCore::unregisterNodes, true},
        {Id::ReadRequest_Binary, "Read", &ServerCore::read, true},
        {Id::WriteRequest_Binary, "Write", &ServerCore::write, true},
        {Id::CreateSubscriptionRequest_Binary, "CreateSubscription", &ServerCore::createSubscription, true},
        {Id::ModifySubscriptionRequest_Binary, "ModifySubscription", &ServerCore::modifySubscription, true},
        {Id::SetPublishingModeRequest_Binary, "SetPublishingMode", &ServerCore::setPublishingMode, true},
        {Id::PublishRequest_Binary, "Publish", &ServerCore::publish, true},
        {Id::RepublishRequest_Binary, "Republish", &ServerCore::republish, true},
        {Id::TransferSubscriptionsRequest_Binary, "TransferSubscriptions", &ServerCore::unsupportedService, true},
        {Id::DeleteSubscriptionsRequest_Binary, "DeleteSubscriptions", &ServerCore::deleteSubscriptions, true},
        {Id::CreateMonitoredItemsRequest_Binary, "CreateMonitoredItems", &ServerCore::createMonitoredItems, true},
        {Id::ModifyMonitoredItemsRequest_Binary, "ModifyMonitoredItems", &ServerCore::modifyMonitoredItems, true},
        {Id::SetMonitoringModeRequest_Binary, "SetMonitoringMode", &ServerCore::setMonitoringMode, true},
        {Id::SetTriggeringRequest_Binary, "SetTriggering", &ServerCore::unsupportedService, true},
        {Id::DeleteMonitoredItemsRequest_Binary, "DeleteMonitoredItems", &ServerCore::deleteMonitoredItems, true},
    };
    for (const auto &s : services)
        if (s.requestId == encodingId)
            return &s;
    return nullptr;
}

void ServerCore::start()
{
    if (started_)
        return;
    started_ = true;
    startTime_ = nowDateTime();
    addressSpace_.buildStandard(serverValues());
    addressSpace_.syncItems();
    watchItems();
    trace(1, QStringLiteral("UA server started at %1 with %2 items")
                 .arg(config_.endpointUrl)
                 .arg(addressSpace_.itemCount()));
}

void ServerCore::stop()
{
    while (!sessions_.empty())
        endSession(sessions_.back().get(), QStringLiteral("server stopped"));
    for (int *id : {&itemObserver_, &stateObserver_}) {
        if (*id)
            server_.removeObserver(*id);
        *id = 0;
    }
    publishTimer_.stop();
    std::vector<Connection *> open;
    for (auto &c : connections_)
        open.push_back(c.get());
    for (Connection *c : open)
        c->fail(Status::BadServerHalted, QStringLiteral("Server stopped"));
}

void ServerCore::tick()
{
    std::vector<Connection *> open;
    for (auto &c : connections_)
        open.push_back(c.get());
    for (Connection *c : open)
        c->tick();
    expireSessions();
    expirePublishRequests();
    if (dispatchDepth_ == 0)
        endedSessions_.clear();
}

Connection *ServerCore::addConnection(const QString &peer)
{
    auto connection = std::make_unique<Connection>(*this, config_.transport);
    connection->peer = peer;
    Connection *c = connection.get();
    connections_.push_back(std::move(connection));
    trace(1, QStringLiteral("UA connection from %1").arg(peer));
    return c;
}

void ServerCore::removeConnection(Connection *connection)
{
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->get() != connection)
            continue;
        connection->close();
        connections_.erase(it);
        return;
    }
}

void ServerCore::connectionClosed(Connection &connection)
{
    // Sessions outlive their channel until they time out: a client may come back on
    // a new channel and activate them there. Publish requests cannot be answered
    // on another channel, so they go.
    dropPublishRequests(connection);
    trace(1, QStringLiteral("UA connection from %1 closed").arg(connection.peer));
}

void ServerCore::requestDisconnect(const QString &reason)
{
    shutdownReason_ = reason;
    shutdownAtMs_ = nowMs() + qint64(config_.secondsTillShutdown) * 1000;
    trace(1, QStringLiteral("UA clients asked to disconnect: %1").arg(reason));
}

std::uint32_t ServerCore::secondsTillShutdown() const
{
    if (shutdownAtMs_ < 0)
        return 0;
    const qint64 left = shutdownAtMs_ - nowMs();
    return left <= 0 ? 0 : std::uint32_t((left + 999) / 1000);
}

void ServerCore::handleMessage(Connection &connection, std::uint32_t requestId, const QByteArray &body)
{
    addressSpace_.syncItems();
    std::uint32_t handle = 0;
    const ServiceEntry *service = nullptr;
    struct Depth {
        int &depth;
        std::vector<std::unique_ptr<Session>> &ended;
        explicit Depth(int &d, std::vector<std::unique_ptr<Session>> &e) : depth(d), ended(e) { ++depth; }
        ~Depth()
        {
            if (--depth == 0)
                ended.clear();
        }
    } depth(dispatchDepth_, endedSessions_);
    try {
        Decoder d(body, config_.transport.decode);
        const NodeId typeId = decodeNodeId(d);
        const char *start = d.position();
        const std::size_t size = d.remaining();
        RequestContext context{connection, requestId, {}, nullptr};
        decodeInto(d, context.header);
        handle = context.header.requestHandle;
        service = typeId.ns == 0 && typeId.kind == NodeId::Kind::Numeric ? findService(typeId.numeric) : nullptr;
        if (!service) {
            trace(4, QStringLiteral("UA unsupported request %1").arg(typeId.toString()));
            throw ServiceError{Status::BadServiceUnsupported};
        }
        if (traceOn(4))
            trace(4, QStringLiteral("UA %1 request %2 on channel %3")
                         .arg(QLatin1String(service->name))
                         .arg(handle)
                         .arg(connection.channelId()));
        if (service->needsSession) {
            Session *session = findSession(context.header.authenticationToken);
            if (!session)
                throw ServiceError{Status::BadSessionIdInvalid};
            if (session->channelId != connection.channelId())
                throw ServiceError{Status::BadSecureChannelIdInvalid};
            if (!session->activated)
                throw ServiceError{Status::BadSessionNotActivated};
            session->lastActivityMs = nowMs();
            context.session = session;
        }
        Decoder request(start, size, config_.transport.decode);
        // The reused buffer serves the outermost request; a nested one gets its own.
        QByteArray nested;
        QByteArray &out = dispatchDepth_ == 1 ? responseBuffer_ : nested;
        out.resize(0);
        Encoder e(out);
        (this->*service->handler)(context, request, e);
        if (!context.deferred)
            connection.sendResponse(requestId, handle, out);
        // A large answer must not pin its memory until the next request.
        if (responseBuffer_.capacity() > (1 << 20))
            responseBuffer_ = QByteArray();
    } catch (const ServiceError &error) {
        sendFault(connection, requestId, handle, error.status);
    } catch (const CodecError &error) {
        sendFault(connection, requestId, handle,
                  error.status == Status::BadEncodingLimitsExceeded ? error.status : Status::BadDecodingError);
    } catch (const RuntimeError &) {
        sendFault(connection, requestId, handle, Status::BadInternalError);
    } catch (const std::bad_alloc &) {
        responseBuffer_ = QByteArray();
        sendFault(connection, requestId, handle, Status::BadOutOfMemory);
    }
}

void ServerCore::sendFault(Connection &connection, std::uint32_t requestId, std::uint32_t requestHandle,
                           StatusCode status)
{
    if (traceOn(4))
        trace(4, QStringLiteral("UA request %1 fails: %2").arg(requestHandle).arg(QLatin1String(statusName(status))));
    connection.sendResponse(requestId, requestHandle, encodeServiceFault(requestHandle, status));
}

bool ServerCore::traceOn(int level) const { return server_.OnTraceMessage && server_.TraceLevel() >= level; }

void ServerCore::checkOperationCount(std::size_t count) const
{
    if (count == 0)
        throw ServiceError{Status::BadNothingToDo};
    if (count > config_.maxNodesPerRequest)
        throw ServiceError{Status::BadTooManyOperations};
}

void ServerCore::checkTimestampsToReturn(std::int32_t value)
{
    if (value < 0 || value > 3)
        throw ServiceError{Status::BadTimestampsToReturnInvalid};
}

void ServerCore::trace(int level, const QString &line)
{
    if (traceOn(level))
        server_.trace(level, line);
}

bool ServerCore::comTraceEnabled() const { return server_.ComTrace && bool(server_.OnTraceMessage); }

void ServerCore::comTrace(const QString &line)
{
    if (comTraceEnabled())
        server_.trace(0, line);
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
    info.buildNumber = AppInfo::versionText();
    const QDate built = QLocale::c().toDate(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    info.buildDate = toDateTime(built.startOfDay(Qt::UTC));
    return info;
}

ServerStatusDataType ServerCore::serverStatus() const
{
    ServerStatusDataType status;
    status.startTime = startTime_;
    status.currentTime = nowDateTime();
    status.state = uaServerState(server_.ServerState());
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
    v[Id::CurrentTime] = [] { return Variant::dateTime(nowDateTime()); };
    v[Id::State] = [this] { return Variant::integer(BuiltinType::Int32, uaServerState(server_.ServerState())); };
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
    for (auto id : {Id::MaxNodesPerRead, Id::MaxNodesPerWrite, Id::MaxNodesPerBrowse, Id::MaxNodesPerRegisterNodes,
                    Id::MaxNodesPerTranslateBrowsePathsToNodeIds})
        v[id] = [this, u32] { return u32(config_.maxNodesPerRequest); };
    return v;
}

} // namespace Ua

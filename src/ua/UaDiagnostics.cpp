// What the Server object tells about the server's own life: ServerDiagnosticsSummary
// and the arguments of its methods. Counters move where their events happen: session
// time-outs in expireSessions, refused requests here (every ServiceFault an answer
// to a request passes through countRejection).
#include "ua/UaServerCore.h"

#include <algorithm>
#include <iterator>
#include <set>

namespace Ua {

namespace {

// Refusals for what the client may do or who it is, rather than what it asked.
bool securityRefusal(StatusCode status)
{
    static const StatusCode codes[] = {Status::BadUserAccessDenied,       Status::BadIdentityTokenInvalid,
                                       Status::BadIdentityTokenRejected,  Status::BadSecurityChecksFailed,
                                       Status::BadSecureChannelIdInvalid, Status::BadSecurityPolicyRejected,
                                       Status::BadSecurityModeRejected,   Status::BadNonceInvalid};
    return std::find(std::begin(codes), std::end(codes), status) != std::end(codes);
}

Variant arguments(std::initializer_list<Argument> list)
{
    std::vector<Variant> elements;
    for (const Argument &a : list)
        elements.push_back(Variant::extensionObject(makeExtension(a)));
    return Variant::array(BuiltinType::ExtensionObject, std::move(elements));
}

Argument argument(const char *name, std::int32_t valueRank, const char *description)
{
    Argument a;
    a.name = QString::fromLatin1(name);
    a.dataType = NodeId(0, Id::UInt32);
    a.valueRank = valueRank;
    if (valueRank == 1)
        a.arrayDimensions = {0};
    a.description = LocalizedText{QStringLiteral("en"), QString::fromLatin1(description)};
    return a;
}

} // namespace

void ServerCore::countRejection(const TypeDesc *request, StatusCode status)
{
    ++diagnostics_.rejectedRequests;
    const bool security = securityRefusal(status);
    if (security)
        ++diagnostics_.securityRejectedRequests;
    if (request == &CreateSessionRequest::desc() || request == &ActivateSessionRequest::desc()) {
        ++diagnostics_.rejectedSessions;
        if (security)
            ++diagnostics_.securityRejectedSessions;
    }
}

ServerDiagnosticsSummaryDataType ServerCore::diagnosticsSummary() const
{
    ServerDiagnosticsSummaryDataType d;
    d.currentSessionCount = std::uint32_t(sessions_.size());
    // Session and subscription ids are numbered from 1 and never reused.
    d.cumulatedSessionCount = nextSessionNumber_ - 1;
    d.securityRejectedSessionCount = diagnostics_.securityRejectedSessions;
    d.rejectedSessionCount = diagnostics_.rejectedSessions;
    d.sessionTimeoutCount = diagnostics_.sessionTimeouts;
    d.sessionAbortCount = diagnostics_.sessionAborts;
    d.currentSubscriptionCount = std::uint32_t(subscriptionCount());
    d.cumulatedSubscriptionCount = nextSubscriptionId_ - 1;
    std::set<double> intervals;
    forEachSubscriber([&](const Session &session) {
        for (const auto &s : session.subscriptions.subscriptions)
            intervals.insert(s->publishingInterval);
    });
    d.publishingIntervalCount = std::uint32_t(intervals.size());
    d.securityRejectedRequestsCount = diagnostics_.securityRejectedRequests;
    d.rejectedRequestsCount = diagnostics_.rejectedRequests;
    return d;
}

void ServerCore::addDiagnosticsValues(QHash<std::uint32_t, ValueSource> &v)
{
    v[Id::ServerDiagnosticsSummary] = [this] { return Variant::extensionObject(makeExtension(diagnosticsSummary())); };
    using Field = std::uint32_t ServerDiagnosticsSummaryDataType::*;
    static const std::pair<std::uint32_t, Field> fields[] = {
        {Id::ServerViewCount, &ServerDiagnosticsSummaryDataType::serverViewCount},
        {Id::CurrentSessionCount, &ServerDiagnosticsSummaryDataType::currentSessionCount},
        {Id::CumulatedSessionCount, &ServerDiagnosticsSummaryDataType::cumulatedSessionCount},
        {Id::SecurityRejectedSessionCount, &ServerDiagnosticsSummaryDataType::securityRejectedSessionCount},
        {Id::RejectedSessionCount, &ServerDiagnosticsSummaryDataType::rejectedSessionCount},
        {Id::SessionTimeoutCount, &ServerDiagnosticsSummaryDataType::sessionTimeoutCount},
        {Id::SessionAbortCount, &ServerDiagnosticsSummaryDataType::sessionAbortCount},
        {Id::CurrentSubscriptionCount, &ServerDiagnosticsSummaryDataType::currentSubscriptionCount},
        {Id::CumulatedSubscriptionCount, &ServerDiagnosticsSummaryDataType::cumulatedSubscriptionCount},
        {Id::PublishingIntervalCount, &ServerDiagnosticsSummaryDataType::publishingIntervalCount},
        {Id::SecurityRejectedRequestsCount, &ServerDiagnosticsSummaryDataType::securityRejectedRequestsCount},
        {Id::RejectedRequestsCount, &ServerDiagnosticsSummaryDataType::rejectedRequestsCount},
    };
    for (const auto &entry : fields) {
        const Field field = entry.second;
        v[entry.first] = [this, field] { return Variant::integer(BuiltinType::UInt32, diagnosticsSummary().*field); };
    }
    v[Id::EnabledFlag] = [] { return Variant::boolean(true); };

    const Argument subscriptionId = argument("SubscriptionId", -1, "The subscription");
    v[Id::GetMonitoredItemsInputArguments] = [subscriptionId] { return arguments({subscriptionId}); };
    v[Id::ResendDataInputArguments] = [subscriptionId] { return arguments({subscriptionId}); };
    v[Id::GetMonitoredItemsOutputArguments] = [] {
        return arguments({argument("ServerHandles", 1, "The server's ids of the monitored items"),
                          argument("ClientHandles", 1, "The client handles of the monitored items")});
    };
}

} // namespace Ua

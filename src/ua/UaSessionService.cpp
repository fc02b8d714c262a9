// Session service set: CreateSession, ActivateSession, CloseSession, Cancel, and the
// session time-outs. A session's first activation is the toolkit's client connect,
// its end the client disconnect.
#include "opc/OPCServer.h"
#include "security/Certificate.h"
#include "ua/UaServerCore.h"

#include <algorithm>
#include <cmath>

namespace Ua {

Session *ServerCore::findSession(const NodeId &authenticationToken)
{
    if (authenticationToken.isNull())
        return nullptr;
    for (auto &s : sessions_)
        if (s->authenticationToken == authenticationToken)
            return s.get();
    return nullptr;
}

void ServerCore::endSession(Session *session, const QString &why, bool deleteSubscriptions)
{
    auto it = std::find_if(sessions_.begin(), sessions_.end(), [session](const auto &s) { return s.get() == session; });
    if (it == sessions_.end())
        return;
    std::unique_ptr<Session> ended = std::move(*it);
    sessions_.erase(it);
    trace(1, QStringLiteral("UA session %1 \"%2\" ended: %3").arg(ended->sessionId.toString(), ended->name, why));
    if (ended->counted)
        server_.clientDisconnected();
    // Only the client's own CloseSession may delete them: otherwise they wait for a
    // transfer to the client's next session (OPC 10000-4, Session Service Set).
    if (deleteSubscriptions || ended->subscriptions.subscriptions.empty()) {
        endSubscriptions(*ended, Status::BadSessionClosed);
        return;
    }
    failPublishRequests(*ended, Status::BadSessionClosed);
    keepOrphans(std::move(ended));
}

void ServerCore::expireSessions()
{
    const qint64 now = nowMs();
    std::vector<Session *> expired;
    for (auto &s : sessions_) {
        // Sessions never activated hold a place others may need: they go sooner.
        const double timeout =
            s->activated ? s->timeoutMs : std::min(s->timeoutMs, config_.unactivatedSessionTimeoutMs);
        if (double(now - s->lastActivityMs) > timeout)
            expired.push_back(s.get());
    }
    diagnostics_.sessionTimeouts += std::uint32_t(expired.size());
    for (Session *s : expired)
        endSession(s, QStringLiteral("timed out"));
}

bool ServerCore::giveUpSession()
{
    Session *least = nullptr;
    auto lessValuable = [](const Session &a, const Session &b) {
        if (a.activated != b.activated)
            return !a.activated;
        return a.lastActivityMs < b.lastActivityMs;
    };
    for (auto &s : sessions_)
        if ((!s->activated || s->subscriptions.subscriptions.empty()) && (!least || lessValuable(*s, *least)))
            least = s.get();
    if (!least)
        return false;
    ++diagnostics_.sessionAborts; // ended by the server, neither closed nor timed out
    endSession(least, QStringLiteral("given up for a new client"));
    return true;
}

void ServerCore::createSession(RequestContext &context, const CreateSessionRequest &request,
                               CreateSessionResponse &response)
{
    const QString address = addressOf(context.channel.peer());
    if (std::count_if(sessions_.begin(), sessions_.end(), [&](const auto &s) { return s->address == address; }) >=
        config_.sessionsPerAddress)
        throw ServiceError{Status::BadTooManySessions};
    if (int(sessions_.size()) >= config_.maxSessions && !giveUpSession())
        throw ServiceError{Status::BadTooManySessions};
    checkClientCertificate(context.channel, request);

    auto session = std::make_unique<Session>();
    session->sessionId = NodeId(1, nextSessionNumber_++);
    session->authenticationToken = NodeId::ofBytes(1, randomBytes(32));
    session->name = request.sessionName.left(256);
    session->address = address;
    session->channelId = context.channel.channelId();
    double timeout = request.requestedSessionTimeout;
    if (!std::isfinite(timeout) || timeout <= 0)
        timeout = config_.maxSessionTimeoutMs;
    session->timeoutMs = std::clamp(timeout, config_.minSessionTimeoutMs, config_.maxSessionTimeoutMs);
    session->lastActivityMs = nowMs();
    session->serverNonce = randomBytes(32);
    session->clientCertificate = context.channel.peerCertificate();
    session->applicationUri = request.clientDescription.applicationUri;

    // The certificate also goes out on a channel without security: a UserName
    // token's password is encrypted with it.
    response.serverCertificate = serverCertificate();
    if (const SecurityPolicy *policy = context.channel.securityPolicy(); policy && !policy->certificate().isEmpty()) {
        const std::optional<QByteArray> signature = policy->sign(request.clientCertificate + request.clientNonce);
        if (!signature)
            throw ServiceError{Status::BadInternalError};
        response.serverSignature = SignatureData{policy->signatureAlgorithm(), *signature};
    }
    response.sessionId = session->sessionId;
    response.authenticationToken = session->authenticationToken;
    response.revisedSessionTimeout = session->timeoutMs;
    response.serverNonce = session->serverNonce;
    response.serverEndpoints = endpoints(request.endpointUrl);
    response.maxRequestMessageSize = config_.transport.maxMessageSize;
    trace(1, QStringLiteral("UA session %1 \"%2\" created, time-out %3 ms")
                 .arg(session->sessionId.toString(), session->name)
                 .arg(session->timeoutMs));
    sessions_.push_back(std::move(session));
}

void ServerCore::activateSession(RequestContext &context, const ActivateSessionRequest &request,
                                 ActivateSessionResponse &response)
{
    Session *session = findSession(request.requestHeader.authenticationToken);
    if (!session)
        throw ServiceError{Status::BadSessionIdInvalid};
    checkClientSignature(context.channel, *session, request.clientSignature);
    const bool userName = request.userIdentityToken.typeId.isNumeric(Id::UserNameIdentityToken_Binary);
    if (userName && nowMs() < userChecksBlockedUntilMs_) {
        // Guessing must stay slow: while a failure's delay runs, no password is checked.
        delayedFaults_.push_back(
            {&context.channel, context.requestId, context.requestHandle, userChecksBlockedUntilMs_});
        context.deferred = true;
        return;
    }
    UserIdentity user;
    const IdentityRequest identity{request.userIdentityToken, request.userTokenSignature,
                                   context.channel.securityPolicyUri(), session->serverNonce};
    if (const StatusCode refused = config_.accessControl->activateSession(identity, user); isBad(refused)) {
        if (refused != Status::BadUserAccessDenied)
            throw ServiceError{refused};
        refuseUser(context, *session, user);
        return;
    }
    if (userName)
        failedActivationsInRow_ = 0;

    session->channelId = context.channel.channelId();
    session->lastActivityMs = nowMs();
    if (!session->counted) {
        if (!server_.clientConnecting())
            throw ServiceError{Status::BadUserAccessDenied};
        session->counted = true;
    }
    session->user = std::move(user);
    session->secured = context.channel.securityMode() != SecurityMode::None;
    session->activated = true;
    session->serverNonce = randomBytes(32);
    trace(1, QStringLiteral("UA session %1 \"%2\" activated on channel %3")
                 .arg(session->sessionId.toString(), session->name)
                 .arg(session->channelId));
    response.serverNonce = session->serverNonce;
}

void ServerCore::checkClientCertificate(const Channel &channel, const CreateSessionRequest &request) const
{
    if (!endpointOffers(channel.securityPolicyUri(), channel.securityMode()))
        throw ServiceError{Status::BadSecurityPolicyRejected};
    if (channel.securityMode() == SecurityMode::None)
        return;
    if (request.clientNonce.size() < 32)
        throw ServiceError{Status::BadNonceInvalid};
    // The session's certificate is the one the channel was opened with, and it names
    // the client application.
    const auto session = Security::Certificate::chainFromDer(request.clientCertificate);
    const auto channelChain = Security::Certificate::chainFromDer(channel.peerCertificate());
    if (session.empty() || channelChain.empty() || session.front().der() != channelChain.front().der())
        throw ServiceError{Status::BadSecurityChecksFailed};
    if (session.front().applicationUri() != request.clientDescription.applicationUri)
        throw ServiceError{Status::BadCertificateUriInvalid};
}

void ServerCore::checkClientSignature(const Channel &channel, const Session &session,
                                      const SignatureData &signature) const
{
    // A session lives on channels of the client that created it: the same certificate.
    if (channel.peerCertificate() != session.clientCertificate)
        throw ServiceError{Status::BadSecurityChecksFailed};
    const SecurityPolicy *policy = channel.securityPolicy();
    if (channel.securityMode() == SecurityMode::None || !policy)
        return;
    if (signature.algorithm != policy->signatureAlgorithm() ||
        !policy->verify(channel.peerCertificate(), policy->certificate() + session.serverNonce, signature.signature))
        throw ServiceError{Status::BadApplicationSignatureInvalid};
}

void ServerCore::refuseUser(RequestContext &context, const Session &session, const UserIdentity &user)
{
    ++failedActivations_;
    const int doublings = std::min(failedActivationsInRow_++, 8);
    const qint64 delay =
        std::min<qint64>(qint64(config_.failedActivationDelayMs) << doublings, config_.maxFailedActivationDelayMs);
    userChecksBlockedUntilMs_ = nowMs() + delay;
    delayedFaults_.push_back({&context.channel, context.requestId, context.requestHandle, userChecksBlockedUntilMs_});
    context.deferred = true;
    trace(1, QStringLiteral("UA session %1 \"%2\": user \"%3\" refused (%4 in a row, %5 in all), answered in %6 ms")
                 .arg(session.sessionId.toString(), session.name, user.name)
                 .arg(failedActivationsInRow_)
                 .arg(failedActivations_)
                 .arg(delay));
}

void ServerCore::sendDelayedFaults()
{
    const qint64 now = nowMs();
    std::vector<DelayedFault> due;
    std::erase_if(delayedFaults_, [&](const DelayedFault &f) {
        if (f.dueMs > now)
            return false;
        due.push_back(f);
        return true;
    });
    for (const DelayedFault &f : due)
        if (!f.channel->isClosed())
            sendFault(*f.channel, f.requestId, f.requestHandle, Status::BadUserAccessDenied);
}

void ServerCore::closeSession(RequestContext &context, const CloseSessionRequest &request, CloseSessionResponse &)
{
    Session *session = findSession(request.requestHeader.authenticationToken);
    if (!session)
        throw ServiceError{Status::BadSessionIdInvalid};
    if (session->channelId != context.channel.channelId())
        throw ServiceError{Status::BadSecureChannelIdInvalid};
    endSession(session, QStringLiteral("closed by the client"), request.deleteSubscriptions);
}

void ServerCore::cancel(RequestContext &context, const CancelRequest &request, CancelResponse &response)
{
    // Only Publish requests ever wait; every other request is answered at once.
    std::vector<PendingPublish> cancelled;
    auto &queue = context.session->subscriptions.publishQueue;
    for (auto it = queue.begin(); it != queue.end();) {
        if (it->requestHandle != request.requestHandle) {
            ++it;
            continue;
        }
        cancelled.push_back(std::move(*it));
        it = queue.erase(it);
    }
    response.cancelCount = std::uint32_t(cancelled.size());
    for (PendingPublish &p : cancelled)
        if (!p.channel->isClosed())
            sendFault(*p.channel, p.requestId, p.requestHandle, Status::BadRequestCancelledByClient);
}

} // namespace Ua

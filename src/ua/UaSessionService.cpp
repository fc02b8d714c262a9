// Session service set: CreateSession, ActivateSession, CloseSession, Cancel, and the
// session time-outs. A session's first activation is the toolkit's client connect,
// its end the client disconnect.
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

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

void ServerCore::endSession(Session *session, const QString &why)
{
    auto it = std::find_if(sessions_.begin(), sessions_.end(), [session](const auto &s) { return s.get() == session; });
    if (it == sessions_.end())
        return;
    const std::unique_ptr<Session> ended = std::move(*it);
    sessions_.erase(it);
    endSubscriptions(*ended, Status::BadSessionClosed);
    trace(1, QStringLiteral("UA session %1 \"%2\" ended: %3").arg(ended->sessionId.toString(), ended->name, why));
    if (ended->counted)
        server_.clientDisconnected();
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
    for (Session *s : expired)
        endSession(s, QStringLiteral("timed out"));
}

void ServerCore::createSession(RequestContext &context, const CreateSessionRequest &request,
                               CreateSessionResponse &response)
{
    if (int(sessions_.size()) >= config_.maxSessions)
        throw ServiceError{Status::BadTooManySessions};

    auto session = std::make_unique<Session>();
    session->sessionId = NodeId(1, nextSessionNumber_++);
    session->authenticationToken = NodeId::ofBytes(1, randomBytes(32));
    session->name = request.sessionName.left(256);
    session->channelId = context.channel.channelId();
    double timeout = request.requestedSessionTimeout;
    if (!std::isfinite(timeout) || timeout <= 0)
        timeout = config_.maxSessionTimeoutMs;
    session->timeoutMs = std::clamp(timeout, config_.minSessionTimeoutMs, config_.maxSessionTimeoutMs);
    session->lastActivityMs = nowMs();
    session->serverNonce = randomBytes(32);

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
    UserIdentity user;
    const IdentityRequest identity{request.userIdentityToken, request.userTokenSignature,
                                   context.channel.securityPolicyUri(), session->serverNonce};
    if (const StatusCode refused = config_.accessControl->activateSession(identity, user); isBad(refused))
        throw ServiceError{refused};

    session->channelId = context.channel.channelId();
    session->lastActivityMs = nowMs();
    if (!session->counted) {
        if (!server_.clientConnecting())
            throw ServiceError{Status::BadUserAccessDenied};
        session->counted = true;
    }
    session->user = std::move(user);
    session->activated = true;
    session->serverNonce = randomBytes(32);
    trace(1, QStringLiteral("UA session %1 \"%2\" activated on channel %3")
                 .arg(session->sessionId.toString(), session->name)
                 .arg(session->channelId));
    response.serverNonce = session->serverNonce;
}

void ServerCore::closeSession(RequestContext &context, const CloseSessionRequest &request, CloseSessionResponse &)
{
    Session *session = findSession(request.requestHeader.authenticationToken);
    if (!session)
        throw ServiceError{Status::BadSessionIdInvalid};
    if (session->channelId != context.channel.channelId())
        throw ServiceError{Status::BadSecureChannelIdInvalid};
    endSession(session, QStringLiteral("closed by the client"));
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

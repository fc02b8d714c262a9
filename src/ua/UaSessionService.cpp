// Session service set: CreateSession, ActivateSession, CloseSession, Cancel, and the
// session time-outs. A session's first activation is the toolkit's client connect,
// its end the client disconnect.
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

#include <QRandomGenerator>
#include <cmath>

namespace Ua {

namespace {
QByteArray randomBytes(int n)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(b.data()), n / 4);
    return b;
}
} // namespace

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
    // Kept alive until no request is being served: the toolkit's disconnect event may
    // let other events run, and a request in progress may still point at it.
    endedSessions_.push_back(std::move(*it));
    sessions_.erase(it);
    endSubscriptions(*session, Status::BadSessionClosed);
    trace(1, QStringLiteral("UA session %1 \"%2\" ended: %3").arg(session->sessionId.toString(), session->name, why));
    if (session->counted) {
        session->counted = false;
        server_.clientDisconnected();
    }
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

void ServerCore::createSession(RequestContext &context, Decoder &d, Encoder &e)
{
    CreateSessionRequest request;
    decodeInto(d, request);
    if (int(sessions_.size()) >= config_.maxSessions)
        throw ServiceError{Status::BadTooManySessions};

    auto session = std::make_unique<Session>();
    const std::uint32_t number = nextSessionNumber_++;
    session->sessionId = NodeId(1, number);
    session->authenticationToken = NodeId::ofBytes(1, randomBytes(32));
    session->name = request.sessionName.left(256);
    session->channelId = context.connection.channelId();
    double timeout = request.requestedSessionTimeout;
    if (!std::isfinite(timeout) || timeout <= 0)
        timeout = config_.maxSessionTimeoutMs;
    session->timeoutMs = std::clamp(timeout, config_.minSessionTimeoutMs, config_.maxSessionTimeoutMs);
    session->lastActivityMs = nowMs();

    CreateSessionResponse response;
    stamp(response, request.requestHeader);
    response.sessionId = session->sessionId;
    response.authenticationToken = session->authenticationToken;
    response.revisedSessionTimeout = session->timeoutMs;
    response.serverNonce = randomBytes(32);
    response.serverEndpoints = endpoints(request.endpointUrl);
    response.maxRequestMessageSize = config_.transport.maxMessageSize;
    trace(1, QStringLiteral("UA session %1 \"%2\" created, time-out %3 ms")
                 .arg(session->sessionId.toString(), session->name)
                 .arg(session->timeoutMs));
    sessions_.push_back(std::move(session));
    encodeMessage(e, response);
}

void ServerCore::activateSession(RequestContext &context, Decoder &d, Encoder &e)
{
    ActivateSessionRequest request;
    decodeInto(d, request);
    Session *session = findSession(request.requestHeader.authenticationToken);
    if (!session)
        throw ServiceError{Status::BadSessionIdInvalid};

    // Anonymous only: an empty token or an AnonymousIdentityToken with whatever
    // policy id the client took from our endpoint.
    const ExtensionObject &token = request.userIdentityToken;
    const bool empty = token.encoding == ExtensionObject::Encoding::None && token.typeId.isNull();
    AnonymousIdentityToken anonymous;
    if (!empty && !decodeExtension(token, anonymous, config_.transport.decode))
        throw ServiceError{token.typeId.isNumeric(Id::UserNameIdentityToken_Binary) ? Status::BadIdentityTokenRejected
                                                                                    : Status::BadIdentityTokenInvalid};

    session->channelId = context.connection.channelId();
    session->lastActivityMs = nowMs();
    if (!session->counted) {
        if (!server_.clientConnecting())
            throw ServiceError{Status::BadUserAccessDenied};
        // The connect event may have let other events run, the session's end included.
        session = findSession(request.requestHeader.authenticationToken);
        if (!session) {
            server_.clientDisconnected();
            throw ServiceError{Status::BadSessionIdInvalid};
        }
        session->counted = true;
    }
    session->activated = true;
    trace(1, QStringLiteral("UA session %1 \"%2\" activated on channel %3")
                 .arg(session->sessionId.toString(), session->name)
                 .arg(session->channelId));

    ActivateSessionResponse response;
    stamp(response, request.requestHeader);
    response.serverNonce = randomBytes(32);
    encodeMessage(e, response);
}

void ServerCore::closeSession(RequestContext &context, Decoder &d, Encoder &e)
{
    CloseSessionRequest request;
    decodeInto(d, request);
    Session *session = findSession(request.requestHeader.authenticationToken);
    if (!session)
        throw ServiceError{Status::BadSessionIdInvalid};
    if (session->channelId != context.connection.channelId())
        throw ServiceError{Status::BadSecureChannelIdInvalid};
    endSession(session, QStringLiteral("closed by the client"));
    CloseSessionResponse response;
    stamp(response, request.requestHeader);
    encodeMessage(e, response);
}

void ServerCore::cancel(RequestContext &context, Decoder &d, Encoder &e)
{
    // Only Publish requests ever wait; every other request is answered at once.
    CancelRequest request;
    decodeInto(d, request);
    CancelResponse response;
    stamp(response, request.requestHeader);
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
        if (!p.connection->isClosed())
            sendFault(*p.connection, p.requestId, p.requestHandle, Status::BadRequestCancelledByClient);
    encodeMessage(e, response);
}

} // namespace Ua

// Subscription service set: CreateSubscription, ModifySubscription,
// SetPublishingMode, DeleteSubscriptions, Publish and Republish, and the publishing
// cycle. One single-shot timer serves every subscription: it fires when the next one
// is due. Publish requests wait in their session's queue until a subscription has
// notifications or a keep-alive to send. A session keeps its subscriptions across
// channels; TransferSubscriptions (UaSubscriptionTransfer.cpp) moves them to
// another session.
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace Ua {

namespace {

std::uint32_t nextSequence(std::uint32_t n) { return n == 0xFFFFFFFFu ? 1 : n + 1; }

// Cycles fall on multiples of their interval, so that subscriptions of the same
// interval share one wake-up of the server (and their clients' next Publish requests
// arrive together) instead of each waking it at its own moment.
qint64 tickAtOrAfter(qint64 ms, double interval)
{
    const qint64 step = std::max<qint64>(1, qint64(interval));
    return (ms + step - 1) / step * step;
}

// A full interval at least, as a client expects of its first cycle.
qint64 firstCycleMs(qint64 now, double interval) { return tickAtOrAfter(now + qint64(interval), interval); }

// Data changes travel, and wait for Republish, encoded: a fifth of the memory of the
// decoded values, and encoded once.
ExtensionObject encoded(const DataChangeNotification &change)
{
    ExtensionObject x;
    x.typeId = NodeId(0, Id::DataChangeNotification_Binary);
    x.encoding = ExtensionObject::Encoding::ByteString;
    Encoder e(x.body);
    encodeStructure(e, DataChangeNotification::desc(), &change);
    return x;
}

// The data changes in a message: the length of the encoded list, first in the body.
std::size_t notificationCount(const NotificationMessage &message)
{
    std::size_t n = 0;
    for (const ExtensionObject &x : message.notificationData)
        if (x.typeId.isNumeric(Id::DataChangeNotification_Binary) && x.body.size() >= 4)
            n += qFromLittleEndian<std::uint32_t>(x.body.constData());
    return n;
}

} // namespace

std::size_t ServerCore::subscriptionCount() const
{
    std::size_t n = 0;
    forEachSubscriber([&](const Session &session) { n += session.subscriptions.subscriptions.size(); });
    return n;
}

Subscription *ServerCore::findSubscription(Session &session, std::uint32_t id)
{
    for (auto &s : session.subscriptions.subscriptions)
        if (s->id == id)
            return s.get();
    return nullptr;
}

Subscription &ServerCore::requireSubscription(Session &session, std::uint32_t id)
{
    Subscription *s = findSubscription(session, id);
    if (!s)
        throw ServiceError{Status::BadSubscriptionIdInvalid};
    return *s;
}

void ServerCore::reviseSubscription(Subscription &s, double interval, std::uint32_t lifetime, std::uint32_t keepAlive,
                                    std::uint32_t maxNotifications)
{
    const double least = std::max<double>(server_.MinUpdatePeriod, config_.minPublishingIntervalMs);
    if (!std::isfinite(interval) || interval < least)
        interval = least;
    s.publishingInterval = std::min(interval, config_.maxPublishingIntervalMs);
    s.maxKeepAliveCount = std::clamp<std::uint32_t>(keepAlive, 1, config_.maxKeepAliveCount);
    // A subscription nobody publishes for holds its queues until its lifetime ends,
    // so that time is bounded; but it must cover at least three keep-alive periods.
    const auto longest =
        std::uint32_t(std::clamp(config_.maxSubscriptionLifetimeMs / std::max(s.publishingInterval, 1.0), 1.0,
                                 double(config_.maxLifetimeCount)));
    s.lifetimeCount = std::max(std::min(lifetime, longest), 3 * s.maxKeepAliveCount);
    s.maxNotifications = maxNotifications;
}

void ServerCore::createSubscription(RequestContext &context, const CreateSubscriptionRequest &request,
                                    CreateSubscriptionResponse &response)
{
    Session &session = *context.session;
    if (int(session.subscriptions.subscriptions.size()) >= config_.maxSubscriptionsPerSession)
        throw ServiceError{Status::BadTooManySubscriptions};
    auto s = std::make_unique<Subscription>();
    s->id = nextSubscriptionId_++;
    s->session = &session;
    reviseSubscription(*s, request.requestedPublishingInterval, request.requestedLifetimeCount,
                       request.requestedMaxKeepAliveCount, request.maxNotificationsPerPublish);
    s->publishingEnabled = request.publishingEnabled;
    s->priority = request.priority;
    s->nextDueMs = firstCycleMs(nowMs(), s->publishingInterval);
    // The first cycle answers even without notifications, so the client learns the
    // subscription works.
    s->keepAliveCounter = s->maxKeepAliveCount - 1;

    response.subscriptionId = s->id;
    response.revisedPublishingInterval = s->publishingInterval;
    response.revisedLifetimeCount = s->lifetimeCount;
    response.revisedMaxKeepAliveCount = s->maxKeepAliveCount;
    trace(2, QStringLiteral("UA subscription %1 created in session %2: interval %3 ms, keep-alive %4, lifetime %5")
                 .arg(s->id)
                 .arg(session.sessionId.toString())
                 .arg(s->publishingInterval)
                 .arg(s->maxKeepAliveCount)
                 .arg(s->lifetimeCount));
    session.subscriptions.subscriptions.push_back(std::move(s));
    scheduleSubscriptions();
}

void ServerCore::modifySubscription(RequestContext &context, const ModifySubscriptionRequest &request,
                                    ModifySubscriptionResponse &response)
{
    Subscription *s = &requireSubscription(*context.session, request.subscriptionId);
    reviseSubscription(*s, request.requestedPublishingInterval, request.requestedLifetimeCount,
                       request.requestedMaxKeepAliveCount, request.maxNotificationsPerPublish);
    s->priority = request.priority;
    s->nextDueMs = firstCycleMs(nowMs(), s->publishingInterval);
    s->lifetimeCounter = 0;
    response.revisedPublishingInterval = s->publishingInterval;
    response.revisedLifetimeCount = s->lifetimeCount;
    response.revisedMaxKeepAliveCount = s->maxKeepAliveCount;
    trace(2, QStringLiteral("UA subscription %1 modified: interval %2 ms").arg(s->id).arg(s->publishingInterval));
    scheduleSubscriptions();
}

void ServerCore::setPublishingMode(RequestContext &context, const SetPublishingModeRequest &request,
                                   SetPublishingModeResponse &response)
{
    for (std::uint32_t id : request.subscriptionIds) {
        Subscription *s = findSubscription(*context.session, id);
        if (s)
            s->publishingEnabled = request.publishingEnabled;
        response.results.push_back(s ? Status::Good : Status::BadSubscriptionIdInvalid);
    }
}

void ServerCore::deleteSubscriptions(RequestContext &context, const DeleteSubscriptionsRequest &request,
                                     DeleteSubscriptionsResponse &response)
{
    Session &session = *context.session;
    for (std::uint32_t id : request.subscriptionIds) {
        const bool known = findSubscription(session, id);
        if (known)
            deleteSubscription(session, id, QStringLiteral("deleted by the client"));
        response.results.push_back(known ? Status::Good : Status::BadSubscriptionIdInvalid);
    }
    // Publish requests still waiting have nothing left to wait for; they are told
    // after the answer to this request.
    if (session.subscriptions.subscriptions.empty() && session.subscriptions.statusChanges.empty())
        context.afterReply = [this, &session] { failPublishRequests(session, Status::BadNoSubscription); };
}

void ServerCore::failPublishRequests(Session &session, StatusCode status)
{
    auto &queue = session.subscriptions.publishQueue;
    while (!queue.empty()) {
        PendingPublish p = std::move(queue.front());
        queue.pop_front();
        if (!p.channel->isClosed())
            sendFault(*p.channel, p.requestId, p.requestHandle, status);
    }
}

void ServerCore::deleteSubscription(Session &session, std::uint32_t id, const QString &why)
{
    auto &list = session.subscriptions.subscriptions;
    auto it = std::find_if(list.begin(), list.end(), [id](const auto &s) { return s->id == id; });
    if (it == list.end())
        return;
    Subscription &s = **it;
    for (auto &m : s.items)
        m->removed = true;
    removeMarkedItems(session, s);
    trace(
        2,
        QStringLiteral("UA subscription %1 of session %2 deleted: %3").arg(id).arg(session.sessionId.toString(), why));
    list.erase(it);
}

void ServerCore::endSubscriptions(Session &session, StatusCode pendingStatus)
{
    while (!session.subscriptions.subscriptions.empty())
        deleteSubscription(session, session.subscriptions.subscriptions.back()->id, QStringLiteral("session ended"));
    session.subscriptions.statusChanges.clear();
    failPublishRequests(session, pendingStatus);
}

// --- Publish ---------------------------------------------------------------------------

void ServerCore::publish(RequestContext &context, const PublishRequest &request, PublishResponse &)
{
    Session &session = *context.session;
    SessionSubscriptions &subs = session.subscriptions;
    PendingPublish pending;
    pending.channel = &context.channel;
    pending.requestId = context.requestId;
    pending.requestHandle = request.requestHeader.requestHandle;
    pending.receivedMs = nowMs();
    pending.timeoutHint = request.requestHeader.timeoutHint;
    for (const SubscriptionAcknowledgement &ack : request.subscriptionAcknowledgements) {
        Subscription *s = findSubscription(session, ack.subscriptionId);
        if (!s) {
            pending.results.push_back(Status::BadSubscriptionIdInvalid);
            continue;
        }
        auto &rq = s->retransmission;
        auto it = std::find_if(rq.begin(), rq.end(),
                               [&](const NotificationMessage &m) { return m.sequenceNumber == ack.sequenceNumber; });
        if (it == rq.end()) {
            pending.results.push_back(Status::BadSequenceNumberUnknown);
            continue;
        }
        s->retained -= notificationCount(*it);
        rq.erase(it);
        pending.results.push_back(Status::Good);
    }
    if (subs.subscriptions.empty() && subs.statusChanges.empty())
        throw ServiceError{Status::BadNoSubscription};
    if (subs.publishQueue.size() >= config_.maxPublishRequestsPerSession)
        throw ServiceError{Status::BadTooManyPublishRequests};
    subs.publishQueue.push_back(std::move(pending));
    context.deferred = true;
    for (auto &s : subs.subscriptions)
        s->lifetimeCounter = 0;
    servePublishRequests(session);
}

void ServerCore::answerPublish(PendingPublish &request, PublishResponse &response)
{
    response.results = std::move(request.results);
    reply(*request.channel, request.requestId, request.requestHandle, PublishResponse::desc(), &response,
          response.responseHeader);
}

// Sends what late subscriptions hold while Publish requests wait: first the news of
// subscriptions that ended, then notifications and keep-alives.
void ServerCore::servePublishRequests(Session &session)
{
    SessionSubscriptions &subs = session.subscriptions;
    while (!subs.publishQueue.empty() && !subs.statusChanges.empty()) {
        PendingPublish p = std::move(subs.publishQueue.front());
        subs.publishQueue.pop_front();
        const auto [id, status] = subs.statusChanges.front();
        subs.statusChanges.pop_front();
        StatusChangeNotification change;
        change.status = status;
        PublishResponse response;
        response.subscriptionId = id;
        response.notificationMessage.publishTime = now();
        response.notificationMessage.notificationData.push_back(makeExtension(change));
        answerPublish(p, response);
    }
    // Late subscriptions in order of priority, the highest first.
    std::vector<Subscription *> late;
    for (auto &s : subs.subscriptions)
        if (s->late)
            late.push_back(s.get());
    std::stable_sort(late.begin(), late.end(), [](auto *a, auto *b) { return a->priority > b->priority; });
    for (Subscription *s : late) {
        if (subs.publishQueue.empty())
            break;
        const bool hasNotifications = s->publishingEnabled && !s->ready.empty();
        while (!subs.publishQueue.empty() && sendMessage(session, *s, !hasNotifications) && s->publishingEnabled &&
               !s->ready.empty()) {
        }
    }
}

// Answers the oldest waiting Publish request with a message of s; false when no
// request waits (the subscription is then late).
bool ServerCore::sendMessage(Session &session, Subscription &s, bool keepAlive)
{
    auto &queue = session.subscriptions.publishQueue;
    while (!queue.empty() && queue.front().channel->isClosed())
        queue.pop_front();
    if (queue.empty()) {
        s.late = true;
        return false;
    }
    PendingPublish p = std::move(queue.front());
    queue.pop_front();

    PublishResponse response;
    response.subscriptionId = s.id;
    NotificationMessage &message = response.notificationMessage;
    message.publishTime = now();
    message.sequenceNumber = s.nextSequenceNumber;
    if (!keepAlive) {
        std::uint32_t limit = config_.maxNotificationsPerMessage;
        if (s.maxNotifications)
            limit = std::min(limit, s.maxNotifications);
        DataChangeNotification change;
        std::vector<MonitoredItem *> rest;
        for (MonitoredItem *ready : s.ready) {
            MonitoredItem &m = *ready;
            // Sampling items are listed only when an item that triggers them reported.
            if (m.mode == MonitoringMode::Disabled) {
                m.ready = false;
                continue;
            }
            while (m.hasQueued() && change.monitoredItems.size() < limit)
                change.monitoredItems.push_back({m.clientHandle, m.takeOldest()});
            if (!m.hasQueued())
                m.ready = false;
            else
                rest.push_back(&m);
        }
        s.ready = std::move(rest);
        response.moreNotifications = !s.ready.empty();
        if (!change.monitoredItems.empty()) {
            if (traceOn(3))
                trace(3, QStringLiteral("UA subscription %1 sends %2 data changes, sequence %3")
                             .arg(s.id)
                             .arg(change.monitoredItems.size())
                             .arg(message.sequenceNumber));
            notificationsSent_ += change.monitoredItems.size();
            message.notificationData.push_back(encoded(change));
            s.nextSequenceNumber = nextSequence(s.nextSequenceNumber);
            s.retransmission.push_back(message);
            s.retained += notificationCount(message);
            // Kept for Republish within the session's budget: the oldest go first.
            std::size_t retained = 0;
            for (const auto &other : session.subscriptions.subscriptions)
                retained += other->retained;
            while (s.retransmission.size() > config_.maxRetransmissionMessages ||
                   (retained > config_.retainedNotificationsPerSession && s.retransmission.size() > 1)) {
                const std::size_t dropped = notificationCount(s.retransmission.front());
                s.retained -= dropped;
                retained -= dropped;
                s.retransmission.pop_front();
            }
        }
    }
    for (const auto &m : s.retransmission)
        response.availableSequenceNumbers.push_back(m.sequenceNumber);
    s.keepAliveCounter = 0;
    s.lifetimeCounter = 0;
    s.late = false;
    answerPublish(p, response);
    return true;
}

void ServerCore::republish(RequestContext &context, const RepublishRequest &request, RepublishResponse &response)
{
    Subscription *s = &requireSubscription(*context.session, request.subscriptionId);
    s->lifetimeCounter = 0;
    for (const auto &m : s->retransmission) {
        if (m.sequenceNumber != request.retransmitSequenceNumber)
            continue;
        response.notificationMessage = m;
        return;
    }
    throw ServiceError{Status::BadMessageNotAvailable};
}

// --- The publishing cycle ----------------------------------------------------------------

void ServerCore::scheduleSubscriptions()
{
    qint64 next = -1;
    forEachSubscriber([&](const Session &session) {
        for (auto &s : session.subscriptions.subscriptions)
            if (next < 0 || s->nextDueMs < next)
                next = s->nextDueMs;
    });
    if (next < 0) {
        publishTimer_.stop();
        return;
    }
    publishTimer_.start(int(std::clamp<qint64>(next - nowMs(), 0, 24 * 3600 * 1000)));
}

void ServerCore::runSubscriptions()
{
    const qint64 now = nowMs();
    // Those of ended sessions too: they sample and count down their lifetime.
    forEachSubscriber([&](Session &session) {
        // A subscription may end in its cycle (lifetime): work on ids.
        std::vector<std::uint32_t> due;
        for (auto &s : session.subscriptions.subscriptions)
            if (s->nextDueMs <= now)
                due.push_back(s->id);
        for (std::uint32_t id : due) {
            Subscription *s = findSubscription(session, id);
            if (!s)
                continue;
            s->nextDueMs += qint64(s->publishingInterval);
            if (s->nextDueMs <= now) // a slow cycle skips what it missed
                s->nextDueMs = tickAtOrAfter(now + 1, s->publishingInterval);
            publishCycle(session, *s, now);
        }
    });
    forgetEmptyOrphans();
    scheduleSubscriptions();
}

void ServerCore::publishCycle(Session &session, Subscription &s, qint64 now)
{
    sampleDue(s, now);
    SessionSubscriptions &subs = session.subscriptions;
    if (subs.publishQueue.empty()) {
        if (++s.lifetimeCounter >= s.lifetimeCount) {
            const std::uint32_t id = s.id;
            deleteSubscription(session, id, QStringLiteral("lifetime expired"));
            subs.statusChanges.push_back({id, Status::BadTimeout});
            while (subs.statusChanges.size() > std::size_t(config_.maxSubscriptionsPerSession))
                subs.statusChanges.pop_front();
            return;
        }
    } else {
        s.lifetimeCounter = 0;
    }
    if (s.publishingEnabled && !s.ready.empty()) {
        while (sendMessage(session, s, false) && !s.ready.empty()) {
        }
        return;
    }
    if (s.late || ++s.keepAliveCounter >= s.maxKeepAliveCount)
        sendMessage(session, s, true);
}

void ServerCore::dropPublishRequests(const Channel &channel)
{
    for (auto &session : sessions_)
        std::erase_if(session->subscriptions.publishQueue,
                      [&](const PendingPublish &p) { return p.channel == &channel; });
}

void ServerCore::expirePublishRequests()
{
    const qint64 now = nowMs();
    for (auto &session : sessions_) {
        auto &queue = session->subscriptions.publishQueue;
        for (auto it = queue.begin(); it != queue.end();) {
            if (it->timeoutHint == 0 || now - it->receivedMs <= qint64(it->timeoutHint)) {
                ++it;
                continue;
            }
            PendingPublish p = std::move(*it);
            it = queue.erase(it);
            if (!p.channel->isClosed())
                sendFault(*p.channel, p.requestId, p.requestHandle, Status::BadTimeout);
        }
    }
}

} // namespace Ua

// TransferSubscriptions: a client that lost its session (it timed out while the
// network was down, or the client closed it keeping its subscriptions) creates a new
// one and moves its subscriptions there, so its monitored items keep their ids,
// handles and queued values. Only the same user may take them: a named user to the
// same name; an anonymous one only from the same client application (ApplicationUri),
// and, when they were made on a channel that signs, only on such a channel again.
// Until then an ended session's subscriptions live on without it: they sample, queue
// and count down their lifetime.
#include "ua/UaServerCore.h"

#include <algorithm>

namespace Ua {

namespace {

// OPC 10000-4 also asks anonymous transfers for a channel that signs; a client that
// reconnects without security would lose every subscription, and over such a channel the
// ApplicationUri is all there is to tell clients apart. So the rule binds where the
// subscription was made on a signing channel: no taking it over without one.
bool mayTake(const Session &owner, const Session &target)
{
    if (owner.user.tokenType != target.user.tokenType || owner.user.name != target.user.name)
        return false;
    if (owner.user.tokenType != std::int32_t(TokenType::Anonymous))
        return true;
    return owner.applicationUri == target.applicationUri && (target.secured || !owner.secured);
}

} // namespace

void ServerCore::transferSubscriptions(RequestContext &context, const TransferSubscriptionsRequest &request,
                                       TransferSubscriptionsResponse &response)
{
    Session &target = *context.session;
    std::vector<Session *> left; // sessions to tell, after the answer, that they lost one
    for (std::uint32_t id : request.subscriptionIds) {
        TransferResult &result = response.results.emplace_back();
        Session *owner = nullptr;
        forEachSubscriber([&](Session &session) {
            if (findSubscription(session, id))
                owner = &session;
        });
        if (!owner) {
            result.statusCode = Status::BadSubscriptionIdInvalid;
            continue;
        }
        if (!mayTake(*owner, target)) {
            result.statusCode = Status::BadUserAccessDenied;
            continue;
        }
        if (owner != &target) {
            if (int(target.subscriptions.subscriptions.size()) >= config_.maxSubscriptionsPerSession) {
                result.statusCode = Status::BadTooManySubscriptions;
                continue;
            }
            auto &from = owner->subscriptions;
            auto it = std::find_if(from.subscriptions.begin(), from.subscriptions.end(),
                                   [id](const auto &s) { return s->id == id; });
            std::unique_ptr<Subscription> moved = std::move(*it);
            from.subscriptions.erase(it);
            from.monitoredItems -= moved->items.size();
            target.subscriptions.monitoredItems += moved->items.size();
            // The items' longer queues count against the session that holds them.
            std::size_t queued = 0;
            for (const auto &m : moved->items)
                queued += m->queueSize - 1;
            from.queuedValues -= queued;
            target.subscriptions.queuedValues += queued;
            moved->session = &target;
            // Bounded as the lifetime's news are: a session that never publishes
            // again must not collect them without end. An ended one hears nothing.
            if (!owner->ended) {
                from.statusChanges.push_back({id, Status::GoodSubscriptionTransferred});
                while (from.statusChanges.size() > std::size_t(config_.maxSubscriptionsPerSession))
                    from.statusChanges.pop_front();
                if (std::find(left.begin(), left.end(), owner) == left.end())
                    left.push_back(owner);
            }
            target.subscriptions.subscriptions.push_back(std::move(moved));
            trace(2, QStringLiteral("UA subscription %1 transferred from session %2 to session %3")
                         .arg(id)
                         .arg(owner->sessionId.toString(), target.sessionId.toString()));
        }
        Subscription &s = *findSubscription(target, id);
        s.lifetimeCounter = 0;
        for (const NotificationMessage &m : s.retransmission)
            result.availableSequenceNumbers.push_back(m.sequenceNumber);
        if (request.sendInitialValues)
            resendValues(s);
    }
    forgetEmptyOrphans();
    context.afterReply = [this, left, &target] {
        for (Session *session : left)
            servePublishRequests(*session);
        servePublishRequests(target);
    };
}

void ServerCore::keepOrphans(std::unique_ptr<Session> ended)
{
    ended->ended = true;
    ended->subscriptions.statusChanges.clear();
    ended->continuationPoints.clear();
    trace(2, QStringLiteral("UA session %1 left %2 subscriptions for a transfer")
                 .arg(ended->sessionId.toString())
                 .arg(ended->subscriptions.subscriptions.size()));
    orphans_.push_back(std::move(ended));
    forgetEmptyOrphans();
    // What a subscription holds: its items with their queues, and its messages kept
    // for Republish.
    auto weight = [](const Subscription &s) {
        std::size_t values = s.retained;
        for (const auto &m : s.items)
            values += m->queueSize;
        return values;
    };
    std::size_t count = 0, values = 0;
    for (const auto &orphan : orphans_)
        for (const auto &s : orphan->subscriptions.subscriptions) {
            ++count;
            values += weight(*s);
        }
    while (count > std::size_t(config_.orphanedSubscriptions) || values > config_.orphanedValues) {
        --count;
        values -= weight(*orphans_.front()->subscriptions.subscriptions.front());
        giveUpOrphan(QStringLiteral("no room left for subscriptions without a session"));
    }
}

bool ServerCore::giveUpOrphan(const QString &why)
{
    if (orphans_.empty())
        return false;
    Session &oldest = *orphans_.front();
    deleteSubscription(oldest, oldest.subscriptions.subscriptions.front()->id, why);
    forgetEmptyOrphans();
    return true;
}

void ServerCore::forgetEmptyOrphans()
{
    std::erase_if(orphans_, [](const auto &orphan) { return orphan->subscriptions.subscriptions.empty(); });
}

void ServerCore::resendValues(Subscription &s)
{
    for (auto &m : s.items) {
        if (m->mode != MonitoringMode::Reporting || !m->hasLast)
            continue;
        // A waiting queue ends with the latest value already.
        if (!m->hasQueued())
            m->push(m->last);
        s.markReady(*m);
    }
}

} // namespace Ua

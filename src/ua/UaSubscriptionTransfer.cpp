// TransferSubscriptions: a client that lost its session (the server restarted it,
// or it timed out while the network was down) creates a new one and moves its
// subscriptions there, so its monitored items keep their ids and handles. Only the
// same user may take them: anonymous to anonymous, a named user to the same name.
#include "ua/UaServerCore.h"

#include <algorithm>

namespace Ua {

namespace {

bool sameUser(const UserIdentity &a, const UserIdentity &b) { return a.tokenType == b.tokenType && a.name == b.name; }

} // namespace

void ServerCore::transferSubscriptions(RequestContext &context, const TransferSubscriptionsRequest &request,
                                       TransferSubscriptionsResponse &response)
{
    Session &target = *context.session;
    std::vector<Session *> left; // sessions to tell, after the answer, that they lost one
    for (std::uint32_t id : request.subscriptionIds) {
        TransferResult &result = response.results.emplace_back();
        Session *owner = nullptr;
        for (auto &session : sessions_)
            if (findSubscription(*session, id))
                owner = session.get();
        if (!owner) {
            result.statusCode = Status::BadSubscriptionIdInvalid;
            continue;
        }
        if (!sameUser(owner->user, target.user)) {
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
            moved->session = &target;
            // Bounded as the lifetime's news are: a session that never publishes
            // again must not collect them without end.
            from.statusChanges.push_back({id, Status::GoodSubscriptionTransferred});
            while (from.statusChanges.size() > std::size_t(config_.maxSubscriptionsPerSession))
                from.statusChanges.pop_front();
            if (std::find(left.begin(), left.end(), owner) == left.end())
                left.push_back(owner);
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
    context.afterReply = [this, left, &target] {
        for (Session *session : left)
            servePublishRequests(*session);
        servePublishRequests(target);
    };
}

void ServerCore::resendValues(Subscription &s)
{
    for (auto &[id, m] : s.items) {
        if (m->mode != MonitoringMode::Reporting || !m->hasLast)
            continue;
        // A waiting queue ends with the latest value already.
        if (m->queue.empty())
            m->queue.push_back(m->last);
        if (!m->ready) {
            m->ready = true;
            s.ready.push_back(id);
        }
    }
}

} // namespace Ua

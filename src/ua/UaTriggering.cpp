// SetTriggering: links from a triggering monitored item to items in sampling mode,
// which then report what they queued whenever the triggering item queues a
// notification (in reporting or sampling mode; a disabled item triggers nothing).
#include "ua/UaServerCore.h"

#include <algorithm>

namespace Ua {

void fireTriggers(Subscription &s, const MonitoredItem &m)
{
    const auto links = s.triggerLinks.find(m.id);
    if (links == s.triggerLinks.end())
        return;
    for (std::uint32_t id : links->second) {
        MonitoredItem *linked = s.items.find(id);
        if (linked && linked->mode == MonitoringMode::Sampling && linked->hasQueued())
            s.markReady(*linked);
    }
}

void ServerCore::setTriggering(RequestContext &context, const SetTriggeringRequest &request,
                               SetTriggeringResponse &response)
{
    Subscription &s = requireSubscription(*context.session, request.subscriptionId);
    if (request.linksToAdd.empty() && request.linksToRemove.empty())
        throw ServiceError{Status::BadNothingToDo};
    if (request.linksToAdd.size() + request.linksToRemove.size() > config_.maxNodesPerRequest)
        throw ServiceError{Status::BadTooManyOperations};
    if (!s.items.find(request.triggeringItemId))
        throw ServiceError{Status::BadMonitoredItemIdInvalid};
    // Removals first, so that a link both removed and added in one request stays.
    std::vector<std::uint32_t> &links = s.triggerLinks[request.triggeringItemId];
    for (std::uint32_t id : request.linksToRemove) {
        const auto it = std::find(links.begin(), links.end(), id);
        response.removeResults.push_back(it == links.end() ? Status::BadMonitoredItemIdInvalid : Status::Good);
        if (it != links.end())
            links.erase(it);
    }
    for (std::uint32_t id : request.linksToAdd) {
        const bool known = s.items.find(id);
        response.addResults.push_back(known ? Status::Good : Status::BadMonitoredItemIdInvalid);
        if (known && std::find(links.begin(), links.end(), id) == links.end())
            links.push_back(id);
    }
    const std::size_t count = links.size();
    if (count == 0)
        s.triggerLinks.erase(request.triggeringItemId);
    if (traceOn(3))
        trace(3, QStringLiteral("UA item %1 of subscription %2 triggers %3 items")
                     .arg(request.triggeringItemId)
                     .arg(s.id)
                     .arg(count));
}

} // namespace Ua

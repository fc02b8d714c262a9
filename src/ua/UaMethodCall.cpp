// Method service set: Call. The Server object has two methods a client uses to
// coordinate with its subscriptions: GetMonitoredItems (the server and client
// handles of a subscription's items, for a client that lost track of them) and
// ResendData (the latest value of every reporting item in the next message).
#include "ua/UaServerCore.h"

#include <algorithm>

namespace Ua {

void ServerCore::call(RequestContext &context, const CallRequest &request, CallResponse &response)
{
    for (const CallMethodRequest &method : request.methodsToCall)
        response.results.push_back(callMethod(*context.session, method));
}

CallMethodResult ServerCore::callMethod(Session &session, const CallMethodRequest &request)
{
    CallMethodResult result;
    if (addressSpace_.resolve(request.objectId) == NoNode) {
        result.statusCode = Status::BadNodeIdUnknown;
        return result;
    }
    const bool getMonitoredItems = request.methodId.isNumeric(Id::GetMonitoredItems);
    if (!request.objectId.isNumeric(Id::Server) || !(getMonitoredItems || request.methodId.isNumeric(Id::ResendData))) {
        result.statusCode = Status::BadMethodInvalid;
        return result;
    }
    // Both take one argument, the subscription id.
    const std::vector<Variant> &in = request.inputArguments;
    if (in.size() != 1) {
        result.statusCode = in.empty() ? Status::BadArgumentsMissing : Status::BadTooManyArguments;
        return result;
    }
    if (in[0].type != BuiltinType::UInt32 || in[0].isArray) {
        result.statusCode = Status::BadInvalidArgument;
        result.inputArgumentResults = {Status::BadTypeMismatch};
        return result;
    }
    const auto id = std::uint32_t(in[0].i);
    Subscription *s = findSubscription(session, id);
    if (!s) {
        // Another session's subscription is not this client's to see.
        bool elsewhere = false;
        forEachSubscriber([&](Session &other) { elsewhere = elsewhere || findSubscription(other, id); });
        result.statusCode = elsewhere ? Status::BadUserAccessDenied : Status::BadSubscriptionIdInvalid;
        return result;
    }
    if (!getMonitoredItems) {
        resendValues(*s);
        return result;
    }
    std::vector<Variant> serverHandles, clientHandles;
    for (const auto &m : s->items) {
        serverHandles.push_back(Variant::integer(BuiltinType::UInt32, m->id));
        clientHandles.push_back(Variant::integer(BuiltinType::UInt32, m->clientHandle));
    }
    result.outputArguments = {Variant::array(BuiltinType::UInt32, std::move(serverHandles)),
                              Variant::array(BuiltinType::UInt32, std::move(clientHandles))};
    return result;
}

} // namespace Ua

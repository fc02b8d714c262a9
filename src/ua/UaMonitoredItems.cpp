// MonitoredItem service set: CreateMonitoredItems, ModifyMonitoredItems,
// SetMonitoringMode, DeleteMonitoredItems (SetTriggering is not served), and the
// sampling behind them. Item values are not polled: the toolkit reports every change
// of an item, and an index from item to monitored items takes the change straight to
// those that watch it. A change that comes before the sampling interval has passed
// waits for the next publishing cycle, where the value of that moment is taken.
// Standard variables (ServerStatus, CurrentTime, ...) are sampled at their interval;
// other attributes once, when the item is created.
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

#include <algorithm>
#include <cmath>

namespace Ua {

namespace {

constexpr std::uint32_t DeadbandNone = 0, DeadbandAbsolute = 1, DeadbandPercent = 2;

bool numeric(const Variant &v, double &out)
{
    if (v.isArray)
        return false;
    switch (v.type) {
    case BuiltinType::SByte:
    case BuiltinType::Byte:
    case BuiltinType::Int16:
    case BuiltinType::UInt16:
    case BuiltinType::Int32:
    case BuiltinType::UInt32:
    case BuiltinType::Int64: out = double(v.i); return true;
    case BuiltinType::UInt64: out = double(std::uint64_t(v.i)); return true;
    case BuiltinType::Float:
    case BuiltinType::Double: out = v.d; return true;
    default: return false;
    }
}

// Whether a new sample differs enough from the last queued one to be reported.
bool passesFilter(const MonitoredItem &m, const DataValue &v)
{
    if (!m.hasLast)
        return true;
    const DataValue &last = m.last;
    if (last.status != v.status)
        return true;
    if (m.trigger == 0)
        return false;
    const bool hadValue = last.mask & DataValue::HasValue, hasValue = v.mask & DataValue::HasValue;
    if (hadValue != hasValue)
        return true;
    double a = 0, b = 0;
    if (m.deadbandType == DeadbandAbsolute && numeric(last.value, a) && numeric(v.value, b)) {
        if (std::fabs(a - b) > m.deadband)
            return true;
    } else if (!(last.value == v.value)) {
        return true;
    }
    return m.trigger == 2 && last.sourceTimestamp != v.sourceTimestamp;
}

void enqueue(Subscription &s, MonitoredItem &m, DataValue v)
{
    m.last = v;
    m.hasLast = true;
    constexpr StatusCode overflow = Status::InfoTypeDataValue | Status::Overflow;
    if (m.queueSize <= 1) {
        // A queue of one holds the newest value; no overflow is reported for it.
        m.queue.clear();
        m.queue.push_back(std::move(v));
    } else if (m.queue.size() >= m.queueSize) {
        if (m.discardOldest) {
            m.queue.pop_front();
            m.queue.push_back(std::move(v));
            m.queue.front().setStatus(m.queue.front().status | overflow);
        } else {
            m.queue.back() = std::move(v);
            m.queue.back().setStatus(m.queue.back().status | overflow);
        }
    } else {
        m.queue.push_back(std::move(v));
    }
    if (m.mode == MonitoringMode::Reporting && !m.ready) {
        m.ready = true;
        s.ready.push_back(m.id);
    }
}

} // namespace

void ServerCore::watchItems()
{
    if (!itemObserver_)
        itemObserver_ = server_.addItemObserver([this](OPCItem &item) { itemChanged(item); });
    if (!stateObserver_)
        stateObserver_ = server_.addStateObserver([this](std::int32_t) { serverStateChanged(); });
}

void ServerCore::sample(MonitoredItem &m, qint64 now, DateTime stamp)
{
    m.lastSampleMs = now;
    m.sampledOnce = true;
    m.changed = false;
    DataValue v = m.item ? gatedItemValue(*m.item) : sampleAttribute(*m.subscription->session, m.node, m.attributeId);
    if (m.attributeId == Attr::Value) {
        if (m.timestamps == 1 || m.timestamps == 3)
            v.mask &= std::uint8_t(~DataValue::HasSourceTimestamp);
        if (m.timestamps == 1 || m.timestamps == 2) {
            v.serverTimestamp = stamp;
            v.mask |= DataValue::HasServerTimestamp;
        }
    }
    if (passesFilter(m, v))
        enqueue(*m.subscription, m, std::move(v));
}

void ServerCore::sampleDue(Subscription &s, qint64 now)
{
    auto due = [now](const MonitoredItem &m) {
        return !m.sampledOnce || double(now - m.lastSampleMs) >= m.samplingInterval;
    };
    const DateTime stamp = this->now();
    std::vector<std::uint32_t> waiting;
    for (std::uint32_t id : s.changed) {
        auto it = s.items.find(id);
        if (it == s.items.end() || !it->second->changed)
            continue;
        MonitoredItem &m = *it->second;
        if (m.mode == MonitoringMode::Disabled)
            m.changed = false;
        else if (due(m))
            sample(m, now, stamp);
        else
            waiting.push_back(id);
    }
    s.changed = std::move(waiting);
    for (std::uint32_t id : s.polled) {
        auto it = s.items.find(id);
        if (it != s.items.end() && it->second->mode != MonitoringMode::Disabled && due(*it->second))
            sample(*it->second, now, stamp);
    }
}

void ServerCore::itemChanged(OPCItem &item)
{
    auto it = watchers_.find(&item);
    if (it == watchers_.end())
        return;
    const qint64 now = nowMs();
    const DateTime stamp = this->now();
    for (MonitoredItem *m : it->second) {
        if (m->mode == MonitoringMode::Disabled)
            continue;
        if (double(now - m->lastSampleMs) >= m->samplingInterval) {
            sample(*m, now, stamp);
        } else if (!m->changed) {
            m->changed = true;
            m->subscription->changed.push_back(m->id);
        }
    }
}

// Item values are refused while the server is neither running nor in test: every
// item monitored item hears of it (BadOutOfService) and of the way back.
void ServerCore::serverStateChanged()
{
    const qint64 now = nowMs();
    const DateTime stamp = this->now();
    for (auto &session : sessions_)
        for (auto &s : session->subscriptions.subscriptions)
            for (auto &[id, m] : s->items)
                if (m->mode != MonitoringMode::Disabled && m->attributeId == Attr::Value && (m->item || m->polled))
                    sample(*m, now, stamp);
}

StatusCode ServerCore::applyParameters(MonitoredItem &m, const Subscription &s, const MonitoringParameters &p,
                                       double &revisedInterval, std::uint32_t &revisedQueue)
{
    std::int32_t trigger = 1;
    std::uint32_t deadbandType = DeadbandNone;
    double deadband = 0;
    const ExtensionObject &f = p.filter;
    const bool hasFilter = !(f.encoding == ExtensionObject::Encoding::None && f.typeId.isNull());
    if (hasFilter) {
        if (m.attributeId != Attr::Value)
            return Status::BadFilterNotAllowed;
        DataChangeFilter filter;
        if (!f.typeId.isNumeric(Id::DataChangeFilter_Binary))
            return Status::BadMonitoredItemFilterUnsupported;
        if (!decodeExtension(f, filter, config_.transport.decode))
            return Status::BadMonitoredItemFilterUnsupported;
        if (filter.trigger < 0 || filter.trigger > 2)
            return Status::BadMonitoredItemFilterUnsupported;
        // Items carry no EURange, so a percent deadband has nothing to refer to.
        if (filter.deadbandType == DeadbandPercent)
            return Status::BadMonitoredItemFilterUnsupported;
        if (filter.deadbandType > DeadbandPercent || !(filter.deadbandValue >= 0) ||
            !std::isfinite(filter.deadbandValue))
            return Status::BadDeadbandFilterInvalid;
        if (filter.deadbandType == DeadbandAbsolute && m.item) {
            const VarType t = m.item->DataType();
            if (t == VarType::String || t == VarType::Boolean || t == VarType::Date)
                return Status::BadFilterNotAllowed;
        }
        trigger = filter.trigger;
        deadbandType = filter.deadbandType;
        deadband = filter.deadbandValue;
    }
    double interval = p.samplingInterval;
    if (std::isfinite(interval) && interval < 0)
        interval = s.publishingInterval; // -1: the subscription's interval
    if (!std::isfinite(interval) || interval < server_.MinUpdatePeriod)
        interval = std::max(0, server_.MinUpdatePeriod);
    interval = std::min(interval, config_.maxPublishingIntervalMs);
    m.samplingInterval = interval;
    m.queueSize = std::clamp<std::uint32_t>(p.queueSize, 1, config_.maxQueueSize);
    m.discardOldest = p.discardOldest;
    m.clientHandle = p.clientHandle;
    m.trigger = trigger;
    m.deadbandType = deadbandType;
    m.deadband = deadband;
    while (m.queue.size() > m.queueSize)
        m.queue.pop_front();
    revisedInterval = m.samplingInterval;
    revisedQueue = m.queueSize;
    return Status::Good;
}

void ServerCore::createMonitoredItems(RequestContext &context, const CreateMonitoredItemsRequest &request,
                                      CreateMonitoredItemsResponse &response)
{
    Session &session = *context.session;
    Subscription *s = &requireSubscription(session, request.subscriptionId);
    checkTimestampsToReturn(request.timestampsToReturn);
    response.results.resize(request.itemsToCreate.size());
    const qint64 now = nowMs();
    const DateTime stamp = this->now();
    std::size_t created = 0;
    for (std::size_t k = 0; k < request.itemsToCreate.size(); ++k) {
        const MonitoredItemCreateRequest &rq = request.itemsToCreate[k];
        MonitoredItemCreateResult &result = response.results[k];
        const ReadValueId &what = rq.itemToMonitor;
        const NodeRef node = addressSpace_.resolve(what.nodeId);
        if (node == NoNode) {
            result.statusCode = Status::BadNodeIdUnknown;
            continue;
        }
        OPCItem *item = addressSpace_.item(node);
        const bool itemValue = item && what.attributeId == Attr::Value;
        if (itemValue && !(item->AccessRights() & AccessRights::Read)) {
            result.statusCode = Status::BadNotReadable;
            continue;
        }
        if (itemValue && !(userAccessLevel(session, *item) & AccessLevel::CurrentRead)) {
            result.statusCode = Status::BadUserAccessDenied;
            continue;
        }
        if (!itemValue) {
            bool isValue = false;
            const DataValue probe = readNodeAttribute(session, node, what.attributeId, isValue);
            if (probe.status == Status::BadAttributeIdInvalid && !(probe.mask & DataValue::HasValue)) {
                result.statusCode = Status::BadAttributeIdInvalid;
                continue;
            }
        }
        if (!what.indexRange.isEmpty()) { // every monitored value here is a scalar or a whole array
            result.statusCode = Status::BadIndexRangeNoData;
            continue;
        }
        if (!what.dataEncoding.isNull()) {
            result.statusCode = Status::BadDataEncodingInvalid;
            continue;
        }
        if (rq.monitoringMode < MonitoringMode::Disabled || rq.monitoringMode > MonitoringMode::Reporting) {
            result.statusCode = Status::BadMonitoringModeInvalid;
            continue;
        }
        if (session.subscriptions.monitoredItems >= config_.maxMonitoredItemsPerSession ||
            monitoredItemTotal_ >= config_.maxMonitoredItems) {
            result.statusCode = Status::BadTooManyMonitoredItems;
            continue;
        }
        auto m = std::make_unique<MonitoredItem>();
        m->subscription = s;
        m->node = node;
        m->attributeId = what.attributeId;
        m->item = itemValue ? item : nullptr;
        m->polled = !itemValue && what.attributeId == Attr::Value;
        m->mode = rq.monitoringMode;
        m->timestamps = request.timestampsToReturn;
        result.statusCode =
            applyParameters(*m, *s, rq.requestedParameters, result.revisedSamplingInterval, result.revisedQueueSize);
        if (isBad(result.statusCode)) {
            result.revisedSamplingInterval = 0;
            result.revisedQueueSize = 0;
            continue;
        }
        m->id = nextMonitoredItemId_++;
        result.monitoredItemId = m->id;
        MonitoredItem &ref = *m;
        s->items.emplace(m->id, std::move(m));
        ++session.subscriptions.monitoredItems;
        ++monitoredItemTotal_;
        ++created;
        if (ref.item)
            watchers_[ref.item].push_back(&ref);
        if (ref.polled)
            s->polled.push_back(ref.id);
        // The first notification is the value of now.
        if (ref.mode != MonitoringMode::Disabled)
            sample(ref, now, stamp);
    }
    if (traceOn(3))
        trace(3, QStringLiteral("UA %1 of %2 monitored items created in subscription %3")
                     .arg(created)
                     .arg(request.itemsToCreate.size())
                     .arg(s->id));
}

void ServerCore::modifyMonitoredItems(RequestContext &context, const ModifyMonitoredItemsRequest &request,
                                      ModifyMonitoredItemsResponse &response)
{
    Subscription *s = &requireSubscription(*context.session, request.subscriptionId);
    checkTimestampsToReturn(request.timestampsToReturn);
    response.results.resize(request.itemsToModify.size());
    for (std::size_t k = 0; k < request.itemsToModify.size(); ++k) {
        const MonitoredItemModifyRequest &rq = request.itemsToModify[k];
        MonitoredItemModifyResult &result = response.results[k];
        auto it = s->items.find(rq.monitoredItemId);
        if (it == s->items.end()) {
            result.statusCode = Status::BadMonitoredItemIdInvalid;
            continue;
        }
        // Checked on a copy so that a refused change leaves the item as it was.
        MonitoredItem &m = *it->second;
        MonitoredItem trial;
        trial.attributeId = m.attributeId;
        trial.item = m.item;
        double interval = 0;
        std::uint32_t queue = 0;
        result.statusCode = applyParameters(trial, *s, rq.requestedParameters, interval, queue);
        if (isBad(result.statusCode))
            continue;
        applyParameters(m, *s, rq.requestedParameters, result.revisedSamplingInterval, result.revisedQueueSize);
        m.timestamps = request.timestampsToReturn;
    }
    if (traceOn(3))
        trace(3, QStringLiteral("UA %1 monitored items modified in subscription %2")
                     .arg(request.itemsToModify.size())
                     .arg(s->id));
}

void ServerCore::setMonitoringMode(RequestContext &context, const SetMonitoringModeRequest &request,
                                   SetMonitoringModeResponse &response)
{
    Subscription *s = &requireSubscription(*context.session, request.subscriptionId);
    if (request.monitoringMode < MonitoringMode::Disabled || request.monitoringMode > MonitoringMode::Reporting)
        throw ServiceError{Status::BadMonitoringModeInvalid};
    const qint64 now = nowMs();
    const DateTime stamp = this->now();
    for (std::uint32_t id : request.monitoredItemIds) {
        auto it = s->items.find(id);
        if (it == s->items.end()) {
            response.results.push_back(Status::BadMonitoredItemIdInvalid);
            continue;
        }
        response.results.push_back(Status::Good);
        MonitoredItem &m = *it->second;
        const std::int32_t before = m.mode;
        m.mode = request.monitoringMode;
        if (m.mode == before)
            continue;
        if (m.ready && m.mode != MonitoringMode::Reporting) {
            std::erase(s->ready, id);
            m.ready = false;
        }
        if (m.mode == MonitoringMode::Disabled) {
            m.queue.clear();
            m.hasLast = false;
        } else if (before == MonitoringMode::Disabled) {
            sample(m, now, stamp); // enabled again: the value of now comes first
        } else if (m.mode == MonitoringMode::Reporting && !m.queue.empty() && !m.ready) {
            m.ready = true;
            s->ready.push_back(id);
        }
    }
    if (traceOn(3))
        trace(3, QStringLiteral("UA monitoring mode %1 for %2 monitored items of subscription %3")
                     .arg(request.monitoringMode)
                     .arg(request.monitoredItemIds.size())
                     .arg(s->id));
}

void ServerCore::deleteMonitoredItems(RequestContext &context, const DeleteMonitoredItemsRequest &request,
                                      DeleteMonitoredItemsResponse &response)
{
    Session &session = *context.session;
    Subscription *s = &requireSubscription(session, request.subscriptionId);
    for (std::uint32_t id : request.monitoredItemIds) {
        const bool known = s->items.count(id) != 0;
        if (known)
            removeMonitoredItem(session, *s, id);
        response.results.push_back(known ? Status::Good : Status::BadMonitoredItemIdInvalid);
    }
    if (traceOn(3))
        trace(3, QStringLiteral("UA %1 monitored items deleted from subscription %2")
                     .arg(request.monitoredItemIds.size())
                     .arg(s->id));
}

void ServerCore::removeMonitoredItem(Session &session, Subscription &s, std::uint32_t id)
{
    auto it = s.items.find(id);
    if (it == s.items.end())
        return;
    MonitoredItem *m = it->second.get();
    if (m->item) {
        auto w = watchers_.find(m->item);
        if (w != watchers_.end()) {
            std::erase(w->second, m);
            if (w->second.empty())
                watchers_.erase(w);
        }
    }
    if (m->ready)
        std::erase(s.ready, id);
    if (m->changed)
        std::erase(s.changed, id);
    if (m->polled)
        std::erase(s.polled, id);
    s.items.erase(it);
    --session.subscriptions.monitoredItems;
    --monitoredItemTotal_;
}

} // namespace Ua

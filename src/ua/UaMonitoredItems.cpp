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
#include <optional>

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
    return m.reportsTimestamps() && last.sourceTimestamp != v.sourceTimestamp;
}

void enqueue(Subscription &s, MonitoredItem &m, DataValue v)
{
    m.push(std::move(v));
    if (m.mode == MonitoringMode::Reporting)
        s.markReady(m);
    if (!s.triggerLinks.empty() && m.mode != MonitoringMode::Disabled)
        fireTriggers(s, m);
}

} // namespace

void MonitoredItem::push(DataValue v)
{
    hasLast = true;
    if (queueSize <= 1) {
        // A queue of one holds the newest value; no overflow is reported for it.
        last = std::move(v);
        lastPending = true;
        return;
    }
    last = v;
    if (!ring)
        ring = std::make_unique<Ring>();
    Ring &r = *ring;
    constexpr StatusCode overflow = Status::InfoTypeDataValue | Status::Overflow;
    auto at = [&r](std::uint32_t k) -> DataValue & { return r.values[(r.head + k) % r.values.size()]; };
    if (r.count == queueSize) {
        if (discardOldest) {
            at(0) = std::move(v); // the oldest slot becomes the newest
            r.head = (r.head + 1) % std::uint32_t(r.values.size());
            at(0).setStatus(at(0).status | overflow);
        } else {
            at(r.count - 1) = std::move(v);
            at(r.count - 1).setStatus(at(r.count - 1).status | overflow);
        }
        return;
    }
    if (r.count == r.values.size()) { // full but below the queue size: grow in order
        std::rotate(r.values.begin(), r.values.begin() + r.head, r.values.end());
        r.head = 0;
        r.values.push_back(std::move(v));
    } else {
        at(r.count) = std::move(v);
    }
    ++r.count;
}

DataValue MonitoredItem::takeOldest()
{
    if (queueSize <= 1) {
        lastPending = false;
        return last;
    }
    Ring &r = *ring;
    DataValue v = std::move(r.values[r.head]);
    r.head = (r.head + 1) % std::uint32_t(r.values.size());
    if (--r.count == 0)
        r.head = 0;
    return v;
}

void MonitoredItem::clearQueue()
{
    lastPending = false;
    ring.reset();
}

void MonitoredItem::resizeQueue(std::uint32_t size)
{
    if (size == queueSize)
        return;
    std::vector<DataValue> kept;
    while (hasQueued())
        kept.push_back(takeOldest());
    clearQueue();
    queueSize = size;
    // The newest values stay.
    const std::size_t from = kept.size() > size ? kept.size() - size : 0;
    const bool had = hasLast;
    const DataValue newest = last;
    for (std::size_t k = from; k < kept.size(); ++k)
        push(std::move(kept[k]));
    hasLast = had;
    last = newest;
}

std::vector<MonitoredItemTable::Entry>::const_iterator MonitoredItemTable::lowerBound(std::uint32_t id) const
{
    return std::lower_bound(items_.begin(), items_.end(), id,
                            [](const Entry &m, std::uint32_t id) { return m->id < id; });
}

MonitoredItem *MonitoredItemTable::find(std::uint32_t id) const
{
    const auto it = lowerBound(id);
    return it != items_.end() && (*it)->id == id ? it->get() : nullptr;
}

MonitoredItem &MonitoredItemTable::insert(Entry m)
{
    // Nearly always the highest id so far; in order anyway, should the ids wrap.
    const auto at = !items_.empty() && items_.back()->id > m->id ? lowerBound(m->id) : items_.cend();
    return **items_.insert(at, std::move(m));
}

void ServerCore::watchItems()
{
    if (!itemObserver_)
        itemObserver_ = server_.addItemObserver([this](OPCItem &item) { itemChanged(item); });
    if (!stateObserver_)
        stateObserver_ = server_.addStateObserver([this](std::int32_t) { serverStateChanged(); });
}

void ServerCore::sample(MonitoredItem &m, qint64 now, DateTime stamp, const DataValue *value)
{
    m.lastSampleMs = now;
    m.sampledOnce = true;
    m.changed = false;
    DataValue v = value    ? *value
                  : m.item ? gatedItemValue(*m.item)
                           : sampleAttribute(*m.subscription->session, m.node, m.attributeId);
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
    // In place: the ones still waiting for their sampling time stay.
    std::erase_if(s.changed, [&](MonitoredItem *m) {
        if (!m->changed)
            return true;
        if (m->mode == MonitoringMode::Disabled)
            m->changed = false;
        else if (due(*m))
            sample(*m, now, stamp);
        else
            return false;
        return true;
    });
    for (MonitoredItem *m : s.polled)
        if (m->mode != MonitoringMode::Disabled && due(*m))
            sample(*m, now, stamp);
}

void ServerCore::itemChanged(OPCItem &item)
{
    if (std::size_t(item.handle()) >= watchers_.size())
        return;
    const Watchers &watchers = watchers_[item.handle()];
    // A new timestamp alone passes only the StatusValueTimestamp trigger.
    const bool onlyTimestamp = item.onlyTimestampChanged();
    if (watchers.items.empty() || (onlyTimestamp && !watchers.timestampTriggered))
        return;
    const qint64 now = nowMs();
    const DateTime stamp = this->now();
    std::optional<DataValue> value; // taken once for every watcher that samples now
    for (MonitoredItem *m : watchers.items) {
        if (m->mode == MonitoringMode::Disabled || (onlyTimestamp && !m->reportsTimestamps()))
            continue;
        if (double(now - m->lastSampleMs) >= m->samplingInterval) {
            if (!value)
                value = gatedItemValue(item);
            sample(*m, now, stamp, &*value);
        } else if (!m->changed) {
            m->changed = true;
            m->subscription->changed.push_back(m);
        }
    }
}

// Item values are refused while the server is neither running nor in test: every
// item monitored item hears of it (BadOutOfService) and of the way back.
void ServerCore::serverStateChanged()
{
    const qint64 now = nowMs();
    const DateTime stamp = this->now();
    forEachSubscriber([&](const Session &session) {
        for (auto &s : session.subscriptions.subscriptions)
            for (auto &m : s->items)
                if (m->mode != MonitoringMode::Disabled && m->attributeId == Attr::Value && (m->item || m->polled))
                    sample(*m, now, stamp);
    });
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
        // Items carry no EURange, so a percent deadband has nothing to refer to: the
        // OPC UA standard (OPC 10000-8) names this code for that case.
        if (filter.deadbandType >= DeadbandPercent || !(filter.deadbandValue >= 0) ||
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
    // Entries beyond the first come from the session's budget.
    const SessionSubscriptions &subs = s.session->subscriptions;
    const std::size_t spare =
        config_.queuedValuesPerSession - std::min(config_.queuedValuesPerSession, subs.queuedValues);
    m.discardOldest = p.discardOldest;
    m.resizeQueue(
        std::uint32_t(std::clamp<std::size_t>(p.queueSize, 1, std::min<std::size_t>(config_.maxQueueSize, spare + 1))));
    m.clientHandle = p.clientHandle;
    m.trigger = std::uint8_t(trigger);
    m.deadbandType = std::uint8_t(deadbandType);
    m.deadband = deadband;
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
        // A client here counts for more than subscriptions no one may come back for.
        const bool sessionFull = session.subscriptions.monitoredItems >= config_.maxMonitoredItemsPerSession;
        while (!sessionFull && monitoredItemTotal_ >= config_.maxMonitoredItems &&
               giveUpOrphan(QStringLiteral("no room left for the monitored items of a session"))) {
        }
        if (sessionFull || monitoredItemTotal_ >= config_.maxMonitoredItems) {
            result.statusCode = Status::BadTooManyMonitoredItems;
            continue;
        }
        auto m = std::make_unique<MonitoredItem>();
        m->subscription = s;
        m->node = node;
        m->attributeId = what.attributeId;
        m->item = itemValue ? item : nullptr;
        m->polled = !itemValue && what.attributeId == Attr::Value;
        m->mode = std::uint8_t(rq.monitoringMode);
        m->timestamps = std::uint8_t(request.timestampsToReturn);
        result.statusCode =
            applyParameters(*m, *s, rq.requestedParameters, result.revisedSamplingInterval, result.revisedQueueSize);
        if (isBad(result.statusCode)) {
            result.revisedSamplingInterval = 0;
            result.revisedQueueSize = 0;
            continue;
        }
        m->id = nextMonitoredItemId_++;
        result.monitoredItemId = m->id;
        MonitoredItem &ref = s->items.insert(std::move(m));
        ++session.subscriptions.monitoredItems;
        session.subscriptions.queuedValues += ref.queueSize - 1;
        ++monitoredItemTotal_;
        ++created;
        if (ref.item) {
            if (std::size_t(ref.item->handle()) >= watchers_.size())
                watchers_.resize(std::size_t(ref.item->handle()) + 1);
            // Grown by half, not doubled: each item has as many watchers as sessions watch it.
            std::vector<MonitoredItem *> &watching = watchers_[ref.item->handle()].items;
            if (watching.size() == watching.capacity())
                watching.reserve(watching.size() + watching.size() / 2 + 1);
            watching.push_back(&ref);
            watchers_[ref.item->handle()].timestampTriggered += ref.reportsTimestamps();
        }
        if (ref.polled)
            s->polled.push_back(&ref);
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
        MonitoredItem *found = s->items.find(rq.monitoredItemId);
        if (!found) {
            result.statusCode = Status::BadMonitoredItemIdInvalid;
            continue;
        }
        // Checked on a copy so that a refused change leaves the item as it was.
        MonitoredItem &m = *found;
        MonitoredItem trial;
        trial.attributeId = m.attributeId;
        trial.item = m.item;
        double interval = 0;
        std::uint32_t queue = 0;
        // The item's own share of the queue budget is free for its new size.
        std::size_t &queued = context.session->subscriptions.queuedValues;
        queued -= m.queueSize - 1;
        result.statusCode = applyParameters(trial, *s, rq.requestedParameters, interval, queue);
        if (isBad(result.statusCode)) {
            queued += m.queueSize - 1;
            continue;
        }
        const bool timestampTriggered = m.reportsTimestamps();
        applyParameters(m, *s, rq.requestedParameters, result.revisedSamplingInterval, result.revisedQueueSize);
        if (m.item && timestampTriggered != m.reportsTimestamps()) {
            std::size_t &count = watchers_[m.item->handle()].timestampTriggered;
            count = timestampTriggered ? count - 1 : count + 1;
        }
        queued += m.queueSize - 1;
        m.timestamps = std::uint8_t(request.timestampsToReturn);
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
        MonitoredItem *found = s->items.find(id);
        if (!found) {
            response.results.push_back(Status::BadMonitoredItemIdInvalid);
            continue;
        }
        response.results.push_back(Status::Good);
        MonitoredItem &m = *found;
        const std::int32_t before = m.mode;
        m.mode = std::uint8_t(request.monitoringMode);
        if (m.mode == before)
            continue;
        if (m.ready && m.mode != MonitoringMode::Reporting) {
            std::erase(s->ready, &m);
            m.ready = false;
        }
        if (m.mode == MonitoringMode::Disabled) {
            m.clearQueue();
            m.hasLast = false;
        } else if (before == MonitoringMode::Disabled) {
            sample(m, now, stamp); // enabled again: the value of now comes first
        } else if (m.mode == MonitoringMode::Reporting && m.hasQueued()) {
            s->markReady(m);
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
        MonitoredItem *m = s->items.find(id);
        const bool known = m && !m->removed; // an id named twice is gone the second time
        if (known)
            m->removed = true;
        response.results.push_back(known ? Status::Good : Status::BadMonitoredItemIdInvalid);
    }
    removeMarkedItems(session, *s);
    if (traceOn(3))
        trace(3, QStringLiteral("UA %1 monitored items deleted from subscription %2")
                     .arg(request.monitoredItemIds.size())
                     .arg(s->id));
}

void ServerCore::removeMarkedItems(Session &session, Subscription &s)
{
    const auto marked = [](const MonitoredItem *m) { return m->removed; };
    std::erase_if(s.ready, marked);
    std::erase_if(s.changed, marked);
    std::erase_if(s.polled, marked);
    s.items.removeIf([&](const MonitoredItem &m) {
        if (!m.removed)
            return false;
        if (m.item) {
            Watchers &w = watchers_[m.item->handle()];
            std::erase(w.items, &m);
            w.timestampTriggered -= m.reportsTimestamps();
        }
        session.subscriptions.queuedValues -= m.queueSize - 1;
        s.triggerLinks.erase(m.id);
        --session.subscriptions.monitoredItems;
        --monitoredItemTotal_;
        return true;
    });
}

} // namespace Ua

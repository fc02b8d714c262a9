#pragma once
#include "ua/UaAddressSpace.h"
#include "ua/UaStructures.h"

#include <QtGlobal>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class OPCItem;

// State of the subscriptions and monitored items of one session. The services are
// in UaSubscription.cpp (subscriptions, Publish, Republish) and UaMonitoredItems.cpp
// (monitored items, sampling, filters).
namespace Ua {

class Channel;
struct Session;
struct Subscription;

namespace MonitoringMode {
constexpr std::int32_t Disabled = 0, Sampling = 1, Reporting = 2;
}

// Tens of thousands exist per session, so the layout is kept tight: a queue of one
// (what nearly every client asks) is the last value itself, flagged as pending;
// longer queues keep a ring that grows only as values come.
struct MonitoredItem {
    Subscription *subscription = nullptr;
    OPCItem *item = nullptr; // an item's Value: sampled when the toolkit reports a change
    double samplingInterval = 0;
    double deadband = 0;
    qint64 lastSampleMs = 0;
    DataValue last;              // the last value queued: what the filter compares against
    std::vector<DataValue> ring; // queues longer than one: values from head, count of them
    std::uint32_t head = 0, count = 0;
    std::uint32_t id = 0;
    NodeRef node = NoNode;
    std::uint32_t attributeId = 0;
    std::uint32_t clientHandle = 0;
    std::uint32_t queueSize = 1;
    std::uint8_t mode = MonitoringMode::Reporting;
    std::uint8_t timestamps = 0; // TimestampsToReturn: 0 Source, 1 Server, 2 Both, 3 Neither
    std::uint8_t trigger = 1;    // DataChangeTrigger: 0 Status, 1 StatusValue, 2 StatusValueTimestamp
    std::uint8_t deadbandType = 0;
    bool polled = false; // a standard variable's Value: sampled at its interval
    bool discardOldest = true;
    bool hasLast = false;
    bool lastPending = false; // a queue of one: last waits to be sent
    bool changed = false;     // a change waits for its sampling time
    bool ready = false;       // listed in the subscription's ready list
    bool sampledOnce = false;

    bool hasQueued() const { return queueSize <= 1 ? lastPending : count > 0; }
    bool reportsTimestamps() const { return trigger == 2; } // a new timestamp alone is a change
    std::size_t queued() const { return queueSize <= 1 ? std::size_t(lastPending) : count; }
    void push(DataValue v); // with the overflow rules of the OPC UA standard
    DataValue takeOldest();
    void clearQueue();
    void resizeQueue(std::uint32_t size);
};

struct Subscription {
    std::uint32_t id = 0;
    Session *session = nullptr; // the one it belongs to
    double publishingInterval = 0;
    std::uint32_t lifetimeCount = 0;
    std::uint32_t maxKeepAliveCount = 0;
    std::uint32_t maxNotifications = 0; // per message, 0: our own bound
    bool publishingEnabled = true;
    std::uint8_t priority = 0;
    qint64 nextDueMs = 0;
    std::uint32_t keepAliveCounter = 0;
    std::uint32_t lifetimeCounter = 0;
    std::uint32_t nextSequenceNumber = 1;
    bool late = false; // had something to send while no Publish request was waiting
    std::map<std::uint32_t, std::unique_ptr<MonitoredItem>> items;
    std::vector<MonitoredItem *> ready;   // items with queued values in Reporting mode
    std::vector<MonitoredItem *> changed; // items whose change waits for the sampling interval
    std::vector<std::uint32_t> polled;    // standard variables sampled at their interval
    std::deque<NotificationMessage> retransmission;
    std::size_t retained = 0; // notifications in the retransmission queue
    // Triggering links: a triggering item's id and the ids of the items it triggers.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> triggerLinks;

    // Lists m among the items with something to send, once.
    void markReady(MonitoredItem &m)
    {
        if (!m.ready) {
            m.ready = true;
            ready.push_back(&m);
        }
    }
};

// A Publish request waiting for something to carry.
struct PendingPublish {
    Channel *channel = nullptr;
    std::uint32_t requestId = 0;
    std::uint32_t requestHandle = 0;
    qint64 receivedMs = 0;
    std::uint32_t timeoutHint = 0;
    std::vector<StatusCode> results; // of the acknowledgements it carried
};

// A monitored item of s queued a notification: the items it triggers report what
// they queued in sampling mode (UaTriggering.cpp).
void fireTriggers(Subscription &s, const MonitoredItem &m);

struct SessionSubscriptions {
    std::vector<std::unique_ptr<Subscription>> subscriptions;
    std::deque<PendingPublish> publishQueue;
    // Subscriptions that ended on their own (lifetime), told at the next Publish.
    std::deque<std::pair<std::uint32_t, StatusCode>> statusChanges;
    std::size_t monitoredItems = 0;
    std::size_t queuedValues = 0; // queue entries its monitored items may hold beyond one each
};

} // namespace Ua

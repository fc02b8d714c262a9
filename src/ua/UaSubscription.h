#pragma once
#include "ua/UaAddressSpace.h"
#include "ua/UaStructures.h"

#include <QtGlobal>
#include <algorithm>
#include <deque>
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
// longer queues keep a ring, made and grown only as values come.
struct MonitoredItem {
    struct Ring {
        std::vector<DataValue> values; // count of them from head
        std::uint32_t head = 0, count = 0;
    };
    Subscription *subscription = nullptr;
    OPCItem *item = nullptr; // an item's Value: sampled when the toolkit reports a change
    double samplingInterval = 0;
    double deadband = 0;
    qint64 lastSampleMs = 0;
    std::unique_ptr<Ring> ring;
    // The last value queued: what the filter compares against. The small fields below
    // fill the end of its last word.
    [[no_unique_address]] DataValue last;
    std::uint8_t attributeId = 0; // every attribute id is below 28
    std::uint8_t mode = MonitoringMode::Reporting;
    std::uint8_t timestamps = 0; // TimestampsToReturn: 0 Source, 1 Server, 2 Both, 3 Neither
    std::uint8_t trigger = 1;    // DataChangeTrigger: 0 Status, 1 StatusValue, 2 StatusValueTimestamp
    std::uint8_t deadbandType = 0;
    bool polled : 1 = false; // a standard variable's Value: sampled at its interval
    bool discardOldest : 1 = true;
    bool hasLast : 1 = false;
    bool lastPending : 1 = false; // a queue of one: last waits to be sent
    bool changed : 1 = false;     // a change waits for its sampling time
    bool ready : 1 = false;       // listed in the subscription's ready list
    bool sampledOnce : 1 = false;
    bool removed : 1 = false; // picked for removal (ServerCore::removeMarkedItems)
    std::uint32_t id = 0;
    NodeRef node = NoNode;
    std::uint32_t clientHandle = 0;
    std::uint32_t queueSize = 1;

    bool hasQueued() const { return queued() > 0; }
    bool reportsTimestamps() const { return trigger == 2; } // a new timestamp alone is a change
    std::size_t queued() const { return queueSize <= 1 ? std::size_t(lastPending) : ring ? ring->count : 0; }
    void push(DataValue v); // with the overflow rules of the OPC UA standard
    DataValue takeOldest();
    void clearQueue();
    void resizeQueue(std::uint32_t size);
};

// A subscription's monitored items by id. Ids are handed out increasing, so a vector in
// id order finds them by binary search at a pointer each. The items never move: the
// ready and changed lists and the server's index by item point to them.
class MonitoredItemTable {
public:
    using Entry = std::unique_ptr<MonitoredItem>;
    MonitoredItem *find(std::uint32_t id) const;
    MonitoredItem &insert(Entry m);
    // Drops the items gone(m) picks, in one pass whatever their number.
    template <class F> void removeIf(F gone)
    {
        std::erase_if(items_, [&](const Entry &m) { return gone(*m); });
    }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    auto begin() const { return items_.begin(); } // in id order
    auto end() const { return items_.end(); }

private:
    // The first entry whose id is not below `id`.
    std::vector<Entry>::const_iterator lowerBound(std::uint32_t id) const;

    std::vector<Entry> items_;
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
    MonitoredItemTable items;
    std::vector<MonitoredItem *> ready;   // items with queued values in Reporting mode
    std::vector<MonitoredItem *> changed; // items whose change waits for the sampling interval
    std::vector<MonitoredItem *> polled;  // standard variables sampled at their interval
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

#pragma once
#include "ua/UaAddressSpace.h"
#include "ua/UaStructures.h"

#include <QtGlobal>
#include <deque>
#include <map>
#include <memory>
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

struct MonitoredItem {
    std::uint32_t id = 0;
    Subscription *subscription = nullptr;
    NodeRef node = NoNode;
    OPCItem *item = nullptr; // an item's Value: sampled when the toolkit reports a change
    std::uint32_t attributeId = 0;
    bool polled = false; // a standard variable's Value: sampled at its interval
    std::int32_t mode = MonitoringMode::Reporting;
    std::uint32_t clientHandle = 0;
    double samplingInterval = 0;
    std::uint32_t queueSize = 1;
    bool discardOldest = true;
    std::int32_t timestamps = 0; // TimestampsToReturn: 0 Source, 1 Server, 2 Both, 3 Neither
    std::int32_t trigger = 1;    // DataChangeTrigger: 0 Status, 1 StatusValue, 2 StatusValueTimestamp
    std::uint32_t deadbandType = 0;
    double deadband = 0;
    std::deque<DataValue> queue;
    DataValue last; // the last value queued: what the filter compares against
    bool hasLast = false;
    bool changed = false; // a change waits for its sampling time
    bool ready = false;   // listed in the subscription's ready list
    qint64 lastSampleMs = 0;
    bool sampledOnce = false;
};

struct Subscription {
    std::uint32_t id = 0;
    const Session *session = nullptr; // the one it belongs to
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
    std::vector<std::uint32_t> ready;   // items with queued values in Reporting mode
    std::vector<std::uint32_t> changed; // items whose change waits for the sampling interval
    std::vector<std::uint32_t> polled;  // standard variables sampled at their interval
    std::deque<NotificationMessage> retransmission;
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

struct SessionSubscriptions {
    std::vector<std::unique_ptr<Subscription>> subscriptions;
    std::deque<PendingPublish> publishQueue;
    // Subscriptions that ended on their own (lifetime), told at the next Publish.
    std::deque<std::pair<std::uint32_t, StatusCode>> statusChanges;
    std::size_t monitoredItems = 0;
};

} // namespace Ua

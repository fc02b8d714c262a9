// Subscriptions and monitored items: the first values, data changes from the
// toolkit, filters, queues, keep-alives, acknowledgements and Republish, lifetime,
// limits, the state gate, and clean-up when subscriptions or sessions end. Publish
// answers come from the publishing timer, so the tests wait for them (bounded).
#include "TestSupport.h"
#include "UaFixture.h"

#include <gtest/gtest.h>

using namespace Ua;

namespace {

struct Published {
    bool ok = false;
    StatusCode fault = 0;
    PublishResponse response;
    std::vector<MonitoredItemNotification> changes;
    std::vector<StatusCode> statusChanges;
};

struct SubscriptionClient {
    UaCore ua;
    MemoryPeer *p = nullptr;

    explicit SubscriptionClient(const std::function<void(ServerConfig &)> &configure = {}, int bigFolderItems = 0)
    {
        ua.addPanelItems(bigFolderItems);
        ua.server.MinUpdatePeriod = 0; // item changes are sampled as they come
        std::int32_t level = 3;
        ua.server.SetTraceLevel(level);
        ua.config.minPublishingIntervalMs = 10;
        if (configure)
            configure(ua.config);
        ua.start();
        p = &ua.client();
    }

    template <class Req> std::uint32_t send(Req &request)
    {
        request.requestHeader.authenticationToken = p->authenticationToken;
        request.requestHeader.requestHandle = ++p->requestHandle;
        QByteArray body;
        Encoder e(body);
        encodeMessage(e, request);
        return p->sendMessage(body);
    }

    template <class Resp> bool receive(std::uint32_t requestId, Resp &response)
    {
        const QByteArray answer = p->receiveMessage(requestId);
        if (answer.isEmpty())
            return false;
        Decoder d(answer);
        if (!decodeNodeId(d).isNumeric(Resp::desc().binaryEncodingId))
            return false;
        decodeInto(d, response);
        return true;
    }

    CreateSubscriptionResponse subscribe(double interval = 20, std::uint32_t lifetime = 1000,
                                         std::uint32_t keepAlive = 50, StatusCode *fault = nullptr)
    {
        CreateSubscriptionRequest request;
        request.requestedPublishingInterval = interval;
        request.requestedLifetimeCount = lifetime;
        request.requestedMaxKeepAliveCount = keepAlive;
        request.publishingEnabled = true;
        CreateSubscriptionResponse response;
        const auto reply = p->call(request, response);
        EXPECT_TRUE(reply.ok);
        if (fault)
            *fault = reply.fault;
        return response;
    }

    std::vector<MonitoredItemCreateResult> monitor(std::uint32_t subscription,
                                                   std::vector<MonitoredItemCreateRequest> items,
                                                   std::int32_t timestamps = 2)
    {
        CreateMonitoredItemsRequest request;
        request.subscriptionId = subscription;
        request.timestampsToReturn = timestamps;
        request.itemsToCreate = std::move(items);
        CreateMonitoredItemsResponse response;
        const auto reply = p->call(request, response, 32768); // large requests in several chunks
        EXPECT_TRUE(reply.ok);
        EXPECT_EQ(reply.fault, 0u);
        return response.results;
    }

    std::uint32_t sendPublish(std::vector<SubscriptionAcknowledgement> acks = {})
    {
        PublishRequest request;
        request.requestHeader.timeoutHint = 60000;
        request.subscriptionAcknowledgements = std::move(acks);
        return send(request);
    }

    bool frameWaiting()
    {
        const QByteArray &out = p->output();
        if (out.size() < 8)
            return false;
        Decoder d(out.constData() + 4, 4);
        return qsizetype(d.u32()) <= out.size();
    }

    Published awaitPublish(std::uint32_t requestId)
    {
        Published result;
        waitFor([this] { return frameWaiting(); }, 5000);
        const QByteArray answer = p->receiveMessage(requestId);
        if (answer.isEmpty())
            return result;
        Decoder d(answer);
        const NodeId type = decodeNodeId(d);
        if (type.isNumeric(Id::ServiceFault_Binary)) {
            ServiceFault fault;
            decodeInto(d, fault);
            result.fault = fault.responseHeader.serviceResult;
            result.ok = true;
            return result;
        }
        if (!type.isNumeric(PublishResponse::desc().binaryEncodingId))
            return result;
        decodeInto(d, result.response);
        for (const ExtensionObject &x : result.response.notificationMessage.notificationData) {
            DataChangeNotification change;
            StatusChangeNotification status;
            if (decodeExtension(x, change))
                result.changes.insert(result.changes.end(), change.monitoredItems.begin(), change.monitoredItems.end());
            else if (decodeExtension(x, status))
                result.statusChanges.push_back(status.status);
        }
        result.ok = true;
        return result;
    }

    Published publish(std::vector<SubscriptionAcknowledgement> acks = {})
    {
        return awaitPublish(sendPublish(std::move(acks)));
    }

    // Publishes until a message with data changes comes (keep-alives are skipped).
    Published publishChanges()
    {
        for (int k = 0; k < 20; ++k) {
            Published r = publish();
            if (!r.ok || r.fault || !r.changes.empty())
                return r;
        }
        return {};
    }

    OPCItem &item(const char *id) { return *ua.server.Tags().Item(QString::fromLatin1(id)); }
};

MonitoredItemCreateRequest watchValue(const NodeId &node, std::uint32_t handle, std::uint32_t queueSize = 10,
                                      double sampling = 0, ExtensionObject filter = {})
{
    MonitoredItemCreateRequest r;
    r.itemToMonitor = readId(node);
    r.monitoringMode = MonitoringMode::Reporting;
    r.requestedParameters.clientHandle = handle;
    r.requestedParameters.samplingInterval = sampling;
    r.requestedParameters.queueSize = queueSize;
    r.requestedParameters.discardOldest = true;
    r.requestedParameters.filter = std::move(filter);
    return r;
}

ExtensionObject dataChangeFilter(std::int32_t trigger, std::uint32_t deadbandType = 0, double deadband = 0)
{
    DataChangeFilter f;
    f.trigger = trigger;
    f.deadbandType = deadbandType;
    f.deadbandValue = deadband;
    // As a client sends it: the encoded body.
    ExtensionObject x;
    x.typeId = NodeId(0, Id::DataChangeFilter_Binary);
    x.encoding = ExtensionObject::Encoding::ByteString;
    Encoder e(x.body);
    encodeStructure(e, DataChangeFilter::desc(), &f);
    return x;
}

std::vector<double> values(const std::vector<MonitoredItemNotification> &changes, std::uint32_t handle)
{
    std::vector<double> v;
    for (const auto &c : changes)
        if (c.clientHandle == handle)
            v.push_back(c.value.value.type == BuiltinType::Float || c.value.value.type == BuiltinType::Double
                            ? c.value.value.d
                            : double(c.value.value.i));
    return v;
}

} // namespace

TEST(UaSubscription, InitialValuesThenDataChangesFromTheToolkit)
{
    SubscriptionClient c;
    const auto sub = c.subscribe();
    EXPECT_EQ(sub.revisedPublishingInterval, 20.0);
    const auto results =
        c.monitor(sub.subscriptionId, {watchValue(item("C01.Z1.D1.Measure"), 1), watchValue(item("C01.Z1.G1.Gas"), 2),
                                       watchValue(NodeId(0, Id::State), 3), watchValue(item("No.Such.Item"), 4),
                                       watchValue(item("Test.WriteOnly"), 5)});
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].statusCode, Status::Good);
    EXPECT_NE(results[0].monitoredItemId, results[1].monitoredItemId);
    EXPECT_EQ(results[2].statusCode, Status::Good);
    EXPECT_EQ(results[3].statusCode, Status::BadNodeIdUnknown);
    EXPECT_EQ(results[4].statusCode, Status::BadNotReadable);

    Published first = c.publishChanges();
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.response.subscriptionId, sub.subscriptionId);
    EXPECT_EQ(values(first.changes, 1), std::vector<double>{1.25});
    EXPECT_EQ(values(first.changes, 3), std::vector<double>{0}); // Running
    bool gas = false;
    for (const auto &n : first.changes)
        if (n.clientHandle == 2) {
            gas = n.value.value.s == QLatin1String("CO");
            EXPECT_TRUE(n.value.mask & DataValue::HasSourceTimestamp);
            EXPECT_TRUE(n.value.mask & DataValue::HasServerTimestamp);
        }
    EXPECT_TRUE(gas);
    EXPECT_EQ(first.response.notificationMessage.sequenceNumber, 1u);

    c.item("C01.Z1.D1.Measure").SetVQT(::Variant(7.5f), Quality::Good);
    Published next = c.publishChanges();
    ASSERT_TRUE(next.ok);
    EXPECT_EQ(values(next.changes, 1), std::vector<double>{7.5});
    EXPECT_TRUE(values(next.changes, 2).empty()); // unchanged items stay quiet
    EXPECT_EQ(next.response.notificationMessage.sequenceNumber, 2u);

    // A quality change alone is a change too.
    c.item("C01.Z1.D1.Measure").SetVQT(std::nullopt, Quality::Bad);
    Published bad = c.publishChanges();
    ASSERT_EQ(bad.changes.size(), 1u);
    EXPECT_EQ(bad.changes[0].value.status & 0xFFFF0000u, Status::Bad);

    // Below every floor: revised upwards, the lifetime to three keep-alives.
    c.ua.server.MinUpdatePeriod = 15;
    ModifySubscriptionRequest modify;
    modify.subscriptionId = sub.subscriptionId;
    modify.requestedPublishingInterval = 5;
    modify.requestedLifetimeCount = 2;
    modify.requestedMaxKeepAliveCount = 0;
    ModifySubscriptionResponse modified;
    ASSERT_TRUE(c.p->call(modify, modified).ok);
    EXPECT_EQ(modified.revisedPublishingInterval, 15.0);
    EXPECT_EQ(modified.revisedMaxKeepAliveCount, 1u);
    EXPECT_EQ(modified.revisedLifetimeCount, 3u);
    modify.subscriptionId = 4242;
    EXPECT_EQ(c.p->call(modify, modified).fault, Status::BadSubscriptionIdInvalid);
}

TEST(UaSubscription, FiltersAbsoluteDeadbandAndStatusTrigger)
{
    SubscriptionClient c;
    const auto sub = c.subscribe();
    const auto results =
        c.monitor(sub.subscriptionId, {watchValue(item("Test.Dbl"), 1, 10, 0, dataChangeFilter(1, 1, 5.0)),
                                       watchValue(item("Test.Long"), 2, 10, 0, dataChangeFilter(0)),
                                       watchValue(item("Test.Int"), 3, 10, 0, dataChangeFilter(1, 2, 10.0)),
                                       watchValue(item("Test.Str"), 4, 10, 0, dataChangeFilter(1, 1, 1.0)),
                                       watchValue(item("Test.Int"), 5, 10, 0, dataChangeFilter(1, 1, -1.0))});
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].statusCode, Status::Good);
    EXPECT_EQ(results[1].statusCode, Status::Good);
    EXPECT_EQ(results[2].statusCode, Status::BadMonitoredItemFilterUnsupported); // percent: no EURange
    EXPECT_EQ(results[3].statusCode, Status::BadFilterNotAllowed);               // deadband on text
    EXPECT_EQ(results[4].statusCode, Status::BadDeadbandFilterInvalid);
    // A filter on another attribute than Value is refused; so is an unknown filter type.
    MonitoredItemCreateRequest name = watchValue(item("Test.Dbl"), 6, 1, 0, dataChangeFilter(1));
    name.itemToMonitor.attributeId = Attr::DisplayName;
    MonitoredItemCreateRequest odd = watchValue(item("Test.Dbl"), 7, 1, 0, dataChangeFilter(1));
    odd.requestedParameters.filter.typeId = NodeId(0, Id::EventFilter_Binary);
    const auto more = c.monitor(sub.subscriptionId, {name, odd});
    EXPECT_EQ(more[0].statusCode, Status::BadFilterNotAllowed);
    EXPECT_EQ(more[1].statusCode, Status::BadMonitoredItemFilterUnsupported);

    Published first = c.publishChanges();
    EXPECT_EQ(values(first.changes, 1), std::vector<double>{0.5});
    EXPECT_EQ(values(first.changes, 2), std::vector<double>{0});

    auto &dbl = c.item("Test.Dbl");
    for (double v : {3.0, 5.5, 12.0, 14.0, 20.0}) // 0.5 -> 12 and 12 -> 20 pass; the rest stay inside 5
        dbl.SetVQT(::Variant(v), Quality::Good);
    c.item("Test.Long").SetVQT(::Variant(std::int32_t(42)), Quality::Good); // value only: the Status trigger ignores it
    Published moved = c.publishChanges();
    EXPECT_EQ(values(moved.changes, 1), (std::vector<double>{12.0, 20.0}));
    EXPECT_TRUE(values(moved.changes, 2).empty());

    c.item("Test.Long").SetVQT(std::nullopt, std::int16_t(0x40));
    Published status = c.publishChanges();
    EXPECT_EQ(values(status.changes, 2), std::vector<double>{42});
    EXPECT_TRUE(values(status.changes, 1).empty());
}

TEST(UaSubscription, QueueOverflowKeepsTheNewestAndSetsTheOverflowBit)
{
    SubscriptionClient c;
    const auto sub = c.subscribe();
    MonitoredItemCreateRequest one = watchValue(item("Test.Int"), 2, 1);
    MonitoredItemCreateRequest oldestKept = watchValue(item("Test.Long"), 3, 3);
    oldestKept.requestedParameters.discardOldest = false;
    const auto results = c.monitor(sub.subscriptionId, {watchValue(item("Test.Dbl"), 1, 3), one, oldestKept});
    EXPECT_EQ(results[0].revisedQueueSize, 3u);
    for (int k = 1; k <= 5; ++k) {
        c.item("Test.Dbl").SetVQT(::Variant(double(k)), Quality::Good);
        c.item("Test.Int").SetVQT(::Variant(std::int16_t(k)), Quality::Good);
        c.item("Test.Long").SetVQT(::Variant(std::int32_t(k)), Quality::Good);
    }
    Published r = c.publishChanges();
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(values(r.changes, 1), (std::vector<double>{3, 4, 5}));
    EXPECT_EQ(values(r.changes, 2), std::vector<double>{5});
    EXPECT_EQ(values(r.changes, 3), (std::vector<double>{0, 1, 5})); // the newest replaces the last
    constexpr StatusCode overflow = Status::InfoTypeDataValue | Status::Overflow;
    for (const auto &n : r.changes) {
        const bool flagged = (n.value.status & overflow) == overflow;
        const bool expected =
            (n.clientHandle == 1 && n.value.value.d == 3) || (n.clientHandle == 3 && n.value.value.i == 5);
        EXPECT_EQ(flagged, expected) << n.clientHandle;
    }
}

TEST(UaSubscription, ManyChangesAreSplitOverMessages)
{
    SubscriptionClient c([](ServerConfig &config) { config.maxNotificationsPerMessage = 1000; }, 2500);
    const auto sub = c.subscribe();
    std::vector<MonitoredItemCreateRequest> all;
    for (std::uint32_t k = 0; k < 2500; ++k)
        all.push_back(watchValue(NodeId(1, QStringLiteral("Big.I%1").arg(k, 4, 10, QLatin1Char('0'))), k, 1));
    const auto results = c.monitor(sub.subscriptionId, all);
    ASSERT_EQ(results.size(), 2500u);
    EXPECT_EQ(results.back().statusCode, Status::Good);
    // Every item changes; each is notified once, with its newest value.
    for (int k = 0; k < 2500; ++k)
        c.item(QStringLiteral("Big.I%1").arg(k, 4, 10, QLatin1Char('0')).toLatin1().constData())
            .SetVQT(::Variant(std::int32_t(-k)), Quality::Good);
    std::vector<bool> seen(2500, false);
    std::vector<bool> more;
    for (int message = 0; message < 3; ++message) {
        Published r = c.publishChanges();
        ASSERT_EQ(r.changes.size(), message < 2 ? 1000u : 500u);
        more.push_back(r.response.moreNotifications);
        for (const auto &n : r.changes) {
            ASSERT_LT(n.clientHandle, 2500u);
            EXPECT_FALSE(seen[n.clientHandle]);
            seen[n.clientHandle] = true;
            EXPECT_EQ(n.value.value.i, -std::int64_t(n.clientHandle));
        }
    }
    EXPECT_EQ(more, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 2500);
}

TEST(UaSubscription, KeepAliveAcknowledgementsAndRepublish)
{
    SubscriptionClient c;
    const auto sub = c.subscribe(10, 300, 2);
    // Nothing monitored: the first cycle and then every second one send a keep-alive.
    Published keepAlive = c.publish();
    ASSERT_TRUE(keepAlive.ok);
    EXPECT_EQ(keepAlive.fault, 0u);
    EXPECT_TRUE(keepAlive.response.notificationMessage.notificationData.empty());
    EXPECT_EQ(keepAlive.response.notificationMessage.sequenceNumber, 1u); // the next one to come

    c.monitor(sub.subscriptionId, {watchValue(item("Test.Int"), 1)});
    Published data = c.publishChanges();
    ASSERT_FALSE(data.changes.empty());
    const std::uint32_t seq = data.response.notificationMessage.sequenceNumber;
    EXPECT_EQ(data.response.availableSequenceNumbers, std::vector<std::uint32_t>{seq});

    RepublishRequest again;
    again.subscriptionId = sub.subscriptionId;
    again.retransmitSequenceNumber = seq;
    RepublishResponse copy;
    ASSERT_TRUE(c.p->call(again, copy).ok);
    EXPECT_EQ(copy.notificationMessage.sequenceNumber, seq);
    EXPECT_EQ(copy.notificationMessage.notificationData.size(), 1u);

    // Acknowledged: gone from the retransmission queue; unknown numbers are reported.
    Published acked = c.publish({{sub.subscriptionId, seq}, {sub.subscriptionId, seq + 100}, {999, 1}});
    ASSERT_TRUE(acked.ok);
    EXPECT_EQ(acked.response.results, (std::vector<StatusCode>{Status::Good, Status::BadSequenceNumberUnknown,
                                                               Status::BadSubscriptionIdInvalid}));
    EXPECT_TRUE(acked.response.availableSequenceNumbers.empty());
    RepublishResponse none;
    EXPECT_EQ(c.p->call(again, none).fault, Status::BadMessageNotAvailable);
    again.subscriptionId = 999;
    EXPECT_EQ(c.p->call(again, none).fault, Status::BadSubscriptionIdInvalid);
}

TEST(UaSubscription, RetransmissionQueueIsBounded)
{
    SubscriptionClient c([](ServerConfig &config) { config.maxRetransmissionMessages = 3; });
    const auto sub = c.subscribe();
    c.monitor(sub.subscriptionId, {watchValue(item("Test.Int"), 1)});
    std::vector<std::uint32_t> available;
    for (int k = 0; k < 5; ++k) {
        c.item("Test.Int").SetVQT(::Variant(std::int16_t(100 + k)), Quality::Good);
        Published r = c.publishChanges();
        ASSERT_FALSE(r.changes.empty());
        available = r.response.availableSequenceNumbers;
    }
    // The first message carried the initial value and the first change together.
    EXPECT_EQ(available, (std::vector<std::uint32_t>{3, 4, 5}));
}

TEST(UaSubscription, LifetimeExpiryDeletesTheSubscriptionAndSaysSo)
{
    SubscriptionClient c;
    const auto sub = c.subscribe(10, 3, 1); // expires after three cycles without a Publish
    c.monitor(sub.subscriptionId, {watchValue(item("Test.Int"), 1)});
    EXPECT_EQ(c.ua.core->monitoredItemCount(), 1u);
    ASSERT_TRUE(waitFor([&] { return c.ua.core->subscriptionCount() == 0; }, 5000));
    EXPECT_EQ(c.ua.core->monitoredItemCount(), 0u);
    Published told = c.publish();
    ASSERT_TRUE(told.ok);
    EXPECT_EQ(told.response.subscriptionId, sub.subscriptionId);
    EXPECT_EQ(told.statusChanges, std::vector<StatusCode>{Status::BadTimeout});
    // Then the session has nothing more to publish.
    EXPECT_EQ(c.publish().fault, Status::BadNoSubscription);
    // Changes of the item it watched go nowhere.
    c.item("Test.Int").SetVQT(::Variant(std::int16_t(5)), Quality::Good);
}

TEST(UaSubscription, LimitsOnSubscriptionsPublishRequestsAndItems)
{
    SubscriptionClient c([](ServerConfig &config) {
        config.maxSubscriptionsPerSession = 3;
        config.maxPublishRequestsPerSession = 2;
        config.maxMonitoredItemsPerSession = 4;
    });
    EXPECT_EQ(c.publish().fault, Status::BadNoSubscription);
    std::vector<std::uint32_t> ids;
    for (int k = 0; k < 3; ++k)
        ids.push_back(c.subscribe(1000, 100000, 1000).subscriptionId);
    StatusCode fault = 0;
    c.subscribe(1000, 100000, 1000, &fault);
    EXPECT_EQ(fault, Status::BadTooManySubscriptions);

    // A Publish request waits no longer than its time-out hint.
    PublishRequest hurried;
    hurried.requestHeader.timeoutHint = 1;
    const std::uint32_t hurriedId = c.send(hurried);
    EXPECT_TRUE(waitFor(
        [&] {
            c.ua.core->tick();
            return c.frameWaiting();
        },
        5000));
    EXPECT_EQ(c.awaitPublish(hurriedId).fault, Status::BadTimeout);

    // A waiting Publish request can be cancelled by its handle.
    const std::uint32_t cancelledId = c.sendPublish();
    CancelRequest cancel;
    cancel.requestHandle = c.p->requestHandle;
    const std::uint32_t cancelId = c.send(cancel);
    EXPECT_EQ(c.awaitPublish(cancelledId).fault, Status::BadRequestCancelledByClient);
    CancelResponse cancelResponse;
    ASSERT_TRUE(c.receive(cancelId, cancelResponse));
    EXPECT_EQ(cancelResponse.cancelCount, 1u);

    // Long keep-alive: Publish requests wait, and only two may.
    c.sendPublish();
    c.sendPublish();
    EXPECT_EQ(c.publish().fault, Status::BadTooManyPublishRequests);

    std::vector<MonitoredItemCreateRequest> many;
    for (std::uint32_t k = 0; k < 6; ++k)
        many.push_back(watchValue(item("Test.Int"), k));
    const auto results = c.monitor(ids[0], many);
    ASSERT_EQ(results.size(), 6u);
    EXPECT_EQ(results[3].statusCode, Status::Good);
    EXPECT_EQ(results[4].statusCode, Status::BadTooManyMonitoredItems);
    EXPECT_EQ(results[5].statusCode, Status::BadTooManyMonitoredItems);

    CreateMonitoredItemsRequest bad;
    bad.subscriptionId = 999;
    bad.itemsToCreate = many;
    CreateMonitoredItemsResponse response;
    EXPECT_EQ(c.p->call(bad, response).fault, Status::BadSubscriptionIdInvalid);
    bad.subscriptionId = ids[0];
    bad.timestampsToReturn = 7;
    EXPECT_EQ(c.p->call(bad, response).fault, Status::BadTimestampsToReturnInvalid);
    bad.timestampsToReturn = 0;
    bad.itemsToCreate.clear();
    EXPECT_EQ(c.p->call(bad, response).fault, Status::BadNothingToDo);

    // Whatever is asked, intervals, counts and the lifetime stay bounded.
    DeleteSubscriptionsRequest del;
    del.subscriptionIds = {ids[2]};
    DeleteSubscriptionsResponse deleted;
    ASSERT_TRUE(c.p->call(del, deleted).ok);
    const auto huge = c.subscribe(1e12, 0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_EQ(huge.revisedPublishingInterval, c.ua.config.maxPublishingIntervalMs);
    EXPECT_EQ(huge.revisedMaxKeepAliveCount, c.ua.config.maxKeepAliveCount);
    EXPECT_EQ(huge.revisedLifetimeCount, 3 * c.ua.config.maxKeepAliveCount); // beyond the hour only for keep-alives
}

TEST(UaSubscription, ServerStateGateReachesItemMonitoredItems)
{
    SubscriptionClient c;
    const auto sub = c.subscribe();
    c.monitor(sub.subscriptionId, {watchValue(item("Test.Int"), 1), watchValue(NodeId(0, Id::State), 2)});
    c.publishChanges();

    c.ua.server.setServerState(ServerStates::Suspended);
    Published off = c.publishChanges();
    bool itemOut = false, state = false;
    for (const auto &n : off.changes) {
        if (n.clientHandle == 1)
            itemOut = n.value.status == Status::BadOutOfService && !(n.value.mask & DataValue::HasValue);
        if (n.clientHandle == 2)
            state = n.value.value.i == 3; // Suspended
    }
    EXPECT_TRUE(itemOut);
    EXPECT_TRUE(state);

    c.ua.server.setServerState(ServerStates::Test);
    Published on = c.publishChanges();
    bool itemBack = false;
    for (const auto &n : on.changes)
        if (n.clientHandle == 1)
            itemBack = n.value.status == Status::Good && n.value.value.i == 0;
    EXPECT_TRUE(itemBack);
}

TEST(UaSubscription, ChangesBetweenSamplesAndTheSamplingMode)
{
    SubscriptionClient c;
    const auto sub = c.subscribe();
    MonitoredItemCreateRequest sampling = watchValue(item("Test.Long"), 2);
    sampling.monitoringMode = MonitoringMode::Sampling;
    const auto results = c.monitor(sub.subscriptionId, {watchValue(item("Test.Int"), 1, 10, 2000), sampling});
    EXPECT_EQ(results[0].revisedSamplingInterval, 2000.0);
    // Changes within one sampling interval: the value at the next sample is reported.
    for (int k = 1; k <= 3; ++k) {
        c.item("Test.Int").SetVQT(::Variant(std::int16_t(k)), Quality::Good);
        c.item("Test.Long").SetVQT(::Variant(std::int32_t(k)), Quality::Good);
    }
    EXPECT_EQ(values(c.publishChanges().changes, 1), std::vector<double>{0});
    Published sampled = c.publishChanges();
    EXPECT_EQ(values(sampled.changes, 1), std::vector<double>{3});
    // Sampled all along, reported once asked to.
    EXPECT_TRUE(values(sampled.changes, 2).empty());
    SetMonitoringModeRequest mode;
    mode.subscriptionId = sub.subscriptionId;
    mode.monitoringMode = MonitoringMode::Reporting;
    mode.monitoredItemIds = {results[1].monitoredItemId};
    SetMonitoringModeResponse modeResponse;
    ASSERT_TRUE(c.p->call(mode, modeResponse).ok);
    EXPECT_EQ(values(c.publishChanges().changes, 2), (std::vector<double>{0, 1, 2, 3}));
}

TEST(UaSubscription, MonitoringModesModifyAndDelete)
{
    SubscriptionClient c;
    const auto sub = c.subscribe();
    const auto results =
        c.monitor(sub.subscriptionId, {watchValue(item("Test.Int"), 1), watchValue(item("Test.Long"), 2)});
    const std::uint32_t intId = results[0].monitoredItemId, longId = results[1].monitoredItemId;
    c.publishChanges();

    SetMonitoringModeRequest mode;
    mode.subscriptionId = sub.subscriptionId;
    mode.monitoringMode = MonitoringMode::Disabled;
    mode.monitoredItemIds = {intId, 4242};
    SetMonitoringModeResponse modeResponse;
    ASSERT_TRUE(c.p->call(mode, modeResponse).ok);
    EXPECT_EQ(modeResponse.results, (std::vector<StatusCode>{Status::Good, Status::BadMonitoredItemIdInvalid}));
    c.item("Test.Int").SetVQT(::Variant(std::int16_t(11)), Quality::Good);
    c.item("Test.Long").SetVQT(::Variant(std::int32_t(22)), Quality::Good);
    Published r = c.publishChanges();
    EXPECT_TRUE(values(r.changes, 1).empty());
    EXPECT_EQ(values(r.changes, 2), std::vector<double>{22});

    // Enabled again: the current value comes first.
    mode.monitoringMode = MonitoringMode::Reporting;
    mode.monitoredItemIds = {intId};
    ASSERT_TRUE(c.p->call(mode, modeResponse).ok);
    EXPECT_EQ(values(c.publishChanges().changes, 1), std::vector<double>{11});

    ModifyMonitoredItemsRequest modify;
    modify.subscriptionId = sub.subscriptionId;
    MonitoredItemModifyRequest m;
    m.monitoredItemId = longId;
    m.requestedParameters.clientHandle = 77;
    m.requestedParameters.queueSize = 100000;
    m.requestedParameters.samplingInterval = -1;
    MonitoredItemModifyRequest refused = m;
    refused.requestedParameters.filter = dataChangeFilter(1, 2, 1.0);
    MonitoredItemModifyRequest unknown = m;
    unknown.monitoredItemId = 4242;
    modify.itemsToModify = {m, refused, unknown};
    ModifyMonitoredItemsResponse modified;
    ASSERT_TRUE(c.p->call(modify, modified).ok);
    ASSERT_EQ(modified.results.size(), 3u);
    EXPECT_EQ(modified.results[0].statusCode, Status::Good);
    EXPECT_EQ(modified.results[0].revisedQueueSize, c.ua.config.maxQueueSize);
    EXPECT_EQ(modified.results[0].revisedSamplingInterval, sub.revisedPublishingInterval);
    EXPECT_EQ(modified.results[1].statusCode, Status::BadMonitoredItemFilterUnsupported);
    EXPECT_EQ(modified.results[2].statusCode, Status::BadMonitoredItemIdInvalid);
    c.item("Test.Long").SetVQT(::Variant(std::int32_t(23)), Quality::Good);
    EXPECT_EQ(values(c.publishChanges().changes, 77), std::vector<double>{23});

    DeleteMonitoredItemsRequest del;
    del.subscriptionId = sub.subscriptionId;
    del.monitoredItemIds = {intId, intId};
    DeleteMonitoredItemsResponse deleted;
    ASSERT_TRUE(c.p->call(del, deleted).ok);
    EXPECT_EQ(deleted.results, (std::vector<StatusCode>{Status::Good, Status::BadMonitoredItemIdInvalid}));
    EXPECT_EQ(c.ua.core->monitoredItemCount(), 1u);
}

TEST(UaSubscription, DeletingSubscriptionsAndSessionsCleansUp)
{
    SubscriptionClient c;
    const auto a = c.subscribe(1000, 100000, 1000);
    const auto b = c.subscribe(1000, 100000, 1000);
    c.monitor(a.subscriptionId, {watchValue(item("Test.Int"), 1), watchValue(item("Test.Int"), 2)});
    c.monitor(b.subscriptionId, {watchValue(item("Test.Int"), 3)});
    EXPECT_EQ(c.ua.core->monitoredItemCount(), 3u);

    const std::uint32_t waiting = c.sendPublish();
    DeleteSubscriptionsRequest del;
    del.subscriptionIds = {a.subscriptionId, 4242};
    DeleteSubscriptionsResponse deleted;
    ASSERT_TRUE(c.p->call(del, deleted).ok);
    EXPECT_EQ(deleted.results, (std::vector<StatusCode>{Status::Good, Status::BadSubscriptionIdInvalid}));
    EXPECT_EQ(c.ua.core->monitoredItemCount(), 1u);
    EXPECT_EQ(c.ua.core->subscriptionCount(), 1u);
    c.item("Test.Int").SetVQT(::Variant(std::int16_t(9)), Quality::Good);

    // Closing the session ends the rest; the waiting Publish request is answered first.
    CloseSessionRequest close;
    close.deleteSubscriptions = false; // deleted all the same
    const std::uint32_t closing = c.send(close);
    EXPECT_EQ(c.awaitPublish(waiting).fault, Status::BadSessionClosed);
    CloseSessionResponse closed;
    EXPECT_TRUE(c.receive(closing, closed));
    EXPECT_EQ(c.ua.core->subscriptionCount(), 0u);
    EXPECT_EQ(c.ua.core->monitoredItemCount(), 0u);
    c.item("Test.Int").SetVQT(::Variant(std::int16_t(10)), Quality::Good);
    int created = 0, ended = 0, items = 0;
    for (const QString &line : c.ua.traces) {
        created += line.contains(QLatin1String("UA subscription")) && line.contains(QLatin1String("created"));
        ended += line.contains(QLatin1String("deleted: session ended"));
        items += line.contains(QLatin1String("monitored items created"));
    }
    EXPECT_EQ(created, 2);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(items, 2);
}

TEST(UaSubscription, DeletingTheLastSubscriptionAnswersWaitingPublishRequests)
{
    SubscriptionClient c;
    const auto a = c.subscribe(1000, 100000, 1000);
    const std::uint32_t waiting = c.sendPublish();
    DeleteSubscriptionsRequest del;
    del.subscriptionIds = {a.subscriptionId};
    const std::uint32_t deleting = c.send(del);
    DeleteSubscriptionsResponse deleted;
    ASSERT_TRUE(c.receive(deleting, deleted));
    EXPECT_EQ(deleted.results, std::vector<StatusCode>{Status::Good});
    EXPECT_EQ(c.awaitPublish(waiting).fault, Status::BadNoSubscription);
}

TEST(UaSubscription, ALostChannelKeepsTheSubscriptionsUntilTheSessionTimesOut)
{
    SubscriptionClient c([](ServerConfig &config) { config.minSessionTimeoutMs = 1; });
    // A client on a connection of its own, which it loses with a Publish request waiting.
    Connection *lost = c.ua.core->addConnection(QStringLiteral("lost"));
    auto first = std::make_unique<MemoryPeer>(*lost);
    ASSERT_TRUE(first->hello() && first->openChannel() && first->session(300));
    c.p = first.get();
    const auto sub = c.subscribe(20, 100000, 1000);
    c.monitor(sub.subscriptionId, {watchValue(item("Test.Int"), 1)});
    c.sendPublish();
    c.ua.core->removeConnection(lost);
    c.item("Test.Int").SetVQT(::Variant(std::int16_t(7)), Quality::Good);
    c.ua.core->tick();
    EXPECT_EQ(c.ua.core->subscriptionCount(), 1u);

    // It comes back on a new channel, activates its session there and finds its data.
    MemoryPeer &second = c.ua.connect();
    ASSERT_TRUE(second.hello() && second.openChannel());
    second.authenticationToken = first->authenticationToken;
    ASSERT_TRUE(second.activateSession());
    c.p = &second;
    EXPECT_EQ(values(c.publishChanges().changes, 1), (std::vector<double>{0, 7}));

    // Gone for good: the session times out and takes its subscription with it.
    EXPECT_TRUE(waitFor(
        [&] {
            c.ua.core->tick();
            return c.ua.core->subscriptionCount() == 0;
        },
        5000));
    EXPECT_EQ(c.ua.core->monitoredItemCount(), 0u);
}

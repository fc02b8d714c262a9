// Subscriptions and monitored items, from the first values to their transfer between sessions, with the Server object's
// methods and the diagnostics counters; time moves on the manual clock, one publishing interval at a time.
#include "UaFixture.h"

#include <map>

using namespace Ua;
using namespace Ua::Status;

namespace {

using Values = std::map<std::uint32_t, std::vector<double>>; // numbers by client handle, in the order published

struct Published {
    StatusCode fault = BadCommunicationError; // none came
    PublishResponse response;
    std::vector<MonitoredItemNotification> changes;
    Codes codes; // each change's status
    Values values;
    Codes statusChanges;
    bool keepAlive() const { return !fault && response.notificationMessage.notificationData.empty(); }
    std::uint32_t sequence() const { return response.notificationMessage.sequenceNumber; }
};

MonitoredItemCreateRequest watch(const char *id, std::uint32_t handle, ExtensionObject filter = {},
                                 std::uint32_t queueSize = 10, double sampling = 0)
{
    const NodeId node = id[0] == 'i' ? NodeId(0, QByteArray(id + 2).toUInt()) : item(id);
    return {readId(node), MonitoringMode::Reporting, {handle, sampling, std::move(filter), queueSize, true}};
}

ExtensionObject filter(std::int32_t trigger, std::uint32_t deadbandType = 0, double deadband = 0)
{
    return makeExtension(DataChangeFilter{trigger, deadbandType, deadband});
}

struct SubscriptionTest : ::testing::Test {
    UaCore ua;
    MemoryPeer *p = nullptr;
    double interval = 100; // of the last subscription created: one step of the clock

    void start(bool withClient = true)
    {
        ua.server.MinUpdatePeriod = 0; // item changes are sampled as they come
        std::int32_t level = 3;
        ua.server.SetTraceLevel(level);
        ua.addPanelItems();
        ua.start();
        if (withClient)
            p = &ua.client();
    }
    // Users by name (NamedUsers), at most four sessions; no client yet.
    void startWithUsers()
    {
        ua.config.accessControl = std::make_shared<NamedUsers>();
        ua.config.maxSessions = 4;
        start(false);
    }
    CreateSubscriptionResponse subscribe(double publishing = 100, std::uint32_t lifetime = 1000,
                                         std::uint32_t keepAlive = 50)
    {
        const auto response = ask<CreateSubscriptionResponse>(
            *p, CreateSubscriptionRequest{{}, publishing, lifetime, keepAlive, 0, true, 0});
        interval = response.revisedPublishingInterval;
        return response;
    }
    std::vector<MonitoredItemCreateResult> monitor(std::uint32_t subscription,
                                                   std::vector<MonitoredItemCreateRequest> items)
    {
        return ask<CreateMonitoredItemsResponse>(*p, CreateMonitoredItemsRequest{{}, subscription, 2, std::move(items)})
            .results;
    }
    std::uint32_t sendPublish(std::vector<SubscriptionAcknowledgement> acks = {}, std::uint32_t timeoutHint = 600000)
    {
        PublishRequest request{{{}, 0, 0, 0, {}, timeoutHint, {}}, std::move(acks)};
        return p->send(request);
    }
    // The answer to a request, waiting at most `cycles` publishing cycles for it.
    Published await(std::uint32_t requestId, int cycles = 1000)
    {
        this->cycles(cycles, true);
        Published r;
        if (const auto reply = p->receive(requestId, r.response); reply.ok)
            r.fault = reply.fault;
        for (const ExtensionObject &x : r.response.notificationMessage.notificationData) {
            DataChangeNotification change;
            StatusChangeNotification status;
            if (decodeExtension(x, change))
                for (const MonitoredItemNotification &n : change.monitoredItems) {
                    const Ua::Variant &v = n.value.value;
                    r.changes.push_back(n);
                    r.codes.push_back(n.value.status);
                    r.values[n.clientHandle].push_back(
                        v.type == BuiltinType::Float || v.type == BuiltinType::Double ? v.d : double(v.i));
                }
            else if (decodeExtension(x, status))
                r.statusChanges.push_back(status.status);
        }
        return r;
    }
    Published publish(std::vector<SubscriptionAcknowledgement> acks = {}) { return await(sendPublish(acks)); }
    // Publishes until a message with data changes comes (keep-alives are skipped).
    Published publishChanges()
    {
        for (int k = 0; k < 20; ++k)
            if (Published r = publish(); r.fault || !r.changes.empty())
                return r;
        return {};
    }
    // Publishing cycles, each one interval later; with untilAnswer, no more once an answer waits.
    void cycles(int n, bool untilAnswer = false)
    {
        for (int k = 0; k < n && !(untilAnswer && p->frameWaiting()); ++k)
            ua.advance(qint64(interval));
    }
    // The session of p ends: closed keeping its subscriptions, or by silence past its 10 s.
    void end(bool timeOut)
    {
        EXPECT_EQ(timeOut ? Good : p->faultOf(CloseSessionRequest{{}, false}), Good);
        cycles(timeOut ? 101 : 0);
    }
    // alice's subscription watching Test.Int, its first value published and not acknowledged,
    // left by its session's end: the id and that message's sequence number.
    std::pair<std::uint32_t, std::uint32_t> orphan(bool timeOut)
    {
        p = &ua.login("alice");
        const std::uint32_t id = subscribe(100, 200, 10).subscriptionId;
        monitor(id, {watch("Test.Int", 1)});
        const Published first = publishChanges();
        EXPECT_EQ(first.values, (Values{{1, {0}}}));
        end(timeOut);
        return {id, first.sequence()};
    }
    std::vector<TransferResult> transfer(MemoryPeer &to, std::vector<std::uint32_t> ids, bool initialValues = false)
    {
        return ask<TransferSubscriptionsResponse>(to, TransferSubscriptionsRequest{{}, std::move(ids), initialValues})
            .results;
    }
};

} // namespace

TEST_F(SubscriptionTest, FiltersInitialValuesAndDataChangesFromTheToolkit)
{
    start();
    const auto filtered = subscribe();
    MonitoredItemCreateRequest name = watch("Test.Dbl", 6, filter(1), 1);
    name.itemToMonitor.attributeId = Attr::DisplayName;
    ExtensionObject eventFilter{
        NodeId(0, Id::EventFilter_Binary), ExtensionObject::Encoding::ByteString, QByteArray(8, '\0'), {}, {}};
    // Item 3 asks for a percent deadband without an EURange, 4 for a deadband on a String, 5 for a negative one.
    const auto created = monitor(filtered.subscriptionId,
                                 {watch("Test.Dbl", 1, filter(1, 1, 5.0)), watch("Test.Long", 2, filter(0)),
                                  watch("Test.Int", 3, filter(1, 2, 10.0)), watch("Test.Str", 4, filter(1, 1, 1.0)),
                                  watch("Test.Int", 5, filter(1, 1, -1.0)), name, watch("Test.Dbl", 7, eventFilter, 1),
                                  watch("Test.Int", 8, filter(3)), watch("Test.Long", 9, filter(2))});
    EXPECT_EQ(statuses(created),
              (Codes{Good, Good, BadDeadbandFilterInvalid, BadFilterNotAllowed, BadDeadbandFilterInvalid,
                     BadFilterNotAllowed, BadMonitoredItemFilterUnsupported, BadMonitoredItemFilterUnsupported, Good}));
    EXPECT_EQ(publishChanges().values, (Values{{1, {0.5}}, {2, {0}}, {9, {0}}}));
    for (double v : {3.0, 5.5, 12.0, 14.0, 20.0}) // 0.5 -> 12 and 12 -> 20 pass; the rest stay within 5
        ua.set("Test.Dbl", ::Variant(v));
    ua.set("Test.Long", ::Variant(std::int32_t(42))); // value only: the Status trigger ignores it
    EXPECT_EQ(publishChanges().values, (Values{{1, {12.0, 20.0}}, {9, {42}}}));
    ua.set("Test.Long", std::nullopt, std::int16_t(0x40));
    EXPECT_EQ(publishChanges().values, (Values{{2, {42}}, {9, {42}}}));
    // The same value and status again, a second later: only StatusValueTimestamp hears of it.
    const QDateTime later = QDateTime::currentDateTimeUtc().addSecs(1);
    ua.server.Tags().Item("Test.Long")->SetVQT(::Variant(std::int32_t(42)), std::int16_t(0x40), later);
    ua.server.Tags().Item("Test.Dbl")->SetVQT(::Variant(20.0), Quality::Good, later);
    EXPECT_EQ(publishChanges().values, (Values{{9, {42}}}));
    // Triggers swapped by ModifyMonitoredItems: now a timestamp alone reaches item 1 only.
    const std::vector<MonitoredItemModifyRequest> swap{{created[0].monitoredItemId, {1, 0, filter(2), 10, true}},
                                                       {created[8].monitoredItemId, {9, 0, filter(1), 10, true}}};
    EXPECT_EQ(p->faultOf(ModifyMonitoredItemsRequest{{}, filtered.subscriptionId, 2, swap}), Good);
    ua.server.Tags().Item("Test.Long")->SetVQT(::Variant(std::int32_t(42)), std::int16_t(0x40), later.addSecs(1));
    ua.server.Tags().Item("Test.Dbl")->SetVQT(::Variant(20.0), Quality::Good, later.addSecs(1));
    EXPECT_EQ(publishChanges().values, (Values{{1, {20}}}));
    EXPECT_EQ(p->faultOf(DeleteSubscriptionsRequest{{}, {filtered.subscriptionId}}), Good);

    const auto sub = subscribe(20);
    EXPECT_EQ(sub.revisedPublishingInterval, 20.0);
    const DateTime sampled = toDateTime(ua.clock.now());
    const auto results =
        monitor(sub.subscriptionId, {watch("C01.Z1.D1.Measure", 1), watch("C01.Z1.G1.Gas", 2), watch("i=2259", 3),
                                     watch("No.Such.Item", 4), watch("Test.WriteOnly", 5)});
    EXPECT_EQ(statuses(results), (Codes{Good, Good, Good, BadNodeIdUnknown, BadNotReadable}));
    EXPECT_NE(results[0].monitoredItemId, results[1].monitoredItemId);

    const Published first = publishChanges();
    ASSERT_EQ(first.values, (Values{{1, {1.25}}, {2, {0}}, {3, {0}}})); // 3: Running
    const DataValue &gas = first.changes[1].value;
    EXPECT_EQ(std::tuple(gas.value.s, gas.mask & 0x0C, gas.serverTimestamp), // both timestamps
              std::tuple(QStringLiteral("CO"), 0x0C, sampled));
    EXPECT_EQ(
        std::tuple(first.response.subscriptionId, first.sequence(), first.response.notificationMessage.publishTime),
        std::tuple(sub.subscriptionId, 1u, toDateTime(ua.clock.now())));

    ua.set("C01.Z1.D1.Measure", ::Variant(7.5f));
    const Published next = publishChanges(); // unchanged items stay quiet
    EXPECT_EQ(std::pair(next.values, next.sequence()), std::pair(Values{{1, {7.5}}}, 2u));
    ua.set("C01.Z1.D1.Measure", std::nullopt, Quality::Bad); // a quality change alone is a change
    EXPECT_EQ(publishChanges().codes, Codes{Bad});

    // Below every floor: revised upwards, the lifetime to three keep-alives.
    ua.server.MinUpdatePeriod = 15;
    ModifySubscriptionRequest modify{{}, sub.subscriptionId, 5, 2, 0, 0, 0};
    const auto m = ask<ModifySubscriptionResponse>(*p, modify);
    EXPECT_EQ(std::tuple(m.revisedPublishingInterval, m.revisedMaxKeepAliveCount, m.revisedLifetimeCount),
              std::tuple(15.0, 1u, 3u));
    modify.subscriptionId = 4242;
    EXPECT_EQ(p->faultOf(modify), BadSubscriptionIdInvalid);
}

// Cycles fall on multiples of their interval, a full interval or more after the subscription
// is made, so that subscriptions of one interval share the server's wake-ups.
TEST_F(SubscriptionTest, CyclesOfOneIntervalFallOnTheSameTicks)
{
    start();
    ua.advance(30);
    subscribe();
    ua.advance(40);
    subscribe();
    const std::uint32_t first = sendPublish(), second = sendPublish();
    ua.advance(100); // 170 ms: a full interval after the first, not yet a tick
    EXPECT_FALSE(p->frameWaiting());
    ua.advance(30); // 200 ms: both answer, read here in the order they come
    const Published a = await(first, 0), b = await(second, 0);
    EXPECT_EQ(std::pair(a.fault, b.fault), std::pair(Good, Good));
}

TEST_F(SubscriptionTest, QueuesOverflowAndChangesAreSplitOverMessages)
{
    ua.config.maxNotificationsPerMessage = 3;
    start();
    const auto sub = subscribe();
    MonitoredItemCreateRequest oldestKept = watch("Test.Long", 3, {}, 3);
    oldestKept.requestedParameters.discardOldest = false;
    EXPECT_EQ(monitor(sub.subscriptionId, {watch("Test.Dbl", 1, {}, 3), watch("Test.Int", 2, {}, 1), oldestKept})[0]
                  .revisedQueueSize,
              3u);
    for (int k = 1; k <= 5; ++k) {
        ua.set("Test.Dbl", ::Variant(double(k)));
        ua.set("Test.Int", ::Variant(std::int16_t(k)));
        ua.set("Test.Long", ::Variant(std::int32_t(k)));
    }
    // Seven notifications, three to a message at most: the last message says no more follow. Item 3 keeps its
    // oldest values, the newest replacing the last.
    using Message = std::tuple<Values, Codes, bool>;
    std::vector<Message> messages;
    for (int message = 0; message < 3; ++message) {
        const Published m = publishChanges();
        messages.emplace_back(m.values, m.codes, m.response.moreNotifications);
    }
    constexpr StatusCode overflow = InfoTypeDataValue | Overflow;
    EXPECT_EQ(messages, (std::vector<Message>{{Values{{1, {3, 4, 5}}}, Codes{overflow, 0, 0}, true},
                                              {Values{{2, {5}}, {3, {0, 1}}}, Codes{0, 0, 0}, true},
                                              {Values{{3, {5}}}, Codes{overflow}, false}}));
    EXPECT_EQ(ua.core->notificationsSent(), 7u); // the statistics list's count
}

TEST_F(SubscriptionTest, KeepAlivesAcknowledgementsRepublishAndTheSessionsBudgets)
{
    ua.config.maxRetransmissionMessages = 3;
    ua.config.queuedValuesPerSession = 10;
    ua.config.retainedNotificationsPerSession = 4;
    start();
    const auto sub = subscribe(100, 300, 3);
    // Nothing to send: a keep-alive at the first cycle (numbered as the next message to come), then every third.
    const Published keepAlive = await(sendPublish(), 1);
    EXPECT_EQ(std::pair(keepAlive.keepAlive(), keepAlive.sequence()), std::pair(true, 1u));
    const std::uint32_t second = sendPublish();
    cycles(2);
    EXPECT_FALSE(p->frameWaiting());
    EXPECT_TRUE(await(second, 1).keepAlive());

    monitor(sub.subscriptionId, {watch("Test.Int", 1)});
    std::vector<std::vector<std::uint32_t>> available; // the message's own number last
    for (int k = 0; k < 5; ++k) {
        ua.set("Test.Int", ::Variant(std::int16_t(100 + k)));
        const Published r = publishChanges();
        available.push_back(r.response.availableSequenceNumbers);
        EXPECT_EQ(r.sequence(), k + 1u);
    }
    EXPECT_EQ(available, (std::vector<std::vector<std::uint32_t>>{{1}, {1, 2}, {1, 2, 3}, {2, 3, 4}, {3, 4, 5}}));
    const RepublishRequest again{{}, sub.subscriptionId, 4};
    const auto copy = ask<RepublishResponse>(*p, again);
    EXPECT_EQ(std::pair(copy.notificationMessage.sequenceNumber, copy.notificationMessage.notificationData.size()),
              std::pair(4u, std::size_t(1)));
    EXPECT_EQ(p->faultOf(RepublishRequest{{}, sub.subscriptionId, 2}), BadMessageNotAvailable); // not kept

    // Acknowledged: gone from the retransmission queue; unknown ones are reported.
    const Published acked = publish({{sub.subscriptionId, 4}, {sub.subscriptionId, 99}, {999, 1}});
    EXPECT_EQ(acked.response.results, (Codes{Good, BadSequenceNumberUnknown, BadSubscriptionIdInvalid}));
    EXPECT_EQ(acked.response.availableSequenceNumbers, (std::vector<std::uint32_t>{3, 5}));
    EXPECT_EQ(p->faultOf(again), BadMessageNotAvailable);
    EXPECT_EQ(p->faultOf(RepublishRequest{{}, 999, 5}), BadSubscriptionIdInvalid);

    // Queues and messages kept for Republish share the session's budgets (a new session's).
    p = &ua.client();
    const auto budgeted = subscribe(1000, 30, 10);
    const auto first = monitor(budgeted.subscriptionId, std::vector(3, watch("Test.Int", 1, {}, 8, 100)));
    EXPECT_EQ(
        std::vector<std::uint32_t>({first[0].revisedQueueSize, first[1].revisedQueueSize, first[2].revisedQueueSize}),
        std::vector<std::uint32_t>({8, 4, 1}));
    EXPECT_EQ(p->faultOf(DeleteMonitoredItemsRequest{{}, budgeted.subscriptionId, {first[0].monitoredItemId}}), Good);
    EXPECT_EQ(monitor(budgeted.subscriptionId, {watch("Test.Int", 1, {}, 8, 100)}).at(0).revisedQueueSize, 8u);
    // Past the budget of notifications (three a message here) the oldest message kept goes.
    EXPECT_EQ(publish().response.availableSequenceNumbers, std::vector<std::uint32_t>{1});
    ua.set("Test.Int", ::Variant(std::int16_t(5)));
    EXPECT_EQ(publish().response.availableSequenceNumbers, std::vector<std::uint32_t>{2});
    EXPECT_EQ(p->faultOf(RepublishRequest{{}, budgeted.subscriptionId, 1}), BadMessageNotAvailable);
}

TEST_F(SubscriptionTest, LimitsTimeOutsAndCancel)
{
    ua.config.maxSubscriptionsPerSession = 3;
    ua.config.maxPublishRequestsPerSession = 2;
    ua.config.maxMonitoredItemsPerSession = 4;
    start();
    std::vector<std::uint32_t> ids;
    for (int k = 0; k < 3; ++k)
        ids.push_back(subscribe(1000, 100000, 1000).subscriptionId);
    EXPECT_EQ(p->faultOf(CreateSubscriptionRequest{{}, 1000, 100, 10, 0, true, 0}), BadTooManySubscriptions);

    // A Publish request waits no longer than its time-out hint (here less than a cycle).
    const std::uint32_t hurried = sendPublish({}, 500);
    ua.advance(500);
    EXPECT_FALSE(p->frameWaiting());
    ua.advance(1);
    EXPECT_EQ(await(hurried, 0).fault, BadTimeout);
    // A waiting Publish request can be cancelled by its handle.
    const std::uint32_t cancelled = sendPublish();
    CancelRequest cancel{{}, p->requestHandle};
    const std::uint32_t cancelId = p->send(cancel);
    EXPECT_EQ(await(cancelled, 0).fault, BadRequestCancelledByClient);
    CancelResponse cancelResponse;
    EXPECT_TRUE(p->receive(cancelId, cancelResponse).ok && cancelResponse.cancelCount == 1);
    // Long keep-alives: Publish requests wait, and only two may.
    sendPublish();
    sendPublish();
    EXPECT_EQ(await(sendPublish(), 0).fault, BadTooManyPublishRequests);

    const std::vector<MonitoredItemCreateRequest> many(5, watch("Test.Int", 1));
    EXPECT_EQ(statuses(monitor(ids[0], many)), (Codes{Good, Good, Good, Good, BadTooManyMonitoredItems}));
    EXPECT_EQ((Codes{p->faultOf(CreateMonitoredItemsRequest{{}, 999, 0, many}),
                     p->faultOf(CreateMonitoredItemsRequest{{}, ids[0], 7, many}),
                     p->faultOf(CreateMonitoredItemsRequest{{}, ids[0], 0, {}})}),
              (Codes{BadSubscriptionIdInvalid, BadTimestampsToReturnInvalid, BadNothingToDo}));

    // Whatever is asked stays bounded; the lifetime goes beyond the hour only for keep-alives.
    EXPECT_EQ(p->faultOf(DeleteSubscriptionsRequest{{}, {ids[2]}}), Good);
    const auto huge = subscribe(1e12, 0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_EQ(
        std::tuple(huge.revisedPublishingInterval, huge.revisedMaxKeepAliveCount, huge.revisedLifetimeCount),
        std::tuple(ua.config.maxPublishingIntervalMs, ua.config.maxKeepAliveCount, 3 * ua.config.maxKeepAliveCount));
}

TEST_F(SubscriptionTest, MonitoringAndPublishingModesModifyDeleteSamplingAndTheServerStateGate)
{
    start();
    const auto sub = subscribe();
    const auto results = monitor(sub.subscriptionId, {watch("Test.Int", 1), watch("Test.Long", 2)});
    const std::uint32_t intId = results[0].monitoredItemId, longId = results[1].monitoredItemId;
    publishChanges();
    SetMonitoringModeRequest mode{{}, sub.subscriptionId, MonitoringMode::Disabled, {intId, 4242}};
    EXPECT_EQ(ask<SetMonitoringModeResponse>(*p, mode).results, (Codes{Good, BadMonitoredItemIdInvalid}));
    ua.set("Test.Int", ::Variant(std::int16_t(11)));
    ua.set("Test.Long", ::Variant(std::int32_t(22)));
    EXPECT_EQ(publishChanges().values, (Values{{2, {22}}}));
    mode = {{}, sub.subscriptionId, MonitoringMode::Reporting, {intId}}; // enabled again: the value of now first
    EXPECT_EQ(p->faultOf(mode), Good);
    EXPECT_EQ(publishChanges().values, (Values{{1, {11}}}));
    mode.monitoringMode = 3;
    EXPECT_EQ(p->faultOf(mode), BadMonitoringModeInvalid);

    // Publishing off: keep-alives only, the changes wait.
    SetPublishingModeRequest publishing{{}, false, {sub.subscriptionId, 4242}};
    EXPECT_EQ(ask<SetPublishingModeResponse>(*p, publishing).results, (Codes{Good, BadSubscriptionIdInvalid}));
    ua.set("Test.Long", ::Variant(std::int32_t(23)));
    EXPECT_TRUE(publish().keepAlive());
    publishing.publishingEnabled = true;
    EXPECT_EQ(p->faultOf(publishing), Good);
    EXPECT_EQ(publishChanges().values, (Values{{2, {23}}}));

    // A refused change leaves the item as it was; an accepted one is revised to the limits.
    const MonitoredItemModifyRequest m{longId, {77, -1, {}, 100000, true}};
    ModifyMonitoredItemsRequest modify{{}, sub.subscriptionId, 2, {m, m, m}};
    modify.itemsToModify[0].requestedParameters.filter = filter(1, 2, 1.0);
    modify.itemsToModify[2].monitoredItemId = 4242;
    const auto modified = ask<ModifyMonitoredItemsResponse>(*p, modify);
    EXPECT_EQ(statuses(modified.results), (Codes{BadDeadbandFilterInvalid, Good, BadMonitoredItemIdInvalid}));
    EXPECT_EQ(std::pair(modified.results.at(1).revisedQueueSize, modified.results[1].revisedSamplingInterval),
              std::pair(ua.config.maxQueueSize, sub.revisedPublishingInterval));
    ua.set("Test.Long", ::Variant(std::int32_t(24)));
    EXPECT_EQ(publishChanges().values, (Values{{77, {24}}}));

    EXPECT_EQ(ask<DeleteMonitoredItemsResponse>(*p, DeleteMonitoredItemsRequest{{}, sub.subscriptionId, {intId, intId}})
                  .results,
              (Codes{Good, BadMonitoredItemIdInvalid}));
    EXPECT_EQ(ua.core->monitoredItemCount(), 1u);
    EXPECT_EQ(p->faultOf(DeleteSubscriptionsRequest{{}, {sub.subscriptionId}}), Good);

    const auto gate = subscribe();
    MonitoredItemCreateRequest sampling = watch("Test.Long", 2);
    sampling.monitoringMode = MonitoringMode::Sampling;
    const auto items = monitor(gate.subscriptionId, {watch("Test.Int", 1, {}, 10, 500), sampling, watch("i=2259", 3)});
    EXPECT_EQ(items[0].revisedSamplingInterval, 500.0);
    EXPECT_EQ(publishChanges().values, (Values{{1, {11}}, {3, {0}}}));

    // Within one sampling interval the value at the next sample counts; a sampling item reports once asked to.
    for (int k = 1; k <= 3; ++k) {
        ua.set("Test.Int", ::Variant(std::int16_t(k)));
        ua.set("Test.Long", ::Variant(std::int32_t(k)));
    }
    const std::uint32_t waiting = sendPublish();
    cycles(3);
    EXPECT_FALSE(p->frameWaiting());
    EXPECT_EQ(await(waiting).values, (Values{{1, {3}}}));
    EXPECT_EQ(p->faultOf(SetMonitoringModeRequest{{}, gate.subscriptionId, 2, {items[1].monitoredItemId}}), Good);
    EXPECT_EQ(publishChanges().values, (Values{{2, {24, 1, 2, 3}}}));

    // Item values are refused while the server is neither running nor in test.
    ua.server.setServerState(ServerStates::Suspended);
    const Published off = publishChanges();
    EXPECT_EQ(std::pair(off.codes, off.values), // 3: Suspended
              std::pair(Codes{BadOutOfService, BadOutOfService, Good}, Values{{1, {0}}, {2, {0}}, {3, {3}}}));
    EXPECT_FALSE(off.changes[0].value.mask & DataValue::HasValue);
    ua.server.setServerState(ServerStates::Test);
    const Published on = publishChanges();
    EXPECT_EQ(std::pair(on.codes, on.values), std::pair(Codes(3, Good), Values{{1, {3}}, {2, {3}}, {3, {5}}}));
}

TEST_F(SubscriptionTest, DeletingSubscriptionsEndingSessionsAndLifetimesCleanUpLostChannelsDoNot)
{
    ua.config.minSessionTimeoutMs = 1000;
    start();
    const auto a = subscribe(1000, 100000, 1000), b = subscribe(1000, 100000, 1000);
    monitor(a.subscriptionId, {watch("Test.Int", 1), watch("Test.Int", 2)});
    monitor(b.subscriptionId, {watch("Test.Int", 3)});
    EXPECT_EQ(ua.core->monitoredItemCount(), 3u);
    std::uint32_t waiting = sendPublish();
    DeleteSubscriptionsRequest del{{}, {a.subscriptionId, 4242}};
    EXPECT_EQ(ask<DeleteSubscriptionsResponse>(*p, del).results, (Codes{Good, BadSubscriptionIdInvalid}));
    EXPECT_EQ(std::pair(ua.core->monitoredItemCount(), ua.core->subscriptionCount()),
              std::pair(std::size_t(1), std::size_t(1)));
    ua.set("Test.Int", ::Variant(std::int16_t(9)));
    // Deleting the last one answers the waiting Publish requests, after its own answer.
    del.subscriptionIds = {b.subscriptionId};
    ask<DeleteSubscriptionsResponse>(*p, del);
    EXPECT_EQ(await(waiting, 0).fault, BadNoSubscription);

    // Closing the session ends the rest; a waiting Publish request is answered first.
    subscribe(1000, 100000, 1000);
    waiting = sendPublish();
    CloseSessionRequest close{{}, true}; // deleteSubscriptions
    const std::uint32_t closing = p->send(close);
    EXPECT_EQ(await(waiting, 0).fault, BadSessionClosed);
    CloseSessionResponse closed;
    EXPECT_TRUE(p->receive(closing, closed).ok);
    EXPECT_EQ(ua.core->subscriptionCount(), 0u);
    ua.set("Test.Int", ::Variant(std::int16_t(10)));
    QStringList traces(ua.traces.begin(), ua.traces.end());
    EXPECT_EQ(QList({traces.filter("created in session").size(), traces.filter("deleted: session ended").size(),
                     traces.filter("monitored items created").size()}),
              QList<qsizetype>({3, 1, 2}));

    // Past its lifetime without a Publish request a subscription goes, and says so.
    p = &ua.client();
    const auto expiring = subscribe(100, 9, 3); // nine cycles without a Publish request
    monitor(expiring.subscriptionId, {watch("Test.Int", 1)});
    cycles(8);
    EXPECT_EQ(ua.core->subscriptionCount(), 1u);
    cycles(1);
    EXPECT_EQ(ua.core->subscriptionCount() + ua.core->monitoredItemCount(), 0u);
    const Published told = publish();
    EXPECT_EQ(std::pair(told.response.subscriptionId, told.statusChanges),
              std::pair(expiring.subscriptionId, Codes{BadTimeout}));
    EXPECT_EQ(publish().fault, BadNoSubscription);  // nothing more to publish
    ua.set("Test.Int", ::Variant(std::int16_t(5))); // changes of the item it watched go nowhere

    // A lost channel keeps the subscriptions until the session times out.
    MemoryPeer &first = ua.client(1000);
    p = &first;
    const auto sub = subscribe(100, 100000, 1000);
    monitor(sub.subscriptionId, {watch("Test.Int", 1)});
    sendPublish();
    ua.core->removeChannel(first.connection); // lost with a Publish request waiting
    ua.set("Test.Int", ::Variant(std::int16_t(7)));
    ua.advance(900);
    // It comes back on a new channel, activates its session there and finds its data.
    MemoryPeer &second = ua.channel();
    second.authenticationToken = first.authenticationToken;
    ASSERT_EQ(second.activateSession(), Good);
    p = &second;
    EXPECT_EQ(publishChanges().values, (Values{{1, {5, 7}}}));
    // Timed out, its subscription waits for a transfer to the same client application (anonymous).
    ua.advance(1001);
    EXPECT_EQ(second.activateSession(), BadSessionIdInvalid);
    MemoryPeer &stranger = ua.channel();
    stranger.applicationUri = QStringLiteral("urn:test:another-client");
    ASSERT_TRUE(stranger.session());
    EXPECT_EQ(statuses(transfer(stranger, {sub.subscriptionId})), Codes{BadUserAccessDenied});
    EXPECT_EQ(statuses(transfer(ua.client(), {sub.subscriptionId})), Codes{Good});
}

TEST_F(SubscriptionTest, TransferSubscriptionsOnlyToTheSameUser)
{
    startWithUsers();
    MemoryPeer &first = ua.login("alice"), &again = ua.login("alice");
    p = &first;
    const auto sub = subscribe();
    monitor(sub.subscriptionId, {watch("C01.Panel", 100)});
    EXPECT_EQ(publishChanges().values, (Values{{100, {7}}}));
    const std::vector<std::uint32_t> ids{sub.subscriptionId, 987654};
    EXPECT_EQ(statuses(transfer(again, ids)), (Codes{Good, BadSubscriptionIdInvalid}));
    // Without sendInitialValues nothing comes again; with it, the values of now.
    p = &again;
    EXPECT_TRUE(publish().keepAlive());
    p = &ua.login("alice");
    EXPECT_EQ(transfer(*p, ids, true).at(0).statusCode, Good);
    EXPECT_EQ(publishChanges().values, (Values{{100, {7}}}));
    // The old session hears of it once, then has nothing left.
    p = &first;
    EXPECT_EQ(publish().statusChanges, Codes{GoodSubscriptionTransferred});
    EXPECT_EQ(publish().fault, BadNoSubscription);
}

// Items go from among others while they hold values to send, a change waiting for its sampling time or a standard
// variable's interval; those left keep their ids and values, also after a transfer and beside items made there.
TEST_F(SubscriptionTest, ItemsDeletedFromAmongOthersAndIdsAfterATransfer)
{
    startWithUsers();
    p = &ua.login("alice");
    const std::uint32_t sub = subscribe().subscriptionId;
    const auto made = monitor(sub, {watch("Test.Int", 1), watch("Test.Long", 2), watch("i=2258", 3),
                                    watch("Test.Dbl", 4, {}, 10, 500), watch("C01.Panel", 5)});
    std::vector<std::uint32_t> ids;
    for (const auto &r : made)
        ids.push_back(r.monitoredItemId);
    ua.set("Test.Dbl", ::Variant(2.5)); // waits for its sampling time
    const DeleteMonitoredItemsRequest middle{{}, sub, {ids[1], ids[2], ids[3]}};
    EXPECT_EQ(ask<DeleteMonitoredItemsResponse>(*p, middle).results, Codes(3, Good));
    ua.set("Test.Long", ::Variant(std::int32_t(9)));
    cycles(10);
    EXPECT_EQ(publishChanges().values, (Values{{1, {0}}, {5, {7}}}));
    auto listed = [&](MemoryPeer &peer) {
        const CallMethodRequest get{
            NodeId(0, Id::Server), NodeId(0, Id::GetMonitoredItems), {Ua::Variant::integer(BuiltinType::UInt32, sub)}};
        const auto called = ask<CallResponse>(peer, CallRequest{{}, {get}});
        std::vector<std::uint32_t> handles;
        for (const auto &out : called.results.at(0).outputArguments)
            for (const Ua::Variant &v : out.elements())
                handles.push_back(std::uint32_t(v.i));
        return handles;
    };
    EXPECT_EQ(listed(*p), (std::vector<std::uint32_t>{ids[0], ids[4], 1, 5}));

    p = &ua.login("alice");
    EXPECT_EQ(transfer(*p, {sub}).at(0).statusCode, Good);
    const std::uint32_t added = monitor(sub, {watch("Test.Long", 6)}).at(0).monitoredItemId;
    EXPECT_GT(added, ids[4]);
    const MonitoredItemModifyRequest modify{ids[0], {11, -1, {}, 1, true}};
    ModifyMonitoredItemsRequest modifying{{}, sub, 2, {modify, modify, modify}};
    modifying.itemsToModify[1].monitoredItemId = added;
    modifying.itemsToModify[1].requestedParameters.clientHandle = 12;
    modifying.itemsToModify[2].monitoredItemId = ids[1];
    EXPECT_EQ(statuses(ask<ModifyMonitoredItemsResponse>(*p, modifying).results),
              (Codes{Good, Good, BadMonitoredItemIdInvalid}));
    EXPECT_EQ(p->faultOf(DeleteMonitoredItemsRequest{{}, sub, {ids[4]}}), Good);
    ua.set("Test.Int", ::Variant(std::int16_t(3)));
    ua.set("C01.Panel", ::Variant(std::int16_t(8)));
    EXPECT_EQ(publishChanges().values, (Values{{11, {3}}, {12, {9}}}));
    EXPECT_EQ(listed(*p), (std::vector<std::uint32_t>{ids[0], added, 11, 12}));
    EXPECT_EQ(ua.core->monitoredItemCount(), 2u);
}

TEST_F(SubscriptionTest, SubscriptionsWithoutASessionMakeRoomForTheItemsOfAClient)
{
    ua.config.maxMonitoredItems = 2;
    startWithUsers();
    const std::uint32_t id = orphan(false).first;
    p = &ua.login("bob");
    EXPECT_EQ(statuses(monitor(subscribe().subscriptionId,
                               {watch("Test.Int", 1), watch("Test.Dbl", 2), watch("Test.Long", 3)})),
              (Codes{Good, Good, BadTooManyMonitoredItems}));
    EXPECT_EQ(transfer(ua.login("alice"), {id}).at(0).statusCode, BadSubscriptionIdInvalid);
}

// Subscriptions outlive their session (closed, or timed out with the parameter true): they
// sample, queue and count down their lifetime until the same user's next session takes them.
struct OrphanTest : SubscriptionTest, ::testing::WithParamInterface<bool> {};

TEST_P(OrphanTest, TheSameUsersNextSessionTakesItOverWithWhatItQueuedOrItLivesOutItsLifetime)
{
    startWithUsers();
    const auto [id, sequence] = orphan(GetParam());
    ua.set("Test.Int", ::Variant(std::int16_t(1)));
    cycles(3);
    ua.set("Test.Int", ::Variant(std::int16_t(2)));
    cycles(3);
    EXPECT_EQ(transfer(ua.login("bob"), {id}).at(0).statusCode, BadUserAccessDenied);
    p = &ua.login("alice");
    const TransferResult taken = transfer(*p, {id}).at(0);
    EXPECT_EQ(std::pair(taken.statusCode, taken.availableSequenceNumbers),
              std::pair(Good, std::vector<std::uint32_t>{sequence}));
    const Published published = publish();
    EXPECT_EQ(std::pair(published.response.subscriptionId, published.values), std::pair(id, Values{{1, {1, 2}}}));

    // That session ends the same way, and nobody takes the subscription over this time.
    end(GetParam());
    const ServerDiagnosticsSummaryDataType left = ua.core->diagnosticsSummary();
    EXPECT_EQ(std::pair(left.currentSessionCount, left.currentSubscriptionCount), // bob's, unless silence ended it
              std::pair(GetParam() ? 0u : 1u, 1u));
    cycles(GetParam() ? 200 - 101 - 1 : 199);
    EXPECT_EQ(ua.core->subscriptionCount(), 1u); // one cycle short of its lifetime
    cycles(1);
    EXPECT_EQ(ua.core->subscriptionCount() + ua.core->monitoredItemCount(), 0u);
    EXPECT_EQ(transfer(ua.login("alice"), {id}).at(0).statusCode, BadSubscriptionIdInvalid);
}

INSTANTIATE_TEST_SUITE_P(, OrphanTest, ::testing::Bool());

// Past either bound of the orphan budget the oldest orphan goes: by count, and by what
// they hold (each its queue of 10 and one message kept for Republish: 22 is two of them).
struct OrphanBudgetTest : SubscriptionTest, ::testing::WithParamInterface<std::pair<int, std::size_t>> {};

TEST_P(OrphanBudgetTest, TheOldestGoesFirst)
{
    std::tie(ua.config.orphanedSubscriptions, ua.config.orphanedValues) = GetParam();
    startWithUsers();
    std::vector<std::uint32_t> ids;
    for (int k = 0; k < 3; ++k)
        ids.push_back(orphan(false).first);
    EXPECT_EQ(ua.core->subscriptionCount(), 2u);
    EXPECT_EQ(statuses(transfer(ua.login("alice"), ids)), (Codes{BadSubscriptionIdInvalid, Good, Good}));
}

INSTANTIATE_TEST_SUITE_P(, OrphanBudgetTest,
                         ::testing::Values(std::pair<int, std::size_t>{2, 1000}, std::pair<int, std::size_t>{100, 22}));

TEST_F(SubscriptionTest, TheServerObjectsMethodsOnOwnSubscriptionsOnlyAndTriggeringLinks)
{
    startWithUsers();
    p = &ua.login("alice");
    const auto sub = subscribe();
    const auto listed = monitor(sub.subscriptionId, {watch("C01.Panel", 7), watch("Test.Int", 8)});
    publishChanges();
    auto u32 = [](std::uint32_t v) { return Ua::Variant::integer(BuiltinType::UInt32, v); };
    auto method = [](std::uint32_t id, std::vector<Ua::Variant> in, NodeId object = NodeId(0, Id::Server)) {
        return CallMethodRequest{std::move(object), NodeId(0, id), std::move(in)};
    };
    const Ua::Variant id = u32(sub.subscriptionId);
    const CallRequest call{{},
                           {method(Id::GetMonitoredItems, {id}), method(Id::ResendData, {id}),
                            method(Id::ServerArray, {id}), method(Id::GetMonitoredItems, {id}, item("No.Such")),
                            method(Id::GetMonitoredItems, {}), method(Id::ResendData, {id, id}),
                            method(Id::GetMonitoredItems, {Ua::Variant::string(QStringLiteral("1"))}),
                            method(Id::ResendData, {u32(987654)})}};
    const auto called = ask<CallResponse>(*p, call);
    EXPECT_EQ(statuses(called.results), (Codes{Good, Good, BadMethodInvalid, BadNodeIdUnknown, BadArgumentsMissing,
                                               BadTooManyArguments, BadInvalidArgument, BadSubscriptionIdInvalid}));
    EXPECT_EQ(called.results.at(0).outputArguments,
              (std::vector<Ua::Variant>{Ua::Variant::array(BuiltinType::UInt32, {u32(listed[0].monitoredItemId),
                                                                                 u32(listed[1].monitoredItemId)}),
                                        Ua::Variant::array(BuiltinType::UInt32, {u32(7), u32(8)})}));
    EXPECT_EQ(publishChanges().values, (Values{{7, {7}}, {8, {0}}})); // resent, unchanged
    const auto elsewhere = ask<CallResponse>(ua.login("alice"), CallRequest{{}, {call.methodsToCall[0]}});
    EXPECT_EQ(statuses(elsewhere.results), Codes{BadUserAccessDenied});
    EXPECT_EQ(p->faultOf(DeleteSubscriptionsRequest{{}, {sub.subscriptionId}}), Good);

    // Triggering links end with their removal or their item.
    const auto links = subscribe();
    std::vector<MonitoredItemCreateRequest> linked{watch("Test.Int", 100), watch("C01.Panel", 101),
                                                   watch("C01.Z1.State", 102)};
    linked[1].monitoringMode = linked[2].monitoringMode = MonitoringMode::Sampling;
    const auto r = monitor(links.subscriptionId, linked);
    publishChanges(); // the triggering item's first value
    const SetTriggeringRequest link{
        {}, links.subscriptionId, r[0].monitoredItemId, {r[1].monitoredItemId, r[2].monitoredItemId, 4242}, {}};
    EXPECT_EQ(ask<SetTriggeringResponse>(*p, link).addResults, (Codes{Good, Good, BadMonitoredItemIdInvalid}));
    ua.set("Test.Int", ::Variant(std::int16_t(1)));
    EXPECT_EQ(publishChanges().values, (Values{{100, {1}}, {101, {7}}, {102, {3}}}));
    SetTriggeringRequest unlink{
        {}, links.subscriptionId, r[0].monitoredItemId, {}, {r[1].monitoredItemId, r[1].monitoredItemId}};
    EXPECT_EQ(ask<SetTriggeringResponse>(*p, unlink).removeResults, (Codes{Good, BadMonitoredItemIdInvalid}));
    ua.set("C01.Z1.State", ::Variant(std::uint8_t(4)));
    ua.set("C01.Panel", ::Variant(std::int16_t(8)));
    ua.set("Test.Int", ::Variant(std::int16_t(2)));
    EXPECT_EQ(publishChanges().values, (Values{{100, {2}}, {102, {4}}}));

    EXPECT_EQ(p->faultOf(DeleteMonitoredItemsRequest{{}, links.subscriptionId, {r[0].monitoredItemId}}), Good);
    EXPECT_EQ(p->faultOf(link), BadMonitoredItemIdInvalid);
}
TEST_F(SubscriptionTest, DiagnosticsCountRefusedSessionsAndTimeOuts)
{
    startWithUsers();
    ua.login("", BadIdentityTokenRejected);
    p = &ua.login("alice");
    subscribe();
    ua.login("bob");
    ua.login("carol");                             // the unactivated session above still holds a place
    EXPECT_EQ(ua.channel().createSession(), Good); // the unactivated one is given up for it
    // As clients read them: each counter, and the summary that holds them all.
    std::vector<ReadValueId> ids;
    for (std::uint32_t id : {Id::RejectedSessionCount, Id::SecurityRejectedSessionCount, Id::RejectedRequestsCount,
                             Id::SecurityRejectedRequestsCount, Id::CumulatedSessionCount, Id::CurrentSessionCount,
                             Id::CurrentSubscriptionCount, Id::CumulatedSubscriptionCount, Id::PublishingIntervalCount,
                             Id::ServerDiagnosticsSummary})
        ids.push_back(readId(NodeId(0, id)));
    const ReadResponse r = p->read(ids);
    ServerDiagnosticsSummaryDataType full;
    ASSERT_TRUE(r.results.size() == ids.size() && decodeExtension(r.results.back().value.x->extensionObject, full));
    const std::vector<std::uint32_t> summary{
        full.rejectedSessionCount,          full.securityRejectedSessionCount, full.rejectedRequestsCount,
        full.securityRejectedRequestsCount, full.cumulatedSessionCount,        full.currentSessionCount,
        full.currentSubscriptionCount,      full.cumulatedSubscriptionCount,   full.publishingIntervalCount};
    EXPECT_EQ(summary, (std::vector<std::uint32_t>{1, 1, 1, 1, 5, 4, 1, 1, 1}));
    for (std::size_t k = 0; k < summary.size(); ++k)
        EXPECT_EQ(r.results[k].value.i, summary[k]) << k;
    // Sessions the server ends itself for another reason are aborts: the one given up, and those left at the stop.
    ua.advance(10001);
    const ServerDiagnosticsSummaryDataType ended = ua.core->diagnosticsSummary();
    EXPECT_EQ(std::pair(ended.sessionTimeoutCount, ended.sessionAbortCount), std::pair(4u, 1u));
    EXPECT_EQ(ua.channel().createSession(), Good);
    ua.core->stop();
    EXPECT_EQ(ua.core->diagnosticsSummary().sessionAbortCount, 2u);
}

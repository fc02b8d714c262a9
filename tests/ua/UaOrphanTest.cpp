// Subscriptions that outlive their session (closed keeping them, or timed out): they
// sample, keep what they queued and count down their lifetime until the same user's
// next session takes them over; the oldest go first past the orphan budget.
#include "UaFixture.h"

using namespace Ua;

namespace {

enum class Ending { Close, TimeOut };

struct Orphans {
    UaCore ua;
    static constexpr double Interval = 100;
    static constexpr std::uint32_t Lifetime = 200; // cycles: past the 10 s session time-out

    void start()
    {
        ua.config.accessControl = std::make_shared<NamedUsers>();
        ua.server.MinUpdatePeriod = 0;
        ua.addPanelItems();
        ua.start();
    }
    // alice's subscription watching Test.Int (queue 10), its first value published
    // and not acknowledged; the id and that message's sequence number.
    std::pair<std::uint32_t, std::uint32_t> subscribe(MemoryPeer &p)
    {
        CreateSubscriptionRequest create{{}, Interval, Lifetime, 10, 0, true, 0};
        CreateSubscriptionResponse sub;
        EXPECT_TRUE(p.call(create, sub).ok);
        MonitoredItemCreateRequest watch{readId(item("Test.Int")), MonitoringMode::Reporting, {1, 0, {}, 10, true}};
        CreateMonitoredItemsRequest monitor{{}, sub.subscriptionId, 2, {watch}};
        CreateMonitoredItemsResponse monitored;
        EXPECT_EQ(p.call(monitor, monitored).fault, Status::Good);
        const PublishResponse first = publish(p);
        EXPECT_EQ(values(first), std::vector<double>{0});
        return {sub.subscriptionId, first.notificationMessage.sequenceNumber};
    }
    PublishResponse publish(MemoryPeer &p)
    {
        PublishRequest request;
        const std::uint32_t id = p.send(request);
        for (int k = 0; k < 20 && !p.frameWaiting(); ++k)
            ua.advance(qint64(Interval));
        PublishResponse r;
        EXPECT_TRUE(p.receive(id, r).ok);
        return r;
    }
    static std::vector<double> values(const PublishResponse &r)
    {
        std::vector<double> v;
        DataChangeNotification change;
        for (const ExtensionObject &x : r.notificationMessage.notificationData)
            if (decodeExtension(x, change))
                for (const auto &m : change.monitoredItems)
                    v.push_back(double(m.value.value.i));
        return v;
    }
    void cycles(int n)
    {
        for (int k = 0; k < n; ++k)
            ua.advance(qint64(Interval));
    }
    // Ends the session that way; the publishing cycles that took.
    int end(MemoryPeer &p, Ending how)
    {
        if (how == Ending::Close) {
            CloseSessionRequest close{{}, false};
            EXPECT_EQ(p.faultOf(close), Status::Good);
            return 0;
        }
        const int n = int(10000 / Interval) + 1;
        cycles(n);
        return n;
    }
    TransferResult transfer(MemoryPeer &p, std::uint32_t id)
    {
        TransferSubscriptionsRequest request{{}, {id}, false};
        TransferSubscriptionsResponse response;
        EXPECT_TRUE(p.call(request, response).ok);
        return response.results.empty() ? TransferResult{} : response.results[0];
    }
};

struct OrphanTest : Orphans, ::testing::TestWithParam<Ending> {
    void SetUp() override { start(); }
};

TEST_P(OrphanTest, LivesOutItsLifetimeWithoutItsSession)
{
    MemoryPeer &p = ua.login("alice");
    const std::uint32_t id = subscribe(p).first;
    const int spent = end(p, GetParam());
    const ServerDiagnosticsSummaryDataType left = ua.core->diagnosticsSummary();
    EXPECT_EQ(std::vector<std::uint32_t>({left.currentSessionCount, left.currentSubscriptionCount}),
              std::vector<std::uint32_t>({0, 1}));
    cycles(int(Lifetime) - spent - 1);
    EXPECT_EQ(ua.core->subscriptionCount(), 1u); // one cycle short of its lifetime
    cycles(1);
    EXPECT_EQ(ua.core->subscriptionCount(), 0u);
    EXPECT_EQ(ua.core->monitoredItemCount(), 0u);
    EXPECT_EQ(transfer(ua.login("alice"), id).statusCode, Status::BadSubscriptionIdInvalid);
}

TEST_P(OrphanTest, TheSameUsersNextSessionTakesItOverWithWhatItQueued)
{
    MemoryPeer &first = ua.login("alice");
    const auto [id, sequence] = subscribe(first);
    end(first, GetParam());
    ua.set(QStringLiteral("Test.Int"), ::Variant(std::int16_t(1)));
    cycles(3);
    ua.set(QStringLiteral("Test.Int"), ::Variant(std::int16_t(2)));
    cycles(3);
    EXPECT_EQ(transfer(ua.login("bob"), id).statusCode, Status::BadUserAccessDenied);
    MemoryPeer &next = ua.login("alice");
    const TransferResult taken = transfer(next, id);
    EXPECT_EQ(taken.statusCode, Status::Good);
    EXPECT_EQ(taken.availableSequenceNumbers, std::vector<std::uint32_t>{sequence});
    const PublishResponse published = publish(next);
    EXPECT_EQ(published.subscriptionId, id);
    EXPECT_EQ(values(published), (std::vector<double>{1, 2}));
}

INSTANTIATE_TEST_SUITE_P(, OrphanTest, ::testing::Values(Ending::Close, Ending::TimeOut));

// Past either bound of the orphan budget the oldest orphan goes; a subscription
// here weighs its queue of 10 and one message kept for Republish.
struct OrphanBudgetTest : Orphans, ::testing::TestWithParam<std::pair<int, std::size_t>> {};

TEST_P(OrphanBudgetTest, TheOldestGoesFirst)
{
    std::tie(ua.config.orphanedSubscriptions, ua.config.orphanedValues) = GetParam();
    start();
    std::vector<std::uint32_t> ids;
    for (int k = 0; k < 3; ++k) {
        MemoryPeer &p = ua.login("alice");
        ids.push_back(subscribe(p).first);
        end(p, Ending::Close);
    }
    EXPECT_EQ(ua.core->subscriptionCount(), 2u);
    MemoryPeer &next = ua.login("alice");
    std::vector<StatusCode> taken;
    for (std::uint32_t id : ids)
        taken.push_back(transfer(next, id).statusCode);
    EXPECT_EQ(taken, (std::vector<StatusCode>{Status::BadSubscriptionIdInvalid, Status::Good, Status::Good}));
}

// By count, and by what they hold: 22 is two of them.
INSTANTIATE_TEST_SUITE_P(, OrphanBudgetTest,
                         ::testing::Values(std::pair<int, std::size_t>{2, 1000}, std::pair<int, std::size_t>{100, 22}));

} // namespace

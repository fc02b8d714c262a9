// What the interop tests cannot reach cleanly: TransferSubscriptions between users,
// triggering links that are removed or lose their item, and the diagnostics
// counters of refused sessions and session time-outs on the manual clock.
#include "UaFixture.h"

using namespace Ua;

namespace {

// Users named by their token's body; an empty name is refused.
struct Names final : AccessControl {
    std::vector<UserTokenPolicy> userTokenPolicies(const QString &) const override { return {{}}; }
    StatusCode activateSession(const IdentityRequest &r, UserIdentity &user) const override
    {
        user = {1, QString::fromLatin1(r.token.body)};
        return user.name.isEmpty() ? Status::BadIdentityTokenRejected : Status::Good;
    }
    std::uint8_t userAccessLevel(const UserIdentity &, const OPCItem &, std::uint8_t level) const override
    {
        return level;
    }
};

struct ServicesTest : ::testing::Test {
    UaCore ua;
    std::uint32_t nextHandle = 100;

    void SetUp() override
    {
        ua.server.MinUpdatePeriod = 0;
        ua.addPanelItems();
        ua.config.accessControl = std::make_shared<Names>();
        ua.config.maxSessions = 4;
        ua.start();
    }
    MemoryPeer &login(const char *name, StatusCode expected = Status::Good)
    {
        MemoryPeer &p = ua.connect();
        ActivateSessionRequest request;
        request.userIdentityToken = {
            NodeId(0, Id::UserNameIdentityToken_Binary), ExtensionObject::Encoding::ByteString, name, {}, {}};
        ActivateSessionResponse response;
        EXPECT_TRUE(p.hello() && p.openChannel() && !p.createSession(10000));
        EXPECT_EQ(p.call(request, response).fault, expected);
        return p;
    }
    std::pair<std::uint32_t, std::vector<std::uint32_t>> subscribe(MemoryPeer &p, std::vector<const char *> ids,
                                                                   std::int32_t mode = MonitoringMode::Reporting,
                                                                   std::uint32_t sub = 0)
    {
        CreateSubscriptionRequest create{{}, 100, 1000, 5, 0, true, 0};
        CreateSubscriptionResponse created;
        if (!sub && p.call(create, created).ok)
            sub = created.subscriptionId;
        CreateMonitoredItemsRequest request{{}, sub, 2, {}};
        for (const char *id : ids)
            request.itemsToCreate.push_back({readId(item(id)), mode, {nextHandle++, 0, {}, 5, true}});
        CreateMonitoredItemsResponse response;
        EXPECT_TRUE(p.call(request, response).ok);
        std::vector<std::uint32_t> items;
        for (const auto &r : response.results)
            items.push_back(r.monitoredItemId);
        return {sub, items};
    }
    // The client handles of the data changes in the answer to a Publish request of p,
    // after at most ten publishing cycles.
    std::vector<std::uint32_t> publish(MemoryPeer &p)
    {
        PublishRequest request;
        request.requestHeader.timeoutHint = 600000;
        const std::uint32_t id = p.send(request);
        for (int k = 0; k < 10 && !p.frameWaiting(); ++k)
            ua.advance(100);
        PublishResponse response;
        EXPECT_TRUE(p.receive(id, response).ok);
        std::vector<std::uint32_t> handles;
        for (const ExtensionObject &x : response.notificationMessage.notificationData)
            if (DataChangeNotification change; decodeExtension(x, change))
                for (const auto &m : change.monitoredItems)
                    handles.push_back(m.clientHandle);
        return handles;
    }
};

} // namespace

TEST_F(ServicesTest, TransferSubscriptionsOnlyToTheSameUser)
{
    MemoryPeer &first = login("alice"), &again = login("alice"), &other = login("bob");
    const std::uint32_t sub = subscribe(first, {"C01.Panel"}).first;
    EXPECT_EQ(publish(first), (std::vector<std::uint32_t>{100}));
    TransferSubscriptionsRequest request{{}, {sub}, false};
    for (auto [peer, expected] : {std::pair{&other, Status::BadUserAccessDenied}, std::pair{&again, Status::Good}}) {
        TransferSubscriptionsResponse response;
        ASSERT_TRUE(peer->call(request, response).ok);
        ASSERT_EQ(response.results.size(), 1u);
        EXPECT_EQ(response.results[0].statusCode, expected);
    }
    // Without sendInitialValues nothing comes again. The old session hears of it once,
    // then has nothing left.
    EXPECT_EQ(publish(again), (std::vector<std::uint32_t>{}));
    PublishRequest next;
    PublishResponse told;
    StatusChangeNotification change;
    ASSERT_TRUE(first.call(next, told).ok);
    ASSERT_EQ(told.notificationMessage.notificationData.size(), 1u);
    EXPECT_TRUE(decodeExtension(told.notificationMessage.notificationData[0], change));
    EXPECT_EQ(change.status, Status::GoodSubscriptionTransferred);
    EXPECT_EQ(first.faultOf(PublishRequest{}), Status::BadNoSubscription);
}

TEST_F(ServicesTest, TriggeringLinksEndWithTheirRemovalOrTheirItem)
{
    MemoryPeer &p = login("alice");
    const auto [sub, triggering] = subscribe(p, {"Test.Int"});
    const auto sampled = subscribe(p, {"C01.Panel", "C01.Z1.State"}, MonitoringMode::Sampling, sub).second;
    publish(p); // the triggering item's first value
    SetTriggeringRequest link{{}, sub, triggering[0], {sampled[0], sampled[1]}, {}};
    SetTriggeringResponse linked;
    ASSERT_TRUE(p.call(link, linked).ok);
    auto set = [&](const char *id, ::Variant v) {
        ua.server.Tags().Item(QString::fromLatin1(id))->SetVQT(std::move(v), Quality::Good);
    };
    set("Test.Int", ::Variant(std::int16_t(1)));
    EXPECT_EQ(publish(p), (std::vector<std::uint32_t>{100, 101, 102}));
    SetTriggeringRequest unlink{{}, sub, triggering[0], {}, {sampled[0], sampled[0]}};
    ASSERT_TRUE(p.call(unlink, linked).ok);
    EXPECT_EQ(linked.removeResults, (std::vector<StatusCode>{Status::Good, Status::BadMonitoredItemIdInvalid}));
    set("C01.Z1.State", ::Variant(std::uint8_t(4)));
    set("C01.Panel", ::Variant(std::int16_t(8)));
    set("Test.Int", ::Variant(std::int16_t(2)));
    EXPECT_EQ(publish(p), (std::vector<std::uint32_t>{100, 102}));

    DeleteMonitoredItemsRequest remove{{}, sub, {triggering[0]}};
    DeleteMonitoredItemsResponse removed;
    ASSERT_TRUE(p.call(remove, removed).ok);
    EXPECT_EQ(p.faultOf(link), Status::BadMonitoredItemIdInvalid);
}

TEST_F(ServicesTest, DiagnosticsCountRefusedSessionsAndTimeOuts)
{
    login("", Status::BadIdentityTokenRejected);
    login("alice");
    login("bob");
    login("carol"); // the unactivated session above still holds a place
    MemoryPeer &late = ua.connect();
    ASSERT_TRUE(late.hello() && late.openChannel());
    EXPECT_EQ(late.createSession(), Status::Good); // the unactivated one is given up for it
    const ServerDiagnosticsSummaryDataType full = ua.core->diagnosticsSummary();
    EXPECT_EQ(std::vector<std::uint32_t>({full.rejectedSessionCount, full.securityRejectedSessionCount,
                                          full.rejectedRequestsCount, full.securityRejectedRequestsCount,
                                          full.cumulatedSessionCount, full.currentSessionCount}),
              std::vector<std::uint32_t>({1, 1, 1, 1, 5, 4}));
    ua.advance(10001);
    EXPECT_EQ(ua.core->diagnosticsSummary().sessionTimeoutCount, 4u);
}

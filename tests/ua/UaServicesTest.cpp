// What the interop tests cannot reach cleanly: TransferSubscriptions between users,
// triggering links that are removed or lose their item, and the diagnostics
// counters of refused sessions and session time-outs on the manual clock.
#include "UaFixture.h"

using namespace Ua;

namespace {

// Users named by their token's body; an empty name is refused.
struct Names final : AccessControl {
    std::vector<UserTokenPolicy> userTokenPolicies(const QString &) const override
    {
        return {UserTokenPolicy{QStringLiteral("names"), 1, {}, {}, {}}};
    }
    StatusCode activateSession(const IdentityRequest &r, UserIdentity &user) const override
    {
        user.tokenType = 1;
        user.name = QString::fromLatin1(r.token.body);
        return user.name.isEmpty() ? Status::BadIdentityTokenRejected : Status::Good;
    }
    std::uint8_t userAccessLevel(const UserIdentity &, const OPCItem &, std::uint8_t level) const override
    {
        return level;
    }
};

struct ServicesTest : ::testing::Test {
    UaCore ua;

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
    static std::uint32_t subscribe(MemoryPeer &p)
    {
        CreateSubscriptionRequest request{{}, 100, 1000, 5, 0, true, 0};
        CreateSubscriptionResponse response;
        EXPECT_TRUE(p.call(request, response).ok);
        return response.subscriptionId;
    }
    std::uint32_t nextHandle = 100;
    std::vector<std::uint32_t> monitor(MemoryPeer &p, std::uint32_t sub, std::vector<const char *> ids,
                                       std::int32_t mode = MonitoringMode::Reporting)
    {
        CreateMonitoredItemsRequest request{{}, sub, 2, {}};
        for (const char *id : ids)
            request.itemsToCreate.push_back({readId(item(id)), mode, {nextHandle++, 0, {}, 5, true}});
        CreateMonitoredItemsResponse response;
        EXPECT_TRUE(p.call(request, response).ok);
        std::vector<std::uint32_t> out;
        for (const auto &r : response.results)
            out.push_back(r.monitoredItemId);
        return out;
    }
    // The answer to a Publish request of p, after at most ten publishing cycles:
    // the client handles of its data changes and its status changes.
    std::pair<std::vector<std::uint32_t>, std::vector<StatusCode>> publish(MemoryPeer &p)
    {
        PublishRequest request;
        request.requestHeader.timeoutHint = 600000;
        const std::uint32_t id = p.send(request);
        for (int k = 0; k < 10 && !p.frameWaiting(); ++k)
            ua.advance(100);
        PublishResponse response;
        EXPECT_TRUE(p.receive(id, response).ok);
        std::pair<std::vector<std::uint32_t>, std::vector<StatusCode>> r;
        for (const ExtensionObject &x : response.notificationMessage.notificationData) {
            DataChangeNotification change;
            StatusChangeNotification status;
            if (decodeExtension(x, change))
                for (const auto &m : change.monitoredItems)
                    r.first.push_back(m.clientHandle);
            else if (decodeExtension(x, status))
                r.second.push_back(status.status);
        }
        return r;
    }
};

} // namespace

TEST_F(ServicesTest, TransferSubscriptionsOnlyToTheSameUserAndTellsTheOldSession)
{
    MemoryPeer &first = login("alice"), &again = login("alice"), &other = login("bob");
    const std::uint32_t sub = subscribe(first);
    monitor(first, sub, {"C01.Panel", "C01.Z1.State"});
    EXPECT_EQ(publish(first).first, (std::vector<std::uint32_t>{100, 101}));
    PublishRequest wait;
    const std::uint32_t waiting = first.send(wait);

    TransferSubscriptionsRequest request{{}, {sub}, true};
    TransferSubscriptionsResponse refused, moved;
    ASSERT_TRUE(other.call(request, refused).ok);
    ASSERT_EQ(refused.results.size(), 1u);
    EXPECT_EQ(refused.results[0].statusCode, Status::BadUserAccessDenied);
    ASSERT_TRUE(again.call(request, moved).ok);
    ASSERT_EQ(moved.results.size(), 1u);
    EXPECT_EQ(moved.results[0].statusCode, Status::Good);
    EXPECT_EQ(moved.results[0].availableSequenceNumbers, (std::vector<std::uint32_t>{1}));

    PublishResponse told;
    ASSERT_TRUE(first.receive(waiting, told).ok);
    EXPECT_EQ(told.subscriptionId, sub);
    StatusChangeNotification change;
    ASSERT_EQ(told.notificationMessage.notificationData.size(), 1u);
    ASSERT_TRUE(decodeExtension(told.notificationMessage.notificationData[0], change));
    EXPECT_EQ(change.status, Status::GoodSubscriptionTransferred);
    // The values come again on the new session; the old one has nothing left.
    EXPECT_EQ(publish(again).first, (std::vector<std::uint32_t>{100, 101}));
    EXPECT_EQ(first.faultOf(PublishRequest{}), Status::BadNoSubscription);
    // Without sendInitialValues nothing is sent again.
    request.sendInitialValues = false;
    MemoryPeer &third = login("alice");
    TransferSubscriptionsResponse quiet;
    ASSERT_TRUE(third.call(request, quiet).ok);
    EXPECT_EQ(publish(third).first, (std::vector<std::uint32_t>{}));
}

TEST_F(ServicesTest, TriggeringLinksEndWithTheirRemovalOrTheirItem)
{
    MemoryPeer &p = login("alice");
    const std::uint32_t sub = subscribe(p);
    const auto triggering = monitor(p, sub, {"Test.Int"});
    const auto sampled = monitor(p, sub, {"C01.Panel", "C01.Z1.State"}, MonitoringMode::Sampling);
    publish(p); // the triggering item's first value, which came before the links
    SetTriggeringRequest link{{}, sub, triggering[0], {sampled[0], sampled[1]}, {}};
    SetTriggeringResponse linked;
    ASSERT_TRUE(p.call(link, linked).ok);
    auto change = [&](std::int16_t v) {
        ua.server.Tags().Item(QStringLiteral("Test.Int"))->SetVQT(::Variant(v), Quality::Good);
    };

    change(1);
    EXPECT_EQ(publish(p).first, (std::vector<std::uint32_t>{100, 101, 102}));
    SetTriggeringRequest unlink{{}, sub, triggering[0], {}, {sampled[0], sampled[0]}};
    ASSERT_TRUE(p.call(unlink, linked).ok);
    EXPECT_EQ(linked.removeResults, (std::vector<StatusCode>{Status::Good, Status::BadMonitoredItemIdInvalid}));
    ua.server.Tags().Item(QStringLiteral("C01.Z1.State"))->SetVQT(::Variant(std::uint8_t(4)), Quality::Good);
    ua.server.Tags().Item(QStringLiteral("C01.Panel"))->SetVQT(::Variant(std::int16_t(8)), Quality::Good);
    change(2);
    EXPECT_EQ(publish(p).first, (std::vector<std::uint32_t>{100, 102}));

    DeleteMonitoredItemsRequest remove{{}, sub, {triggering[0]}};
    DeleteMonitoredItemsResponse removed;
    ASSERT_TRUE(p.call(remove, removed).ok);
    link.linksToAdd = {sampled[1]};
    EXPECT_EQ(p.faultOf(link), Status::BadMonitoredItemIdInvalid);
    link.linksToAdd.clear();
    EXPECT_EQ(p.faultOf(link), Status::BadNothingToDo);
}

TEST_F(ServicesTest, DiagnosticsCountRefusedSessionsAndTimeOuts)
{
    const auto summary = [&] { return ua.core->diagnosticsSummary(); };
    login("", Status::BadIdentityTokenRejected);
    EXPECT_EQ(summary().rejectedSessionCount, 1u);
    EXPECT_EQ(summary().securityRejectedSessionCount, 1u);
    EXPECT_EQ(summary().securityRejectedRequestsCount, 1u);
    login("alice");
    login("bob");
    login("carol"); // the unactivated session above still holds a place
    MemoryPeer &late = ua.connect();
    ASSERT_TRUE(late.hello() && late.openChannel());
    EXPECT_EQ(late.createSession(), Status::BadTooManySessions);
    const ServerDiagnosticsSummaryDataType full = summary();
    EXPECT_EQ(full.rejectedSessionCount, 2u);
    EXPECT_EQ(full.securityRejectedSessionCount, 1u);
    EXPECT_EQ(full.rejectedRequestsCount, 2u);
    EXPECT_EQ(full.cumulatedSessionCount, 4u);
    EXPECT_EQ(full.currentSessionCount, 4u);
    ua.advance(10001);
    EXPECT_EQ(summary().sessionTimeoutCount, 4u);
    EXPECT_EQ(summary().currentSessionCount, 0u);
}

// What a hostile client cannot do: fill the tables from one address, keep channels,
// sessions or half-sent messages open, grow queues past the session's share, or
// write lines of its own into the trace.
#include "UaFixture.h"

#include <QRegularExpression>

using namespace Ua;

namespace {
StatusCode readFault(UaTestPeer &p) { return p.faultOf(ReadRequest{{}, 0, 0, {readId(NodeId(0, Id::State))}}); }
CreateSubscriptionResponse subscribe(UaTestPeer &p)
{
    CreateSubscriptionRequest request{{}, 1000, 30, 10, 0, true, 0};
    CreateSubscriptionResponse response;
    EXPECT_TRUE(p.call(request, response).ok);
    return response;
}
} // namespace

TEST(UaBudget, TablesKeepRoomForOthersAndWhatIsLeftOpenTimesOut)
{
    UaCore ua;
    ua.config.maxConnections = ua.config.maxSessions = 4;
    ua.config.channelsPerAddress = 3;
    ua.config.sessionsPerAddress = 2;
    ua.start();
    auto open = [&](const char *peer, bool withSession) -> MemoryPeer & {
        MemoryPeer &p = ua.channel(QString::fromLatin1(peer));
        EXPECT_TRUE(!withSession || p.session());
        ua.advance(10); // each one idle a little longer than the next
        return p;
    };
    MemoryPeer &a1 = open("10.0.0.1:1", true), &a2 = open("10.0.0.1:2", true), &a3 = open("10.0.0.1:3", false);
    EXPECT_EQ(a3.createSession(), Status::BadTooManySessions); // two from that address already
    EXPECT_FALSE(ua.core->admitConnection(QStringLiteral("10.0.0.1:4")));
    ASSERT_TRUE(ua.core->admitConnection(QStringLiteral("10.0.0.2:1")));
    MemoryPeer &b1 = open("10.0.0.2:1", true);
    // Full: the channel without a session makes room, then nothing does.
    EXPECT_TRUE(ua.core->admitConnection(QStringLiteral("[::1]:1")));
    EXPECT_EQ(UaTestPeer::errorStatus(a3.nextFrame()), Status::BadTcpServerTooBusy);
    MemoryPeer &c1 = open("[::1]:1", true);
    EXPECT_FALSE(ua.core->admitConnection(QStringLiteral("[::1]:2")));

    // The session table gives up a session never activated first, then the longest
    // idle one without subscriptions; a subscription keeps a session.
    subscribe(b1);
    EXPECT_EQ(readFault(a2), Status::Good);
    MemoryPeer &d1 = open("10.0.0.4:1", false);
    EXPECT_EQ(d1.createSession(), Status::Good);
    EXPECT_EQ(readFault(a1), Status::BadSessionIdInvalid);
    MemoryPeer &e1 = open("10.0.0.5:1", false);
    EXPECT_EQ(e1.createSession(), Status::Good);
    EXPECT_EQ(d1.activateSession(), Status::BadSessionIdInvalid);
    EXPECT_EQ(readFault(a2), Status::Good);
    EXPECT_EQ(readFault(b1), Status::Good);

    // A message started and not finished, and a channel left without a session.
    c1.sendBytes(c1.chunk('F', 99, QByteArray(100, 'x')).left(30));
    ua.advance(ua.config.transport.partialMessageTimeoutMs);
    EXPECT_FALSE(c1.closedByServer());
    EXPECT_FALSE(d1.closedByServer());
    ua.advance(1);
    EXPECT_EQ(UaTestPeer::errorStatus(c1.nextFrame()), Status::BadTimeout);
    EXPECT_EQ(UaTestPeer::errorStatus(d1.nextFrame()), Status::BadTimeout);
    EXPECT_EQ(std::vector<bool>({a2.closedByServer(), b1.closedByServer()}), std::vector<bool>({false, false}));
    EXPECT_EQ(readFault(b1), Status::Good);
}

TEST(UaBudget, QueuesShareTheSessionsBudgetAndClientTextStaysOnItsLine)
{
    UaCore ua;
    ua.addPanelItems();
    ua.config.queuedValuesPerSession = 10;
    ua.config.retainedNotificationsPerSession = 4;
    std::int32_t level = 4;
    ua.server.SetTraceLevel(level);
    ua.start();
    MemoryPeer &p = ua.channel();
    CreateSessionRequest forged;
    forged.sessionName = QStringLiteral("x\r\n(Server Status: Failed)\x1b[2J");
    CreateSessionResponse created;
    ASSERT_TRUE(p.call(forged, created).ok);
    p.authenticationToken = created.authenticationToken;
    ASSERT_EQ(p.activateSession(), Status::Good);
    for (const QString &line : ua.traces)
        EXPECT_EQ(line.indexOf(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]"))), line.size() - 1)
            << line.toStdString();
    EXPECT_TRUE(std::any_of(ua.traces.begin(), ua.traces.end(), [](const QString &l) {
        return l.contains(QLatin1String("x\\x0d\\x0a(Server Status: Failed)\\x1b[2J"));
    }));

    const CreateSubscriptionResponse sub = subscribe(p);
    auto watch = [&](std::vector<std::uint32_t> queues) {
        CreateMonitoredItemsRequest request{{}, sub.subscriptionId, 0, {}};
        for (std::uint32_t q : queues)
            request.itemsToCreate.push_back({readId(item("Test.Int")), 2, {1, 100, {}, q, true}});
        CreateMonitoredItemsResponse response;
        EXPECT_TRUE(p.call(request, response).ok);
        return response.results;
    };
    const auto first = watch({8, 8, 8});
    EXPECT_EQ(
        std::vector<std::uint32_t>({first[0].revisedQueueSize, first[1].revisedQueueSize, first[2].revisedQueueSize}),
        std::vector<std::uint32_t>({8, 4, 1}));
    EXPECT_EQ(p.faultOf(DeleteMonitoredItemsRequest{{}, sub.subscriptionId, {first[0].monitoredItemId}}), Status::Good);
    EXPECT_EQ(watch({8})[0].revisedQueueSize, 8u);

    // Kept for Republish: the oldest message goes once the session holds more
    // notifications than its budget (three items, three notifications a message).
    auto publish = [&] {
        PublishRequest request;
        const std::uint32_t id = p.send(request);
        ua.advance(1000);
        PublishResponse response;
        EXPECT_TRUE(p.receive(id, response).ok);
        return response;
    };
    EXPECT_EQ(publish().availableSequenceNumbers, std::vector<std::uint32_t>{1});
    ua.set(QStringLiteral("Test.Int"), ::Variant(std::int16_t(5)));
    EXPECT_EQ(publish().availableSequenceNumbers, std::vector<std::uint32_t>{2});
    EXPECT_EQ(p.faultOf(RepublishRequest{{}, sub.subscriptionId, 1}), Status::BadMessageNotAvailable);
}

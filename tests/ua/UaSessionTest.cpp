// Sessions and discovery: creation and activation through the access control, the
// toolkit's client events, time-outs, limits and budgets, the endpoints a client is
// shown, and the trace lines.
#include "UaFixture.h"

#include <QRegularExpression>

using namespace Ua;

namespace {
StatusCode readFault(UaTestPeer &p) { return p.faultOf(ReadRequest{{}, 0, 0, {readId(NodeId(0, Id::State))}}); }
} // namespace

TEST(UaSession, LimitsTimeOutsAndTheToolkitsClientEvents)
{
    std::vector<int> connects, remaining; // outlive the server, which reports to them at its end
    bool accept = true;
    UaCore ua;
    ua.config.maxSessions = 52;
    ua.config.minSessionTimeoutMs = 1000;
    ua.config.unactivatedSessionTimeoutMs = 500;
    ua.config.sessionsPerAddress = 100;
    ua.server.OnClientConnect = [&](std::int32_t before, bool &ok) { connects.push_back(before), ok = accept; };
    ua.server.OnClientDisconnect = [&](std::int32_t left) { remaining.push_back(left); };
    ua.start();
    std::vector<MemoryPeer *> clients; // fifty at once
    for (int k = 0; k < 50; ++k)
        clients.push_back(&ua.client(1000));
    EXPECT_EQ(connects.size(), 50u);
    EXPECT_EQ(connects.back(), 49);
    MemoryPeer &unactivated = ua.channel(), &refused = ua.channel();
    ASSERT_TRUE(!unactivated.createSession(1000) && !refused.createSession(1000));
    EXPECT_EQ(ua.connect().createSession(), Status::BadCommunicationError); // no channel
    MemoryPeer &extra = ua.channel();
    EXPECT_EQ(extra.createSession(), Status::Good); // the oldest session never activated makes room
    EXPECT_EQ(unactivated.activateSession(), Status::BadSessionIdInvalid);
    // A refused connect fails the activation; re-activation is not a second client.
    accept = false;
    EXPECT_EQ(refused.activateSession(), Status::BadUserAccessDenied);
    EXPECT_EQ(readFault(refused), Status::BadSessionNotActivated);
    accept = true;
    EXPECT_EQ(clients[0]->activateSession(), Status::Good);
    EXPECT_EQ(connects.size(), 51u);
    EXPECT_EQ(ua.server.clientCount(), 50);

    // Never activated: gone after its shorter time, which makes room, unknown to the toolkit.
    ua.advance(501);
    EXPECT_EQ(extra.activateSession(), Status::BadSessionIdInvalid);
    EXPECT_EQ(extra.createSession(), Status::Good);
    EXPECT_TRUE(remaining.empty());
    // Activity keeps a session; silence past its time-out ends it.
    ua.advance(498);
    EXPECT_EQ(readFault(*clients[0]), Status::Good);
    ua.advance(1);
    EXPECT_EQ(ua.core->sessionCount(), 51u); // at its time-out, not yet
    ua.advance(1);
    EXPECT_EQ(readFault(*clients[1]), Status::BadSessionIdInvalid);
    EXPECT_EQ(readFault(*clients[0]), Status::Good);
    EXPECT_EQ(remaining.size(), 49u);
    EXPECT_EQ(remaining.back(), 1);
    EXPECT_EQ(clients[0]->faultOf(CloseSessionRequest()), Status::Good);
    EXPECT_EQ(remaining.back(), 0);
    EXPECT_EQ(readFault(*clients[0]), Status::BadSessionIdInvalid);
}

TEST(UaSession, DiscoveryNeedsNoSessionOtherRequestsAnActivatedOneOnTheirOwnChannel)
{
    UaCore ua;
    ua.start();
    MemoryPeer &p = ua.channel();
    // Discovery needs no session: the endpoints and servers describe this server.
    GetEndpointsRequest get{{}, QStringLiteral("opc.tcp://127.0.0.1:4840"), {}, {}};
    const auto endpoints = ask<GetEndpointsResponse>(p, get).endpoints;
    ASSERT_EQ(endpoints.size(), 1u);
    const EndpointDescription &e = endpoints[0];
    EXPECT_EQ(e.endpointUrl, get.endpointUrl);
    ASSERT_EQ(e.userIdentityTokens.size(), 1u); // anonymous only: no secure policy configured here
    EXPECT_EQ(e.server.applicationUri, QStringLiteral("urn:testhost:QUARLEN.KV7.1"));
    EXPECT_EQ(e.server.applicationType, 0);
    get.endpointUrl.clear(); // the URL of the Hello stands in
    EXPECT_EQ(ask<GetEndpointsResponse>(p, get).endpoints.at(0).endpointUrl,
              QStringLiteral("opc.tcp://localhost:4840"));
    get.profileUris = {QStringLiteral("http://opcfoundation.org/UA-Profile/Transport/https-uabinary")};
    EXPECT_TRUE(ask<GetEndpointsResponse>(p, get).endpoints.empty());

    FindServersRequest find;
    const auto servers = ask<FindServersResponse>(p, find).servers;
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers[0].discoveryUrls, std::vector<QString>{QStringLiteral("opc.tcp://testhost:4840")});
    find.serverUris = {QStringLiteral("urn:someone:else")};
    EXPECT_TRUE(ask<FindServersResponse>(p, find).servers.empty());

    EXPECT_EQ(readFault(p), Status::BadSessionIdInvalid);
    ASSERT_EQ(p.createSession(), Status::Good);
    EXPECT_EQ(readFault(p), Status::BadSessionNotActivated);
    ASSERT_EQ(p.activateSession(), Status::Good);
    EXPECT_EQ(readFault(p), Status::Good);
    // The token used from another channel, and a made-up one.
    MemoryPeer &q = ua.channel();
    q.authenticationToken = p.authenticationToken;
    EXPECT_EQ(readFault(q), Status::BadSecureChannelIdInvalid);
    EXPECT_EQ(q.faultOf(CloseSessionRequest()), Status::BadSecureChannelIdInvalid);
    q.authenticationToken = NodeId::ofBytes(1, QByteArray(32, 'z'));
    EXPECT_EQ(readFault(q), Status::BadSessionIdInvalid);

    // Anonymous is the only identity the default access control takes.
    auto token = [](std::uint32_t type, const char *hex) {
        return ExtensionObject{
            NodeId(0, type), ExtensionObject::Encoding::ByteString, QByteArray::fromHex(hex), {}, {}};
    };
    const struct {
        ExtensionObject token;
        StatusCode expected;
    } cases[] = {
        {token(Id::UserNameIdentityToken_Binary, "000000000000000000000000"), Status::BadIdentityTokenRejected},
        {token(9999, ""), Status::BadIdentityTokenInvalid},
        {token(Id::AnonymousIdentityToken_Binary, "0a000000"), Status::BadIdentityTokenInvalid}, // truncated
        {ExtensionObject(), Status::Good},
        {makeExtension(AnonymousIdentityToken{QStringLiteral("open62541-anonymous-policy")}), Status::Good},
    };
    for (const auto &c : cases) {
        ActivateSessionRequest request;
        request.userIdentityToken = c.token;
        ActivateSessionResponse response;
        const auto reply = p.call(request, response);
        EXPECT_EQ(reply.fault, c.expected) << c.token.typeId.toString().toStdString();
        EXPECT_EQ(response.serverNonce.size(), reply.fault ? 0 : 32);
    }
}

TEST(UaSession, AccessControlDecidesIdentitiesRightsAndTokenPolicies)
{
    UaCore ua;
    ua.addPanelItems();
    ua.config.accessControl = std::make_shared<NamedUsers>();
    ua.start();
    ua.login("", Status::BadIdentityTokenRejected);
    MemoryPeer &reader = ua.login("reader"), &nobody = ua.login("nobody");
    const ReadResponse levels = reader.read({readId(item("Test.Int")), readId(item("Test.Int"), Attr::UserAccessLevel),
                                             readId(item("Test.Int"), Attr::AccessLevel)});
    EXPECT_EQ(statuses(levels.results), (Codes(3, Status::Good)));
    EXPECT_EQ(std::pair(levels.results.at(1).value.i, levels.results.at(2).value.i),
              std::pair(std::int64_t(AccessLevel::CurrentRead), std::int64_t(3)));
    EXPECT_EQ(reader.write(item("Test.Int"), Ua::Variant::integer(BuiltinType::Int16, 1)), Status::BadUserAccessDenied);
    // standard nodes stay readable
    EXPECT_EQ(statuses(nobody.read({readId(item("Test.Int")), readId(NodeId(0, Id::State))}).results),
              (Codes{Status::BadUserAccessDenied, Status::Good}));
    const auto sub = ask<CreateSubscriptionResponse>(nobody, CreateSubscriptionRequest{{}, 100, 100, 10, 0, true, 0});
    const auto monitored = ask<CreateMonitoredItemsResponse>(
        nobody, CreateMonitoredItemsRequest{{}, sub.subscriptionId, 0, {{readId(item("Test.Int")), 2, {}}}});
    EXPECT_EQ(statuses(monitored.results), Codes{Status::BadUserAccessDenied});
    const auto endpoints = ask<GetEndpointsResponse>(reader, GetEndpointsRequest{});
    ASSERT_EQ(endpoints.endpoints.size(), 1u);
    ASSERT_EQ(endpoints.endpoints[0].userIdentityTokens.size(), 1u);
    EXPECT_EQ(endpoints.endpoints[0].userIdentityTokens[0].policyId, QStringLiteral("names"));
}

// What a hostile client cannot do: fill the tables from one address, or keep channels,
// sessions or half-sent messages open.
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
    ask<CreateSubscriptionResponse>(b1, CreateSubscriptionRequest{{}, 1000, 30, 10, 0, true, 0});
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

TEST(UaSession, TraceLinesFollowTheLevelAndComTrace)
{
    UaCore ua;
    std::int32_t level = 1;
    ua.server.SetTraceLevel(level);
    ua.start();
    ua.client();
    auto count = [&](const char *text) {
        return std::count_if(ua.traces.begin(), ua.traces.end(),
                             [&](const QString &l) { return l.contains(QLatin1String(text)); });
    };
    EXPECT_EQ(std::vector<long>({count("secure channel"), count("activated"), count(" received "), count("Read")}),
              std::vector<long>({1, 1, 0, 0}));
    ua.traces.clear();
    ua.server.ComTrace = true;
    level = 4;
    ua.server.SetTraceLevel(level);
    // A client's text stays on its line: no line of its own in the trace.
    MemoryPeer &p = ua.channel();
    CreateSessionRequest forged;
    forged.sessionName = QStringLiteral("x\r\n(Server Status: Failed)\x1b[2J");
    CreateSessionResponse created;
    ASSERT_TRUE(p.call(forged, created).ok);
    p.authenticationToken = created.authenticationToken;
    ASSERT_EQ(p.activateSession(), Status::Good);
    readFault(p);
    EXPECT_GE(count(" received "), 4);
    EXPECT_GE(count(" sent "), 4);
    EXPECT_EQ(count("UA Read request"), 1);
    EXPECT_GE(count("x\\x0d\\x0a(Server Status: Failed)\\x1b[2J"), 1);
    for (const QString &line : ua.traces)
        EXPECT_TRUE(line.endsWith(QLatin1Char('\n')) &&
                    line.indexOf(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]"))) == line.size() - 1)
            << line.toStdString();
}

// Sessions and discovery: creation and activation through the access control, the toolkit's client events, time-outs,
// limits and budgets, the endpoints a client is shown, and the trace lines.
#include "UaFixture.h"

#include <QRegularExpression>

using namespace Ua;
using namespace Ua::Status;

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
    EXPECT_EQ(std::pair(connects.size(), connects.back()), std::pair(std::size_t(50), 49));
    MemoryPeer &unactivated = ua.channel(), &refused = ua.channel(), &extra = ua.channel();
    ASSERT_TRUE(!unactivated.createSession(1000) && !refused.createSession(1000));
    // The oldest session never activated makes room; a refused connect fails the activation.
    EXPECT_EQ(extra.createSession(), Good);
    accept = false;
    EXPECT_EQ((Codes{unactivated.activateSession(), refused.activateSession(), readFault(refused)}),
              (Codes{BadSessionIdInvalid, BadUserAccessDenied, BadSessionNotActivated}));
    accept = true; // re-activation is not a second client
    EXPECT_EQ(clients[0]->activateSession(), Good);
    EXPECT_EQ(std::pair(connects.size(), ua.server.clientCount()), std::pair(std::size_t(51), 50));

    // Never activated: gone after its shorter time, which makes room, unknown to the toolkit.
    ua.advance(501);
    EXPECT_EQ((Codes{extra.activateSession(), extra.createSession()}), (Codes{BadSessionIdInvalid, Good}));
    EXPECT_TRUE(remaining.empty());
    // Activity keeps a session; silence past its time-out ends it.
    ua.advance(498);
    EXPECT_EQ(readFault(*clients[0]), Good);
    ua.advance(1);
    EXPECT_EQ(ua.core->sessionCount(), 51u); // at its time-out, not yet
    ua.advance(1);
    EXPECT_EQ((Codes{readFault(*clients[1]), readFault(*clients[0])}), (Codes{BadSessionIdInvalid, Good}));
    EXPECT_EQ(std::pair(remaining.size(), remaining.back()), std::pair(std::size_t(49), 1));
    EXPECT_EQ(clients[0]->faultOf(CloseSessionRequest()), Good);
    EXPECT_EQ(std::pair(remaining.back(), readFault(*clients[0])), std::pair(0, BadSessionIdInvalid));
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
    const EndpointDescription &e = endpoints[0]; // anonymous only: no secure policy configured here
    EXPECT_EQ(std::tuple(e.endpointUrl, e.userIdentityTokens.size(), e.server.applicationUri, e.server.applicationType),
              std::tuple(get.endpointUrl, std::size_t(1), QStringLiteral("urn:testhost:QUARLEN.KV7.1"), 0));
    get.endpointUrl.clear(); // the URL of the Hello stands in
    EXPECT_EQ(ask<GetEndpointsResponse>(p, get).endpoints.at(0).endpointUrl,
              QStringLiteral("opc.tcp://localhost:4840"));
    get.profileUris = {QStringLiteral("http://opcfoundation.org/UA-Profile/Transport/https-uabinary")};
    EXPECT_TRUE(ask<GetEndpointsResponse>(p, get).endpoints.empty());

    FindServersRequest find;
    EXPECT_EQ(ask<FindServersResponse>(p, find).servers.at(0).discoveryUrls,
              std::vector<QString>{QStringLiteral("opc.tcp://testhost:4840")});
    find.serverUris = {QStringLiteral("urn:someone:else")};
    EXPECT_TRUE(ask<FindServersResponse>(p, find).servers.empty());

    EXPECT_EQ((Codes{readFault(p), p.createSession(), readFault(p), p.activateSession(), readFault(p)}),
              (Codes{BadSessionIdInvalid, Good, BadSessionNotActivated, Good, Good}));
    // The token used from another channel, and a made-up one.
    MemoryPeer &q = ua.channel();
    q.authenticationToken = p.authenticationToken;
    EXPECT_EQ((Codes{readFault(q), q.faultOf(CloseSessionRequest())}), Codes(2, BadSecureChannelIdInvalid));
    q.authenticationToken = NodeId::ofBytes(1, QByteArray(32, 'z'));
    EXPECT_EQ(readFault(q), BadSessionIdInvalid);

    // Anonymous is the only identity the default access control takes (the security tests try the others).
    const ExtensionObject truncated{NodeId(0, Id::AnonymousIdentityToken_Binary),
                                    ExtensionObject::Encoding::ByteString,
                                    QByteArray::fromHex("0a000000"),
                                    {},
                                    {}};
    const std::pair<ExtensionObject, StatusCode> cases[] = {
        {truncated, BadIdentityTokenInvalid},
        {ExtensionObject(), Good},
        {makeExtension(AnonymousIdentityToken{QStringLiteral("open62541-anonymous-policy")}), Good},
    };
    for (const auto &[token, expected] : cases) {
        ActivateSessionRequest request{{}, {}, {}, {}, token, {}};
        ActivateSessionResponse response;
        const StatusCode fault = p.call(request, response).fault;
        EXPECT_EQ(std::pair(fault, response.serverNonce.size()), std::pair(expected, qsizetype(expected ? 0 : 32)))
            << token.typeId.toString().toStdString();
    }
}

TEST(UaSession, AccessControlDecidesIdentitiesRightsAndTokenPolicies)
{
    UaCore ua;
    ua.addPanelItems();
    ua.config.accessControl = std::make_shared<NamedUsers>();
    ua.start();
    ua.login("", BadIdentityTokenRejected);
    MemoryPeer &reader = ua.login("reader"), &nobody = ua.login("nobody");
    const ReadResponse levels = reader.read({readId(item("Test.Int")), readId(item("Test.Int"), Attr::UserAccessLevel),
                                             readId(item("Test.Int"), Attr::AccessLevel)});
    EXPECT_EQ(std::tuple(statuses(levels.results), levels.results.at(1).value.i, levels.results.at(2).value.i),
              std::tuple(Codes(3, Good), std::int64_t(AccessLevel::CurrentRead), std::int64_t(3)));
    EXPECT_EQ(reader.write(item("Test.Int"), Ua::Variant::integer(BuiltinType::Int16, 1)), BadUserAccessDenied);
    // standard nodes stay readable
    EXPECT_EQ(statuses(nobody.read({readId(item("Test.Int")), readId(NodeId(0, Id::State))}).results),
              (Codes{BadUserAccessDenied, Good}));
    const auto sub = ask<CreateSubscriptionResponse>(nobody, CreateSubscriptionRequest{{}, 100, 100, 10, 0, true, 0});
    const auto monitored = ask<CreateMonitoredItemsResponse>(
        nobody, CreateMonitoredItemsRequest{{}, sub.subscriptionId, 0, {{readId(item("Test.Int")), 2, {}}}});
    EXPECT_EQ(statuses(monitored.results), Codes{BadUserAccessDenied});
    const auto tokens = ask<GetEndpointsResponse>(reader, GetEndpointsRequest{}).endpoints.at(0).userIdentityTokens;
    EXPECT_EQ(std::pair(tokens.size(), tokens.at(0).policyId), std::pair(std::size_t(1), QStringLiteral("names")));
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
    EXPECT_EQ(a3.createSession(), BadTooManySessions); // two from that address already
    EXPECT_FALSE(ua.core->admitConnection(QStringLiteral("10.0.0.1:4")));
    ASSERT_TRUE(ua.core->admitConnection(QStringLiteral("10.0.0.2:1")));
    MemoryPeer &b1 = open("10.0.0.2:1", true);
    // Full: the channel without a session makes room, then nothing does.
    EXPECT_TRUE(ua.core->admitConnection(QStringLiteral("[::1]:1")));
    EXPECT_EQ(UaTestPeer::errorStatus(a3.nextFrame()), BadTcpServerTooBusy);
    MemoryPeer &c1 = open("[::1]:1", true);
    EXPECT_FALSE(ua.core->admitConnection(QStringLiteral("[::1]:2")));

    // The session table gives up a session never activated first, then the longest
    // idle one without subscriptions; a subscription keeps a session.
    ask<CreateSubscriptionResponse>(b1, CreateSubscriptionRequest{{}, 1000, 30, 10, 0, true, 0});
    EXPECT_EQ(readFault(a2), Good);
    MemoryPeer &d1 = open("10.0.0.4:1", false);
    EXPECT_EQ((Codes{d1.createSession(), readFault(a1)}), (Codes{Good, BadSessionIdInvalid}));
    MemoryPeer &e1 = open("10.0.0.5:1", false);
    EXPECT_EQ((Codes{e1.createSession(), d1.activateSession(), readFault(a2), readFault(b1)}),
              (Codes{Good, BadSessionIdInvalid, Good, Good}));

    // A message started and not finished, and a channel left without a session.
    c1.sendBytes(c1.chunk('F', 99, QByteArray(100, 'x')).left(30));
    ua.advance(ua.config.transport.partialMessageTimeoutMs);
    EXPECT_FALSE(c1.closedByServer() || d1.closedByServer());
    ua.advance(1);
    EXPECT_EQ((Codes{UaTestPeer::errorStatus(c1.nextFrame()), UaTestPeer::errorStatus(d1.nextFrame())}),
              Codes(2, BadTimeout));
    EXPECT_FALSE(a2.closedByServer() || b1.closedByServer());
    EXPECT_EQ(readFault(b1), Good);
}

TEST(UaSession, TraceLinesFollowTheLevelAndComTrace)
{
    UaCore ua;
    std::int32_t level = 1;
    ua.server.SetTraceLevel(level);
    ua.start();
    ua.client();
    auto count = [&](const char *text) { return QStringList(ua.traces.begin(), ua.traces.end()).filter(text).size(); };
    EXPECT_EQ(QList({count("secure channel"), count("activated"), count(" received "), count("Read")}),
              QList<qsizetype>({1, 1, 0, 0}));
    ua.traces.clear();
    ua.server.ComTrace = true;
    level = 4;
    ua.server.SetTraceLevel(level);
    // A client's text stays on its line: no line of its own in the trace.
    MemoryPeer &p = ua.channel();
    CreateSessionRequest forged{{}, {}, {}, {}, QStringLiteral("x\r\n(Server Status: Failed)\x1b[2J"), {}, {}, 0, 0};
    CreateSessionResponse created;
    ASSERT_TRUE(p.call(forged, created).ok);
    p.authenticationToken = created.authenticationToken;
    ASSERT_EQ(p.activateSession(), Good);
    readFault(p);
    EXPECT_EQ(QList({count(" received "), count(" sent "), count("UA Read request"),
                     count("x\\x0d\\x0a(Server Status: Failed)\\x1b[2J")}),
              QList<qsizetype>({5, 5, 1, 2}));
    for (const QString &line : ua.traces)
        EXPECT_TRUE(line.endsWith(QLatin1Char('\n')) &&
                    line.indexOf(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]"))) == line.size() - 1)
            << line.toStdString();
}

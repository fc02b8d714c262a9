// Sessions and discovery: creation and activation, the toolkit's client events,
// time-outs, limits, and the endpoint a client is shown.
#include "TestSupport.h"
#include "UaFixture.h"
#include "ua/UaServer.h"

#include <QThread>
#include <gtest/gtest.h>

using namespace Ua;

namespace {

StatusCode readFault(UaTestPeer &p)
{
    ReadRequest read;
    read.nodesToRead.push_back(readId(NodeId(0, Id::State)));
    ReadResponse response;
    const auto reply = p.call(read, response);
    return reply.ok ? reply.fault : Status::BadCommunicationError;
}

} // namespace

TEST(UaSession, FiftyClientsOnTheirOwnConnectionsAtOnce)
{
    OPCServer server;
    server.Tags().Add(QStringLiteral("P.V"), AccessRights::Read, ::Variant(std::int32_t(3)), Quality::Good);
    int connects = 0;
    std::vector<int> clientsBefore;
    server.OnClientConnect = [&](std::int32_t before, bool &accept) {
        ++connects;
        clientsBefore.push_back(before);
        accept = true;
    };
    UaServer ua(server, QStringLiteral("127.0.0.1"), 0);
    ua.start();
    server.setServerState(ServerStates::Running);

    std::vector<std::unique_ptr<SocketPeer>> clients;
    for (int k = 0; k < 50; ++k) {
        clients.push_back(std::make_unique<SocketPeer>(ua.port()));
        ASSERT_TRUE(clients.back()->hello() && clients.back()->openChannel() && clients.back()->session()) << k;
    }
    EXPECT_EQ(connects, 50);
    EXPECT_EQ(clientsBefore.back(), 49);
    EXPECT_EQ(server.clientCount(), 50);
    for (auto &c : clients) {
        ReadRequest read;
        read.nodesToRead.push_back(readId(item("P.V")));
        ReadResponse response;
        ASSERT_TRUE(c->call(read, response).ok);
        EXPECT_EQ(response.results[0].value.i, 3);
    }
    for (auto &c : clients)
        EXPECT_TRUE(c->closeSession());
    EXPECT_EQ(server.clientCount(), 0);
}

TEST(UaSession, SessionsBeyondTheLimitAreRefused)
{
    UaCore ua;
    ua.config.maxSessions = 5;
    ua.start();
    std::vector<MemoryPeer *> peers;
    for (int k = 0; k < 5; ++k)
        peers.push_back(&ua.client());
    MemoryPeer &extra = ua.connect();
    ASSERT_TRUE(extra.hello() && extra.openChannel());
    StatusCode fault = 0;
    EXPECT_FALSE(extra.createSession(60000, &fault));
    EXPECT_EQ(fault, Status::BadTooManySessions);
    // Closing one makes room.
    EXPECT_TRUE(peers[0]->closeSession());
    EXPECT_TRUE(extra.createSession(60000, &fault));
}

TEST(UaSession, IdleSessionTimesOutAndTheToolkitHearsOfIt)
{
    UaCore ua;
    ua.config.minSessionTimeoutMs = 100;
    int disconnects = 0;
    ua.server.OnClientDisconnect = [&](std::int32_t) { ++disconnects; };
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello() && p.openChannel() && p.session(150));
    EXPECT_EQ(ua.server.clientCount(), 1);
    // Activity keeps it alive.
    for (int k = 0; k < 3; ++k) {
        QThread::msleep(60);
        ua.core->tick();
        EXPECT_EQ(readFault(p), Status::Good);
    }
    QThread::msleep(250);
    ua.core->tick();
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(ua.server.clientCount(), 0);
    EXPECT_EQ(readFault(p), Status::BadSessionIdInvalid);
}

TEST(UaSession, SessionsNeverActivatedGoSooner)
{
    UaCore ua;
    ua.config.unactivatedSessionTimeoutMs = 50;
    ua.start();
    MemoryPeer &idle = ua.connect();
    ASSERT_TRUE(idle.hello() && idle.openChannel() && idle.createSession(60000));
    MemoryPeer &active = ua.client();
    QThread::msleep(120);
    ua.core->tick();
    EXPECT_EQ(ua.core->sessionCount(), 1u);
    EXPECT_EQ(readFault(active), Status::Good);
    EXPECT_FALSE(idle.activateSession());
}

TEST(UaSession, RequestsNeedAnActivatedSessionOnTheirOwnChannel)
{
    UaCore ua;
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello() && p.openChannel());
    EXPECT_EQ(readFault(p), Status::BadSessionIdInvalid);
    ASSERT_TRUE(p.createSession());
    EXPECT_EQ(readFault(p), Status::BadSessionNotActivated);
    ASSERT_TRUE(p.activateSession());
    EXPECT_EQ(readFault(p), Status::Good);

    // The token used from another channel.
    MemoryPeer &q = ua.connect();
    ASSERT_TRUE(q.hello() && q.openChannel());
    q.authenticationToken = p.authenticationToken;
    EXPECT_EQ(readFault(q), Status::BadSecureChannelIdInvalid);
    CloseSessionRequest close;
    CloseSessionResponse closed;
    EXPECT_EQ(q.call(close, closed).fault, Status::BadSecureChannelIdInvalid);

    // A made-up token.
    q.authenticationToken = NodeId::ofBytes(1, QByteArray(32, 'z'));
    EXPECT_EQ(readFault(q), Status::BadSessionIdInvalid);
}

TEST(UaSession, IdentityTokensOtherThanAnonymousAreRejected)
{
    UaCore ua;
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello() && p.openChannel() && p.createSession());

    ActivateSessionRequest request;
    request.userIdentityToken.typeId = NodeId(0, Id::UserNameIdentityToken_Binary);
    request.userIdentityToken.encoding = ExtensionObject::Encoding::ByteString;
    request.userIdentityToken.body = QByteArray(20, '\0');
    ActivateSessionResponse response;
    EXPECT_EQ(p.call(request, response).fault, Status::BadIdentityTokenRejected);
    request.userIdentityToken.typeId = NodeId(0, 9999);
    EXPECT_EQ(p.call(request, response).fault, Status::BadIdentityTokenInvalid);
    // A truncated anonymous token is no token.
    request.userIdentityToken.typeId = NodeId(0, Id::AnonymousIdentityToken_Binary);
    request.userIdentityToken.body = QByteArray::fromHex("0a000000");
    EXPECT_EQ(p.call(request, response).fault, Status::BadIdentityTokenInvalid);

    // An empty token and any policy id the client picked are anonymous.
    request.userIdentityToken = ExtensionObject();
    EXPECT_EQ(p.call(request, response).fault, Status::Good);
    AnonymousIdentityToken token;
    token.policyId = QStringLiteral("open62541-anonymous-policy");
    request.userIdentityToken = makeExtension(token);
    const auto reply = p.call(request, response);
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.fault, Status::Good);
    EXPECT_EQ(response.serverNonce.size(), 32);
}

TEST(UaSession, RefusedConnectFailsTheActivationAndCloseReportsTheDisconnect)
{
    UaCore ua;
    bool accept = false;
    std::vector<int> remaining;
    ua.server.OnClientConnect = [&](std::int32_t, bool &ok) { ok = accept; };
    ua.server.OnClientDisconnect = [&](std::int32_t left) { remaining.push_back(left); };
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello() && p.openChannel() && p.createSession());
    StatusCode fault = 0;
    EXPECT_FALSE(p.activateSession(&fault));
    EXPECT_EQ(fault, Status::BadUserAccessDenied);
    EXPECT_EQ(ua.server.clientCount(), 0);
    accept = true;
    EXPECT_TRUE(p.activateSession());
    EXPECT_TRUE(p.activateSession()); // re-activation is not a second client
    EXPECT_EQ(ua.server.clientCount(), 1);
    EXPECT_TRUE(p.closeSession());
    EXPECT_EQ(remaining, std::vector<int>{0});
    EXPECT_EQ(readFault(p), Status::BadSessionIdInvalid);
}

TEST(UaSession, EndpointsAndServersDescribeThisServer)
{
    UaCore ua;
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello() && p.openChannel());

    GetEndpointsRequest get;
    get.endpointUrl = QStringLiteral("opc.tcp://127.0.0.1:4840");
    GetEndpointsResponse endpoints;
    ASSERT_TRUE(p.call(get, endpoints).ok);
    ASSERT_EQ(endpoints.endpoints.size(), 1u);
    const EndpointDescription &e = endpoints.endpoints[0];
    EXPECT_EQ(e.endpointUrl, get.endpointUrl);
    EXPECT_EQ(e.securityMode, 1);
    EXPECT_EQ(e.securityPolicyUri, QStringLiteral("http://opcfoundation.org/UA/SecurityPolicy#None"));
    EXPECT_EQ(e.transportProfileUri,
              QStringLiteral("http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary"));
    ASSERT_EQ(e.userIdentityTokens.size(), 1u);
    EXPECT_EQ(e.userIdentityTokens[0].tokenType, 0);
    EXPECT_EQ(e.server.applicationUri, QStringLiteral("urn:testhost:QUARLEN.KV7.1"));
    EXPECT_EQ(e.server.applicationType, 0);

    get.profileUris = {QStringLiteral("http://opcfoundation.org/UA-Profile/Transport/https-uabinary")};
    ASSERT_TRUE(p.call(get, endpoints).ok);
    EXPECT_TRUE(endpoints.endpoints.empty());

    FindServersRequest find;
    FindServersResponse servers;
    ASSERT_TRUE(p.call(find, servers).ok);
    ASSERT_EQ(servers.servers.size(), 1u);
    EXPECT_EQ(servers.servers[0].discoveryUrls, std::vector<QString>{QStringLiteral("opc.tcp://testhost:4840")});
    find.serverUris = {QStringLiteral("urn:someone:else")};
    ASSERT_TRUE(p.call(find, servers).ok);
    EXPECT_TRUE(servers.servers.empty());
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
    EXPECT_EQ(count("secure channel"), 1);
    EXPECT_EQ(count("activated"), 1);
    EXPECT_EQ(count(" received "), 0);
    EXPECT_EQ(count("Read request"), 0);

    ua.traces.clear();
    ua.server.ComTrace = true;
    level = 4;
    ua.server.SetTraceLevel(level);
    MemoryPeer &p = ua.client();
    readFault(p);
    EXPECT_GE(count(" received "), 4);
    EXPECT_GE(count(" sent "), 4);
    EXPECT_EQ(count("UA Read request"), 1);
    for (const QString &line : ua.traces)
        EXPECT_TRUE(line.endsWith(QLatin1Char('\n')));
}

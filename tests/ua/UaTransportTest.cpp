// Connection protocol and secure channel: negotiation, chunking both ways, limits,
// protocol violations, time-outs and vanished clients.
#include "TestSupport.h"
#include "UaFixture.h"
#include "ua/UaServer.h"

#include <gtest/gtest.h>

using namespace Ua;

namespace {

ReadRequest readOf(const std::vector<NodeId> &ids)
{
    ReadRequest r;
    for (const auto &id : ids)
        r.nodesToRead.push_back(readId(id));
    return r;
}

} // namespace

TEST(UaTransport, HelloNegotiatesTheSmallerBuffers)
{
    UaCore ua;
    ua.config.transport.receiveBufferSize = 65536;
    ua.config.transport.sendBufferSize = 32768;
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello(/*receive*/ 16384, /*send*/ 20000, 1 << 20, 10));
    EXPECT_EQ(p.receiveBufferSize, 20000u); // server receives what the client sends
    EXPECT_EQ(p.sendBufferSize, 16384u);    // server sends what the client can receive
    EXPECT_EQ(p.serverMaxMessage, ua.config.transport.maxMessageSize);
    EXPECT_EQ(p.serverMaxChunks, ua.config.transport.maxChunkCount);

    MemoryPeer &tiny = ua.connect();
    tiny.sendBytes(UaTestPeer::helloFrame(1024, 1024));
    EXPECT_TRUE(UaTestPeer::errorStatus(tiny.nextFrame()) != 0);
    EXPECT_TRUE(tiny.closedByServer());
}

TEST(UaTransport, ProtocolViolationsAnswerWithAnErrorAndClose)
{
    UaCore ua;
    ua.start();
    struct Case {
        const char *what;
        std::function<void(MemoryPeer &)> act;
        StatusCode expected;
    } cases[] = {
        {"message before Hello", [](MemoryPeer &p) { p.sendBytes(p.symmetricChunk('F', 1, "x")); },
         Status::BadTcpMessageTypeInvalid},
        {"unknown message type",
         [](MemoryPeer &p) {
             QByteArray f = UaTestPeer::helloFrame();
             f.replace(0, 3, "XYZ");
             p.sendBytes(f);
         },
         Status::BadTcpMessageTypeInvalid},
        {"second Hello",
         [](MemoryPeer &p) {
             p.hello();
             p.sendBytes(UaTestPeer::helloFrame());
         },
         Status::BadTcpMessageTypeInvalid},
        {"message before OpenSecureChannel",
         [](MemoryPeer &p) {
             p.hello();
             p.sendBytes(p.symmetricChunk('F', 1, "x"));
         },
         Status::BadTcpSecureChannelUnknown},
        {"wrong channel id",
         [](MemoryPeer &p) {
             p.hello();
             p.openChannel();
             p.channelId += 1;
             p.sendBytes(p.symmetricChunk('F', 9, "x"));
         },
         Status::BadTcpSecureChannelUnknown},
        {"unknown token",
         [](MemoryPeer &p) {
             p.hello();
             p.openChannel();
             p.tokenId += 5;
             p.sendBytes(p.symmetricChunk('F', 9, "x"));
         },
         Status::BadSecureChannelTokenUnknown},
        {"sequence number skipped",
         [](MemoryPeer &p) {
             p.hello();
             p.openChannel();
             p.sequence += 2;
             p.sendBytes(p.symmetricChunk('F', 9, "x"));
         },
         Status::BadSecurityChecksFailed},
        {"chunk larger than the negotiated buffer",
         [](MemoryPeer &p) {
             p.hello(65536, 8192);
             p.openChannel();
             p.sendBytes(p.symmetricChunk('F', 9, QByteArray(9000, 'x')));
         },
         Status::BadTcpMessageTooLarge},
        {"unsupported security policy",
         [](MemoryPeer &p) {
             p.hello();
             QByteArray f = p.openFrame(0, 60000, 0);
             f.replace("SecurityPolicy#None", "SecurityPolicy#Nonf");
             p.sendBytes(f);
         },
         Status::BadSecurityPolicyRejected},
        {"renewal of a channel never opened",
         [](MemoryPeer &p) {
             p.hello();
             p.sendBytes(p.openFrame(1, 60000, 77));
         },
         Status::BadTcpSecureChannelUnknown},
        {"frame size below a header", [](MemoryPeer &p) { p.sendBytes(QByteArray::fromHex("48454c4606000000")); },
         Status::BadTcpMessageTypeInvalid},
        {"garbage Hello body", [](MemoryPeer &p) { p.sendBytes(QByteArray::fromHex("48454c460e000000010203040506")); },
         Status::BadDecodingError},
    };
    for (const auto &c : cases) {
        MemoryPeer &p = ua.connect();
        c.act(p);
        QByteArray f;
        for (int k = 0; k < 4 && !(f = p.nextFrame()).startsWith("ERR"); ++k) {
        }
        EXPECT_EQ(UaTestPeer::errorStatus(f), c.expected) << c.what;
        EXPECT_TRUE(p.closedByServer()) << c.what;
    }
    // None of that disturbed a well-behaved client.
    MemoryPeer &good = ua.client();
    ReadRequest read = readOf({item("C01.Panel")});
    ReadResponse response;
    EXPECT_TRUE(good.call(read, response).ok);
}

TEST(UaTransport, RequestsArriveInChunksAndLargeResponsesLeaveInChunks)
{
    UaCore ua;
    ua.addPanelItems(600);
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello(8192, 8192));
    ASSERT_TRUE(p.openChannel());
    ASSERT_TRUE(p.session());

    std::vector<NodeId> ids;
    for (int k = 0; k < 600; ++k)
        ids.push_back(NodeId(1, QStringLiteral("Big.I%1").arg(k, 4, 10, QLatin1Char('0'))));
    ReadRequest read = readOf(ids);
    ReadResponse response;
    // About 14 kB of request in 1000-byte chunks.
    const auto reply = p.call(read, response, 1000);
    ASSERT_TRUE(reply.ok);
    ASSERT_EQ(response.results.size(), 600u);
    for (int k = 0; k < 600; ++k)
        EXPECT_EQ(response.results[std::size_t(k)].value.i, k);

    // The response was cut at the client's 8192-byte buffer: check on a fresh one.
    QByteArray body;
    Encoder e(body);
    read.requestHeader.authenticationToken = p.authenticationToken;
    encodeMessage(e, read);
    const std::uint32_t id = p.sendMessage(body, 4000);
    int chunks = 0;
    for (QByteArray f; !(f = p.nextFrame()).isEmpty();) {
        ++chunks;
        EXPECT_LE(f.size(), 8192);
        EXPECT_EQ(f[3], p.output().isEmpty() ? 'F' : 'C');
        Decoder d(f.constData() + 20, 4);
        EXPECT_EQ(d.u32(), id);
    }
    EXPECT_GE(chunks, 2);
}

TEST(UaTransport, AbortChunkDiscardsThePartialRequest)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    p.sendBytes(p.symmetricChunk('C', 500, QByteArray(100, 'x')));
    p.sendBytes(p.symmetricChunk('A', 500, QByteArray::fromHex("00000880ffffffff")));
    EXPECT_TRUE(p.nextFrame().isEmpty());
    ReadRequest read = readOf({item("C01.Panel")});
    ReadResponse response;
    ASSERT_TRUE(p.call(read, response).ok);
    EXPECT_EQ(response.results[0].value.i, 7);
}

TEST(UaTransport, RequestsBeyondMessageSizeOrChunkCountCloseTheChannel)
{
    for (int variant = 0; variant < 2; ++variant) {
        UaCore ua;
        ua.config.transport.maxMessageSize = 20000;
        ua.config.transport.maxChunkCount = 4;
        ua.start();
        MemoryPeer &p = ua.connect();
        ASSERT_TRUE(p.hello());
        ASSERT_TRUE(p.openChannel());
        // Either too many bytes in few chunks or few bytes in too many chunks.
        const int chunkSize = variant == 0 ? 8000 : 10;
        for (int k = 0; k < 5 && !p.closedByServer(); ++k)
            p.sendBytes(p.symmetricChunk('C', 1, QByteArray(chunkSize, 'x')));
        QByteArray f = p.nextFrame();
        EXPECT_EQ(UaTestPeer::errorStatus(f), Status::BadTcpMessageTooLarge) << variant;
        EXPECT_TRUE(p.closedByServer());
    }
}

TEST(UaTransport, ResponseBeyondTheClientsMaxMessageSizeIsAFault)
{
    UaCore ua;
    ua.addPanelItems(2000);
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello(65536, 65536, /*max message*/ 16384));
    ASSERT_TRUE(p.openChannel());
    ASSERT_TRUE(p.session());
    std::vector<NodeId> ids;
    for (int k = 0; k < 2000; ++k)
        ids.push_back(NodeId(1, QStringLiteral("Big.I%1").arg(k, 4, 10, QLatin1Char('0'))));
    ReadRequest read = readOf(ids);
    ReadResponse response;
    const auto reply = p.call(read, response);
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.fault, Status::BadResponseTooLarge);
    // The channel goes on.
    ReadRequest small = readOf({item("C01.Panel")});
    EXPECT_TRUE(p.call(small, response).ok);
}

TEST(UaTransport, MalformedOrUnknownRequestsAreServiceFaultsOnAnOpenChannel)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();

    // Truncated Read request: the header decodes, the rest does not.
    ReadRequest read = readOf({item("C01.Panel")});
    read.requestHeader.authenticationToken = p.authenticationToken;
    read.requestHeader.requestHandle = 4242;
    QByteArray body;
    Encoder e(body);
    encodeMessage(e, read);
    body.chop(5);
    QByteArray answer = p.receiveMessage(p.sendMessage(body));
    Decoder d(answer);
    ASSERT_TRUE(decodeNodeId(d).isNumeric(Id::ServiceFault_Binary));
    ServiceFault fault;
    decodeInto(d, fault);
    EXPECT_EQ(fault.responseHeader.serviceResult, Status::BadDecodingError);
    EXPECT_EQ(fault.responseHeader.requestHandle, 4242u);

    // An unknown request type, and a service that is not served (SetTriggering).
    body.clear();
    Encoder e2(body);
    encodeNodeId(e2, NodeId(0, 12345));
    encodeStructure(e2, RequestHeader::desc(), &read.requestHeader);
    answer = p.receiveMessage(p.sendMessage(body));
    Decoder d2(answer);
    ASSERT_TRUE(decodeNodeId(d2).isNumeric(Id::ServiceFault_Binary));
    decodeInto(d2, fault);
    EXPECT_EQ(fault.responseHeader.serviceResult, Status::BadServiceUnsupported);

    body.clear();
    Encoder e3(body);
    encodeNodeId(e3, NodeId(0, Id::SetTriggeringRequest_Binary));
    encodeStructure(e3, RequestHeader::desc(), &read.requestHeader);
    e3.raw(QByteArray(30, '\0').constData(), 30);
    answer = p.receiveMessage(p.sendMessage(body));
    Decoder d3(answer);
    ASSERT_TRUE(decodeNodeId(d3).isNumeric(Id::ServiceFault_Binary));
    decodeInto(d3, fault);
    EXPECT_EQ(fault.responseHeader.serviceResult, Status::BadServiceUnsupported);

    // Garbage where the type NodeId should be.
    answer = p.receiveMessage(p.sendMessage(QByteArray::fromHex("ff")));
    Decoder d4(answer);
    ASSERT_TRUE(decodeNodeId(d4).isNumeric(Id::ServiceFault_Binary));

    ReadResponse response;
    EXPECT_TRUE(p.call(read, response).ok);
}

TEST(UaTransport, ChannelRenewalIssuesANewTokenAndKeepsTheOldOneUntilUsed)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    const std::uint32_t oldToken = p.tokenId;
    ASSERT_TRUE(p.renewChannel());
    const std::uint32_t newToken = p.tokenId;
    EXPECT_NE(newToken, oldToken);

    ReadRequest read = readOf({item("C01.Panel")});
    ReadResponse response;
    p.tokenId = oldToken; // still accepted until the new one is used
    EXPECT_TRUE(p.call(read, response).ok);
    p.tokenId = newToken;
    EXPECT_TRUE(p.call(read, response).ok);
    p.tokenId = oldToken; // now retired
    EXPECT_FALSE(p.call(read, response).ok);
    EXPECT_TRUE(p.closedByServer());
}

TEST(UaTransport, CloseSecureChannelEndsTheConnectionButNotTheSession)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    CloseSecureChannelRequest close;
    QByteArray body;
    Encoder e(body);
    encodeMessage(e, close);
    p.sendMessage(body, 0, "CLO");
    EXPECT_TRUE(p.closedByServer());
    EXPECT_EQ(ua.core->sessionCount(), 1u);

    // The session can be taken over on a new channel.
    MemoryPeer &q = ua.connect();
    ASSERT_TRUE(q.hello() && q.openChannel());
    q.authenticationToken = p.authenticationToken;
    EXPECT_TRUE(q.activateSession());
    ReadRequest read = readOf({item("C01.Panel")});
    ReadResponse response;
    EXPECT_TRUE(q.call(read, response).ok);
}

// --- Over real loopback sockets ---------------------------------------------------------

TEST(UaTransport, SilentClientIsClosedAfterTheHelloTimeout)
{
    OPCServer server;
    UaServer ua(server, QStringLiteral("127.0.0.1"), 0);
    ua.config().transport.helloTimeoutMs = 200;
    ua.setTickInterval(50);
    ua.start();
    SocketPeer silent(ua.port());
    ASSERT_TRUE(silent.connected());
    const QByteArray f = silent.nextFrame(5000);
    EXPECT_EQ(UaTestPeer::errorStatus(f), Status::BadTimeout);
    EXPECT_TRUE(silent.closedByServer(5000));
    EXPECT_TRUE(waitFor([&] { return ua.connectionCount() == 0; }, 5000));
}

TEST(UaTransport, ClientVanishingMidMessageLeavesOthersServed)
{
    OPCServer server;
    server.Tags().Add(QStringLiteral("A.B"), AccessRights::Read, ::Variant(std::int32_t(11)), Quality::Good);
    UaServer ua(server, QStringLiteral("127.0.0.1"), 0);
    ua.start();
    server.setServerState(ServerStates::Running);

    SocketPeer other(ua.port());
    ASSERT_TRUE(other.hello() && other.openChannel() && other.session());
    {
        SocketPeer vanishing(ua.port());
        ASSERT_TRUE(vanishing.hello() && vanishing.openChannel() && vanishing.session());
        const QByteArray chunk = vanishing.symmetricChunk('F', 3, QByteArray(2000, 'x'));
        vanishing.sendBytes(chunk.left(700)); // half a frame, then gone
        vanishing.socket().abort();
    }
    EXPECT_TRUE(waitFor([&] { return ua.connectionCount() == 1; }, 5000));
    ReadRequest read = readOf({item("A.B")});
    ReadResponse response;
    ASSERT_TRUE(other.call(read, response).ok);
    EXPECT_EQ(response.results[0].value.i, 11);
}

TEST(UaTransport, PortInUseRaisesAClearError)
{
    OPCServer server;
    UaServer first(server, QStringLiteral("127.0.0.1"), 0);
    first.start();
    UaServer second(server, QStringLiteral("127.0.0.1"), first.port());
    try {
        second.start();
        FAIL() << "second server bound a port in use";
    } catch (const RuntimeError &e) {
        EXPECT_TRUE(e.description().contains(QString::number(first.port()))) << e.what();
    }
    EXPECT_TRUE(first.endpointUrl().endsWith(QStringLiteral(":%1").arg(first.port())));
}

TEST(UaTransport, ConnectionsBeyondTheLimitAreToldTheServerIsBusy)
{
    OPCServer server;
    UaServer ua(server, QStringLiteral("127.0.0.1"), 0);
    ua.config().maxConnections = 2;
    ua.start();
    SocketPeer a(ua.port()), b(ua.port());
    ASSERT_TRUE(a.hello() && b.hello());
    SocketPeer c(ua.port());
    EXPECT_EQ(UaTestPeer::errorStatus(c.nextFrame(5000)), Status::BadTcpServerTooBusy);
    EXPECT_TRUE(c.closedByServer(5000));
    EXPECT_TRUE(a.openChannel()); // the others go on
}

TEST(UaTransport, TheToolkitDrivesTheFrontEnd)
{
    TempAppFolder folder;
    OPCServer server;
    server.ProgID = QStringLiteral("QUARLEN.KV7.1");
    server.Tags().Add(QStringLiteral("A.B"), AccessRights::Read, ::Variant(std::int32_t(1)), Quality::Good);
    UaServer ua(server, QStringLiteral("127.0.0.1"), 0);
    server.setFrontEnd(&ua);
    server.StartServer();
    ASSERT_TRUE(ua.isListening());
    EXPECT_EQ(ua.endpointUrl(), QStringLiteral("opc.tcp://127.0.0.1:%1").arg(ua.port()));
    server.RegisterServer();
    EXPECT_TRUE(
        folder.read(QStringLiteral(".config/opc/servers/QUARLEN.KV7.1.ini")).contains(ua.endpointUrl().toUtf8()));

    SocketPeer client(ua.port());
    ASSERT_TRUE(client.hello() && client.openChannel() && client.session());
    server.RequestDisconnect(QStringLiteral("Shutting down"));
    ReadRequest read;
    read.nodesToRead = {readId(NodeId(0, Id::ShutdownReason)), readId(NodeId(0, Id::SecondsTillShutdown))};
    ReadResponse response;
    ASSERT_TRUE(client.call(read, response).ok);
    EXPECT_EQ(response.results[0].value.x->localizedText.text, QStringLiteral("Shutting down"));
    EXPECT_GT(response.results[1].value.i, 0);

    server.StopServer();
    EXPECT_EQ(UaTestPeer::errorStatus(client.nextFrame(5000)), Status::BadServerHalted);
    EXPECT_TRUE(client.closedByServer(5000));
    EXPECT_EQ(server.clientCount(), 0);
    EXPECT_FALSE(ua.isListening());
    // And it serves again after a restart.
    server.StartServer();
    SocketPeer again(ua.port());
    ASSERT_TRUE(again.hello() && again.openChannel() && again.session());
    ASSERT_TRUE(again.call(read, response).ok);
    EXPECT_TRUE(response.results[0].value.x->localizedText.text.isEmpty());
    EXPECT_EQ(response.results[1].value.i, 0);
}

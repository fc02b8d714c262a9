// Connection protocol and secure channel: negotiation, chunking both ways, limits,
// protocol violations, tokens and sequence numbers, time-outs, and the TCP transport.
#include "TestSupport.h"
#include "UaFixture.h"
#include "ua/UaServer.h"

#include <QTcpSocket>

using namespace Ua;
using namespace Ua::Status;

namespace {

bool open(UaTestPeer &p) { return p.hello() && p.openChannel(); }

// The test client over a loopback socket; the event loop runs while it waits, so the server in this thread is served.
class SocketPeer : public UaTestPeer {
public:
    explicit SocketPeer(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        waitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 3000);
    }
    void sendBytes(const QByteArray &bytes) override
    {
        socket.write(bytes);
        socket.flush();
    }
    QByteArray nextFrame() override
    {
        waitFor([this] { return take() || socket.state() != QAbstractSocket::ConnectedState; }, 3000);
        take();
        const QByteArray frame = input_.left(completeFrame(input_));
        input_.remove(0, frame.size());
        return frame;
    }
    bool closedByServer() override
    {
        return waitFor([this] { return !take() && socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
    QTcpSocket socket;

private:
    bool take() // what came in; whether a whole frame waits
    {
        input_ += socket.readAll();
        return completeFrame(input_) > 0;
    }
    QByteArray input_;
};

} // namespace

TEST(UaTransport, ProtocolViolationsCloseTheConnectionMalformedRequestsAreServiceFaults)
{
    UaCore ua;
    ua.addPanelItems();
    ua.config.transport.maxMessageSize = 20000;
    ua.config.transport.maxChunkCount = 4;
    ua.config.transport.sendBufferSize = 32768;
    ua.start();
    MemoryPeer &good = ua.connect();
    ASSERT_TRUE(good.hello(/*receive*/ 16384, /*send*/ 20000, 1 << 20));
    // The server receives what the client sends and sends what the client can receive.
    EXPECT_EQ(std::vector<std::uint32_t>(
                  {good.receiveBufferSize, good.sendBufferSize, good.serverMaxMessage, good.serverMaxChunks}),
              std::vector<std::uint32_t>({20000, 16384, 20000, 4}));

    const struct {
        const char *what;
        std::function<void(MemoryPeer &)> act;
        StatusCode expected;
    } cases[] = {
        {"buffers below 8192", [](auto &p) { p.sendBytes(UaTestPeer::helloFrame(1024, 1024)); }, BadTcpInternalError},
        {"message before Hello", [](auto &p) { p.sendBytes(p.chunk('F', 1, "x")); }, BadTcpMessageTypeInvalid},
        {"unknown message type", [](auto &p) { p.sendBytes(UaTestPeer::helloFrame().replace(0, 3, "XYZ")); },
         BadTcpMessageTypeInvalid},
        {"second Hello", [](auto &p) { p.hello(), p.sendBytes(UaTestPeer::helloFrame()); }, BadTcpMessageTypeInvalid},
        {"message before OpenSecureChannel", [](auto &p) { p.hello(), p.sendBytes(p.chunk('F', 1, "x")); },
         BadTcpSecureChannelUnknown},
        {"second OpenSecureChannel", [](auto &p) { open(p), p.sendBytes(p.openFrame(0, 0)); },
         BadTcpSecureChannelUnknown},
        {"wrong channel id", [](auto &p) { open(p), ++p.channelId, p.sendBytes(p.chunk('F', 9, "x")); },
         BadTcpSecureChannelUnknown},
        {"unknown token", [](auto &p) { open(p), p.tokenId += 5, p.sendBytes(p.chunk('F', 9, "x")); },
         BadSecureChannelTokenUnknown},
        {"sequence number skipped", [](auto &p) { open(p), p.sequence += 2, p.sendBytes(p.chunk('F', 9, "x")); },
         BadSecurityChecksFailed},
        {"chunks of two requests interleaved",
         [](auto &p) { open(p), p.sendBytes(p.chunk('C', 1, "x") + p.chunk('F', 2, "y")); }, BadSecurityChecksFailed},
        {"unknown chunk type", [](auto &p) { open(p), p.sendBytes(p.chunk('X', 1, "x")); }, BadTcpMessageTypeInvalid},
        {"chunk larger than the negotiated buffer",
         [](auto &p) { p.hello(65536, 8192) && p.openChannel(), p.sendBytes(p.chunk('F', 9, QByteArray(9000, 'x'))); },
         BadTcpMessageTooLarge},
        {"request beyond the message size", [](auto &p) { open(p), p.sendMessage(QByteArray(24000, 'x'), 8000); },
         BadTcpMessageTooLarge},
        {"request beyond the chunk count", [](auto &p) { open(p), p.sendMessage(QByteArray(50, 'x'), 10); },
         BadTcpMessageTooLarge},
        {"unsupported security policy",
         [](auto &p) { p.hello(), p.sendBytes(p.openFrame(0, 0).replace("Policy#None", "Policy#Nonf")); },
         BadSecurityPolicyRejected},
        {"security mode not offered",
         [](auto &p) {
             QByteArray f = p.openFrame(0, 0);
             f[f.size() - 12] = 3; // SignAndEncrypt, before the empty nonce and the lifetime
             p.hello(), p.sendBytes(f);
         },
         BadSecurityModeRejected},
        {"renewal of a channel never opened", [](auto &p) { p.hello(), p.sendBytes(p.openFrame(1, 77)); },
         BadTcpSecureChannelUnknown},
        {"frame size below a header", [](auto &p) { p.sendBytes(QByteArray::fromHex("48454c4606000000")); },
         BadTcpMessageTypeInvalid},
        {"garbage Hello body", [](auto &p) { p.sendBytes(QByteArray::fromHex("48454c460e000000010203040506")); },
         BadDecodingError},
    };
    for (const auto &c : cases) {
        MemoryPeer &p = ua.connect();
        c.act(p);
        QByteArray f; // the first Error frame among the next few
        for (int k = 0; k < 4 && !(f = p.nextFrame()).startsWith("ERR"); ++k) {
        }
        EXPECT_EQ(std::pair(UaTestPeer::errorStatus(f), p.closedByServer()), std::pair(c.expected, true)) << c.what;
    }

    // On an open channel, malformed and unknown requests are service faults.
    MemoryPeer &p = ua.client();
    RequestHeader header{p.authenticationToken, 0, 4242, 0, {}, 0, {}};
    auto faultOf = [&](std::uint32_t type, const QByteArray &rest) {
        QByteArray body;
        Encoder e(body);
        encodeNodeId(e, NodeId(0, type));
        encodeStructure(e, RequestHeader::desc(), &header);
        const QByteArray answer = p.receiveMessage(p.sendMessage(body + rest));
        ServiceFault fault; // its request's handle and status
        Decoder d(answer);
        if (decodeNodeId(d).isNumeric(Id::ServiceFault_Binary))
            decodeInto(d, fault);
        return std::pair(fault.responseHeader.requestHandle, fault.responseHeader.serviceResult);
    };
    EXPECT_EQ(faultOf(Id::ReadRequest_Binary, QByteArray::fromHex("000000000000")), std::pair(4242u, BadDecodingError));
    for (std::uint32_t type : {12345u, 664u /* HistoryRead */, 488u /* AddNodes */})
        EXPECT_EQ(faultOf(type, QByteArray(30, '\0')), std::pair(4242u, BadServiceUnsupported)) << type;
    // Garbage where the type NodeId should be still gets a ServiceFault.
    EXPECT_TRUE(p.receiveMessage(p.sendMessage(QByteArray::fromHex("ff"))).startsWith(QByteArray::fromHex("01008d01")));
    // None of that disturbed a well-behaved client, nor ended its channel.
    EXPECT_EQ(p.read(item("C01.Panel")).value.i, 7);
}

TEST(UaTransport, ChunksAndSequenceNumbersInOrderTokensRenewAndExpireChannelsTimeOut)
{
    UaCore ua;
    ua.addPanelItems(2000);
    ua.config.transport.minTokenLifetimeMs = 1000;
    ua.config.transport.helloTimeoutMs = 1000;
    ua.start();
    MemoryPeer &p = ua.connect();
    ASSERT_TRUE(p.hello(8192, 8192, /*max message*/ 20000) && p.openChannel() && p.session());

    // About 14 kB of request in 1000-byte chunks; the answer cut at the client's 8192 bytes, numbered in order.
    ReadRequest read;
    for (int k = 0; k < 600; ++k)
        read.nodesToRead.push_back(readId(NodeId(1, UaCore::bigItem(k))));
    const std::uint32_t id = p.send(read, 1000);
    using Frame = std::tuple<bool, char, std::uint32_t, std::uint32_t>; // fits, chunk type, sequence, request id
    std::vector<Frame> frames, expected;
    QByteArray body;
    for (QByteArray f; !(f = p.nextFrame()).isEmpty(); body += f.mid(24))
        frames.emplace_back(f.size() <= 8192, f[3], Decoder(f.constData() + 16, 4).u32(),
                            Decoder(f.constData() + 20, 4).u32());
    for (std::size_t k = 0; k < frames.size(); ++k)
        expected.emplace_back(true, k + 1 < frames.size() ? 'C' : 'F', std::get<2>(frames[0]) + k, id);
    EXPECT_EQ(frames, expected);
    ReadResponse response;
    Decoder d(body);
    ASSERT_TRUE(frames.size() >= 2 && decodeNodeId(d).isNumeric(Id::ReadResponse_Binary));
    decodeInto(d, response);
    ASSERT_EQ(response.results.size(), 600u);
    for (int k = 0; k < 600; ++k)
        EXPECT_EQ(response.results[k].value.i, k);

    // An aborted request is forgotten; one too large for the client is a fault; the channel goes on.
    const QByteArray started = p.chunk('C', 500, QByteArray(100, 'x')); // numbered before the abort
    p.sendBytes(started + p.chunk('A', 500, QByteArray::fromHex("00000880ffffffff")));
    EXPECT_TRUE(p.nextFrame().isEmpty());
    for (int k = 600; k < 2000; ++k)
        read.nodesToRead.push_back(readId(NodeId(1, UaCore::bigItem(k))));
    EXPECT_EQ(p.faultOf(read), BadResponseTooLarge);
    EXPECT_EQ(p.read(NodeId(1, UaCore::bigItem(3))).value.i, 3);

    // Client sequence numbers wrap around near their end, to a number below 1024.
    MemoryPeer &w = ua.connect();
    w.sequence = 4294967294u;
    ASSERT_TRUE(w.hello() && w.openChannel() && !w.createSession());
    w.sequence = 1023;
    EXPECT_EQ(w.activateSession(), Good);
    EXPECT_EQ(w.read(NodeId(1, UaCore::bigItem(4))).value.i, 4);

    // Renewal: answers stay under the old token until the client has used the new one;
    // then it is retired. The session outlives the channel.
    MemoryPeer &t = ua.client();
    const std::uint32_t oldToken = t.tokenId;
    ASSERT_TRUE(t.openChannel(/*renew*/ 1));
    const std::uint32_t newToken = t.tokenId;
    auto answerToken = [&t](std::uint32_t token) {
        t.tokenId = token;
        ReadRequest read{{}, 0, 0, {readId(item("C01.Panel"))}};
        t.send(read);
        const QByteArray f = t.nextFrame();
        return f.startsWith("MSG") ? Decoder(f.constData() + 12, 4).u32() : UaTestPeer::errorStatus(f);
    };
    EXPECT_EQ(std::vector<std::uint32_t>({answerToken(oldToken), answerToken(newToken), answerToken(oldToken)}),
              std::vector<std::uint32_t>({oldToken, newToken, BadSecureChannelTokenUnknown}));
    EXPECT_TRUE(t.closedByServer());
    // CloseSecureChannel ends the connection, not the session.
    MemoryPeer &q = ua.client();
    q.sendMessage(QByteArray::fromHex("0100c401"), 0, "CLO");
    EXPECT_TRUE(q.closedByServer());
    EXPECT_EQ(ua.core->sessionCount(), 4u); // p's, w's, t's and q's

    // A token lives its lifetime and a quarter more unless renewed; Hello and
    // OpenSecureChannel must come within their time.
    MemoryPeer &silent = ua.connect(), &helloOnly = ua.connect(), &opened = ua.connect();
    helloOnly.hello();
    opened.hello();
    QByteArray openFrame = opened.openFrame(0, 0);
    Encoder(openFrame).patchU32(openFrame.size() - 4, 2000); // requested lifetime
    opened.sendBytes(openFrame);
    ASSERT_TRUE(opened.nextFrame().startsWith("OPN"));
    ua.advance(1000);
    EXPECT_FALSE(silent.closedByServer() || helloOnly.closedByServer());
    ua.advance(1);
    EXPECT_EQ((Codes{UaTestPeer::errorStatus(silent.nextFrame()), UaTestPeer::errorStatus(helloOnly.nextFrame())}),
              Codes(2, BadTimeout));
    ua.advance(1499);
    EXPECT_FALSE(opened.closedByServer());
    ua.advance(1);
    EXPECT_EQ(UaTestPeer::errorStatus(opened.nextFrame()), BadSecureChannelClosed);
}

TEST(UaTransport, TheToolkitDrivesTheTcpServer)
{
    TempAppFolder folder;
    OPCServer server;
    server.ProgID = QStringLiteral("QUARLEN.KV7.1");
    server.Tags().Add(QStringLiteral("A.B"), AccessRights::Read, ::Variant(std::int32_t(11)), Quality::Good);
    UaServer ua(server, QStringLiteral("127.0.0.1"), 0);
    ua.config().maxConnections = 3;
    server.setFrontEnd(&ua);
    server.StartServer();
    server.setServerState(ServerStates::Running);
    ASSERT_TRUE(ua.isListening());
    EXPECT_EQ(ua.endpointUrl(), QStringLiteral("opc.tcp://127.0.0.1:%1").arg(ua.port()));

    SocketPeer client(ua.port());
    ASSERT_TRUE(client.hello() && client.openChannel() && client.session());
    // A client gone mid-message leaves the others served.
    SocketPeer vanishing(ua.port());
    ASSERT_TRUE(vanishing.hello() && vanishing.openChannel());
    vanishing.sendBytes(vanishing.chunk('F', 3, QByteArray(2000, 'x')).left(700));
    vanishing.socket.abort();
    EXPECT_TRUE(waitFor([&] { return ua.connectionCount() == 1; }));
    SocketPeer b(ua.port()), c(ua.port());
    ASSERT_TRUE(b.hello() && b.openChannel() && b.session() && c.hello() && c.openChannel() && c.session());
    SocketPeer busy(ua.port()); // every channel serves a session: none is given up
    EXPECT_EQ(UaTestPeer::errorStatus(busy.nextFrame()), BadTcpServerTooBusy);
    EXPECT_TRUE(busy.closedByServer());

    server.RequestDisconnect(QStringLiteral("Shutting down"));
    const ReadResponse r = client.read(
        {readId(NodeId(0, Id::ShutdownReason)), readId(NodeId(0, Id::SecondsTillShutdown)), readId(item("A.B"))});
    EXPECT_EQ(
        std::tuple(r.results.at(0).value.x->localizedText.text, r.results.at(1).value.i > 0, r.results.at(2).value.i),
        std::tuple(QStringLiteral("Shutting down"), true, 11));

    // Going down: the state says so and item values are out of service until the
    // channels close, without an Error message, so that clients come back by themselves.
    ua.announceShutdown(2);
    const ReadResponse down =
        client.read({readId(NodeId(0, Id::State)), readId(NodeId(0, Id::SecondsTillShutdown)), readId(item("A.B"))});
    EXPECT_EQ(std::tuple(down.results.at(0).value.i, down.results.at(1).value.i, down.results.at(2).status),
              std::tuple(4, 2, BadOutOfService));
    server.StopServer();
    EXPECT_TRUE(client.closedByServer() && client.nextFrame().isEmpty());
    EXPECT_TRUE(server.clientCount() == 0 && !ua.isListening());
    // And it serves again after a restart, without the notice.
    server.StartServer();
    SocketPeer again(ua.port());
    ASSERT_TRUE(again.hello() && again.openChannel() && again.session());
    EXPECT_EQ(again.read(NodeId(0, Id::SecondsTillShutdown)).value.i, 0);
}

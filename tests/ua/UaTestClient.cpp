#include "UaTestClient.h"
#include "TestSupport.h"

using namespace Ua;

QByteArray UaTestPeer::helloFrame(std::uint32_t receiveBuffer, std::uint32_t sendBuffer, std::uint32_t maxMessage,
                                  std::uint32_t maxChunks, const QString &url)
{
    QByteArray f;
    Encoder e(f);
    e.raw("HELF", 4);
    e.u32(0);
    e.u32(0);
    e.u32(receiveBuffer);
    e.u32(sendBuffer);
    e.u32(maxMessage);
    e.u32(maxChunks);
    e.string(url);
    e.patchU32(4, std::uint32_t(f.size()));
    return f;
}

StatusCode UaTestPeer::errorStatus(const QByteArray &frame)
{
    if (frame.size() < 12 || !frame.startsWith("ERR"))
        return 0;
    Decoder d(frame.constData() + 8, 4);
    return d.u32();
}

bool UaTestPeer::hello(std::uint32_t receiveBuffer, std::uint32_t sendBuffer, std::uint32_t maxMessage,
                       std::uint32_t maxChunks)
{
    sendBytes(helloFrame(receiveBuffer, sendBuffer, maxMessage, maxChunks));
    const QByteArray ack = nextFrame();
    if (!ack.startsWith("ACKF") || ack.size() != 28)
        return false;
    Decoder d(ack.constData() + 8, 20);
    d.u32();
    receiveBufferSize = d.u32(); // the server's receive buffer: what we may send
    sendBufferSize = d.u32();
    serverMaxMessage = d.u32();
    serverMaxChunks = d.u32();
    return true;
}

QByteArray UaTestPeer::openFrame(std::int32_t requestType, std::uint32_t lifetime, std::uint32_t channel)
{
    OpenSecureChannelRequest request;
    request.requestHeader.requestHandle = ++requestHandle;
    request.requestType = requestType;
    request.securityMode = 1;
    request.requestedLifetime = lifetime;
    QByteArray f;
    Encoder e(f);
    e.raw("OPNF", 4);
    e.u32(0);
    e.u32(channel);
    e.string(QStringLiteral("http://opcfoundation.org/UA/SecurityPolicy#None"));
    e.byteString(QByteArray());
    e.byteString(QByteArray());
    e.u32(sequence++);
    e.u32(nextRequestId++);
    encodeMessage(e, request);
    e.patchU32(4, std::uint32_t(f.size()));
    return f;
}

namespace {
bool parseOpenResponse(const QByteArray &frame, std::uint32_t &channelId, std::uint32_t &tokenId)
{
    if (!frame.startsWith("OPNF"))
        return false;
    try {
        Decoder d(frame.constData() + 8, std::size_t(frame.size() - 8));
        d.u32();
        d.string();
        d.byteString();
        d.byteString();
        d.u32();
        d.u32();
        if (!decodeNodeId(d).isNumeric(Id::OpenSecureChannelResponse_Binary))
            return false;
        OpenSecureChannelResponse response;
        decodeInto(d, response);
        channelId = response.securityToken.channelId;
        tokenId = response.securityToken.tokenId;
        return response.responseHeader.serviceResult == 0 && d.atEnd();
    } catch (const CodecError &) {
        return false;
    }
}
} // namespace

bool UaTestPeer::openChannel(std::uint32_t lifetime)
{
    sendBytes(openFrame(0, lifetime, 0));
    return parseOpenResponse(nextFrame(), channelId, tokenId);
}

bool UaTestPeer::renewChannel(std::uint32_t lifetime)
{
    sendBytes(openFrame(1, lifetime, channelId));
    std::uint32_t channel = 0;
    if (!parseOpenResponse(nextFrame(), channel, tokenId))
        return false;
    return channel == channelId;
}

QByteArray UaTestPeer::symmetricChunk(char chunkType, std::uint32_t requestId, const QByteArray &body, const char *type)
{
    QByteArray f;
    Encoder e(f);
    e.raw(type, 3);
    e.u8(std::uint8_t(chunkType));
    e.u32(0);
    e.u32(channelId);
    e.u32(tokenId);
    e.u32(sequence++);
    e.u32(requestId);
    e.raw(body.constData(), std::size_t(body.size()));
    e.patchU32(4, std::uint32_t(f.size()));
    return f;
}

std::uint32_t UaTestPeer::sendMessage(const QByteArray &body, std::size_t chunkBody, const char *type)
{
    const std::uint32_t requestId = nextRequestId++;
    if (chunkBody == 0)
        chunkBody = std::size_t(body.size()) + 1;
    QByteArray all;
    for (qsizetype offset = 0; offset < body.size() || offset == 0;) {
        const qsizetype n = std::min<qsizetype>(qsizetype(chunkBody), body.size() - offset);
        const bool last = offset + n >= body.size();
        all += symmetricChunk(last ? 'F' : 'C', requestId, body.mid(offset, n), type);
        offset += n;
        if (last)
            break;
    }
    sendBytes(all);
    return requestId;
}

QByteArray UaTestPeer::receiveMessage(std::uint32_t requestId, int timeoutMs)
{
    QByteArray body;
    for (int guard = 0; guard < 100000; ++guard) {
        const QByteArray f = nextFrame(timeoutMs);
        if (f.size() < 24 || !f.startsWith("MSG"))
            return {};
        Decoder d(f.constData() + 8, std::size_t(f.size() - 8));
        d.u32();
        d.u32();
        d.u32();
        if (d.u32() != requestId)
            return {};
        body.append(f.constData() + 24, f.size() - 24);
        if (f[3] == 'F')
            return body;
        if (f[3] != 'C')
            return {};
    }
    return {};
}

bool UaTestPeer::createSession(double timeoutMs, StatusCode *fault)
{
    CreateSessionRequest request;
    request.clientDescription.applicationUri = QStringLiteral("urn:test:client");
    request.clientDescription.applicationType = 1;
    request.endpointUrl = QStringLiteral("opc.tcp://localhost:4840");
    request.sessionName = QStringLiteral("test session");
    request.clientNonce = QByteArray(32, 'n');
    request.requestedSessionTimeout = timeoutMs;
    CreateSessionResponse response;
    authenticationToken = NodeId();
    const Reply reply = call(request, response);
    if (fault)
        *fault = reply.fault;
    if (!reply.ok || reply.fault)
        return false;
    authenticationToken = response.authenticationToken;
    sessionId = response.sessionId;
    return true;
}

bool UaTestPeer::activateSession(StatusCode *fault)
{
    ActivateSessionRequest request;
    AnonymousIdentityToken token;
    token.policyId = QStringLiteral("anonymous");
    request.userIdentityToken = makeExtension(token);
    ActivateSessionResponse response;
    const Reply reply = call(request, response);
    if (fault)
        *fault = reply.fault;
    return reply.ok && !reply.fault;
}

bool UaTestPeer::closeSession()
{
    CloseSessionRequest request;
    request.deleteSubscriptions = true;
    CloseSessionResponse response;
    const Reply reply = call(request, response);
    return reply.ok && !reply.fault;
}

// --- In memory -----------------------------------------------------------------------

MemoryPeer::MemoryPeer(Connection &connection) : connection_(connection)
{
    connection_.onSend = [this](const QByteArray &bytes) { output_ += bytes; };
    connection_.onClose = [this] { closed_ = true; };
}

QByteArray MemoryPeer::nextFrame(int)
{
    if (output_.size() < 8)
        return {};
    Decoder d(output_.constData() + 4, 4);
    const std::uint32_t size = d.u32();
    if (size < 8 || qsizetype(size) > output_.size())
        return {};
    const QByteArray frame = output_.left(size);
    output_.remove(0, size);
    return frame;
}

// --- Over loopback ---------------------------------------------------------------------

SocketPeer::SocketPeer(quint16 port)
{
    socket_.connectToHost(QHostAddress::LocalHost, port);
    waitFor([this] { return socket_.state() == QAbstractSocket::ConnectedState; }, 3000);
}

void SocketPeer::sendBytes(const QByteArray &bytes)
{
    socket_.write(bytes);
    socket_.flush();
}

QByteArray SocketPeer::nextFrame(int timeoutMs)
{
    auto complete = [this]() -> qsizetype {
        input_ += socket_.readAll();
        if (input_.size() < 8)
            return 0;
        Decoder d(input_.constData() + 4, 4);
        const std::uint32_t size = d.u32();
        return size >= 8 && qsizetype(size) <= input_.size() ? qsizetype(size) : 0;
    };
    if (!waitFor([&] { return complete() > 0 || socket_.state() != QAbstractSocket::ConnectedState; }, timeoutMs))
        return {};
    const qsizetype size = complete();
    if (size == 0)
        return {};
    const QByteArray frame = input_.left(size);
    input_.remove(0, size);
    return frame;
}

bool SocketPeer::closedByServer(int timeoutMs)
{
    return waitFor(
        [this] {
            input_ += socket_.readAll();
            return socket_.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
}

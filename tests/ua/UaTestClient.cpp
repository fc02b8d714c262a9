#include "UaTestClient.h"
#include "security/ChunkSecurity.h"

#include <QtEndian>

using namespace Ua;

static std::uint32_t u32At(const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }

qsizetype UaTestPeer::completeFrame(const QByteArray &b)
{
    const qsizetype size = b.size() < 8 ? 0 : qsizetype(u32At(b, 4));
    return size >= 8 && size <= b.size() ? size : 0;
}

QByteArray UaTestPeer::helloFrame(std::uint32_t receiveBuffer, std::uint32_t sendBuffer, std::uint32_t maxMessage)
{
    QByteArray f;
    Encoder e(f);
    e.raw("HELF", 4);
    e.u32(0);
    for (std::uint32_t v : {0u, receiveBuffer, sendBuffer, maxMessage, 0u})
        e.u32(v);
    e.string(QStringLiteral("opc.tcp://localhost:4840"));
    e.patchU32(4, std::uint32_t(f.size()));
    return f;
}

void UaTestPeer::useSecurity(const Security::SecurityPolicy *policy, Security::SecurityMode mode,
                             const Security::RsaKey &key, const Security::Certificate &certificate,
                             const Security::Certificate &serverCertificate)
{
    secure.policy = policy;
    secure.mode = mode;
    secure.key = key;
    secure.certificate = certificate.der();
    secure.serverKey = serverCertificate.publicKey();
    secure.serverCertificate = serverCertificate.der();
    secure.serverThumbprint = serverCertificate.thumbprint();
}

Security::Certificate UaTestPeer::clientCertificate(const QString &name, const Security::RsaKey &key)
{
    Security::CertificateRequest request;
    request.commonName = name;
    request.applicationUri = QStringLiteral("urn:test:client");
    request.notBefore = QDateTime::currentDateTimeUtc().addDays(-1);
    request.notAfter = QDateTime::currentDateTimeUtc().addYears(1);
    return *Security::Certificate::create(request, key, nullptr, key);
}

StatusCode UaTestPeer::errorStatus(const QByteArray &frame)
{
    return frame.size() >= 12 && frame.startsWith("ERR") ? u32At(frame, 8) : 0;
}

bool UaTestPeer::hello(std::uint32_t receiveBuffer, std::uint32_t sendBuffer, std::uint32_t maxMessage)
{
    sendBytes(helloFrame(receiveBuffer, sendBuffer, maxMessage));
    const QByteArray ack = nextFrame();
    if (!ack.startsWith("ACKF") || ack.size() != 28)
        return false;
    receiveBufferSize = u32At(ack, 12); // the server's receive buffer: what we may send
    sendBufferSize = u32At(ack, 16);
    serverMaxMessage = u32At(ack, 20);
    serverMaxChunks = u32At(ack, 24);
    return true;
}

QByteArray UaTestPeer::openFrame(std::int32_t requestType, std::uint32_t channel)
{
    OpenSecureChannelRequest request;
    request.requestHeader.requestHandle = ++requestHandle;
    request.requestType = requestType;
    request.securityMode = secure.policy ? std::int32_t(secure.mode) : 1;
    request.requestedLifetime = 600000;
    if (secure.policy)
        request.clientNonce = secure.clientNonce = Security::makeNonce(*secure.policy);
    QByteArray f;
    Encoder e(f);
    e.raw("OPNF", 4);
    e.u32(0);
    e.u32(channel);
    e.string(secure.policy ? secure.policy->uri : QStringLiteral("http://opcfoundation.org/UA/SecurityPolicy#None"));
    e.byteString(secure.policy ? secure.certificate : QByteArray());
    e.byteString(secure.policy ? secure.serverThumbprint : QByteArray());
    const qsizetype plainStart = f.size();
    e.u32(sequence++);
    e.u32(nextRequestId++);
    encodeMessage(e, request);
    e.patchU32(4, std::uint32_t(f.size()));
    if (secure.policy)
        Security::secureAsymmetricChunk(*secure.policy, f, plainStart, secure.key, secure.serverKey);
    return f;
}

bool UaTestPeer::openChannel(std::int32_t requestType)
{
    sendBytes(openFrame(requestType, channelId));
    QByteArray f = nextFrame();
    if (!f.startsWith("OPNF") || f.size() < 12)
        return false;
    try {
        Decoder header(f.constData() + 12, std::size_t(f.size() - 12)); // after the channel id
        header.string();
        header.byteString();
        header.byteString();
        const qsizetype plainStart = f.size() - qsizetype(header.remaining());
        if (secure.policy && Security::openAsymmetricChunk(*secure.policy, f, plainStart, secure.key,
                                                           secure.serverKey) != Security::SecurityResult::Ok)
            return false;
        Decoder d(f.constData() + plainStart, std::size_t(f.size() - plainStart));
        d.u32(); // sequence number
        d.u32(); // request id
        OpenSecureChannelResponse response;
        if (!decodeNodeId(d).isNumeric(Id::OpenSecureChannelResponse_Binary))
            return false;
        decodeInto(d, response);
        if (requestType != 0 && response.securityToken.channelId != channelId)
            return false;
        channelId = response.securityToken.channelId;
        tokenId = response.securityToken.tokenId;
        if (secure.policy && Security::deriveChannelKeys(*secure.policy, secure.clientNonce, response.serverNonce,
                                                         secure.keys) != Security::SecurityResult::Ok)
            return false;
        return d.atEnd();
    } catch (const CodecError &) {
        return false;
    }
}

QByteArray UaTestPeer::chunk(char chunkType, std::uint32_t requestId, const QByteArray &body, const char *type)
{
    QByteArray f;
    Encoder e(f);
    e.raw(type, 3);
    e.u8(std::uint8_t(chunkType));
    e.u32(0);
    for (std::uint32_t v : {channelId, tokenId, sequence++, requestId})
        e.u32(v);
    e.raw(body.constData(), std::size_t(body.size()));
    e.patchU32(4, std::uint32_t(f.size()));
    if (secure.policy)
        Security::secureSymmetricChunk(*secure.policy, secure.mode, f, 16, secure.keys.client);
    return f;
}

std::uint32_t UaTestPeer::sendMessage(const QByteArray &body, std::size_t chunkBody, const char *type)
{
    const std::uint32_t requestId = nextRequestId++;
    const qsizetype piece = qsizetype(chunkBody ? chunkBody : receiveBufferSize - (secure.policy ? 512 : 24));
    QByteArray all;
    for (qsizetype at = 0; at == 0 || at < body.size(); at += piece)
        all += chunk(at + piece >= body.size() ? 'F' : 'C', requestId, body.mid(at, piece), type);
    sendBytes(all);
    return requestId;
}

QByteArray UaTestPeer::receiveMessage(std::uint32_t requestId)
{
    QByteArray body;
    for (int guard = 0; guard < 100000; ++guard) {
        QByteArray f = nextFrame();
        if (secure.policy && f.startsWith("MSG") &&
            Security::openSymmetricChunk(*secure.policy, secure.mode, f, 16, secure.keys.server) !=
                Security::SecurityResult::Ok)
            return {};
        if (f.size() < 24 || !f.startsWith("MSG") || u32At(f, 20) != requestId)
            return {};
        body.append(f.constData() + 24, f.size() - 24);
        if (f[3] != 'C')
            return f[3] == 'F' ? body : QByteArray();
    }
    return {};
}

UaTestPeer::Reply UaTestPeer::decodeReply(std::uint32_t requestId, const TypeDesc *type, void *response)
{
    Reply reply;
    const QByteArray answer = receiveMessage(requestId);
    try {
        Decoder d(answer);
        const NodeId typeId = decodeNodeId(d);
        ResponseHeader header;
        if (typeId.isNumeric(Id::ServiceFault_Binary) || !type) {
            decodeInto(d, header);
            reply.fault = typeId.isNumeric(Id::ServiceFault_Binary) ? header.serviceResult : Status::Good;
        } else if (typeId.isNumeric(type->binaryEncodingId)) {
            decodeStructure(d, *type, response);
            header = *static_cast<ResponseHeader *>(type->fields[0].member(response));
            if (!d.atEnd())
                return reply;
        } else {
            return reply;
        }
        reply.ok = header.requestHandle == handles_[requestId];
    } catch (const CodecError &) {
    }
    return reply;
}

StatusCode UaTestPeer::createSession(double timeoutMs)
{
    CreateSessionRequest request;
    request.clientDescription.applicationUri = applicationUri;
    request.endpointUrl = QStringLiteral("opc.tcp://localhost:4840");
    request.sessionName = QStringLiteral("test session");
    request.requestedSessionTimeout = timeoutMs;
    if (secure.policy) {
        request.clientCertificate = secure.certificate;
        request.clientNonce = Security::Crypto::randomBytes(32);
    }
    CreateSessionResponse response;
    authenticationToken = NodeId();
    const Reply reply = call(request, response);
    if (reply.ok && !reply.fault) {
        authenticationToken = response.authenticationToken;
        secure.sessionNonce = response.serverNonce;
        // The server proves it holds its key.
        if (secure.policy &&
            !Security::verifyData(*secure.policy, secure.serverKey, request.clientCertificate + request.clientNonce,
                                  response.serverSignature.signature))
            return Status::BadApplicationSignatureInvalid;
    }
    return reply.ok ? reply.fault : Status::BadCommunicationError;
}

StatusCode UaTestPeer::activateSession()
{
    ActivateSessionRequest request;
    request.userIdentityToken = makeExtension(AnonymousIdentityToken{QStringLiteral("anonymous")});
    if (secure.policy)
        request.clientSignature = {
            secure.policy->asymmetricSignatureUri,
            *Security::signData(*secure.policy, secure.key, secure.serverCertificate + secure.sessionNonce)};
    ActivateSessionResponse response;
    const Reply reply = call(request, response);
    return reply.ok ? reply.fault : Status::BadCommunicationError;
}

ReadResponse UaTestPeer::read(const std::vector<ReadValueId> &ids, std::int32_t timestamps)
{
    ReadRequest request{{}, 0, timestamps, ids};
    ReadResponse response;
    const Reply reply = call(request, response);
    return reply.ok && !reply.fault ? response : ReadResponse();
}

DataValue UaTestPeer::read(const NodeId &id, std::uint32_t attribute)
{
    const ReadResponse r = read({readId(id, attribute)});
    return r.results.empty() ? DataValue{} : r.results[0];
}

StatusCode UaTestPeer::write(const NodeId &id, const Variant &v, std::uint32_t attribute)
{
    WriteRequest request{{}, {WriteValue{id, attribute, {}, {}}}};
    request.nodesToWrite[0].value.setValue(v);
    WriteResponse response;
    const Reply reply = call(request, response);
    return reply.ok && !reply.fault && response.results.size() == 1 ? response.results[0]
                                                                    : Status::BadCommunicationError;
}

// --- In memory -----------------------------------------------------------------------

MemoryPeer::MemoryPeer(Connection &c) : connection(c)
{
    connection.onSend = [this](const QByteArray &bytes) { output += bytes; };
    connection.onClose = [this] { closed = true; };
}

bool MemoryPeer::frameWaiting() const { return completeFrame(output) > 0; }

QByteArray MemoryPeer::nextFrame()
{
    const qsizetype size = completeFrame(output);
    const QByteArray frame = output.left(size);
    output.remove(0, size);
    return frame;
}

// The secure channel (OPC 10000-6 6.7) over an opc.tcp connection: OpenSecureChannel
// issue and renew, token lifetimes, sequence numbers, assembly of chunked requests
// and chunking of responses. Security is delegated to the channel's SecurityPolicy.
#include "ua/UaConnection.h"
#include "ua/UaNodeIds.h"
#include "ua/UaStructures.h"

#include <algorithm>

namespace Ua {

namespace {
constexpr std::uint32_t HeaderSize = 8;
constexpr std::uint32_t SymmetricHeaderSize = 8 + 4 + 4 + 8; // message, channel, token, sequence
constexpr std::uint32_t SequenceWrapLimit = 4294966271u;     // sequence numbers wrap after this
} // namespace

bool Connection::checkSequence(std::uint32_t sequenceNumber)
{
    if (!sequenceStarted_) {
        sequenceStarted_ = true;
        lastReceivedSequence_ = sequenceNumber;
        return true;
    }
    const bool next = sequenceNumber == lastReceivedSequence_ + 1;
    const bool wrapped = lastReceivedSequence_ > SequenceWrapLimit && sequenceNumber < 1024;
    if (!next && !wrapped)
        return false;
    lastReceivedSequence_ = sequenceNumber;
    return true;
}

void Connection::onOpen(const char *frame, std::uint32_t size)
{
    if (frame[3] != 'F') {
        fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("OpenSecureChannel must be one chunk"));
        return;
    }
    Decoder d(frame + HeaderSize, size - HeaderSize, limits_.decode);
    const std::uint32_t headerChannelId = d.u32();
    const QString policyUri = d.string();
    d.byteString(); // sender certificate: none with policy None
    d.byteString(); // receiver certificate thumbprint
    if (policyUri != policy_->uri()) {
        fail(Status::BadSecurityPolicyRejected, QStringLiteral("Security policy not supported: ") + policyUri);
        return;
    }
    const std::uint32_t sequenceNumber = d.u32();
    const std::uint32_t requestId = d.u32();
    if (!checkSequence(sequenceNumber)) {
        fail(Status::BadSecurityChecksFailed, QStringLiteral("Sequence number out of order"));
        return;
    }
    if (!decodeNodeId(d).isNumeric(Id::OpenSecureChannelRequest_Binary)) {
        fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("OpenSecureChannelRequest expected"));
        return;
    }
    OpenSecureChannelRequest request;
    decodeInto(d, request);

    const bool renew = request.requestType == 1;
    if (request.requestType != 0 && !renew) {
        fail(Status::BadRequestTypeInvalid, QStringLiteral("Unknown security token request type"));
        return;
    }
    if (renew ? (state_ != State::ChannelOpen || headerChannelId != channelId_) : state_ != State::AwaitOpen) {
        fail(Status::BadTcpSecureChannelUnknown,
             renew ? QStringLiteral("Renewal of an unknown channel") : QStringLiteral("Channel already open"));
        return;
    }
    if (request.securityMode != 1) {
        fail(Status::BadSecurityModeRejected, QStringLiteral("Only security mode None is served"));
        return;
    }

    const qint64 now = handler_.nowMs();
    if (renew) {
        // The old token stays good until the client has moved to the new one or it expires.
        previousTokenId_ = tokenId_;
        previousTokenExpiresMs_ = tokenCreatedMs_ + qint64(tokenLifetimeMs_) * 5 / 4;
    } else {
        channelId_ = handler_.newChannelId();
    }
    tokenId_ = nextTokenId_++;
    tokenCreatedMs_ = now;
    const std::uint32_t requested = request.requestedLifetime ? request.requestedLifetime : limits_.maxTokenLifetimeMs;
    tokenLifetimeMs_ = std::clamp(requested, limits_.minTokenLifetimeMs, limits_.maxTokenLifetimeMs);

    OpenSecureChannelResponse response;
    stamp(response, request.requestHeader);
    response.serverProtocolVersion = 0;
    response.securityToken.channelId = channelId_;
    response.securityToken.tokenId = tokenId_;
    response.securityToken.createdAt = response.responseHeader.timestamp;
    response.securityToken.revisedLifetime = tokenLifetimeMs_;
    response.serverNonce = QByteArray("", 0);

    QByteArray out;
    Encoder e(out);
    e.raw("OPNF", 4);
    e.u32(0);
    e.u32(channelId_);
    e.string(policy_->uri());
    e.byteString(QByteArray());
    e.byteString(QByteArray());
    e.u32(sendSequence_);
    sendSequence_ = sendSequence_ >= SequenceWrapLimit ? 1 : sendSequence_ + 1;
    e.u32(requestId);
    encodeMessage(e, response);
    e.patchU32(4, std::uint32_t(out.size()));
    state_ = State::ChannelOpen;
    handler_.connectTrace(QStringLiteral("UA %1 secure channel %2 %3, token %4, lifetime %5 ms")
                              .arg(peer)
                              .arg(channelId_)
                              .arg(renew ? QStringLiteral("renewed") : QStringLiteral("opened"))
                              .arg(tokenId_)
                              .arg(tokenLifetimeMs_));
    sendFrame(out);
}

void Connection::onSymmetric(const char *frame, std::uint32_t size, bool closing)
{
    Decoder d(frame + HeaderSize, size - HeaderSize, limits_.decode);
    if (d.u32() != channelId_) {
        fail(Status::BadTcpSecureChannelUnknown, QStringLiteral("Unknown secure channel id"));
        return;
    }
    const std::uint32_t tokenId = d.u32();
    const qint64 now = handler_.nowMs();
    if (tokenId != tokenId_ &&
        !(previousTokenId_ != 0 && tokenId == previousTokenId_ && now < previousTokenExpiresMs_)) {
        fail(Status::BadSecureChannelTokenUnknown, QStringLiteral("Unknown security token"));
        return;
    }
    if (tokenId == tokenId_)
        previousTokenId_ = 0; // the client uses the new token: the old one is done
    const std::uint32_t sequenceNumber = d.u32();
    const std::uint32_t requestId = d.u32();
    if (!checkSequence(sequenceNumber)) {
        fail(Status::BadSecurityChecksFailed, QStringLiteral("Sequence number out of order"));
        return;
    }
    if (closing) {
        handler_.connectTrace(QStringLiteral("UA %1 secure channel %2 closed by the client").arg(peer).arg(channelId_));
        close();
        return;
    }
    const char chunk = frame[3];
    const char *body = d.position();
    const std::size_t bodySize = d.remaining();
    if (chunk == 'A') {
        if (pendingActive_ && pendingRequestId_ == requestId) {
            pendingActive_ = false;
            pending_ = QByteArray();
        }
        return;
    }
    if (chunk != 'C' && chunk != 'F') {
        fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("Unknown chunk type"));
        return;
    }
    if (pendingActive_ && pendingRequestId_ != requestId) {
        fail(Status::BadSecurityChecksFailed, QStringLiteral("Chunks of two requests interleaved"));
        return;
    }
    if (!pendingActive_) {
        pendingActive_ = true;
        pendingRequestId_ = requestId;
        pendingChunks_ = 0;
        pending_.clear();
    }
    ++pendingChunks_;
    if (pendingChunks_ > limits_.maxChunkCount || std::size_t(pending_.size()) + bodySize > limits_.maxMessageSize) {
        fail(Status::BadTcpMessageTooLarge, QStringLiteral("Request exceeds %1 bytes or %2 chunks")
                                                .arg(limits_.maxMessageSize)
                                                .arg(limits_.maxChunkCount));
        return;
    }
    pending_.append(body, qsizetype(bodySize));
    if (chunk == 'F') {
        const QByteArray message = std::move(pending_);
        pending_ = QByteArray();
        pendingActive_ = false;
        handler_.handleMessage(*this, requestId, message);
    }
}

void Connection::sendChunks(const char type[3], std::uint32_t requestId, std::uint32_t tokenId, const QByteArray &body)
{
    const std::size_t maxBody =
        std::max<std::size_t>(1, sendBufferSize_ - SymmetricHeaderSize - policy_->symmetricOverhead(sendBufferSize_));
    const std::size_t total = std::size_t(body.size());
    const std::size_t chunks = std::max<std::size_t>(1, (total + maxBody - 1) / maxBody);
    QByteArray out;
    out.reserve(qsizetype(total + chunks * SymmetricHeaderSize));
    Encoder e(out);
    std::size_t offset = 0;
    for (std::size_t k = 0; k < chunks; ++k) {
        const std::size_t n = std::min(maxBody, total - offset);
        const qsizetype start = out.size();
        e.raw(type, 3);
        e.u8(k + 1 == chunks ? 'F' : 'C');
        e.u32(std::uint32_t(SymmetricHeaderSize + n));
        e.u32(channelId_);
        e.u32(tokenId);
        e.u32(sendSequence_);
        sendSequence_ = sendSequence_ >= SequenceWrapLimit ? 1 : sendSequence_ + 1;
        e.u32(requestId);
        e.raw(body.constData() + offset, n);
        offset += n;
        Q_UNUSED(start);
    }
    sendFrame(out);
}

void Connection::sendServiceFault(std::uint32_t requestId, std::uint32_t requestHandle, StatusCode status)
{
    sendChunks("MSG", requestId, tokenId_, encodeServiceFault(requestHandle, status));
}

void Connection::sendResponse(std::uint32_t requestId, std::uint32_t requestHandle, const QByteArray &body)
{
    if (state_ != State::ChannelOpen)
        return;
    const std::size_t maxBody = sendBufferSize_ - SymmetricHeaderSize;
    const std::size_t chunks = (std::size_t(body.size()) + maxBody - 1) / maxBody;
    if ((peerMaxMessageSize_ && std::size_t(body.size()) > peerMaxMessageSize_) ||
        (peerMaxChunkCount_ && chunks > peerMaxChunkCount_)) {
        sendServiceFault(requestId, requestHandle, Status::BadResponseTooLarge);
        return;
    }
    sendChunks("MSG", requestId, tokenId_, body);
}

} // namespace Ua

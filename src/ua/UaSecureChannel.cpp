// The secure channel (OPC 10000-6 6.7) over an opc.tcp connection: OpenSecureChannel
// issue and renew, token lifetimes, sequence numbers, assembly of chunked requests
// and chunking of responses. Every chunk in and out goes through the channel's
// ChannelSecurity.
#include "common/Clock.h"
#include "ua/UaConnection.h"
#include "ua/UaStructures.h"

#include <algorithm>

namespace Ua {

namespace {
constexpr std::uint32_t HeaderSize = 8;
constexpr std::uint32_t SymmetricHeaderSize = 8 + 4 + 4; // message, channel, token
constexpr std::uint32_t SequenceWrapLimit = 4294966271u; // sequence numbers wrap after this
constexpr std::int32_t IssueToken = 0, RenewToken = 1;
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

std::uint32_t Connection::nextSendSequence()
{
    const std::uint32_t n = sendSequence_;
    sendSequence_ = sendSequence_ >= SequenceWrapLimit ? 1 : sendSequence_ + 1;
    return n;
}

void Connection::onOpen(char *frame, std::uint32_t size)
{
    if (frame[3] != 'F') {
        fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("OpenSecureChannel must be one chunk"));
        return;
    }
    Decoder header(frame + HeaderSize, size - HeaderSize, limits_.decode);
    const std::uint32_t headerChannelId = header.u32();
    AsymmetricHeader peerHeader;
    peerHeader.policyUri = header.string();
    peerHeader.senderCertificate = header.byteString();
    peerHeader.receiverThumbprint = header.byteString();
    const bool renewing = state_ == State::ChannelOpen;
    const SecurityPolicy *policy = renewing ? &security_->policy() : host_.securityPolicy(peerHeader.policyUri);
    if (!policy || policy->uri() != peerHeader.policyUri) {
        fail(Status::BadSecurityPolicyRejected,
             QStringLiteral("Security policy not supported: ") + peerHeader.policyUri);
        return;
    }
    if (const StatusCode refused = policy->acceptPeer(peerHeader); isBad(refused)) {
        fail(refused, QStringLiteral("Certificate refused"));
        return;
    }
    std::unique_ptr<ChannelSecurity> opening;
    if (!renewing)
        opening = std::make_unique<ChannelSecurity>(*policy, peerHeader);
    const ChannelSecurity &security = renewing ? *security_ : *opening;
    const std::size_t secured = std::size_t(header.position() - frame);
    const std::size_t end = security.asymmetric().unprotect(frame, size, secured);
    Decoder d(frame + secured, end - secured, limits_.decode);
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

    const bool renew = request.requestType == RenewToken;
    if (request.requestType != IssueToken && !renew) {
        fail(Status::BadRequestTypeInvalid, QStringLiteral("Unknown security token request type"));
        return;
    }
    if (renew ? (!renewing || headerChannelId != channelId_) : state_ != State::AwaitOpen) {
        fail(Status::BadTcpSecureChannelUnknown,
             renew ? QStringLiteral("Renewal of an unknown channel") : QStringLiteral("Channel already open"));
        return;
    }
    const auto mode = SecurityMode(request.securityMode);
    if (!host_.offers(policy->uri(), mode) || (renew && mode != security_->mode())) {
        fail(Status::BadSecurityModeRejected, QStringLiteral("Security mode not offered with this policy"));
        return;
    }
    if (policy->nonceLength() && std::size_t(request.clientNonce.size()) != policy->nonceLength()) {
        fail(Status::BadNonceInvalid, QStringLiteral("Client nonce of the wrong length"));
        return;
    }
    if (!renew) {
        security_ = std::move(opening);
        channelId_ = host_.newChannelId();
    }

    const std::uint32_t requested = request.requestedLifetime ? request.requestedLifetime : limits_.maxTokenLifetimeMs;
    const std::uint32_t lifetime = std::clamp(requested, limits_.minTokenLifetimeMs, limits_.maxTokenLifetimeMs);
    const QByteArray serverNonce = policy->nonceLength() ? randomBytes(int(policy->nonceLength())) : QByteArray("", 0);
    const std::uint32_t tokenId = nextTokenId_++;
    security_->addToken(tokenId, mode, nowMs(), lifetime, request.clientNonce, serverNonce);

    OpenSecureChannelResponse response;
    response.responseHeader.timestamp = toDateTime(host_.clock().now());
    response.responseHeader.requestHandle = request.requestHeader.requestHandle;
    response.securityToken.channelId = channelId_;
    response.securityToken.tokenId = tokenId;
    response.securityToken.createdAt = response.responseHeader.timestamp;
    response.securityToken.revisedLifetime = lifetime;
    response.serverNonce = serverNonce;

    QByteArray out;
    Encoder e(out);
    e.raw("OPNF", 4);
    e.u32(0);
    e.u32(channelId_);
    const AsymmetricHeader &own = security_->ownHeader();
    e.string(own.policyUri);
    e.byteString(own.senderCertificate);
    e.byteString(own.receiverThumbprint);
    const qsizetype securedOut = out.size();
    e.u32(nextSendSequence());
    e.u32(requestId);
    encodeMessage(e, response);
    e.patchU32(4, std::uint32_t(out.size()));
    security_->asymmetric().protect(out, 0, securedOut);
    state_ = State::ChannelOpen;
    host_.connectTrace(QStringLiteral("UA %1 secure channel %2 %3, token %4, lifetime %5 ms")
                           .arg(peer_)
                           .arg(channelId_)
                           .arg(renew ? QStringLiteral("renewed") : QStringLiteral("opened"))
                           .arg(tokenId)
                           .arg(lifetime));
    sendFrame(out);
}

void Connection::onSymmetric(char *frame, std::uint32_t size, bool closing)
{
    Decoder header(frame + HeaderSize, size - HeaderSize, limits_.decode);
    if (header.u32() != channelId_) {
        fail(Status::BadTcpSecureChannelUnknown, QStringLiteral("Unknown secure channel id"));
        return;
    }
    const ChunkProtection *keys = security_->incoming(header.u32(), nowMs());
    if (!keys) {
        fail(Status::BadSecureChannelTokenUnknown, QStringLiteral("Unknown security token"));
        return;
    }
    const std::size_t end = keys->unprotect(frame, size, SymmetricHeaderSize);
    Decoder d(frame + SymmetricHeaderSize, end - SymmetricHeaderSize, limits_.decode);
    const std::uint32_t sequenceNumber = d.u32();
    const std::uint32_t requestId = d.u32();
    if (!checkSequence(sequenceNumber)) {
        fail(Status::BadSecurityChecksFailed, QStringLiteral("Sequence number out of order"));
        return;
    }
    if (closing) {
        host_.connectTrace(QStringLiteral("UA %1 secure channel %2 closed by the client").arg(peer_).arg(channelId_));
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
        host_.handleMessage(*this, requestId, message);
    }
}

std::size_t Connection::maxChunkBody() const
{
    return std::max<std::size_t>(1, security_->outgoing().layout().maxBodySize(sendBufferSize_, SymmetricHeaderSize));
}

void Connection::sendResponse(std::uint32_t requestId, std::uint32_t requestHandle, const QByteArray &response)
{
    if (state_ != State::ChannelOpen)
        return;
    const std::size_t maxBody = maxChunkBody();
    auto chunksOf = [maxBody](const QByteArray &b) {
        return std::max<std::size_t>(1, (std::size_t(b.size()) + maxBody - 1) / maxBody);
    };
    const bool tooLarge = (peerMaxMessageSize_ && std::size_t(response.size()) > peerMaxMessageSize_) ||
                          (peerMaxChunkCount_ && chunksOf(response) > peerMaxChunkCount_);
    const QByteArray body =
        tooLarge ? encodeServiceFault(requestHandle, Status::BadResponseTooLarge, toDateTime(host_.clock().now()))
                 : response;
    const std::size_t chunks = chunksOf(body);
    const ChunkProtection &keys = security_->outgoing();
    const std::uint32_t tokenId = security_->outgoingTokenId();
    const std::size_t total = std::size_t(body.size());
    QByteArray out;
    out.reserve(qsizetype(total + chunks * (SymmetricHeaderSize + ChunkLayout::SequenceHeaderSize)));
    Encoder e(out);
    std::size_t offset = 0;
    for (std::size_t k = 0; k < chunks; ++k) {
        const std::size_t n = std::min(maxBody, total - offset);
        const qsizetype start = out.size();
        e.raw("MSG", 3);
        e.u8(k + 1 == chunks ? 'F' : 'C');
        e.u32(std::uint32_t(SymmetricHeaderSize + ChunkLayout::SequenceHeaderSize + n));
        e.u32(channelId_);
        e.u32(tokenId);
        e.u32(nextSendSequence());
        e.u32(requestId);
        e.raw(body.constData() + offset, n);
        keys.protect(out, start, start + SymmetricHeaderSize);
        offset += n;
    }
    sendFrame(out);
}

} // namespace Ua

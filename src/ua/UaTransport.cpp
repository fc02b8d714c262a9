// The opc.tcp connection protocol (OPC 10000-6 7.1): framing, Hello/Acknowledge
// negotiation and Error messages. Secure channel messages go on to
// UaSecureChannel.cpp.
#include "common/Clock.h"
#include "ua/UaConnection.h"

#include <algorithm>
#include <cstring>

namespace Ua {

namespace {
constexpr std::uint32_t HeaderSize = 8;
constexpr std::uint32_t MinBufferSize = 8192;
constexpr std::int32_t MaxEndpointUrlLength = 4096;
} // namespace

Connection::Connection(ChannelHost &host, const TransportLimits &limits, QString peer)
    : host_(host), limits_(limits), peer_(std::move(peer))
{
    openedAt_ = nowMs();
    // Until Hello says otherwise, a chunk may be as large as our own buffer.
    receiveBufferSize_ = limits_.receiveBufferSize;
}

Connection::~Connection() = default;

qint64 Connection::nowMs() const { return host_.clock().monotonicMs(); }

void Connection::receive(const char *data, std::size_t size)
{
    if (state_ == State::Closed || size == 0)
        return;
    input_.append(data, qsizetype(size));
    while (state_ != State::Closed) {
        const qsizetype available = input_.size() - inputOffset_;
        if (available < qsizetype(HeaderSize))
            break;
        const auto *h = reinterpret_cast<const std::uint8_t *>(input_.constData() + inputOffset_);
        const std::uint32_t frameSize = std::uint32_t(h[4]) | (std::uint32_t(h[5]) << 8) | (std::uint32_t(h[6]) << 16) |
                                        (std::uint32_t(h[7]) << 24);
        if (frameSize < HeaderSize + 4) {
            fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("Message too short"));
            break;
        }
        if (frameSize > receiveBufferSize_) {
            fail(Status::BadTcpMessageTooLarge, QStringLiteral("Chunk of %1 bytes exceeds the receive buffer of %2")
                                                    .arg(frameSize)
                                                    .arg(receiveBufferSize_));
            break;
        }
        if (available < qsizetype(frameSize))
            break;
        // In place: security may decrypt a chunk where it lies.
        char *frame = input_.data() + inputOffset_;
        inputOffset_ += frameSize;
        processFrame(frame, frameSize);
    }
    if (state_ == State::Closed) {
        input_.clear();
        inputOffset_ = 0;
    } else if (inputOffset_ > 0) {
        input_.remove(0, inputOffset_);
        inputOffset_ = 0;
    }
}

void Connection::processFrame(char *frame, std::uint32_t size)
{
    const QByteArray type(frame, 3);
    const char chunk = frame[3];
    if (host_.comTraceEnabled())
        host_.comTrace(QStringLiteral("UA %1 received %2%3 %4 bytes")
                           .arg(peer_, QString::fromLatin1(type), QChar::fromLatin1(chunk))
                           .arg(size));
    try {
        if (type == "HEL") {
            if (state_ != State::AwaitHello || chunk != 'F') {
                fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("Unexpected Hello"));
                return;
            }
            Decoder d(frame + HeaderSize, size - HeaderSize, limits_.decode);
            onHello(d);
            return;
        }
        if (state_ == State::AwaitHello) {
            fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("Hello expected"));
            return;
        }
        if (type == "OPN") {
            onOpen(frame, size);
            return;
        }
        if (type == "MSG" || type == "CLO") {
            if (state_ != State::ChannelOpen) {
                fail(Status::BadTcpSecureChannelUnknown, QStringLiteral("No secure channel open"));
                return;
            }
            onSymmetric(frame, size, type == "CLO");
            return;
        }
        fail(Status::BadTcpMessageTypeInvalid, QStringLiteral("Unknown message type"));
    } catch (const CodecError &e) {
        fail(e.status == Status::BadEncodingLimitsExceeded ? e.status : Status::BadDecodingError,
             QStringLiteral("Malformed message"));
    }
}

void Connection::onHello(Decoder &d)
{
    d.u32(); // protocol version: we speak version 0, which every later version accepts
    const std::uint32_t peerReceive = d.u32();
    const std::uint32_t peerSend = d.u32();
    const std::uint32_t peerMaxMessage = d.u32();
    const std::uint32_t peerMaxChunks = d.u32();
    const std::int32_t urlLength = d.i32();
    if (urlLength > MaxEndpointUrlLength) {
        fail(Status::BadTcpEndpointUrlInvalid, QStringLiteral("Endpoint URL too long"));
        return;
    }
    if (urlLength > 0) {
        if (d.remaining() < std::size_t(urlLength))
            throw CodecError{Status::BadDecodingError};
        endpointUrl_ = QString::fromUtf8(d.position(), urlLength);
    }
    if (peerReceive < MinBufferSize || peerSend < MinBufferSize) {
        fail(Status::BadTcpInternalError, QStringLiteral("Buffers below 8192 bytes"));
        return;
    }
    receiveBufferSize_ = std::min(limits_.receiveBufferSize, peerSend);
    sendBufferSize_ = std::min(limits_.sendBufferSize, peerReceive);
    peerMaxMessageSize_ = peerMaxMessage;
    peerMaxChunkCount_ = peerMaxChunks;

    QByteArray ack;
    Encoder e(ack);
    e.raw("ACKF", 4);
    e.u32(28);
    e.u32(0);
    e.u32(receiveBufferSize_);
    e.u32(sendBufferSize_);
    e.u32(limits_.maxMessageSize);
    e.u32(limits_.maxChunkCount);
    state_ = State::AwaitOpen;
    sendFrame(ack);
}

void Connection::sendFrame(const QByteArray &frame)
{
    if (host_.comTraceEnabled() && frame.size() >= 4)
        host_.comTrace(
            QStringLiteral("UA %1 sent %2 %3 bytes").arg(peer_, QString::fromLatin1(frame.left(4))).arg(frame.size()));
    if (onSend)
        onSend(frame);
}

void Connection::fail(StatusCode status, const QString &reason)
{
    if (state_ == State::Closed)
        return;
    QByteArray err;
    Encoder e(err);
    e.raw("ERRF", 4);
    e.u32(0);
    e.u32(status);
    e.string(reason);
    e.patchU32(4, std::uint32_t(err.size()));
    host_.connectTrace(
        QStringLiteral("UA %1 connection error %2: %3").arg(peer_, QString::fromLatin1(statusName(status)), reason));
    sendFrame(err);
    close();
}

void Connection::close()
{
    if (state_ == State::Closed)
        return;
    state_ = State::Closed;
    pending_.clear();
    host_.channelClosed(*this);
    if (onClose)
        onClose();
}

void Connection::tick()
{
    if (state_ == State::Closed)
        return;
    const qint64 now = nowMs();
    if ((state_ == State::AwaitHello || state_ == State::AwaitOpen) && now - openedAt_ > limits_.helloTimeoutMs) {
        fail(Status::BadTimeout, state_ == State::AwaitHello ? QStringLiteral("No Hello received")
                                                             : QStringLiteral("No secure channel opened"));
        return;
    }
    if (state_ == State::ChannelOpen && security_->expired(now))
        fail(Status::BadSecureChannelClosed, QStringLiteral("Security token expired"));
}

} // namespace Ua

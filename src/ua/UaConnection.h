#pragma once
#include "ua/UaBinary.h"
#include "ua/UaChannel.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// One opc.tcp connection without its socket: received bytes are pushed in with
// receive(), bytes to send come out through onSend, and onClose asks the owner to
// drop the socket. UaTransport.cpp holds the connection protocol (Hello, Acknowledge,
// Error, framing); UaSecureChannel.cpp the secure channel (OpenSecureChannel, chunk
// assembly, sequence numbers, CloseSecureChannel).
namespace Ua {

struct TransportLimits {
    std::uint32_t receiveBufferSize = 65536; // largest chunk we accept
    std::uint32_t sendBufferSize = 65536;    // largest chunk we send
    std::uint32_t maxMessageSize = 4u << 20; // largest request, all chunks together
    std::uint32_t maxChunkCount = 256;       // chunks of one request
    int helloTimeoutMs = 10000;              // Hello and OpenSecureChannel must come within
    std::uint32_t minTokenLifetimeMs = 10000;
    std::uint32_t maxTokenLifetimeMs = 3600000;
    DecodeLimits decode;
};

class Connection final : public Channel {
public:
    Connection(ChannelHost &host, const TransportLimits &limits, QString peer);
    ~Connection() override;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    std::function<void(const QByteArray &)> onSend;
    std::function<void()> onClose;

    void receive(const char *data, std::size_t size);
    void receive(const QByteArray &bytes) { receive(bytes.constData(), std::size_t(bytes.size())); }

    // Channel.
    std::uint32_t channelId() const override { return channelId_; }
    SecurityMode securityMode() const override { return security_ ? security_->mode() : SecurityMode::Invalid; }
    QString securityPolicyUri() const override { return security_ ? security_->policy().uri() : QString(); }
    const QString &peer() const override { return peer_; }
    const QString &endpointUrl() const override { return endpointUrl_; }
    bool isClosed() const override { return state_ == State::Closed; }
    void sendResponse(std::uint32_t requestId, std::uint32_t requestHandle, const QByteArray &body) override;
    // Time-outs: no Hello, no channel, or a security token left to expire.
    void tick() override;
    // Sends an Error message and closes.
    void fail(StatusCode status, const QString &reason) override;
    void close() override;

private:
    enum class State { AwaitHello, AwaitOpen, ChannelOpen, Closed };

    void processFrame(char *frame, std::uint32_t size);
    void onHello(Decoder &d);
    void sendFrame(const QByteArray &frame);
    qint64 nowMs() const;

    // Secure channel (UaSecureChannel.cpp).
    void onOpen(char *frame, std::uint32_t size);
    void onSymmetric(char *frame, std::uint32_t size, bool close);
    bool checkSequence(std::uint32_t sequenceNumber);
    std::uint32_t nextSendSequence();
    std::size_t maxChunkBody() const;

    ChannelHost &host_;
    TransportLimits limits_;
    QString peer_;
    State state_ = State::AwaitHello;
    QByteArray input_;
    qsizetype inputOffset_ = 0;
    qint64 openedAt_ = 0;

    // Negotiated by Hello / Acknowledge.
    std::uint32_t receiveBufferSize_ = 8192;
    std::uint32_t sendBufferSize_ = 8192;
    std::uint32_t peerMaxMessageSize_ = 0; // 0: no limit
    std::uint32_t peerMaxChunkCount_ = 0;
    QString endpointUrl_;

    // Secure channel.
    std::unique_ptr<ChannelSecurity> security_;
    std::uint32_t channelId_ = 0;
    std::uint32_t nextTokenId_ = 1;
    std::uint32_t sendSequence_ = 1;
    std::uint32_t lastReceivedSequence_ = 0;
    bool sequenceStarted_ = false;

    // Request being assembled from chunks.
    QByteArray pending_;
    std::uint32_t pendingRequestId_ = 0;
    std::uint32_t pendingChunks_ = 0;
    bool pendingActive_ = false;
};

} // namespace Ua

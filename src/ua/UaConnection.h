#pragma once
#include "ua/UaBinary.h"
#include "ua/UaSecurityPolicy.h"

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

class Connection;

// What the secure channel hands its messages to: the sessions and services.
class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    // One complete request (type NodeId and body) arrived on an open channel.
    virtual void handleMessage(Connection &connection, std::uint32_t requestId, const QByteArray &body) = 0;
    virtual void connectionClosed(Connection &connection) = 0;
    virtual qint64 nowMs() const = 0;
    virtual std::uint32_t newChannelId() = 0;
    virtual bool comTraceEnabled() const = 0;
    virtual void comTrace(const QString &line) = 0;
    virtual void connectTrace(const QString &line) = 0;
};

class Connection {
public:
    Connection(MessageHandler &handler, const TransportLimits &limits);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    std::function<void(const QByteArray &)> onSend;
    std::function<void()> onClose;

    void receive(const char *data, std::size_t size);
    void receive(const QByteArray &bytes) { receive(bytes.constData(), std::size_t(bytes.size())); }
    // Time-outs: no Hello, no channel, or a security token left to expire.
    void tick();

    // Sends a response body (type NodeId and structure) as one or more chunks. When it
    // exceeds what the client accepts, a ServiceFault BadResponseTooLarge goes instead.
    void sendResponse(std::uint32_t requestId, std::uint32_t requestHandle, const QByteArray &body);
    // Sends an Error message and closes.
    void fail(StatusCode status, const QString &reason);
    void close();

    bool isClosed() const { return state_ == State::Closed; }
    bool channelOpen() const { return state_ == State::ChannelOpen; }
    std::uint32_t channelId() const { return channelId_; }
    const QString &helloEndpointUrl() const { return endpointUrl_; }
    const TransportLimits &limits() const { return limits_; }
    std::uint32_t maxResponseSize() const { return peerMaxMessageSize_; }
    QString peer; // for trace lines, set by the owner

private:
    enum class State { AwaitHello, AwaitOpen, ChannelOpen, Closed };

    void processFrame(const char *frame, std::uint32_t size);
    void onHello(Decoder &d);
    void sendFrame(const QByteArray &frame);

    // Secure channel (UaSecureChannel.cpp).
    void onOpen(const char *frame, std::uint32_t size);
    void onSymmetric(const char *frame, std::uint32_t size, bool close);
    bool checkSequence(std::uint32_t sequenceNumber);
    void sendChunks(const char type[3], std::uint32_t requestId, std::uint32_t tokenId, const QByteArray &body);
    void sendServiceFault(std::uint32_t requestId, std::uint32_t requestHandle, StatusCode status);

    MessageHandler &handler_;
    TransportLimits limits_;
    State state_ = State::AwaitHello;
    QByteArray input_;
    qsizetype inputOffset_ = 0;
    bool receiving_ = false;
    qint64 openedAt_ = 0;

    // Negotiated by Hello / Acknowledge.
    std::uint32_t receiveBufferSize_ = 8192;
    std::uint32_t sendBufferSize_ = 8192;
    std::uint32_t peerMaxMessageSize_ = 0; // 0: no limit
    std::uint32_t peerMaxChunkCount_ = 0;
    QString endpointUrl_;

    // Secure channel.
    std::unique_ptr<SecurityPolicy> policy_;
    std::uint32_t channelId_ = 0;
    std::uint32_t tokenId_ = 0, previousTokenId_ = 0;
    qint64 tokenCreatedMs_ = 0, previousTokenExpiresMs_ = 0;
    std::uint32_t tokenLifetimeMs_ = 0;
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

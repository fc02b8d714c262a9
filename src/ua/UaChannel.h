#pragma once
#include "ua/UaSecurity.h"

#include <QByteArray>
#include <QString>

class Clock;

// The meeting point of transports and services. A transport makes Channels (opc.tcp:
// Connection) and hands them to the server core, which serves the requests they
// deliver; the core is the channels' ChannelHost.
namespace Ua {

class Channel {
public:
    virtual ~Channel() = default;

    virtual std::uint32_t channelId() const = 0; // 0 until a secure channel is open
    virtual SecurityMode securityMode() const = 0;
    virtual QString securityPolicyUri() const = 0;
    virtual const QString &peer() const = 0;        // for trace lines
    virtual const QString &endpointUrl() const = 0; // the URL the client asked for
    virtual bool isClosed() const = 0;

    // Sends a response body (type NodeId and structure). One larger than the peer
    // accepts goes as a ServiceFault BadResponseTooLarge instead.
    virtual void sendResponse(std::uint32_t requestId, std::uint32_t requestHandle, const QByteArray &body) = 0;
    // The channel's own time-outs.
    virtual void tick() = 0;
    // Ends the channel and tells the peer why.
    virtual void fail(StatusCode status, const QString &reason) = 0;
    // Ends the channel without a word to the peer (gone already).
    virtual void close() = 0;
};

class ChannelHost {
public:
    virtual ~ChannelHost() = default;
    // One complete request (type NodeId and body) arrived on an open channel.
    virtual void handleMessage(Channel &channel, std::uint32_t requestId, const QByteArray &body) = 0;
    virtual void channelClosed(Channel &channel) = 0;
    virtual std::uint32_t newChannelId() = 0;
    virtual const Clock &clock() const = 0;
    // The policy of that URI when an endpoint offers it (with some mode), else nullptr.
    virtual const SecurityPolicy *securityPolicy(const QString &uri) const = 0;
    // Whether an endpoint offers that policy with that mode.
    virtual bool offers(const QString &policyUri, SecurityMode mode) const = 0;
    virtual bool comTraceEnabled() const = 0;
    virtual void comTrace(const QString &line) = 0;
    virtual void connectTrace(const QString &line) = 0;
};

} // namespace Ua

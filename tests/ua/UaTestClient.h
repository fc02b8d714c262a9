#pragma once
#include "ua/UaConnection.h"
#include "ua/UaNodeIds.h"
#include "ua/UaStructures.h"

#include <QByteArray>
#include <QTcpSocket>
#include <deque>
#include <memory>

// The client side of opc.tcp, just enough to drive the server in tests: frames are
// built and parsed here, and travel either straight into a Ua::Connection
// (MemoryPeer) or over a loopback socket (SocketPeer).
class UaTestPeer {
public:
    virtual ~UaTestPeer() = default;
    virtual void sendBytes(const QByteArray &bytes) = 0;
    // The next complete frame from the server; empty when none came in time.
    virtual QByteArray nextFrame(int timeoutMs = 3000) = 0;
    virtual bool closedByServer(int timeoutMs = 3000) = 0;

    static QByteArray helloFrame(std::uint32_t receiveBuffer = 65536, std::uint32_t sendBuffer = 65536,
                                 std::uint32_t maxMessage = 0, std::uint32_t maxChunks = 0,
                                 const QString &url = QStringLiteral("opc.tcp://localhost:4840"));
    static QString frameType(const QByteArray &frame) { return QString::fromLatin1(frame.left(4)); }
    // Status code of an ERR frame (0 when the frame is something else).
    static Ua::StatusCode errorStatus(const QByteArray &frame);

    // Hello, Acknowledge and OpenSecureChannel; false when any step fails.
    bool hello(std::uint32_t receiveBuffer = 65536, std::uint32_t sendBuffer = 65536, std::uint32_t maxMessage = 0,
               std::uint32_t maxChunks = 0);
    QByteArray openFrame(std::int32_t requestType, std::uint32_t lifetime, std::uint32_t channelId);
    bool openChannel(std::uint32_t lifetime = 600000);
    bool renewChannel(std::uint32_t lifetime = 600000);

    // Sends a message body in chunks of at most chunkBody bytes (0: one chunk).
    std::uint32_t sendMessage(const QByteArray &body, std::size_t chunkBody = 0, const char *type = "MSG");
    // The reassembled body of the response to requestId; empty on error or time-out.
    QByteArray receiveMessage(std::uint32_t requestId, int timeoutMs = 5000);
    QByteArray symmetricChunk(char chunkType, std::uint32_t requestId, const QByteArray &body,
                              const char *type = "MSG");

    struct Reply {
        bool ok = false;          // a response arrived and decoded
        Ua::StatusCode fault = 0; // ServiceFault status, 0 otherwise
        Ua::NodeId typeId;
    };
    template <class Req, class Resp> Reply call(Req &request, Resp &response, std::size_t chunkBody = 0)
    {
        request.requestHeader.authenticationToken = authenticationToken;
        request.requestHeader.requestHandle = ++requestHandle;
        request.requestHeader.timeoutHint = 10000;
        QByteArray body;
        Ua::Encoder e(body);
        Ua::encodeMessage(e, request);
        const QByteArray answer = receiveMessage(sendMessage(body, chunkBody));
        Reply reply;
        if (answer.isEmpty())
            return reply;
        try {
            Ua::Decoder d(answer);
            reply.typeId = Ua::decodeNodeId(d);
            if (reply.typeId.isNumeric(Ua::Id::ServiceFault_Binary)) {
                Ua::ServiceFault fault;
                Ua::decodeInto(d, fault);
                reply.fault = fault.responseHeader.serviceResult;
                reply.ok = fault.responseHeader.requestHandle == requestHandle;
                return reply;
            }
            if (!reply.typeId.isNumeric(Resp::desc().binaryEncodingId))
                return reply;
            Ua::decodeInto(d, response);
            reply.ok = d.atEnd() && response.responseHeader.requestHandle == requestHandle;
        } catch (const Ua::CodecError &) {
        }
        return reply;
    }

    // CreateSession and ActivateSession (anonymous); false when either fails.
    bool createSession(double timeoutMs = 60000, Ua::StatusCode *fault = nullptr);
    bool activateSession(Ua::StatusCode *fault = nullptr);
    bool session(double timeoutMs = 60000) { return createSession(timeoutMs) && activateSession(); }
    bool closeSession();

    std::uint32_t channelId = 0;
    std::uint32_t tokenId = 0;
    std::uint32_t sequence = 1;
    std::uint32_t nextRequestId = 1;
    std::uint32_t requestHandle = 0;
    std::uint32_t sendBufferSize = 65536; // as acknowledged by the server
    std::uint32_t receiveBufferSize = 65536;
    std::uint32_t serverMaxMessage = 0;
    std::uint32_t serverMaxChunks = 0;
    Ua::NodeId authenticationToken;
    Ua::NodeId sessionId;
};

class MemoryPeer : public UaTestPeer {
public:
    explicit MemoryPeer(Ua::Connection &connection);
    void sendBytes(const QByteArray &bytes) override { connection_.receive(bytes); }
    QByteArray nextFrame(int timeoutMs = 0) override;
    bool closedByServer(int = 0) override { return closed_; }
    QByteArray &output() { return output_; }

private:
    Ua::Connection &connection_;
    QByteArray output_;
    bool closed_ = false;
};

class SocketPeer : public UaTestPeer {
public:
    explicit SocketPeer(quint16 port);
    bool connected() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    void sendBytes(const QByteArray &bytes) override;
    QByteArray nextFrame(int timeoutMs = 3000) override;
    bool closedByServer(int timeoutMs = 3000) override;
    QTcpSocket &socket() { return socket_; }

private:
    QTcpSocket socket_;
    QByteArray input_;
};

#pragma once
#include "security/Certificate.h"
#include "security/SecurityPolicy.h"
#include "ua/UaConnection.h"
#include "ua/UaStructures.h"

#include <QByteArray>
#include <map>

// The client side of opc.tcp, just enough to drive the server in tests and the fuzzer, built on our own encoder
// (which the golden vectors pin down). Frames travel either straight into a Ua::Connection (MemoryPeer) or over a
// loopback socket (SocketPeer, in the transport tests).
class UaTestPeer {
public:
    virtual ~UaTestPeer() = default;
    virtual void sendBytes(const QByteArray &bytes) = 0;
    virtual QByteArray nextFrame() = 0; // the next complete frame from the server; empty when none came in time
    virtual bool closedByServer() = 0;

    static QByteArray helloFrame(std::uint32_t receiveBuffer = 65536, std::uint32_t sendBuffer = 65536,
                                 std::uint32_t maxMessage = 0);
    // The size of the first frame in buffer when it is complete, else 0.
    static qsizetype completeFrame(const QByteArray &buffer);
    // Status code of an ERR frame (0 when the frame is something else).
    static Ua::StatusCode errorStatus(const QByteArray &frame);

    bool hello(std::uint32_t receiveBuffer = 65536, std::uint32_t sendBuffer = 65536, std::uint32_t maxMessage = 0);
    QByteArray openFrame(std::int32_t requestType, std::uint32_t channel);
    bool openChannel(std::int32_t requestType = 0); // 0 issue, 1 renew
    // One symmetric chunk as it goes on the wire.
    QByteArray chunk(char chunkType, std::uint32_t requestId, const QByteArray &body, const char *type = "MSG");
    // Sends a message body in chunks of at most chunkBody bytes (0: as large as the server takes).
    std::uint32_t sendMessage(const QByteArray &body, std::size_t chunkBody = 0, const char *type = "MSG");
    // The reassembled body of the response to requestId; empty on error or time-out.
    QByteArray receiveMessage(std::uint32_t requestId);

    struct Reply {
        bool ok = false;          // a response to the request arrived and decoded
        Ua::StatusCode fault = 0; // ServiceFault status, 0 otherwise
    };
    template <class Req> std::uint32_t send(Req &request, std::size_t chunkBody = 0)
    {
        request.requestHeader.authenticationToken = authenticationToken;
        request.requestHeader.requestHandle = ++requestHandle;
        if (!request.requestHeader.timeoutHint)
            request.requestHeader.timeoutHint = 10000;
        QByteArray body;
        Ua::Encoder e(body);
        Ua::encodeMessage(e, request);
        const std::uint32_t id = sendMessage(body, chunkBody);
        handles_[id] = requestHandle;
        return id;
    }
    template <class Resp> Reply receive(std::uint32_t requestId, Resp &response)
    {
        return decodeReply(requestId, &Resp::desc(), &response);
    }
    template <class Req, class Resp> Reply call(Req &request, Resp &response, std::size_t chunkBody = 0)
    {
        return receive(send(request, chunkBody), response);
    }
    // The fault a request is answered with: Good for a response, BadCommunicationError for no answer.
    template <class Req> Ua::StatusCode faultOf(Req request)
    {
        const Reply r = decodeReply(send(request), nullptr, nullptr);
        return r.ok ? r.fault : Ua::Status::BadCommunicationError;
    }

    // CreateSession (as the client application of that URI) and ActivateSession
    // (anonymous); the fault, Good when it worked.
    QString applicationUri = QStringLiteral("urn:test:client");
    Ua::StatusCode createSession(double timeoutMs = 60000);
    Ua::StatusCode activateSession();
    bool session(double timeoutMs = 60000) { return !createSession(timeoutMs) && !activateSession(); }

    // Reads and writes; empty results when the request failed.
    Ua::ReadResponse read(const std::vector<Ua::ReadValueId> &ids, std::int32_t timestamps = 2);
    Ua::DataValue read(const Ua::NodeId &id, std::uint32_t attribute = Ua::Attr::Value);
    Ua::StatusCode write(const Ua::NodeId &id, const Ua::Variant &v, std::uint32_t attribute = Ua::Attr::Value);

    // A secured channel, when policy is set: our key and certificate, the server's, the current token's keys.
    struct Secure {
        const Security::SecurityPolicy *policy = nullptr;
        Security::SecurityMode mode = Security::SecurityMode::SignAndEncrypt;
        Security::RsaKey key;
        QByteArray certificate; // DER, with the application URI "urn:test:client"
        Security::RsaKey serverKey;
        QByteArray serverCertificate, serverThumbprint;
        QByteArray clientNonce, sessionNonce;
        Security::ChannelKeys keys;
    } secure;
    // Secures the channel to come with that policy and mode, our key and certificate,
    // for the server that holds serverCertificate.
    void useSecurity(const Security::SecurityPolicy *policy, Security::SecurityMode mode, const Security::RsaKey &key,
                     const Security::Certificate &certificate, const Security::Certificate &serverCertificate);
    // A self-signed client certificate for "urn:test:client", valid now.
    static Security::Certificate clientCertificate(const QString &name, const Security::RsaKey &key);

    std::uint32_t channelId = 0, tokenId = 0, sequence = 1, nextRequestId = 1, requestHandle = 0;
    std::uint32_t sendBufferSize = 65536, receiveBufferSize = 65536; // as acknowledged by the server
    std::uint32_t serverMaxMessage = 0, serverMaxChunks = 0;
    Ua::NodeId authenticationToken;

private:
    // The response to that request, decoded when it has that type (any type: only its header).
    Reply decodeReply(std::uint32_t requestId, const Ua::TypeDesc *type, void *response);
    std::map<std::uint32_t, std::uint32_t> handles_; // request id -> request handle
};

class MemoryPeer : public UaTestPeer {
public:
    explicit MemoryPeer(Ua::Connection &connection);
    void sendBytes(const QByteArray &bytes) override { connection.receive(bytes); }
    QByteArray nextFrame() override;
    bool closedByServer() override { return closed; }
    bool frameWaiting() const;

    Ua::Connection &connection;
    QByteArray output;
    bool closed = false;
};

inline Ua::ReadValueId readId(const Ua::NodeId &id, std::uint32_t attribute = Ua::Attr::Value)
{
    return Ua::ReadValueId{id, attribute, {}, {}};
}

inline Ua::NodeId item(const char *id) { return Ua::NodeId(1, QString::fromLatin1(id)); }

// Arbitrary bytes as what one client sends to the OPC UA server, without sockets, in
// the clear or secured (the input's layout is in README.md); nothing may crash or leak.
#include "FuzzCheck.h"
#include "UaTestClient.h"
#include "common/Clock.h"
#include "opc/OPCServer.h"
#include "ua/UaSecuritySetup.h"
#include "ua/UaServerCore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdint>

using namespace Ua;

namespace {

struct World {
    World()
    {
        server.MinUpdatePeriod = 0; // every subscription is due at every cycle
        server.ProgID = QStringLiteral("QUARLEN.KV7.1");
        const auto add = [this](const QString &id, auto rights, const ::Variant &value) {
            server.Tags().Add(id, rights, value, Quality::Good);
        };
        add("C01.ComError", AccessRights::Read, ::Variant(false));
        add("C01.Z1.State", AccessRights::Read, ::Variant(std::uint8_t(1)));
        add("C01.Z1.G1.Gas", AccessRights::ReadWrite, ::Variant(QStringLiteral("CO")));
        add("C01.Z1.D1.Measure", AccessRights::ReadWrite, ::Variant(1.5f));
        add("C01.Z1.D1.Count", AccessRights::ReadWrite, ::Variant(std::int16_t(3)));
        for (int k = 0; k < 30; ++k)
            add(QStringLiteral("C02.I%1").arg(k), AccessRights::Read, ::Variant(std::int32_t(k)));
        server.setServerState(ServerStates::Running);
        config.endpointUrl = QStringLiteral("opc.tcp://fuzz:4840");
        config.applicationUri = QStringLiteral("urn:fuzz:QUARLEN.KV7.1");
        config.namespaceUri = QStringLiteral("urn:QUARLEN.KV7.1");
        config.transport.receiveBufferSize = config.transport.sendBufferSize = 8192;
        config.transport.maxMessageSize = 1 << 16;
        config.transport.maxChunkCount = 16;
        config.transport.decode.maxStringLength = 4096;
        config.transport.decode.maxArrayLength = 1000;
        config.maxSessions = 4;
        config.maxContinuationPoints = 2;
        config.maxNodesPerRequest = 500;
        config.minPublishingIntervalMs = 0;
        config.maxMonitoredItemsPerSession = 200;

        // Our PKI, trusting every client, and every policy in both modes after None; the
        // users stay anonymous.
        SecuritySettings settings;
        settings.applicationFolder = pkiFolder.path();
        settings.autoTrust = QStringLiteral("1");
        settings.identity.applicationUri = config.applicationUri;
        check(configureSecurity(config, settings).isEmpty());
        config.accessControl = std::make_shared<UserAccess>();
    }
    // Sets a client up to secure its channel with one of the offered secure policies.
    void secure(UaTestPeer &client, unsigned pick) const
    {
        const SecurityOffer &offer = config.security[1 + pick % (config.security.size() - 1)];
        client.useSecurity(Security::findSecurityPolicy(offer.policy->uri()), Security::SecurityMode(int(offer.mode)),
                           clientKey, clientCert, *Security::Certificate::fromDer(offer.policy->certificate()));
    }
    int argc = 1;
    char name[8] = "fuzz_ua";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv}; // the publishing timer needs one; it never runs here
    OPCServer server;
    ServerConfig config;
    ManualClock clock;
    QTemporaryDir pkiFolder;
    Security::RsaKey clientKey = Security::RsaKey::generate(2048);
    Security::Certificate clientCert = UaTestPeer::clientCertificate(QStringLiteral("fuzz client"), clientKey);
};

// Every request the server answers, by its encoding id, and one it does not know.
struct UnknownRequest {
    static constexpr std::uint32_t binaryEncodingId = 9999;
};
template <class... Request> constexpr std::uint32_t encodingIds[] = {Request::binaryEncodingId...};
constexpr auto &Services =
    encodingIds<ReadRequest, WriteRequest, BrowseRequest, BrowseNextRequest, TranslateBrowsePathsToNodeIdsRequest,
                RegisterNodesRequest, UnregisterNodesRequest, GetEndpointsRequest, FindServersRequest,
                CreateSessionRequest, ActivateSessionRequest, CloseSessionRequest, CancelRequest,
                CreateSubscriptionRequest, PublishRequest, UnknownRequest, ModifySubscriptionRequest,
                SetPublishingModeRequest, RepublishRequest, DeleteSubscriptionsRequest, CreateMonitoredItemsRequest,
                ModifyMonitoredItemsRequest, SetMonitoringModeRequest, DeleteMonitoredItemsRequest,
                TransferSubscriptionsRequest, SetTriggeringRequest, CallRequest>;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static World world;
    if (size == 0)
        return 0;
    const int clientsBefore = world.server.clientCount();
    {
        ServerCore core(world.server, world.config, {}, world.clock);
        core.start();
        auto connection = std::make_unique<Connection>(core, world.config.transport, QStringLiteral("fuzz"));
        MemoryPeer client(*connection);
        core.addChannel(std::move(connection));
        const char *rest = reinterpret_cast<const char *>(data + 1);
        const std::size_t restSize = size - 1;

        const bool secured = data[0] & 2;
        if (secured)
            world.secure(client, data[0] >> 2);
        if ((data[0] & 0x23) == 0x22) {
            // An OpenSecureChannel chunk whose secured part is the input.
            check(client.hello(8192, 8192));
            QByteArray open;
            Encoder e(open);
            e.raw("OPNF", 4);
            e.u32(0);
            e.u32(0);
            e.string(client.secure.policy->uri);
            e.byteString(client.secure.certificate);
            e.byteString(client.secure.serverThumbprint);
            e.raw(rest, std::min<std::size_t>(restSize, 8000 - std::size_t(open.size())));
            e.patchU32(4, std::uint32_t(open.size()));
            client.sendBytes(open);
        } else if (data[0] & 1) {
            const std::size_t piece = std::size_t(data[0] >> 1) + 1;
            for (std::size_t at = 0; at < restSize && !client.closed; at += piece) {
                client.connection.receive(rest + at, std::min(piece, restSize - at));
                client.output.clear(); // only what comes next matters; memory stays flat
            }
        } else {
            check(client.hello(8192, 8192) && client.openChannel() && client.session() &&
                  world.server.clientCount() == clientsBefore + 1);
            for (std::size_t at = 0; at + 3 <= restSize && !client.closed;) {
                const std::uint32_t service = Services[std::uint8_t(rest[at]) % std::size(Services)];
                const std::size_t length = std::min<std::size_t>(
                    std::uint8_t(rest[at + 1]) | (std::size_t(std::uint8_t(rest[at + 2])) << 8), restSize - at - 3);
                RequestHeader header;
                header.authenticationToken = client.authenticationToken;
                header.requestHandle = ++client.requestHandle;
                QByteArray body;
                Encoder e(body);
                encodeNodeId(e, NodeId(0, service));
                encodeStructure(e, RequestHeader::desc(), &header);
                e.raw(rest + at + 3, length);
                if (secured && length % 7 == 0) {
                    // A chunk changed on the way: the channel ends, nothing of it is served.
                    QByteArray chunk = client.chunk('F', client.nextRequestId++, body);
                    chunk[chunk.size() - 1 - qsizetype(length % std::size_t(chunk.size() - 16))] ^= 0x10;
                    client.sendBytes(chunk);
                    check(client.closed);
                } else {
                    client.sendMessage(body);
                }
                client.output.clear();
                at += 3 + length;
                OPCItem *measure = world.server.Tags().Item(QStringLiteral("C01.Z1.D1.Measure"));
                measure->SetVQT(::Variant(float(length % 17)), (length & 8) ? Quality::Good : Quality::Bad);
                if (length % 13 == 0)
                    world.server.setServerState(world.server.ServerState() == ServerStates::Running
                                                    ? ServerStates::Suspended
                                                    : ServerStates::Running);
                world.clock.advance(10);
                core.tick();
                core.runSubscriptions();
            }
        }
        core.stop();
        check(core.sessionCount() == 0 && core.subscriptionCount() == 0 && core.monitoredItemCount() == 0);
        world.server.setServerState(ServerStates::Running);
    }
    check(world.server.clientCount() == clientsBefore);
    return 0;
}

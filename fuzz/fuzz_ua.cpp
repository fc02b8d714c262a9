// Arbitrary bytes as what one client sends to the OPC UA server, through the
// connection protocol, the secure channel, the decoders and the services, without
// sockets. The first byte picks how the input is used:
//   odd:  the whole rest is the raw byte stream, pushed in pieces of (byte >> 1) + 1
//         bytes, starting from a fresh connection;
//   even: a channel and an activated session are set up first, then the rest is a
//         sequence of requests [service index][length, 2 bytes][body after the
//         RequestHeader], each sent with a valid header for the session.
// Between requests an item changes (and now and then the server state), and the
// publishing cycle runs, so that data changes, keep-alives and lifetimes are
// exercised without an event loop; the clock moves a publishing interval each time.
// After every input the server is stopped: every session must have been reported to
// the toolkit as gone, and nothing may leak.
#include "UaTestClient.h"
#include "common/Clock.h"
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>

using namespace Ua;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct World {
    World()
    {
        server.MinUpdatePeriod = 0; // every subscription is due at every cycle
        server.ProgID = QStringLiteral("QUARLEN.KV7.1");
        auto &tags = server.Tags();
        tags.Add(QStringLiteral("C01.ComError"), AccessRights::Read, ::Variant(false), Quality::Good);
        tags.Add(QStringLiteral("C01.Z1.State"), AccessRights::Read, ::Variant(std::uint8_t(1)), Quality::Good);
        tags.Add(QStringLiteral("C01.Z1.G1.Gas"), AccessRights::ReadWrite, ::Variant(QStringLiteral("CO")),
                 Quality::Good);
        tags.Add(QStringLiteral("C01.Z1.D1.Measure"), AccessRights::ReadWrite, ::Variant(1.5f), Quality::Good);
        tags.Add(QStringLiteral("C01.Z1.D1.Count"), AccessRights::ReadWrite, ::Variant(std::int16_t(3)), Quality::Good);
        for (int k = 0; k < 30; ++k)
            tags.Add(QStringLiteral("C02.I%1").arg(k), AccessRights::Read, ::Variant(std::int32_t(k)), Quality::Good);
        server.setServerState(ServerStates::Running);
        config.endpointUrl = QStringLiteral("opc.tcp://fuzz:4840");
        config.applicationUri = QStringLiteral("urn:fuzz:QUARLEN.KV7.1");
        config.namespaceUri = QStringLiteral("urn:QUARLEN.KV7.1");
        config.transport.receiveBufferSize = 8192;
        config.transport.sendBufferSize = 8192;
        config.transport.maxMessageSize = 1 << 16;
        config.transport.maxChunkCount = 16;
        config.transport.decode.maxStringLength = 4096;
        config.transport.decode.maxArrayLength = 1000;
        config.maxSessions = 4;
        config.maxContinuationPoints = 2;
        config.maxNodesPerRequest = 500;
        config.minPublishingIntervalMs = 0;
        config.maxMonitoredItemsPerSession = 200;
    }
    int argc = 1;
    char name[8] = "fuzz_ua";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv}; // the publishing timer needs one; it never runs here
    OPCServer server;
    ServerConfig config;
    ManualClock clock;
};

const std::uint32_t Services[] = {
    Id::ReadRequest_Binary,
    Id::WriteRequest_Binary,
    Id::BrowseRequest_Binary,
    Id::BrowseNextRequest_Binary,
    Id::TranslateBrowsePathsToNodeIdsRequest_Binary,
    Id::RegisterNodesRequest_Binary,
    Id::UnregisterNodesRequest_Binary,
    Id::GetEndpointsRequest_Binary,
    Id::FindServersRequest_Binary,
    Id::CreateSessionRequest_Binary,
    Id::ActivateSessionRequest_Binary,
    Id::CloseSessionRequest_Binary,
    Id::CancelRequest_Binary,
    Id::CreateSubscriptionRequest_Binary,
    Id::PublishRequest_Binary,
    9999,
    Id::ModifySubscriptionRequest_Binary,
    Id::SetPublishingModeRequest_Binary,
    Id::RepublishRequest_Binary,
    Id::DeleteSubscriptionsRequest_Binary,
    Id::CreateMonitoredItemsRequest_Binary,
    Id::ModifyMonitoredItemsRequest_Binary,
    Id::SetMonitoringModeRequest_Binary,
    Id::DeleteMonitoredItemsRequest_Binary,
    Id::TransferSubscriptionsRequest_Binary,
    Id::SetTriggeringRequest_Binary,
};

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

        if (data[0] & 1) {
            const std::size_t piece = std::size_t(data[0] >> 1) + 1;
            for (std::size_t at = 0; at < restSize && !client.closed; at += piece) {
                client.connection.receive(rest + at, std::min(piece, restSize - at));
                client.output.clear(); // only what comes next matters; memory stays flat
            }
        } else {
            check(client.hello(8192, 8192) && client.openChannel() && client.session());
            check(world.server.clientCount() == clientsBefore + 1);
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
                client.sendMessage(body);
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
        check(core.sessionCount() == 0);
        check(core.subscriptionCount() == 0 && core.monitoredItemCount() == 0);
        world.server.setServerState(ServerStates::Running);
    }
    check(world.server.clientCount() == clientsBefore);
    return 0;
}

#pragma once
#include "UaTestClient.h"
#include "common/Error.h"

#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"
#include <gtest/gtest.h>

#include <memory>
#include <vector>

// A toolkit with a small panel-like item set and the UA server core on top of it,
// reached through in-memory connections.
struct UaCore {
    OPCServer server;
    Ua::ServerConfig config;
    std::unique_ptr<Ua::ServerCore> core;
    std::vector<std::unique_ptr<MemoryPeer>> peers;
    std::vector<QString> traces;

    UaCore()
    {
        server.ProgID = QStringLiteral("QUARLEN.KV7.1");
        server.ServerName = QStringLiteral("OPC-KV7");
        config.endpointUrl = QStringLiteral("opc.tcp://testhost:4840");
        config.applicationUri = QStringLiteral("urn:testhost:QUARLEN.KV7.1");
        config.productUri = QStringLiteral("urn:QUARLEN:OPC-KV7");
        config.namespaceUri = QStringLiteral("urn:QUARLEN.KV7.1");
        server.OnTraceMessage = [this](const QString &line) { traces.push_back(line); };
    }
    ~UaCore()
    {
        // The core says goodbye to its connections, so the peers must still listen.
        core.reset();
        peers.clear();
    }

    void addPanelItems(int bigFolderItems = 0)
    {
        auto &tags = server.Tags();
        tags.Add(QStringLiteral("C01.ComError"), AccessRights::Read, Variant(false), Quality::Good);
        tags.Add(QStringLiteral("C01.Panel"), AccessRights::Read, Variant(std::int16_t(7)), Quality::Good);
        tags.Add(QStringLiteral("C01.Z1.State"), AccessRights::Read, Variant(std::uint8_t(3)), Quality::Good);
        tags.Add(QStringLiteral("C01.Z1.G1.Gas"), AccessRights::Read, Variant(QStringLiteral("CO")), Quality::Good);
        tags.Add(QStringLiteral("C01.Z1.D1.Measure"), AccessRights::ReadWrite, Variant(1.25f), Quality::Good);
        tags.Add(QStringLiteral("Test.Int"), AccessRights::ReadWrite, Variant(std::int16_t(0)), Quality::Good);
        tags.Add(QStringLiteral("Test.Long"), AccessRights::ReadWrite, Variant(std::int32_t(0)), Quality::Good);
        tags.Add(QStringLiteral("Test.Byte"), AccessRights::ReadWrite, Variant(std::uint8_t(0)), Quality::Good);
        tags.Add(QStringLiteral("Test.Dbl"), AccessRights::ReadWrite, Variant(0.5), Quality::Good);
        tags.Add(QStringLiteral("Test.Cur"), AccessRights::ReadWrite, Variant(Currency{12345}), Quality::Good);
        tags.Add(QStringLiteral("Test.Date"), AccessRights::ReadWrite,
                 Variant(QDateTime::fromString(QStringLiteral("2020-01-02T03:04:05Z"), Qt::ISODate)), Quality::Good);
        tags.Add(QStringLiteral("Test.Str"), AccessRights::ReadWrite, Variant(QStringLiteral("text")), Quality::Good);
        tags.Add(QStringLiteral("Test.Bool"), AccessRights::ReadWrite, Variant(true), Quality::Good);
        tags.Add(QStringLiteral("Test.WriteOnly"), AccessRights::Write, Variant(std::int32_t(5)), Quality::Good);
        for (int k = 0; k < bigFolderItems; ++k)
            tags.Add(QStringLiteral("Big.I%1").arg(k, 4, 10, QLatin1Char('0')), AccessRights::Read,
                     Variant(std::int32_t(k)), Quality::Good);
    }

    void start()
    {
        core = std::make_unique<Ua::ServerCore>(
            server, config, [](const OPCItem &item) { return QStringLiteral("Description of ") + item.ItemID(); });
        core->start();
        server.setServerState(ServerStates::Running);
    }

    MemoryPeer &connect()
    {
        Ua::Connection *c = core->addConnection(QStringLiteral("memory"));
        peers.push_back(std::make_unique<MemoryPeer>(*c));
        return *peers.back();
    }

    // A connection with an open channel and an activated session.
    MemoryPeer &client()
    {
        MemoryPeer &p = connect();
        const bool ok = p.hello() && p.openChannel() && p.session();
        EXPECT_TRUE(ok);
        return p;
    }
};

inline Ua::ReadValueId readId(const Ua::NodeId &id, std::uint32_t attribute = 13)
{
    Ua::ReadValueId r;
    r.nodeId = id;
    r.attributeId = attribute;
    return r;
}

inline Ua::NodeId item(const char *id) { return Ua::NodeId(1, QString::fromLatin1(id)); }

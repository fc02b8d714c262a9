#pragma once
#include "TestSupport.h"
#include "UaTestClient.h"
#include "common/Error.h"

#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"
#include <QJsonArray>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

// The response to a request that must be answered without a fault.
template <class Resp, class Req> Resp ask(UaTestPeer &p, Req request)
{
    Resp response;
    const UaTestPeer::Reply reply = p.call(request, response);
    EXPECT_TRUE(reply.ok && !reply.fault) << Ua::statusName(reply.fault);
    return response;
}

// The rows of a table of literal inputs and what they must give, from UaCases.json beside these tests.
inline QJsonArray uaCases(const char *table)
{
    const QJsonArray rows = sourceJson(QStringLiteral("tests/ua/UaCases.json"))[QLatin1String(table)].toArray();
    EXPECT_FALSE(rows.isEmpty()) << table;
    return rows;
}
// A NodeId in the form of its trace lines: "i=2253", "ns=1;s=C01.Panel", "ns=3;b=/w==" (base64).
inline Ua::NodeId nodeIdOf(const QJsonValue &v)
{
    const QString text = v.toString(), id = text.section(u';', -1);
    const auto ns = std::uint16_t(text.startsWith(QLatin1String("ns=")) ? text.section(u';', 0, 0).mid(3).toUInt() : 0);
    if (id.startsWith(u's'))
        return Ua::NodeId(ns, id.mid(2));
    return id.startsWith(u'b') ? Ua::NodeId::ofBytes(ns, QByteArray::fromBase64(id.mid(2).toLatin1()))
                               : Ua::NodeId(ns, id.mid(2).toUInt());
}
// A UA value written as [type, value]: ["Int16", 7], ["String", null] (the null String), ["Int16", [1, 2]]
// (an array), ["NodeId", "i=4"], ["QualifiedName", "1:Name"], ["DateTime", "2020-01-02T03:04:05Z"]; [] for none.
inline Ua::Variant uaValueOf(const QJsonValue &v)
{
    using Ua::BuiltinType, Ua::Variant;
    static const QStringList types =
        QStringLiteral("Boolean SByte Byte Int16 UInt16 Int32 UInt32 Int64 UInt64 Float Double "
                       "String DateTime Guid ByteString XmlElement NodeId ExpandedNodeId "
                       "StatusCode QualifiedName LocalizedText")
            .split(u' ');
    const auto type = BuiltinType(types.indexOf(v[0].toString()) + 1);
    const QJsonValue x = v[1];
    const QString text = x.isNull() ? QString() : x.toString() + QStringLiteral(""); // "" stays the empty String
    if (x.isArray()) {
        std::vector<Variant> elements;
        for (const QJsonValue &e : x.toArray())
            elements.push_back(uaValueOf(QJsonArray{v[0], e}));
        return Variant::array(type, elements);
    }
    switch (type) {
    case BuiltinType::Null: return {};
    case BuiltinType::Float:
    case BuiltinType::Double: return Variant::real(type, x.toDouble());
    case BuiltinType::String: return Variant::string(text);
    case BuiltinType::DateTime: return Variant::dateTime(Ua::toDateTime(QDateTime::fromString(text, Qt::ISODate)));
    case BuiltinType::ByteString: return Variant::byteString(x.isNull() ? QByteArray() : text.toLatin1());
    case BuiltinType::NodeId: return Variant::nodeId(nodeIdOf(x));
    case BuiltinType::QualifiedName:
        return Variant::qualifiedName({std::uint16_t(text.section(u':', 0, 0).toUInt()), text.section(u':', 1)});
    case BuiltinType::LocalizedText: return Variant::localizedText({{}, text});
    default: return Variant::integer(type, x.toVariant().toLongLong());
    }
}
inline std::string str(const QJsonValue &v) { return v.toString().toStdString(); }

using Codes = std::vector<Ua::StatusCode>;
// The status of each result (DataValues: their status).
template <class R> Codes statuses(const std::vector<R> &results)
{
    Codes s;
    for (const R &r : results)
        if constexpr (std::is_same_v<R, Ua::DataValue>)
            s.push_back(r.status);
        else
            s.push_back(r.statusCode);
    return s;
}

// Users named by their UserName token's body (an empty name is refused); "nobody"
// may do nothing with items, everyone else only read them.
struct NamedUsers final : Ua::AccessControl {
    std::vector<Ua::UserTokenPolicy> userTokenPolicies(const QString &) const override
    {
        return {Ua::UserTokenPolicy{QStringLiteral("names"), 1, {}, {}, {}}};
    }
    Ua::StatusCode activateSession(const Ua::IdentityRequest &r, Ua::UserIdentity &user) const override
    {
        user = {1, QString::fromLatin1(r.token.body)};
        return user.name.isEmpty() ? Ua::Status::BadIdentityTokenRejected : Ua::Status::Good;
    }
    std::uint8_t userAccessLevel(const Ua::UserIdentity &user, const OPCItem &, std::uint8_t level) const override
    {
        return user.name == QLatin1String("nobody") ? 0 : level & Ua::AccessLevel::CurrentRead;
    }
};

// A toolkit with a small panel-like item set and the UA server core on top of it,
// reached through in-memory connections, its time on a manual clock.
struct UaCore {
    OPCServer server;
    Ua::ServerConfig config;
    ManualClock clock;
    std::vector<QString> traces;
    std::vector<std::unique_ptr<MemoryPeer>> peers;
    std::unique_ptr<Ua::ServerCore> core; // the last member: it says goodbye to the peers as it goes

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

    void addPanelItems(int bigFolderItems = 0)
    {
        auto add = [this](const char *id, std::int16_t rights, ::Variant v) {
            server.Tags().Add(QString::fromLatin1(id), rights, std::move(v), Quality::Good);
        };
        add("C01.ComError", AccessRights::Read, ::Variant(false));
        add("C01.Panel", AccessRights::Read, ::Variant(std::int16_t(7)));
        add("C01.Z1.State", AccessRights::Read, ::Variant(std::uint8_t(3)));
        add("C01.Z1.G1.Gas", AccessRights::Read, ::Variant(QStringLiteral("CO")));
        add("C01.Z1.D1.Measure", AccessRights::ReadWrite, ::Variant(1.25f));
        add("Test.Int", AccessRights::ReadWrite, ::Variant(std::int16_t(0)));
        add("Test.Long", AccessRights::ReadWrite, ::Variant(std::int32_t(0)));
        add("Test.Byte", AccessRights::ReadWrite, ::Variant(std::uint8_t(0)));
        add("Test.Dbl", AccessRights::ReadWrite, ::Variant(0.5));
        add("Test.Cur", AccessRights::ReadWrite, ::Variant(Currency{12345}));
        add("Test.Date", AccessRights::ReadWrite, ::Variant(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC)));
        add("Test.Str", AccessRights::ReadWrite, ::Variant(QStringLiteral("text")));
        add("Test.Bool", AccessRights::ReadWrite, ::Variant(true));
        add("Test.WriteOnly", AccessRights::Write, ::Variant(std::int32_t(5)));
        for (int k = 0; k < bigFolderItems; ++k)
            server.Tags().Add(bigItem(k), AccessRights::Read, ::Variant(std::int32_t(k)), Quality::Good);
    }
    static QString bigItem(int k) { return QStringLiteral("Big.I%1").arg(k, 4, 10, QLatin1Char('0')); }

    void start()
    {
        core = std::make_unique<Ua::ServerCore>(
            server, config, [](const OPCItem &item) { return QStringLiteral("Description of ") + item.ItemID(); },
            clock);
        core->start();
        server.setServerState(ServerStates::Running);
    }

    // A transport of our own: connections handed to the core as UaServer does.
    MemoryPeer &connect(const QString &peer = QStringLiteral("memory"))
    {
        auto connection = std::make_unique<Ua::Connection>(*core, config.transport, peer);
        peers.push_back(std::make_unique<MemoryPeer>(*connection));
        core->addChannel(std::move(connection));
        return *peers.back();
    }

    // A connection with an open channel.
    MemoryPeer &channel(const QString &peer = QStringLiteral("memory"))
    {
        MemoryPeer &p = connect(peer);
        EXPECT_TRUE(p.hello() && p.openChannel());
        return p;
    }
    // ... and an activated session.
    MemoryPeer &client(double sessionTimeoutMs = 60000)
    {
        MemoryPeer &p = channel();
        EXPECT_TRUE(p.session(sessionTimeoutMs));
        return p;
    }
    // ... as the user of that name, expected to get the status given (NamedUsers).
    MemoryPeer &login(const char *name, Ua::StatusCode expected = Ua::Status::Good)
    {
        MemoryPeer &p = channel();
        Ua::ActivateSessionRequest request;
        const Ua::NodeId tokenType(0, Ua::Id::UserNameIdentityToken_Binary);
        request.userIdentityToken = {tokenType, Ua::ExtensionObject::Encoding::ByteString, name, {}, {}};
        EXPECT_EQ(p.createSession(10000), Ua::Status::Good);
        EXPECT_EQ(p.faultOf(request), expected);
        return p;
    }

    void set(const QString &id, std::optional<::Variant> v, std::int16_t quality = Quality::Good)
    {
        server.Tags().Item(id)->SetVQT(std::move(v), quality);
    }

    // Time passes: time-outs are checked and due subscriptions run.
    void advance(qint64 ms)
    {
        clock.advance(ms);
        core->tick();
        core->runSubscriptions();
    }
};

// Attribute services: every attribute of every kind of node, the server-state gate,
// OnRead, qualities, timestamps, index ranges, and writes with conversion.
#include "UaFixture.h"

#include <gtest/gtest.h>

using namespace Ua;

namespace {

ReadResponse readAll(UaTestPeer &p, const std::vector<ReadValueId> &ids, std::int32_t timestamps = 2,
                     StatusCode *fault = nullptr)
{
    ReadRequest read;
    read.timestampsToReturn = timestamps;
    read.nodesToRead = ids;
    ReadResponse response;
    const auto reply = p.call(read, response);
    EXPECT_TRUE(reply.ok);
    if (fault)
        *fault = reply.fault;
    else
        EXPECT_EQ(reply.fault, Status::Good);
    return response;
}

DataValue readOne(UaTestPeer &p, const NodeId &id, std::uint32_t attribute = Attr::Value)
{
    const ReadResponse r = readAll(p, {readId(id, attribute)});
    return r.results.empty() ? DataValue{} : r.results[0];
}

StatusCode writeOne(UaTestPeer &p, const NodeId &id, const Ua::Variant &v, std::uint32_t attribute = Attr::Value)
{
    WriteRequest write;
    WriteValue wv;
    wv.nodeId = id;
    wv.attributeId = attribute;
    wv.value.setValue(v);
    write.nodesToWrite = {wv};
    WriteResponse response;
    const auto reply = p.call(write, response);
    EXPECT_TRUE(reply.ok && reply.fault == 0);
    return response.results.empty() ? Status::BadUnexpectedError : response.results[0];
}

} // namespace

TEST(UaRead, EveryAttributeOfEveryNodeClass)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    // Which attributes each node class has (OPC 10000-3), beyond the common ones 1..7.
    const struct {
        NodeId node;
        NodeClass cls;
        std::vector<std::uint32_t> has;
    } cases[] = {
        {item("C01.Z1.D1.Measure"), NodeClass::Variable, {13, 14, 15, 16, 17, 18, 19, 20, 27}},
        {NodeId(0, Id::State), NodeClass::Variable, {13, 14, 15, 16, 17, 18, 19, 20, 27}},
        {NodeId(1, QStringLiteral("C01.Z1")), NodeClass::Object, {12}},
        {NodeId(0, Id::Server), NodeClass::Object, {12}},
        {NodeId(0, Id::FolderType), NodeClass::ObjectType, {8}},
        {NodeId(0, Id::BaseDataVariableType), NodeClass::VariableType, {8, 13, 14, 15, 16}},
        {NodeId(0, Id::HasComponent), NodeClass::ReferenceType, {8, 9, 10}},
        {NodeId(0, Id::References), NodeClass::ReferenceType, {8, 9}}, // symmetric: no inverse name
        {NodeId(0, Id::Int16), NodeClass::DataType, {8}},
    };
    for (const auto &c : cases) {
        std::vector<ReadValueId> ids;
        for (std::uint32_t a = 1; a <= 28; ++a)
            ids.push_back(readId(c.node, a));
        const ReadResponse r = readAll(p, ids);
        ASSERT_EQ(r.results.size(), 28u);
        for (std::uint32_t a = 1; a <= 28; ++a) {
            const bool expected = a <= 7 || std::find(c.has.begin(), c.has.end(), a) != c.has.end();
            const DataValue &dv = r.results[a - 1];
            if (expected)
                EXPECT_FALSE(isBad(dv.status)) << c.node.toString().toStdString() << " attribute " << a;
            else
                EXPECT_EQ(dv.status, Status::BadAttributeIdInvalid)
                    << c.node.toString().toStdString() << " attribute " << a;
        }
        EXPECT_EQ(r.results[0].value.x->nodeId, c.node);
        EXPECT_EQ(r.results[1].value.i, std::int64_t(c.cls));
    }

    // What an item's attributes say.
    const ReadResponse r = readAll(
        p, {readId(item("C01.Z1.D1.Measure"), Attr::BrowseName), readId(item("C01.Z1.D1.Measure"), Attr::DisplayName),
            readId(item("C01.Z1.D1.Measure"), Attr::Description), readId(item("C01.Z1.D1.Measure"), Attr::DataType),
            readId(item("C01.Z1.D1.Measure"), Attr::ValueRank), readId(item("C01.Z1.D1.Measure"), Attr::AccessLevel),
            readId(item("C01.Panel"), Attr::AccessLevel), readId(item("Test.WriteOnly"), Attr::UserAccessLevel)});
    EXPECT_EQ(r.results[0].value.x->qualifiedName, (QualifiedName{1, QStringLiteral("Measure")}));
    EXPECT_EQ(r.results[1].value.x->localizedText.text, QStringLiteral("Measure"));
    EXPECT_EQ(r.results[2].value.x->localizedText.text, QStringLiteral("Description of C01.Z1.D1.Measure"));
    EXPECT_TRUE(r.results[3].value.x->nodeId.isNumeric(Id::Float));
    EXPECT_EQ(r.results[4].value.i, -1);
    EXPECT_EQ(r.results[5].value.i, 3);
    EXPECT_EQ(r.results[6].value.i, 1);
    EXPECT_EQ(r.results[7].value.i, 2);
}

TEST(UaRead, ItemValuesCarryTheirUaTypes)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    const struct {
        const char *id;
        BuiltinType type;
        std::uint32_t dataType;
    } cases[] = {
        {"C01.ComError", BuiltinType::Boolean, Id::Boolean},  {"C01.Panel", BuiltinType::Int16, Id::Int16},
        {"C01.Z1.State", BuiltinType::Byte, Id::Byte},        {"C01.Z1.G1.Gas", BuiltinType::String, Id::String},
        {"C01.Z1.D1.Measure", BuiltinType::Float, Id::Float}, {"Test.Long", BuiltinType::Int32, Id::Int32},
        {"Test.Dbl", BuiltinType::Double, Id::Double},        {"Test.Cur", BuiltinType::Double, Id::Double},
        {"Test.Date", BuiltinType::DateTime, Id::DateTime},
    };
    for (const auto &c : cases) {
        const DataValue v = readOne(p, item(c.id));
        EXPECT_EQ(v.value.type, c.type) << c.id;
        EXPECT_EQ(v.status, Status::Good) << c.id;
        EXPECT_TRUE(readOne(p, item(c.id), Attr::DataType).value.x->nodeId.isNumeric(c.dataType)) << c.id;
    }
    EXPECT_EQ(readOne(p, item("C01.Z1.G1.Gas")).value.s, QStringLiteral("CO"));
    EXPECT_DOUBLE_EQ(readOne(p, item("Test.Cur")).value.d, 1.2345);
    EXPECT_FLOAT_EQ(float(readOne(p, item("C01.Z1.D1.Measure")).value.d), 1.25f);
    EXPECT_EQ(fromDateTime(readOne(p, item("Test.Date")).value.i),
              QDateTime::fromString(QStringLiteral("2020-01-02T03:04:05Z"), Qt::ISODate));
    // An empty text is an empty String, never the null String.
    ua.server.Tags().Item(QStringLiteral("Test.Str"))->SetVQT(::Variant(QString()), Quality::Good);
    const Ua::Variant empty = readOne(p, item("Test.Str")).value;
    EXPECT_EQ(empty.type, BuiltinType::String);
    EXPECT_FALSE(empty.s.isNull());
    EXPECT_TRUE(empty.s.isEmpty());
    EXPECT_EQ(readOne(p, item("Test.WriteOnly")).status, Status::BadNotReadable);
    EXPECT_EQ(readOne(p, item("Nope")).status, Status::BadNodeIdUnknown);
}

TEST(UaRead, ServerStateGatesItemValuesButNotTheServerObject)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    const struct {
        std::int32_t toolkit;
        std::int64_t ua;
        bool served;
    } states[] = {{ServerStates::Running, 0, true},
                  {ServerStates::Failed, 1, false},
                  {ServerStates::NoConfiguration, 2, false},
                  {ServerStates::Suspended, 3, false},
                  {ServerStates::Test, 5, true},
                  {42, 7, false}};
    for (const auto &s : states) {
        ua.server.setServerState(s.toolkit);
        const ReadResponse r =
            readAll(p, {readId(item("C01.Panel")), readId(NodeId(0, Id::State)), readId(NodeId(0, Id::ServerStatus)),
                        readId(item("C01.Panel"), Attr::DisplayName)});
        EXPECT_EQ(r.results[0].status, s.served ? Status::Good : Status::BadOutOfService) << s.toolkit;
        EXPECT_EQ(r.results[0].value.isNull(), !s.served);
        EXPECT_EQ(r.results[1].value.i, s.ua) << s.toolkit;
        ServerStatusDataType status;
        ASSERT_TRUE(decodeExtension(r.results[2].value.x->extensionObject, status));
        EXPECT_EQ(status.state, s.ua);
        EXPECT_EQ(r.results[3].status, Status::Good);
        EXPECT_EQ(writeOne(p, item("Test.Int"), Ua::Variant::integer(BuiltinType::Int16, 1)),
                  s.served ? Status::Good : Status::BadOutOfService);
    }
}

TEST(UaRead, OnReadIsRaisedOncePerRequestAndItsRefusalIsBad)
{
    UaCore ua;
    ua.addPanelItems();
    int calls = 0;
    std::size_t lastCount = 0;
    std::int32_t answer = S_OK_;
    ua.server.OnRead = [&](std::int32_t count, const std::vector<OPCItem *> &, std::vector<std::int32_t> &errors,
                           std::int32_t &result) {
        ++calls;
        lastCount = std::size_t(count);
        result = answer;
        if (count > 1)
            errors[1] = E_FAIL_;
    };
    ua.start();
    MemoryPeer &p = ua.client();
    ReadResponse r = readAll(p, {readId(item("C01.Panel")), readId(item("C01.Z1.State")), readId(NodeId(0, Id::State)),
                                 readId(item("C01.Panel"), Attr::BrowseName)});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(lastCount, 2u);
    EXPECT_EQ(r.results[0].status, Status::Good);
    EXPECT_TRUE(isBad(r.results[1].status));
    readAll(p, {readId(NodeId(0, Id::State)), readId(item("C01.Panel"), Attr::BrowseName)});
    EXPECT_EQ(calls, 1); // no item values, no OnRead
    answer = E_FAIL_;
    r = readAll(p, {readId(item("C01.Panel")), readId(NodeId(0, Id::State))});
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(r.results[0].status, Status::BadOutOfService);
    EXPECT_EQ(r.results[1].status, Status::Good);
}

TEST(UaRead, QualitiesMapToStatusCodes)
{
    const struct {
        std::int16_t quality;
        StatusCode status;
    } table[] = {
        {0xC0, Status::Good},
        {0xD8, Status::GoodLocalOverride},
        {0x40, Status::Uncertain},
        {0x44, Status::UncertainLastUsableValue},
        {0x50, Status::UncertainSensorNotAccurate},
        {0x54, Status::UncertainEngineeringUnitsExceeded},
        {0x58, Status::UncertainSubNormal},
        {0x00, Status::Bad},
        {0x04, Status::BadConfigurationError},
        {0x08, Status::BadNotConnected},
        {0x0C, Status::BadDeviceFailure},
        {0x10, Status::BadSensorFailure},
        {0x14, Status::BadNoCommunication},
        {0x18, Status::BadNoCommunication},
        {0x1C, Status::BadOutOfService},
        {0x20, Status::BadWaitingForInitialData},
        // Limit bits, and qualities outside the table by their major bits.
        {0xC1, Status::Good | Status::LimitLow},
        {0x56, Status::UncertainEngineeringUnitsExceeded | Status::LimitHigh},
        {0x0F, Status::BadDeviceFailure | Status::LimitConstant},
        {0xE4, Status::Good},
        {0x7C, Status::Uncertain},
        {0x3C, Status::Bad},
        {0x80, Status::Bad},
    };
    UaCore ua;
    OPCItem *it =
        ua.server.Tags().Add(QStringLiteral("Q"), AccessRights::Read, ::Variant(std::int16_t(1)), Quality::Good);
    ua.start();
    MemoryPeer &p = ua.client();
    for (const auto &t : table) {
        it->SetVQT(std::nullopt, t.quality);
        EXPECT_EQ(readOne(p, item("Q")).status, t.status) << std::hex << t.quality;
        EXPECT_EQ(ServerCore::statusFromQuality(t.quality), t.status);
    }
    // Back from a status written by a client.
    for (const auto &t : table) {
        if (t.quality != 0x14 && (t.quality & 0xFC) != 0xE4 && t.quality != 0x7C && t.quality != 0x3C &&
            t.quality != 0x80) {
            EXPECT_EQ(ServerCore::qualityFromStatus(t.status), t.quality) << std::hex << t.quality;
        }
    }
}

TEST(UaRead, TimestampsToReturnMaxAgeAndIndexRanges)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    const QDateTime when = QDateTime::fromString(QStringLiteral("2023-03-04T05:06:07Z"), Qt::ISODate);
    ua.server.Tags().Item(QStringLiteral("C01.Panel"))->SetVQT(::Variant(std::int16_t(9)), Quality::Good, when);
    const std::uint8_t source = DataValue::HasSourceTimestamp, server = DataValue::HasServerTimestamp;
    const std::uint8_t expected[] = {source, server, std::uint8_t(source | server), 0};
    for (std::int32_t t = 0; t < 4; ++t) {
        const DataValue v = readAll(p, {readId(item("C01.Panel"))}, t).results[0];
        EXPECT_EQ(v.mask & (source | server), expected[t]) << t;
        if (v.mask & source) {
            EXPECT_EQ(fromDateTime(v.sourceTimestamp), when);
        }
        // Attributes other than Value carry no timestamps.
        EXPECT_EQ(readAll(p, {readId(item("C01.Panel"), Attr::BrowseName)}, t).results[0].mask & (source | server), 0);
    }
    StatusCode fault = 0;
    readAll(p, {readId(item("C01.Panel"))}, 4, &fault);
    EXPECT_EQ(fault, Status::BadTimestampsToReturnInvalid);
    ReadRequest aged;
    aged.maxAge = -1;
    aged.nodesToRead = {readId(item("C01.Panel"))};
    ReadResponse response;
    EXPECT_EQ(p.call(aged, response).fault, Status::BadMaxAgeInvalid);
    aged.maxAge = 0;
    aged.nodesToRead.clear();
    EXPECT_EQ(p.call(aged, response).fault, Status::BadNothingToDo);

    auto ranged = [&](const NodeId &id, const char *range) {
        ReadValueId r = readId(id);
        r.indexRange = QString::fromLatin1(range);
        return readAll(p, {r}).results[0];
    };
    EXPECT_EQ(ranged(item("C01.Panel"), "0").status, Status::BadIndexRangeNoData);
    EXPECT_EQ(ranged(item("C01.Panel"), "2:1").status, Status::BadIndexRangeInvalid);
    EXPECT_EQ(ranged(item("C01.Panel"), "x").status, Status::BadIndexRangeInvalid);
    EXPECT_EQ(ranged(item("C01.Z1.G1.Gas"), "1").value.s, QStringLiteral("O"));
    EXPECT_EQ(ranged(item("C01.Z1.G1.Gas"), "5:9").status, Status::BadIndexRangeNoData);
    const DataValue second = ranged(NodeId(0, Id::NamespaceArray), "1");
    ASSERT_EQ(second.value.arrayLength(), 1u);
    EXPECT_EQ(second.value.elements()[0].s, QStringLiteral("urn:QUARLEN.KV7.1"));
    EXPECT_EQ(ranged(NodeId(0, Id::NamespaceArray), "0:9").value.arrayLength(), 2u);
    EXPECT_EQ(ranged(NodeId(0, Id::NamespaceArray), "0,0").status, Status::BadIndexRangeNoData);

    ReadValueId encoded = readId(NodeId(0, Id::ServerStatus));
    encoded.dataEncoding = QualifiedName{0, QStringLiteral("Default Binary")};
    EXPECT_EQ(readAll(p, {encoded}).results[0].status, Status::Good);
    encoded.dataEncoding.name = QStringLiteral("Default XML");
    EXPECT_EQ(readAll(p, {encoded}).results[0].status, Status::BadDataEncodingUnsupported);
    encoded.nodeId = item("C01.Panel");
    encoded.dataEncoding.name = QStringLiteral("Default Binary");
    EXPECT_EQ(readAll(p, {encoded}).results[0].status, Status::BadDataEncodingInvalid);
}

TEST(UaRead, ServerObjectDescribesTheServerAndAnnouncedShutdown)
{
    UaCore ua;
    ua.server.VendorName = QStringLiteral("QUARLEN");
    ua.start();
    MemoryPeer &p = ua.client();
    const DataValue ns = readOne(p, NodeId(0, Id::NamespaceArray));
    ASSERT_EQ(ns.value.arrayLength(), 2u);
    EXPECT_EQ(ns.value.elements()[0].s, QStringLiteral("http://opcfoundation.org/UA/"));
    EXPECT_EQ(readOne(p, NodeId(0, Id::ServerArray)).value.elements()[0].s, ua.config.applicationUri);
    EXPECT_EQ(readOne(p, NodeId(0, Id::ManufacturerName)).value.s, QStringLiteral("QUARLEN"));
    EXPECT_GT(readOne(p, NodeId(0, Id::CurrentTime)).value.i, readOne(p, NodeId(0, Id::StartTime)).value.i - 1);
    EXPECT_EQ(readOne(p, NodeId(0, Id::SecondsTillShutdown)).value.i, 0);

    ua.core->requestDisconnect(QStringLiteral("Operator closes the server"));
    EXPECT_EQ(readOne(p, NodeId(0, Id::ShutdownReason)).value.x->localizedText.text,
              QStringLiteral("Operator closes the server"));
    const std::int64_t left = readOne(p, NodeId(0, Id::SecondsTillShutdown)).value.i;
    EXPECT_GT(left, 0);
    EXPECT_LE(left, ua.config.secondsTillShutdown);
    ServerStatusDataType status;
    ASSERT_TRUE(decodeExtension(readOne(p, NodeId(0, Id::ServerStatus)).value.x->extensionObject, status));
    EXPECT_EQ(status.shutdownReason.text, QStringLiteral("Operator closes the server"));
    EXPECT_EQ(status.buildInfo.manufacturerName, QStringLiteral("QUARLEN"));
}

TEST(UaWrite, ValuesAreConvertedToTheItemsType)
{
    UaCore ua;
    ua.addPanelItems();
    std::vector<std::size_t> writes;
    ua.server.OnWrite = [&](std::int32_t count, const std::vector<OPCItem *> &, const std::vector<::Variant> &,
                            std::vector<std::int32_t> &, std::int32_t &) { writes.push_back(std::size_t(count)); };
    ua.start();
    MemoryPeer &p = ua.client();
    const struct {
        const char *id;
        Ua::Variant value;
        StatusCode status;
        ::Variant stored;
    } cases[] = {
        {"Test.Int", Ua::Variant::real(BuiltinType::Double, 3.5), Status::Good, ::Variant(std::int16_t(4))},
        {"Test.Int", Ua::Variant::string(QStringLiteral("12")), Status::Good, ::Variant(std::int16_t(12))},
        {"Test.Int", Ua::Variant::string(QStringLiteral("abc")), Status::BadTypeMismatch, ::Variant(std::int16_t(12))},
        {"Test.Int", Ua::Variant::integer(BuiltinType::Int32, 70000), Status::BadOutOfRange,
         ::Variant(std::int16_t(12))},
        {"Test.Byte", Ua::Variant::integer(BuiltinType::UInt16, 200), Status::Good, ::Variant(std::uint8_t(200))},
        {"Test.Long", Ua::Variant::integer(BuiltinType::UInt64, 5), Status::Good, ::Variant(std::int32_t(5))},
        {"Test.Dbl", Ua::Variant::real(BuiltinType::Float, 0.25), Status::Good, ::Variant(0.25)},
        {"Test.Str", Ua::Variant::integer(BuiltinType::Int16, -7), Status::Good, ::Variant(QStringLiteral("-7"))},
        {"Test.Bool", Ua::Variant::integer(BuiltinType::Int32, 0), Status::Good, ::Variant(false)},
        {"Test.Cur", Ua::Variant::real(BuiltinType::Double, 2.5), Status::Good, ::Variant(Currency{25000})},
        {"Test.Int", Ua::Variant::stringArray({QStringLiteral("1")}), Status::BadTypeMismatch,
         ::Variant(std::int16_t(12))},
        {"Test.Int", Ua::Variant::nodeId(NodeId(0, 1)), Status::BadTypeMismatch, ::Variant(std::int16_t(12))},
        {"C01.Z1.D1.Measure", Ua::Variant::integer(BuiltinType::SByte, -3), Status::Good, ::Variant(-3.0f)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(writeOne(p, item(c.id), c.value), c.status) << c.id;
        EXPECT_EQ(ua.server.Tags().Item(QString::fromLatin1(c.id))->Value(), c.stored) << c.id;
    }
    // Other clients read what was written.
    MemoryPeer &other = ua.client();
    EXPECT_EQ(readOne(other, item("Test.Str")).value.s, QStringLiteral("-7"));
    // Refused conversions never reach the toolkit.
    EXPECT_EQ(writes.size(), 9u);
}

TEST(UaWrite, OnlyWritableItemValuesAreWritable)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    const Ua::Variant one = Ua::Variant::integer(BuiltinType::Int16, 1);
    EXPECT_EQ(writeOne(p, item("C01.Panel"), one), Status::BadNotWritable);
    EXPECT_EQ(writeOne(p, NodeId(0, Id::State), Ua::Variant::integer(BuiltinType::Int32, 0)), Status::BadNotWritable);
    EXPECT_EQ(
        writeOne(p, item("Test.Int"), Ua::Variant::localizedText({QString(), QStringLiteral("x")}), Attr::DisplayName),
        Status::BadNotWritable);
    EXPECT_EQ(writeOne(p, item("Test.Int"), one, 99), Status::BadAttributeIdInvalid);
    EXPECT_EQ(writeOne(p, item("Missing"), one), Status::BadNodeIdUnknown);
    EXPECT_EQ(writeOne(p, item("Test.WriteOnly"), Ua::Variant::integer(BuiltinType::Int32, 8)), Status::Good);
    EXPECT_EQ(ua.server.Tags().Item(QStringLiteral("Test.WriteOnly"))->Value(), ::Variant(std::int32_t(8)));

    WriteRequest write;
    WriteValue ranged;
    ranged.nodeId = item("Test.Int");
    ranged.attributeId = Attr::Value;
    ranged.indexRange = QStringLiteral("0");
    ranged.value.setValue(one);
    WriteValue empty;
    empty.nodeId = item("Test.Int");
    empty.attributeId = Attr::Value;
    write.nodesToWrite = {ranged, empty};
    WriteResponse response;
    ASSERT_TRUE(p.call(write, response).ok);
    EXPECT_EQ(response.results[0], Status::BadWriteNotSupported);
    EXPECT_EQ(response.results[1], Status::BadTypeMismatch);
    write.nodesToWrite.clear();
    EXPECT_EQ(p.call(write, response).fault, Status::BadNothingToDo);
}

TEST(UaWrite, StatusOrSourceTimeGoesThroughOnWriteVQT)
{
    UaCore ua;
    ua.addPanelItems();
    std::vector<std::int16_t> qualities;
    std::vector<QDateTime> times;
    ua.server.OnWriteVQT = [&](std::int32_t count, const std::vector<OPCItem *> &items,
                               const std::vector<::Variant> &values, const std::vector<std::int16_t> &q,
                               const std::vector<QDateTime> &t, std::vector<std::int32_t> &errors,
                               std::int32_t &result) {
        for (std::int32_t k = 0; k < count; ++k)
            items[std::size_t(k)]->SetVQT(values[std::size_t(k)], q[std::size_t(k)], t[std::size_t(k)]);
        qualities = q;
        times = t;
        result = S_OK_;
    };
    ua.start();
    MemoryPeer &p = ua.client();
    const QDateTime when = QDateTime::fromString(QStringLiteral("2022-02-02T02:02:02Z"), Qt::ISODate);
    WriteRequest write;
    WriteValue wv;
    wv.nodeId = item("Test.Dbl");
    wv.attributeId = Attr::Value;
    wv.value.setValue(Ua::Variant::real(BuiltinType::Double, 7.5));
    wv.value.setStatus(Status::UncertainLastUsableValue);
    wv.value.sourceTimestamp = toDateTime(when);
    wv.value.mask |= DataValue::HasSourceTimestamp;
    write.nodesToWrite = {wv};
    WriteResponse response;
    ASSERT_TRUE(p.call(write, response).ok);
    EXPECT_EQ(response.results[0], Status::Good);
    ASSERT_EQ(qualities.size(), 1u);
    EXPECT_EQ(qualities[0], 0x44);
    EXPECT_EQ(times[0], when);
    const DataValue back = readOne(p, item("Test.Dbl"));
    EXPECT_EQ(back.value.d, 7.5);
    EXPECT_EQ(back.status, Status::UncertainLastUsableValue);
    EXPECT_EQ(fromDateTime(back.sourceTimestamp), when);
}

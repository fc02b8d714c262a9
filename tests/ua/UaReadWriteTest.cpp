// Attribute services: every attribute of every kind of node, the server-state gate,
// OnRead, qualities, timestamps, index ranges, the Server object, and writes with
// conversion.
#include "UaFixture.h"

using namespace Ua;

namespace {
struct ReadTest : ::testing::Test {
    UaCore ua;
    MemoryPeer *p = nullptr;
    void SetUp() override { ua.addPanelItems(); }
    void start() { ua.start(), p = &ua.client(); }
};
} // namespace

TEST_F(ReadTest, EveryAttributeOfEveryNodeClass)
{
    start();
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
        const ReadResponse r = p->read(ids);
        ASSERT_EQ(r.results.size(), 28u);
        for (std::uint32_t a = 1; a <= 28; ++a) {
            const bool expected = a <= 7 || std::find(c.has.begin(), c.has.end(), a) != c.has.end();
            const StatusCode status = r.results[a - 1].status;
            EXPECT_EQ(status, expected ? Status::Good : Status::BadAttributeIdInvalid)
                << c.node.toString().toStdString() << " attribute " << a;
        }
        EXPECT_EQ(r.results[0].value.x->nodeId, c.node);
        EXPECT_EQ(r.results[1].value.i, std::int64_t(c.cls));
    }
    const NodeId measure = item("C01.Z1.D1.Measure");
    const struct {
        NodeId node;
        std::uint32_t attribute;
        Ua::Variant value;
    } values[] = {
        {measure, Attr::BrowseName, Ua::Variant::qualifiedName({1, QStringLiteral("Measure")})},
        {measure, Attr::DisplayName, Ua::Variant::localizedText({{}, QStringLiteral("Measure")})},
        {measure, Attr::Description,
         Ua::Variant::localizedText({{}, QStringLiteral("Description of C01.Z1.D1.Measure")})},
        {measure, Attr::ValueRank, Ua::Variant::integer(BuiltinType::Int32, -1)},
        {measure, Attr::AccessLevel, Ua::Variant::integer(BuiltinType::Byte, 3)},
        {item("C01.Panel"), Attr::AccessLevel, Ua::Variant::integer(BuiltinType::Byte, 1)},
        {item("Test.WriteOnly"), Attr::UserAccessLevel, Ua::Variant::integer(BuiltinType::Byte, 2)},
        {measure, Attr::MinimumSamplingInterval, Ua::Variant::real(BuiltinType::Double, 100)},
        {NodeId(0, Id::HasComponent), Attr::InverseName,
         Ua::Variant::localizedText({{}, QStringLiteral("ComponentOf")})},
        {NodeId(0, Id::State), Attr::DataType, Ua::Variant::nodeId(NodeId(0, Id::ServerState))},
    };
    for (const auto &c : values)
        EXPECT_EQ(p->read(c.node, c.attribute).value, c.value) << c.node.toString().toStdString() << " " << c.attribute;
}

TEST_F(ReadTest, ItemValuesCarryTheirUaTypes)
{
    start();
    const struct {
        const char *id;
        Ua::Variant value;
        std::uint32_t dataType;
    } cases[] = {
        {"C01.ComError", Ua::Variant::boolean(false), Id::Boolean},
        {"C01.Panel", Ua::Variant::integer(BuiltinType::Int16, 7), Id::Int16},
        {"C01.Z1.State", Ua::Variant::integer(BuiltinType::Byte, 3), Id::Byte},
        {"C01.Z1.G1.Gas", Ua::Variant::string(QStringLiteral("CO")), Id::String},
        {"C01.Z1.D1.Measure", Ua::Variant::real(BuiltinType::Float, 1.25), Id::Float},
        {"Test.Long", Ua::Variant::integer(BuiltinType::Int32, 0), Id::Int32},
        {"Test.Dbl", Ua::Variant::real(BuiltinType::Double, 0.5), Id::Double},
        {"Test.Cur", Ua::Variant::real(BuiltinType::Double, 1.2345), Id::Double},
        {"Test.Date", Ua::Variant::dateTime(toDateTime(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC))),
         Id::DateTime},
    };
    for (const auto &c : cases) {
        const DataValue v = p->read(item(c.id));
        EXPECT_EQ(v.value, c.value) << c.id;
        EXPECT_EQ(v.status, Status::Good) << c.id;
        EXPECT_TRUE(p->read(item(c.id), Attr::DataType).value.x->nodeId.isNumeric(c.dataType)) << c.id;
    }
    // An empty text is an empty String, never the null String.
    ua.server.Tags().Item(QStringLiteral("Test.Str"))->SetVQT(::Variant(QString()), Quality::Good);
    EXPECT_EQ(p->read(item("Test.Str")).value, Ua::Variant::string(QStringLiteral("")));
    EXPECT_EQ(p->read(item("Test.WriteOnly")).status, Status::BadNotReadable);
    EXPECT_EQ(p->read(item("Nope")).status, Status::BadNodeIdUnknown);
}

TEST_F(ReadTest, ServerStateGatesItemValuesButNotTheServerObject)
{
    start();
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
            p->read({readId(item("C01.Panel")), readId(NodeId(0, Id::State)), readId(NodeId(0, Id::ServerStatus)),
                     readId(item("C01.Panel"), Attr::DisplayName), readId(NodeId(0, Id::ServiceLevel))});
        EXPECT_EQ(r.results[0].status, s.served ? Status::Good : Status::BadOutOfService) << s.toolkit;
        EXPECT_EQ(r.results[0].value.isNull(), !s.served);
        EXPECT_EQ(r.results[1].value.i, s.ua) << s.toolkit;
        ServerStatusDataType status;
        ASSERT_TRUE(decodeExtension(r.results[2].value.x->extensionObject, status));
        EXPECT_EQ(status.state, s.ua);
        EXPECT_EQ(r.results[3].status, Status::Good);
        EXPECT_EQ(r.results[4].value.i, s.served ? 255 : 0);
        EXPECT_EQ(p->write(item("Test.Int"), Ua::Variant::integer(BuiltinType::Int16, 1)),
                  s.served ? Status::Good : Status::BadOutOfService);
    }
}

TEST_F(ReadTest, OnReadIsRaisedOncePerRequestAndItsRefusalIsBad)
{
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
    start();
    ReadResponse r = p->read({readId(item("C01.Panel")), readId(item("C01.Z1.State")), readId(NodeId(0, Id::State)),
                              readId(item("C01.Panel"), Attr::BrowseName)});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(lastCount, 2u);
    EXPECT_EQ(r.results[0].status, Status::Good);
    EXPECT_EQ(r.results[1].status, Status::BadOutOfService);
    p->read({readId(NodeId(0, Id::State)), readId(item("C01.Panel"), Attr::BrowseName)});
    EXPECT_EQ(calls, 1); // no item values, no OnRead
    answer = E_FAIL_;
    r = p->read({readId(item("C01.Panel")), readId(NodeId(0, Id::State))});
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(r.results[0].status, Status::BadOutOfService);
    EXPECT_EQ(r.results[1].status, Status::Good);
}

TEST_F(ReadTest, QualitiesMapToStatusCodesAndBack)
{
    const struct {
        std::int16_t quality;
        StatusCode status;
        bool back; // the status written by a client gives the quality again
    } table[] = {
        {0xC0, Status::Good, true},
        {0xD8, Status::GoodLocalOverride, true},
        {0x40, Status::Uncertain, true},
        {0x44, Status::UncertainLastUsableValue, true},
        {0x50, Status::UncertainSensorNotAccurate, true},
        {0x54, Status::UncertainEngineeringUnitsExceeded, true},
        {0x58, Status::UncertainSubNormal, true},
        {0x00, Status::Bad, true},
        {0x04, Status::BadConfigurationError, true},
        {0x08, Status::BadNotConnected, true},
        {0x0C, Status::BadDeviceFailure, true},
        {0x10, Status::BadSensorFailure, true},
        {0x14, Status::BadNoCommunication, false},
        {0x18, Status::BadNoCommunication, true},
        {0x1C, Status::BadOutOfService, true},
        {0x20, Status::BadWaitingForInitialData, true},
        // Limit bits, and qualities outside the table by their major bits.
        {0xC1, Status::Good | Status::LimitLow, true},
        {0x56, Status::UncertainEngineeringUnitsExceeded | Status::LimitHigh, true},
        {0x0F, Status::BadDeviceFailure | Status::LimitConstant, true},
        {0xE4, Status::Good, false},
        {0x7C, Status::Uncertain, false},
        {0x3C, Status::Bad, false},
    };
    OPCItem *it =
        ua.server.Tags().Add(QStringLiteral("Q"), AccessRights::Read, ::Variant(std::int16_t(1)), Quality::Good);
    start();
    for (const auto &t : table) {
        it->SetVQT(std::nullopt, t.quality);
        EXPECT_EQ(p->read(item("Q")).status, t.status) << std::hex << t.quality;
        if (t.back)
            EXPECT_EQ(ServerCore::qualityFromStatus(t.status), t.quality) << std::hex << t.quality;
    }
}

TEST_F(ReadTest, TimestampsMaxAgeIndexRangesAndEncodings)
{
    start();
    const QDateTime when(QDate(2023, 3, 4), QTime(5, 6, 7), Qt::UTC);
    ua.server.Tags().Item(QStringLiteral("C01.Panel"))->SetVQT(::Variant(std::int16_t(9)), Quality::Good, when);
    ua.clock.advance(5000);
    const std::uint8_t source = DataValue::HasSourceTimestamp, server = DataValue::HasServerTimestamp;
    const std::uint8_t expected[] = {source, server, std::uint8_t(source | server), 0};
    for (std::int32_t t = 0; t < 4; ++t) {
        const DataValue v = p->read({readId(item("C01.Panel"))}, t).results[0];
        EXPECT_EQ(v.mask & (source | server), expected[t]) << t;
        EXPECT_EQ(v.sourceTimestamp, (v.mask & source) ? toDateTime(when) : 0) << t;
        EXPECT_EQ(v.serverTimestamp, (v.mask & server) ? toDateTime(ua.clock.now()) : 0) << t;
        // Attributes other than Value carry no timestamps.
        EXPECT_EQ(p->read({readId(item("C01.Panel"), Attr::BrowseName)}, t).results[0].mask & (source | server), 0);
    }
    ReadRequest bad;
    bad.nodesToRead = {readId(item("C01.Panel"))};
    bad.timestampsToReturn = 4;
    EXPECT_EQ(p->faultOf(bad), Status::BadTimestampsToReturnInvalid);
    bad.timestampsToReturn = 0;
    bad.maxAge = -1;
    EXPECT_EQ(p->faultOf(bad), Status::BadMaxAgeInvalid);
    bad.maxAge = 0;
    bad.nodesToRead.clear();
    EXPECT_EQ(p->faultOf(bad), Status::BadNothingToDo);
    bad.nodesToRead.resize(ua.config.maxNodesPerRequest + 1, readId(item("C01.Panel")));
    EXPECT_EQ(p->faultOf(bad), Status::BadTooManyOperations);

    const struct {
        NodeId node;
        const char *range;
        StatusCode status;
        Ua::Variant value;
    } ranges[] = {
        {item("C01.Panel"), "0", Status::BadIndexRangeNoData, {}},
        {item("C01.Panel"), "2:1", Status::BadIndexRangeInvalid, {}},
        {item("C01.Panel"), "x", Status::BadIndexRangeInvalid, {}},
        {item("C01.Panel"), "1:", Status::BadIndexRangeInvalid, {}},
        {item("C01.Z1.G1.Gas"), "1", Status::Good, Ua::Variant::string(QStringLiteral("O"))},
        {item("C01.Z1.G1.Gas"), "0:5", Status::Good, Ua::Variant::string(QStringLiteral("CO"))},
        {item("C01.Z1.G1.Gas"), "5:9", Status::BadIndexRangeNoData, {}},
        {NodeId(0, Id::NamespaceArray), "1", Status::Good,
         Ua::Variant::stringArray({QStringLiteral("urn:QUARLEN.KV7.1")})},
        {NodeId(0, Id::NamespaceArray), "0:9", Status::Good,
         Ua::Variant::stringArray(
             {QStringLiteral("http://opcfoundation.org/UA/"), QStringLiteral("urn:QUARLEN.KV7.1")})},
        {NodeId(0, Id::NamespaceArray), "2", Status::BadIndexRangeNoData, {}},
        {NodeId(0, Id::NamespaceArray), "0,0", Status::BadIndexRangeNoData, {}},
    };
    for (const auto &c : ranges) {
        ReadValueId r = readId(c.node);
        r.indexRange = QString::fromLatin1(c.range);
        const DataValue v = p->read({r}).results[0];
        EXPECT_EQ(v.status, c.status) << c.range;
        EXPECT_EQ(v.value, c.value) << c.range;
    }

    ReadValueId encoded = readId(NodeId(0, Id::ServerStatus));
    encoded.dataEncoding = QualifiedName{0, QStringLiteral("Default Binary")};
    EXPECT_EQ(p->read({encoded}).results[0].status, Status::Good);
    encoded.dataEncoding.name = QStringLiteral("Default XML");
    EXPECT_EQ(p->read({encoded}).results[0].status, Status::BadDataEncodingUnsupported);
    encoded.nodeId = item("C01.Panel");
    encoded.dataEncoding.name = QStringLiteral("Default Binary");
    EXPECT_EQ(p->read({encoded}).results[0].status, Status::BadDataEncodingInvalid);
}

TEST_F(ReadTest, ServerObjectDescribesTheServerAndAnnouncedShutdown)
{
    ua.server.VendorName = QStringLiteral("QUARLEN");
    start();
    const DateTime started = toDateTime(ua.clock.now());
    ua.clock.advance(90000);
    EXPECT_EQ(p->read(NodeId(0, Id::NamespaceArray)).value,
              Ua::Variant::stringArray(
                  {QStringLiteral("http://opcfoundation.org/UA/"), QStringLiteral("urn:QUARLEN.KV7.1")}));
    EXPECT_EQ(p->read(NodeId(0, Id::ServerArray)).value, Ua::Variant::stringArray({ua.config.applicationUri}));
    EXPECT_EQ(p->read(NodeId(0, Id::ManufacturerName)).value.s, QStringLiteral("QUARLEN"));
    EXPECT_EQ(p->read(NodeId(0, Id::StartTime)).value.i, started);
    EXPECT_EQ(p->read(NodeId(0, Id::CurrentTime)).value.i, toDateTime(ua.clock.now()));
    EXPECT_EQ(p->read(NodeId(0, Id::SecondsTillShutdown)).value.i, 0);
    EXPECT_EQ(p->read(NodeId(0, Id::MaxNodesPerRead)).value.i, ua.config.maxNodesPerRequest);

    ua.core->requestDisconnect(QStringLiteral("Operator closes the server"));
    ua.clock.advance(3500);
    EXPECT_EQ(p->read(NodeId(0, Id::ShutdownReason)).value.x->localizedText.text,
              QStringLiteral("Operator closes the server"));
    EXPECT_EQ(p->read(NodeId(0, Id::SecondsTillShutdown)).value.i, ua.config.secondsTillShutdown - 3);
    ServerStatusDataType status;
    ASSERT_TRUE(decodeExtension(p->read(NodeId(0, Id::ServerStatus)).value.x->extensionObject, status));
    EXPECT_EQ(status.startTime, started);
    EXPECT_EQ(status.currentTime, toDateTime(ua.clock.now()));
    EXPECT_EQ(status.secondsTillShutdown, ua.config.secondsTillShutdown - 3u);
    EXPECT_EQ(status.shutdownReason.text, QStringLiteral("Operator closes the server"));
    EXPECT_EQ(status.buildInfo.manufacturerName, QStringLiteral("QUARLEN"));
    ua.clock.advance(60000);
    EXPECT_EQ(p->read(NodeId(0, Id::SecondsTillShutdown)).value.i, 0);
}

TEST_F(ReadTest, WrittenValuesAreConvertedToTheItemsType)
{
    std::vector<std::size_t> writes;
    ua.server.OnWrite = [&](std::int32_t count, const std::vector<OPCItem *> &, const std::vector<::Variant> &,
                            std::vector<std::int32_t> &, std::int32_t &) { writes.push_back(std::size_t(count)); };
    start();
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
        {"Test.WriteOnly", Ua::Variant::integer(BuiltinType::Int32, 8), Status::Good, ::Variant(std::int32_t(8))},
        {"C01.Panel", Ua::Variant::integer(BuiltinType::Int16, 1), Status::BadNotWritable, ::Variant(std::int16_t(7))},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(p->write(item(c.id), c.value), c.status) << c.id;
        EXPECT_EQ(ua.server.Tags().Item(QString::fromLatin1(c.id))->Value(), c.stored) << c.id;
    }
    EXPECT_EQ(writes.size(), 10u); // refused conversions never reach the toolkit
    EXPECT_EQ(ua.client().read(item("Test.Str")).value.s, QStringLiteral("-7"));

    const Ua::Variant one = Ua::Variant::integer(BuiltinType::Int16, 1);
    EXPECT_EQ(p->write(NodeId(0, Id::State), one), Status::BadNotWritable);
    EXPECT_EQ(p->write(item("Test.Int"), Ua::Variant::localizedText({{}, QStringLiteral("x")}), Attr::DisplayName),
              Status::BadNotWritable);
    EXPECT_EQ(p->write(item("Test.Int"), one, 99), Status::BadAttributeIdInvalid);
    EXPECT_EQ(p->write(item("Missing"), one), Status::BadNodeIdUnknown);
    WriteRequest write;
    write.nodesToWrite.resize(2);
    for (WriteValue &wv : write.nodesToWrite)
        wv.nodeId = item("Test.Int"), wv.attributeId = Attr::Value;
    write.nodesToWrite[0].indexRange = QStringLiteral("0");
    write.nodesToWrite[0].value.setValue(one);
    WriteResponse response; // the second carries no value
    ASSERT_TRUE(p->call(write, response).ok);
    EXPECT_EQ(response.results, (std::vector<StatusCode>{Status::BadWriteNotSupported, Status::BadTypeMismatch}));
    write.nodesToWrite.clear();
    EXPECT_EQ(p->faultOf(write), Status::BadNothingToDo);
}

TEST_F(ReadTest, StatusOrSourceTimeGoesThroughOnWriteVQT)
{
    std::vector<std::int16_t> qualities;
    std::vector<QDateTime> times;
    ua.server.OnWriteVQT = [&](std::int32_t count, const std::vector<OPCItem *> &items,
                               const std::vector<::Variant> &values, const std::vector<std::int16_t> &q,
                               const std::vector<QDateTime> &t, std::vector<std::int32_t> &, std::int32_t &result) {
        for (std::size_t k = 0; k < std::size_t(count); ++k)
            items[k]->SetVQT(values[k], q[k], t[k]);
        qualities = q;
        times = t;
        result = S_OK_;
    };
    start();
    const QDateTime when(QDate(2022, 2, 2), QTime(2, 2, 2), Qt::UTC);
    WriteRequest write;
    WriteValue &wv = write.nodesToWrite.emplace_back();
    wv.nodeId = item("Test.Dbl");
    wv.attributeId = Attr::Value;
    wv.value.setValue(Ua::Variant::real(BuiltinType::Double, 7.5));
    wv.value.setStatus(Status::UncertainLastUsableValue);
    wv.value.sourceTimestamp = toDateTime(when);
    wv.value.mask |= DataValue::HasSourceTimestamp;
    WriteResponse response;
    ASSERT_TRUE(p->call(write, response).ok);
    EXPECT_EQ(response.results, std::vector<StatusCode>{Status::Good});
    EXPECT_EQ(qualities, std::vector<std::int16_t>{0x44});
    EXPECT_EQ(times, std::vector<QDateTime>{when});
    const DataValue back = p->read(item("Test.Dbl"));
    EXPECT_EQ(back.value.d, 7.5);
    EXPECT_EQ(back.status, Status::UncertainLastUsableValue);
    EXPECT_EQ(fromDateTime(back.sourceTimestamp), when);
}

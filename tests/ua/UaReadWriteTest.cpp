// Attribute services: every attribute of every kind of node, the server-state gate, OnRead, qualities,
// timestamps, index ranges, the Server object, and writes with conversion.
#include "UaFixture.h"

using namespace Ua;
using namespace Ua::Status;
using UaValue = Ua::Variant;

namespace {
// Up to 28 nodes per request: every attribute of a node at once.
struct ReadTest : ::testing::Test {
    UaCore ua;
    MemoryPeer *p = nullptr;
    void SetUp() override
    {
        ua.config.maxNodesPerRequest = 28;
        ua.server.VendorName = QStringLiteral("QUARLEN");
        ua.addPanelItems();
        ua.start();
        p = &ua.client();
    }
};

UaValue integer(BuiltinType t, std::int64_t v) { return UaValue::integer(t, v); }
UaValue text(const char *t) { return UaValue::localizedText({{}, QString::fromLatin1(t)}); }
} // namespace

TEST_F(ReadTest, EveryAttributeOfEveryNodeClassValuesIndexRangesEncodingsTheServerStateGateAndOnRead)
{
    // Rows of node, its class, and the attributes it has beyond the common ones 1..7 (OPC 10000-3).
    for (const QJsonValue &row : uaCases("nodeClasses")) {
        const NodeId node = nodeIdOf(row[0]);
        std::vector<ReadValueId> ids;
        Codes expected;
        for (std::uint32_t a = 1; a <= 28; ++a) {
            ids.push_back(readId(node, a));
            expected.push_back(a <= 7 || row[2].toArray().contains(int(a)) ? Good : BadAttributeIdInvalid);
        }
        const ReadResponse r = p->read(ids);
        EXPECT_EQ(std::tuple(statuses(r.results), r.results.at(0).value, r.results.at(1).value.i),
                  std::tuple(expected, UaValue::nodeId(node), std::int64_t(row[1].toInt())))
            << str(row[0]);
    }

    ua.set(QStringLiteral("Test.Str"), ::Variant(QString())); // read as the empty String, never the null one
    // Rows of node, attribute, index range, data encoding, and the status and value read.
    for (const QJsonValue &row : uaCases("reads")) {
        const ReadValueId id{
            nodeIdOf(row[0]), std::uint32_t(row[1].toInt()), row[2].toString(), {0, row[3].toString()}};
        const DataValue v = p->read({id}).results.at(0);
        const UaValue value = uaValueOf(row[5]);
        EXPECT_EQ(std::tuple(std::string(statusName(v.status)), v.value, v.value.s.isNull()),
                  std::tuple(str(row[4]), value, value.s.isNull()))
            << str(row[0]) << " " << row[1].toInt() << " " << str(row[2]);
    }

    std::vector<std::size_t> reads; // item values per OnRead
    std::int32_t answer = S_OK_;
    ua.server.OnRead = [&](std::int32_t count, const std::vector<OPCItem *> &, std::vector<std::int32_t> &errors,
                           std::int32_t &result) {
        reads.push_back(std::size_t(count));
        result = answer;
        if (count > 1)
            errors[1] = E_FAIL_;
    };
    // Rows of the toolkit's state, the UA one, whether item values are served, and the state's name.
    for (const QJsonValue &row : uaCases("serverStates")) {
        ua.server.setServerState(row[0].toInt());
        const ReadResponse r =
            p->read({readId(item("C01.Panel")), readId(NodeId(0, Id::State)), readId(NodeId(0, Id::ServerStatus)),
                     readId(item("C01.Panel"), Attr::DisplayName), readId(NodeId(0, Id::ServiceLevel))});
        ServerStatusDataType status;
        ASSERT_TRUE(r.results.size() == 5 && decodeExtension(r.results[2].value.x->extensionObject, status));
        const bool served = row[2].toBool();
        const StatusCode gated = served ? Good : BadOutOfService;
        EXPECT_EQ(std::tuple(r.results[0].status, r.results[0].value.isNull(), r.results[1].value.i, status.state,
                             r.results[3].status, r.results[4].value.i,
                             p->write(item("Test.Int"), integer(BuiltinType::Int16, 1))),
                  std::tuple(gated, !served, row[1].toInt(), row[1].toInt(), Good, served ? 255 : 0, gated))
            << str(row[3]);
    }
    EXPECT_EQ(reads, std::vector<std::size_t>(2, 1)); // only while serving, once per request
    reads.clear();
    ua.server.setServerState(ServerStates::Running);
    ReadResponse r = p->read({readId(item("C01.Panel")), readId(item("C01.Z1.State")), readId(NodeId(0, Id::State)),
                              readId(item("C01.Panel"), Attr::BrowseName)});
    EXPECT_EQ(reads, std::vector<std::size_t>{2});
    EXPECT_EQ(statuses(r.results), (Codes{Good, BadOutOfService, Good, Good}));
    answer = E_FAIL_;
    r = p->read({readId(item("C01.Panel")), readId(NodeId(0, Id::State))});
    EXPECT_EQ(statuses(r.results), (Codes{BadOutOfService, Good}));
}

TEST_F(ReadTest, QualitiesTimestampsMaxAgeOperationLimitsAndTheServerObject)
{
    // Rows of quality (hex), status, its limit bits, and whether that status, written, gives the quality again.
    for (const QJsonValue &row : uaCases("qualities")) {
        const auto quality = std::int16_t(row[0].toString().toInt(nullptr, 16));
        ua.set(QStringLiteral("C01.Panel"), std::nullopt, quality);
        const StatusCode status = p->read(item("C01.Panel")).status;
        EXPECT_EQ(std::tuple(std::string(statusName(status & ~LimitConstant)), (status >> 8) & 3,
                             row[3].toBool() ? ServerCore::qualityFromStatus(status) : quality),
                  std::tuple(str(row[1]), StatusCode(row[2].toInt()), quality))
            << str(row[0]);
    }
    const DateTime started = toDateTime(ua.clock.now());
    const QDateTime when(QDate(2023, 3, 4), QTime(5, 6, 7), Qt::UTC);
    ua.server.Tags().Item(QStringLiteral("C01.Panel"))->SetVQT(::Variant(std::int16_t(9)), Quality::Good, when);
    ua.clock.advance(5000);
    const std::uint8_t source = DataValue::HasSourceTimestamp, server = DataValue::HasServerTimestamp;
    const std::uint8_t expected[] = {source, server, std::uint8_t(source | server), 0};
    for (std::int32_t t = 0; t < 4; ++t) {
        const ReadResponse r = p->read({readId(item("C01.Panel")), readId(item("C01.Panel"), Attr::BrowseName)}, t);
        ASSERT_EQ(r.results.size(), 2u);
        const DataValue &v = r.results[0]; // attributes other than Value carry no timestamp
        EXPECT_EQ(std::tuple(v.mask & (source | server), v.sourceTimestamp, v.serverTimestamp,
                             r.results[1].mask & (source | server)),
                  std::tuple(int(expected[t]), (expected[t] & source) ? toDateTime(when) : 0,
                             (expected[t] & server) ? toDateTime(ua.clock.now()) : 0, 0))
            << t;
    }
    const std::vector<ReadValueId> one{readId(item("C01.Panel"))}, most(28, one[0]), tooMany(29, one[0]);
    EXPECT_EQ((Codes{p->faultOf(ReadRequest{{}, 0, 4, one}), p->faultOf(ReadRequest{{}, -1, 0, one}),
                     p->faultOf(ReadRequest{{}, 0, 0, {}}), p->faultOf(ReadRequest{{}, 0, 0, most}),
                     p->faultOf(ReadRequest{{}, 0, 0, tooMany})}),
              (Codes{BadTimestampsToReturnInvalid, BadMaxAgeInvalid, BadNothingToDo, Good, BadTooManyOperations}));

    // The Server object describes the server, and a shutdown once announced.
    ua.clock.advance(90000);
    auto value = [&](std::uint32_t id) { return p->read(NodeId(0, id)).value; };
    EXPECT_EQ(std::tuple(value(Id::ManufacturerName).s, value(Id::StartTime).i, value(Id::CurrentTime).i,
                         value(Id::SecondsTillShutdown).i),
              std::tuple(QStringLiteral("QUARLEN"), started, toDateTime(ua.clock.now()), 0));
    for (std::uint32_t limit : {Id::MaxNodesPerRead, Id::MaxNodesPerWrite, Id::MaxNodesPerBrowse,
                                Id::MaxNodesPerRegisterNodes, Id::MaxNodesPerTranslateBrowsePathsToNodeIds,
                                Id::MaxNodesPerMethodCall, Id::MaxMonitoredItemsPerCall}) // the one limit enforced
        EXPECT_EQ(value(limit), integer(BuiltinType::UInt32, 28)) << limit;

    ua.core->requestDisconnect(QStringLiteral("Operator closes the server"));
    ua.clock.advance(3500);
    const std::uint32_t left = ua.config.secondsTillShutdown - 3;
    EXPECT_EQ(std::pair(value(Id::ShutdownReason), value(Id::SecondsTillShutdown).i),
              std::pair(text("Operator closes the server"), std::int64_t(left)));
    const ReadValueId binary{NodeId(0, Id::ServerStatus), Attr::Value, {}, {0, QStringLiteral("Default Binary")}};
    const UaValue x = p->read({binary}).results.at(0).value; // in the encoding a client asks for by name
    ServerStatusDataType status;
    ASSERT_TRUE(x.x && decodeExtension(x.x->extensionObject, status));
    const BuildInfo &build = status.buildInfo;
    EXPECT_EQ(std::tuple(status.startTime, status.currentTime, status.secondsTillShutdown, status.shutdownReason.text,
                         build.manufacturerName, build.productUri),
              std::tuple(started, toDateTime(ua.clock.now()), left, QStringLiteral("Operator closes the server"),
                         QStringLiteral("QUARLEN"), ua.config.productUri));
    EXPECT_FALSE(build.productName.isEmpty() || build.softwareVersion.isEmpty() || build.buildNumber.isEmpty());
    EXPECT_GE(fromDateTime(build.buildDate).date().year(), 2024);
    ua.clock.advance(60000);
    EXPECT_EQ(value(Id::SecondsTillShutdown).i, 0);
}

TEST_F(ReadTest, WrittenValuesAreConvertedToTheItemsTypeAndGoThroughTheToolkit)
{
    std::vector<std::size_t> writes;
    std::vector<std::int16_t> qualities;
    std::vector<QDateTime> times;
    ua.server.OnWrite = [&](std::int32_t count, const std::vector<OPCItem *> &, const std::vector<::Variant> &,
                            std::vector<std::int32_t> &, std::int32_t &) { writes.push_back(std::size_t(count)); };
    ua.server.OnWriteVQT = [&](std::int32_t count, const std::vector<OPCItem *> &items,
                               const std::vector<::Variant> &values, const std::vector<std::int16_t> &q,
                               const std::vector<QDateTime> &t, std::vector<std::int32_t> &, std::int32_t &result) {
        for (std::size_t k = 0; k < std::size_t(count); ++k)
            items[k]->SetVQT(values[k], q[k], t[k]);
        qualities = q, times = t, result = S_OK_;
    };
    // Rows of item, value written, the status, and the value the item holds then, always of its own type.
    for (const QJsonValue &row : uaCases("writes")) {
        const OPCItem *it = ua.server.Tags().Item(row[0].toString());
        const std::string status = statusName(p->write(NodeId(1, row[0].toString()), uaValueOf(row[1])));
        EXPECT_EQ(std::tuple(status, it->Value().toString().toStdString(), it->Value().type()),
                  std::tuple(str(row[2]), str(row[3]), it->DataType()))
            << str(row[0]);
    }
    EXPECT_EQ(writes.size(), 10u); // refused conversions never reach the toolkit
    const UaValue one = integer(BuiltinType::Int16, 1);
    EXPECT_EQ((Codes{p->write(NodeId(0, Id::State), one), p->write(item("Test.Int"), text("x"), Attr::DisplayName),
                     p->write(item("Test.Int"), one, 99), p->write(item("Missing"), one)}),
              (Codes{BadNotWritable, BadNotWritable, BadAttributeIdInvalid, BadNodeIdUnknown}));

    // A source time or a status, each alone, goes through OnWriteVQT; an index range or no value is refused.
    const QDateTime when(QDate(2022, 2, 2), QTime(2, 2, 2), Qt::UTC);
    WriteRequest write{{},
                       {{item("Test.Dbl"), Attr::Value, {}, {}},
                        {item("Test.Long"), Attr::Value, {}, {}},
                        {item("Test.Int"), Attr::Value, {}, {}},
                        {item("Test.Int"), Attr::Value, QStringLiteral("0"), {}}}};
    write.nodesToWrite[0].value = {
        .value = UaValue::real(BuiltinType::Double, 7.5), .mask = 0x05, .sourceTimestamp = toDateTime(when)};
    write.nodesToWrite[1].value = {
        .value = integer(BuiltinType::Int32, 6), .mask = 0x03, .status = UncertainLastUsableValue};
    write.nodesToWrite[3].value.setValue(one);
    EXPECT_EQ(ask<WriteResponse>(*p, write).results, (Codes{Good, Good, BadTypeMismatch, BadWriteNotSupported}));
    EXPECT_EQ(std::pair(qualities, times),
              std::pair(std::vector<std::int16_t>{0xC0, 0x44}, std::vector<QDateTime>{when, QDateTime()}));
    EXPECT_EQ(p->faultOf(WriteRequest()), BadNothingToDo);
}

// UA Binary: round trips of the built-in types and of structures through their type
// descriptions, byte layouts from OPC 10000-6, and rejection of malformed input.
#include "ua/UaNodeIds.h"
#include "ua/UaStructures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Ua;

namespace {

QByteArray encoded(const Variant &v)
{
    QByteArray b;
    Encoder e(b);
    encodeVariant(e, v);
    return b;
}

Variant roundTrip(const Variant &v)
{
    const QByteArray b = encoded(v);
    Decoder d(b);
    Variant out = decodeVariant(d);
    EXPECT_TRUE(d.atEnd());
    return out;
}

StatusCode decodeStatus(const QByteArray &bytes, const DecodeLimits &limits = {})
{
    try {
        Decoder d(bytes, limits);
        decodeVariant(d);
        return Status::Good;
    } catch (const CodecError &e) {
        return e.status;
    }
}

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

} // namespace

TEST(UaEncoding, NumericScalarsRoundTripAtTheirLimits)
{
    const struct {
        BuiltinType type;
        std::int64_t value;
    } cases[] = {
        {BuiltinType::Boolean, 1},
        {BuiltinType::SByte, -128},
        {BuiltinType::Byte, 255},
        {BuiltinType::Int16, -32768},
        {BuiltinType::UInt16, 65535},
        {BuiltinType::Int32, INT32_MIN},
        {BuiltinType::UInt32, 0xFFFFFFFFLL},
        {BuiltinType::Int64, INT64_MIN},
        {BuiltinType::UInt64, -1},
        {BuiltinType::DateTime, 132000000000000000LL},
        {BuiltinType::StatusCode, 0x80340000LL},
    };
    for (const auto &c : cases) {
        const Variant v = Variant::integer(c.type, c.value);
        EXPECT_EQ(roundTrip(v), v) << int(c.type);
        EXPECT_EQ(std::size_t(encoded(v).size()), 1 + fixedWireSize(c.type)) << int(c.type);
    }
    const Variant f = Variant::real(BuiltinType::Float, 1.5);
    EXPECT_EQ(roundTrip(f), f);
    const Variant dbl = Variant::real(BuiltinType::Double, -1e300);
    EXPECT_EQ(roundTrip(dbl), dbl);
    const Variant nan = Variant::real(BuiltinType::Double, std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(std::isnan(roundTrip(nan).d));
}

TEST(UaEncoding, TextsAndByteStringsKeepNullEmptyAndUnicode)
{
    EXPECT_TRUE(roundTrip(Variant::string(QString())).s.isNull());
    const Variant empty = roundTrip(Variant::string(QStringLiteral("")));
    EXPECT_FALSE(empty.s.isNull());
    EXPECT_TRUE(empty.s.isEmpty());
    const QString unicode = QString::fromUtf8("Zone 1 – gas ñ 水");
    EXPECT_EQ(roundTrip(Variant::string(unicode)).s, unicode);
    EXPECT_TRUE(roundTrip(Variant::byteString(QByteArray())).bytes.isNull());
    EXPECT_EQ(roundTrip(Variant::byteString(QByteArray("\0\1\2", 3))).bytes, QByteArray("\0\1\2", 3));
    Variant xml;
    xml.type = BuiltinType::XmlElement;
    xml.bytes = "<a/>";
    EXPECT_EQ(roundTrip(xml), xml);
    // A UTF-8 string is its byte count then the bytes.
    EXPECT_EQ(encoded(Variant::string(QStringLiteral("ab"))), hex("0c020000006162"));
}

TEST(UaEncoding, NodeIdsUseTheShortestFormAndRoundTrip)
{
    auto bytes = [](const NodeId &id) {
        QByteArray b;
        Encoder e(b);
        encodeNodeId(e, id);
        return b;
    };
    // Layouts given by OPC 10000-6 5.2.2.9.
    EXPECT_EQ(bytes(NodeId(0, 72)), hex("0048"));
    EXPECT_EQ(bytes(NodeId(5, 1025)), hex("01050104"));
    EXPECT_EQ(bytes(NodeId(1, QString::fromUtf8("Hot水"))), hex("03010006000000486f74e6b0b4"));
    EXPECT_EQ(bytes(NodeId(300, 70000)), hex("022c0170110100"));

    Guid g{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};
    NodeId guid;
    guid.ns = 2;
    guid.kind = NodeId::Kind::Guid;
    guid.guid = g;
    EXPECT_EQ(bytes(guid).mid(3), hex("912b967275fae64a8d28b404dc7daf63"));
    for (const NodeId &id :
         {NodeId(0, 72), NodeId(5, 1025), NodeId(2, 0xFFFFFFFFu), NodeId(1, QStringLiteral("C01.Z1")), guid,
          NodeId::ofBytes(3, QByteArray("\xff\x00", 2))}) {
        const Variant back = roundTrip(Variant::nodeId(id));
        EXPECT_EQ(back.x->nodeId, id) << id.toString().toStdString();
    }
}

TEST(UaEncoding, ComplexBuiltinsRoundTrip)
{
    ExpandedNodeId expanded(NodeId(1, QStringLiteral("x")));
    expanded.namespaceUri = QStringLiteral("urn:test");
    expanded.serverIndex = 3;
    Variant ev;
    ev.type = BuiltinType::ExpandedNodeId;
    ev.x = std::make_shared<VariantData>();
    ev.x->expandedNodeId = expanded;
    EXPECT_EQ(roundTrip(ev), ev);

    EXPECT_EQ(roundTrip(Variant::qualifiedName({1, QStringLiteral("State")})),
              Variant::qualifiedName({1, QStringLiteral("State")}));
    for (const LocalizedText &t : {LocalizedText{}, LocalizedText{QStringLiteral("en"), QStringLiteral("Text")},
                                   LocalizedText{QString(), QStringLiteral("only text")}})
        EXPECT_EQ(roundTrip(Variant::localizedText(t)).x->localizedText, t);

    Variant gv;
    gv.type = BuiltinType::Guid;
    gv.x = std::make_shared<VariantData>();
    gv.x->guid = Guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(roundTrip(gv), gv);

    DiagnosticInfo inner;
    inner.mask = 0x21;
    inner.symbolicId = 7;
    inner.innerStatusCode = Status::BadNodeIdUnknown;
    DiagnosticInfo outer;
    outer.mask = 0x1F;
    outer.symbolicId = 1;
    outer.namespaceUri = 2;
    outer.localizedText = 3;
    outer.locale = 4;
    outer.additionalInfo = QStringLiteral("more");
    outer.inner = std::make_shared<DiagnosticInfo>(inner);
    Variant dv;
    dv.type = BuiltinType::DiagnosticInfo;
    dv.x = std::make_shared<VariantData>();
    dv.x->diagnosticInfo = outer;
    EXPECT_EQ(roundTrip(dv), dv);

    DataValue value;
    value.setValue(Variant::integer(BuiltinType::Int16, -5));
    value.setStatus(Status::UncertainSubNormal);
    value.sourceTimestamp = 5;
    value.serverTimestamp = 6;
    value.sourcePicoseconds = 7;
    value.serverPicoseconds = 8;
    value.mask |= 0x3C;
    Variant vv;
    vv.type = BuiltinType::DataValue;
    vv.x = std::make_shared<VariantData>();
    vv.x->dataValue = value;
    EXPECT_EQ(roundTrip(vv), vv);

    ExtensionObject raw;
    raw.typeId = NodeId(0, 999);
    raw.encoding = ExtensionObject::Encoding::ByteString;
    raw.body = "body";
    EXPECT_EQ(roundTrip(Variant::extensionObject(raw)).x->extensionObject, raw);
}

TEST(UaEncoding, ArraysWithDimensionsAndVariantsOfVariants)
{
    Variant matrix = Variant::array(BuiltinType::Int32, {});
    for (int k = 0; k < 6; ++k)
        matrix.x->elements.push_back(Variant::integer(BuiltinType::Int32, k));
    matrix.x->dimensions = {2, 3};
    EXPECT_EQ(roundTrip(matrix), matrix);

    const Variant mixed = Variant::array(BuiltinType::Variant,
                                         {Variant::string(QStringLiteral("a")), Variant::integer(BuiltinType::Byte, 7),
                                          Variant::stringArray({QStringLiteral("x")})});
    EXPECT_EQ(roundTrip(mixed), mixed);
    EXPECT_EQ(roundTrip(Variant()), Variant());
    EXPECT_EQ(roundTrip(Variant::stringArray({})), Variant::stringArray({}));
}

TEST(UaEncoding, ExtensionObjectsCarryStructuresByTheirEncodingId)
{
    BuildInfo info;
    info.productUri = QStringLiteral("urn:x");
    info.productName = QStringLiteral("KV7");
    info.buildDate = 42;
    const Variant v = roundTrip(Variant::extensionObject(makeExtension(info)));
    const ExtensionObject &x = v.x->extensionObject;
    EXPECT_TRUE(x.typeId.isNumeric(Id::BuildInfo_Binary));
    BuildInfo back;
    ASSERT_TRUE(decodeExtension(x, back));
    EXPECT_EQ(back.productUri, info.productUri);
    EXPECT_EQ(back.productName, info.productName);
    EXPECT_EQ(back.buildDate, 42);
    ServerStatusDataType wrong;
    EXPECT_FALSE(decodeExtension(x, wrong));
}

TEST(UaEncoding, StructuresFollowTheirFieldTables)
{
    ReadRequest request;
    request.requestHeader.requestHandle = 77;
    request.requestHeader.authenticationToken = NodeId::ofBytes(1, "token");
    request.maxAge = 500;
    request.timestampsToReturn = 2;
    for (int k = 0; k < 3; ++k) {
        ReadValueId rv;
        rv.nodeId = NodeId(1, QStringLiteral("C01.Z%1").arg(k));
        rv.attributeId = 13;
        rv.indexRange = k == 1 ? QStringLiteral("1:2") : QString();
        request.nodesToRead.push_back(rv);
    }
    QByteArray b;
    Encoder e(b);
    encodeMessage(e, request);
    Decoder d(b);
    EXPECT_TRUE(decodeNodeId(d).isNumeric(Id::ReadRequest_Binary));
    ReadRequest back;
    decodeInto(d, back);
    EXPECT_TRUE(d.atEnd());
    EXPECT_EQ(back.requestHeader.requestHandle, 77u);
    EXPECT_EQ(back.requestHeader.authenticationToken, request.requestHeader.authenticationToken);
    EXPECT_EQ(back.maxAge, 500);
    EXPECT_EQ(back.timestampsToReturn, 2);
    ASSERT_EQ(back.nodesToRead.size(), 3u);
    EXPECT_EQ(back.nodesToRead[2].nodeId, request.nodesToRead[2].nodeId);
    EXPECT_EQ(back.nodesToRead[1].indexRange, QStringLiteral("1:2"));
    EXPECT_TRUE(back.nodesToRead[0].indexRange.isNull());

    // The field table lists the standard's fields in order.
    const TypeDesc &t = ReadRequest::desc();
    ASSERT_EQ(t.fieldCount, 4u);
    EXPECT_STREQ(t.fields[3].name, "NodesToRead");
    EXPECT_TRUE(t.fields[3].isArray);
    EXPECT_EQ(ResponseHeader::desc().fieldCount, 6u);

    // A ResponseHeader with nothing set has a fixed, known size:
    // time 8, handle 4, result 4, diagnostics 1, string table 4, additional header 3.
    QByteArray h;
    Encoder he(h);
    const ResponseHeader blank;
    encodeStructure(he, ResponseHeader::desc(), &blank);
    EXPECT_EQ(h.size(), 24);
}

TEST(UaEncoding, TruncatedInputIsRejectedAtEveryLength)
{
    DataValue value;
    value.setValue(Variant::stringArray({QStringLiteral("alpha"), QStringLiteral("beta")}));
    value.setStatus(Status::Uncertain);
    value.sourceTimestamp = 1;
    value.mask |= DataValue::HasSourceTimestamp;
    Variant v;
    v.type = BuiltinType::DataValue;
    v.x = std::make_shared<VariantData>();
    v.x->dataValue = value;
    const QByteArray full = encoded(v);
    for (qsizetype n = 0; n < full.size(); ++n)
        EXPECT_EQ(decodeStatus(full.left(n)), Status::BadDecodingError) << n;
    EXPECT_EQ(decodeStatus(full), Status::Good);
}

TEST(UaEncoding, MalformedInputGetsTheRightStatus)
{
    EXPECT_EQ(decodeStatus(hex("1a")), Status::BadDecodingError);                  // type id 26 does not exist
    EXPECT_EQ(decodeStatus(hex("18")), Status::BadDecodingError);                  // scalar Variant in a Variant
    EXPECT_EQ(decodeStatus(hex("0cfeffffff")), Status::BadDecodingError);          // string length -2
    EXPECT_EQ(decodeStatus(hex("8600000000")), Status::Good);                      // empty Int32 array
    EXPECT_EQ(decodeStatus(hex("86ffffff7f")), Status::BadEncodingLimitsExceeded); // 2^31-1 elements
    EXPECT_EQ(decodeStatus(hex("8610000000")), Status::BadDecodingError);          // 16 elements, no bytes
    EXPECT_EQ(decodeStatus(hex("11 06")), Status::BadDecodingError);               // NodeId encoding 6
    EXPECT_EQ(decodeStatus(hex("11c000")), Status::BadDecodingError);              // ExpandedNodeId flags in a NodeId
    EXPECT_EQ(decodeStatus(hex("150400")), Status::BadDecodingError);              // LocalizedText mask 4
    EXPECT_EQ(decodeStatus(hex("1600000300000000")), Status::BadDecodingError);    // ExtensionObject encoding 3
    EXPECT_EQ(decodeStatus(hex("1740")), Status::BadDecodingError);                // DataValue mask bit 6
    // Dimensions that do not multiply to the length.
    EXPECT_EQ(decodeStatus(hex("c6 02000000 01000000 02000000 01000000 03000000")), Status::BadDecodingError);
    // Dimensions on a scalar.
    EXPECT_EQ(decodeStatus(hex("46 01000000")), Status::BadDecodingError);
}

TEST(UaEncoding, LimitsOnStringsArraysAndNesting)
{
    DecodeLimits limits;
    limits.maxStringLength = 4;
    limits.maxArrayLength = 2;
    limits.maxDepth = 5;
    EXPECT_EQ(decodeStatus(encoded(Variant::string(QStringLiteral("abcd"))), limits), Status::Good);
    EXPECT_EQ(decodeStatus(encoded(Variant::string(QStringLiteral("abcde"))), limits),
              Status::BadEncodingLimitsExceeded);
    EXPECT_EQ(decodeStatus(encoded(Variant::stringArray({QStringLiteral("a"), QStringLiteral("b")})), limits),
              Status::Good);
    EXPECT_EQ(
        decodeStatus(encoded(Variant::stringArray({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})),
                     limits),
        Status::BadEncodingLimitsExceeded);

    // Variants nested in arrays of Variants beyond the depth limit.
    Variant nested = Variant::integer(BuiltinType::Byte, 1);
    for (int k = 0; k < 10; ++k)
        nested = Variant::array(BuiltinType::Variant, {nested});
    EXPECT_EQ(decodeStatus(encoded(nested), limits), Status::BadEncodingLimitsExceeded);
    EXPECT_EQ(decodeStatus(encoded(nested)), Status::Good);

    // Tiny elements that take far more memory decoded than on the wire.
    std::vector<Variant> flags(20000, Variant::boolean(true));
    const QByteArray manyFlags = encoded(Variant::array(BuiltinType::Boolean, flags));
    DecodeLimits budget;
    budget.maxDecodedBytes = 1 << 20;
    EXPECT_LT(manyFlags.size(), 1 << 15);
    EXPECT_EQ(decodeStatus(manyFlags, budget), Status::BadEncodingLimitsExceeded);
    EXPECT_EQ(decodeStatus(manyFlags), Status::Good);
    std::vector<Variant> ids(5000, Variant::nodeId(NodeId(0, 1)));
    EXPECT_EQ(decodeStatus(encoded(Variant::array(BuiltinType::NodeId, ids)), budget),
              Status::BadEncodingLimitsExceeded);

    // DiagnosticInfo chains likewise.
    QByteArray chain = hex("19");
    for (int k = 0; k < 100; ++k)
        chain += hex("40");
    chain += hex("00");
    EXPECT_EQ(decodeStatus(chain), Status::BadEncodingLimitsExceeded);
}

TEST(UaEncoding, DateTimeConvertsToAndFromQt)
{
    const QDateTime t = QDateTime::fromString(QStringLiteral("2024-05-06T07:08:09.123Z"), Qt::ISODateWithMs);
    const DateTime ua = toDateTime(t);
    // 100 ns ticks since 1601-01-01.
    EXPECT_EQ(ua, (t.toMSecsSinceEpoch() + 11644473600000LL) * 10000);
    EXPECT_EQ(fromDateTime(ua), t);
    EXPECT_EQ(toDateTime(QDateTime()), 0);
    EXPECT_FALSE(fromDateTime(0).isValid());
}

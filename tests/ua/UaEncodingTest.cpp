// UA Binary built-in types: layouts from OPC 10000-6, values at their limits both ways,
// and malformed or oversized input refused with the right status. The types a ReadResponse
// carries are pinned against node-opcua's bytes in UaGoldenTest.
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

template <class T> Variant holding(BuiltinType type, T VariantData::*member, T value)
{
    Variant v;
    v.type = type;
    v.x = std::make_shared<VariantData>();
    (*v.x).*member = std::move(value);
    return v;
}

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

} // namespace

TEST(UaEncoding, ScalarsKeepTheirValuesAndLayouts)
{
    const struct {
        Variant value;
        const char *bytes; // type byte, then the value, little-endian
    } cases[] = {
        {Variant::integer(BuiltinType::SByte, -128), "0280"},
        {Variant::integer(BuiltinType::Byte, 255), "03ff"},
        {Variant::integer(BuiltinType::UInt16, 65535), "05ffff"},
        {Variant::integer(BuiltinType::Int32, INT32_MIN), "0600000080"},
        {Variant::integer(BuiltinType::UInt32, 0xFFFFFFFFLL), "07ffffffff"},
        {Variant::integer(BuiltinType::Int64, INT64_MIN), "080000000000000080"},
        {Variant::integer(BuiltinType::UInt64, -1), "09ffffffffffffffff"},
        {Variant::string(QString()), "0cffffffff"},
        {Variant::string(QStringLiteral("")), "0c00000000"},
        {Variant::byteString(QByteArray()), "0fffffffff"},
        {Variant::integer(BuiltinType::StatusCode, 0x80340000LL), "1300003480"},
        {Variant::qualifiedName({1, QStringLiteral("S")}), "14010001000000"
                                                           "53"},
        {Variant::localizedText({}), "1500"},
        {Variant(), "00"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(encoded(c.value).toHex(), QByteArray(c.bytes)) << c.bytes;
        EXPECT_EQ(roundTrip(c.value), c.value) << c.bytes;
    }
    EXPECT_TRUE(roundTrip(Variant::string(QString())).s.isNull());
    EXPECT_FALSE(roundTrip(Variant::string(QStringLiteral(""))).s.isNull());
    const QString unicode = QString::fromUtf8("Zone 1 – gas ñ 水");
    EXPECT_EQ(roundTrip(Variant::string(unicode)).s, unicode);
    EXPECT_TRUE(std::isnan(roundTrip(Variant::real(BuiltinType::Double, std::nan(""))).d));
}

TEST(UaEncoding, NodeIdsTakeTheShortestFormAndComplexTypesRoundTrip)
{
    auto bytes = [](const NodeId &id) {
        QByteArray b;
        Encoder e(b);
        encodeNodeId(e, id);
        return b.toHex();
    };
    NodeId guid;
    guid.ns = 2;
    guid.kind = NodeId::Kind::Guid;
    guid.guid = Guid{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};
    EXPECT_EQ(bytes(NodeId(0, 72)), QByteArray("0048"));
    EXPECT_EQ(bytes(NodeId(5, 1025)), QByteArray("01050104"));
    EXPECT_EQ(bytes(NodeId(300, 70000)), QByteArray("022c0170110100"));
    EXPECT_EQ(bytes(NodeId(1, QString::fromUtf8("Hot水"))), QByteArray("03010006000000486f74e6b0b4"));
    EXPECT_EQ(bytes(guid), QByteArray("040200912b967275fae64a8d28b404dc7daf63"));
    EXPECT_EQ(bytes(NodeId::ofBytes(3, "\xff")), QByteArray("05030001000000ff"));

    ExpandedNodeId expanded(NodeId(1, QStringLiteral("x")));
    expanded.namespaceUri = QStringLiteral("urn:test");
    expanded.serverIndex = 3;
    DiagnosticInfo inner{0x29, 7, 0, 0, 9, {}, Status::BadNodeIdUnknown, {}}; // a locale without its text
    const DiagnosticInfo outer{0x1F, 1, 2, 3, 4, QStringLiteral("more"), 0, std::make_shared<DiagnosticInfo>(inner)};
    DataValue value{0x0F, Variant::integer(BuiltinType::Int16, -5), Status::UncertainSubNormal, 5, 6, 0, 0};
    Variant matrix = Variant::array(BuiltinType::Int32, {});
    for (int k = 0; k < 6; ++k)
        matrix.x->elements.push_back(Variant::integer(BuiltinType::Int32, k));
    matrix.x->dimensions = {2, 3};
    for (const Variant &v :
         {Variant::nodeId(guid), Variant::nodeId(NodeId(2, 0xFFFFFFFFu)),
          holding(BuiltinType::ExpandedNodeId, &VariantData::expandedNodeId, expanded),
          holding(BuiltinType::Guid, &VariantData::guid, guid.guid),
          holding(BuiltinType::DiagnosticInfo, &VariantData::diagnosticInfo, outer),
          holding(BuiltinType::DataValue, &VariantData::dataValue, value),
          Variant::extensionObject({NodeId(0, 999), ExtensionObject::Encoding::ByteString, "body", nullptr, {}}),
          matrix, Variant::stringArray({}),
          Variant::array(BuiltinType::Variant,
                         {Variant::string(QStringLiteral("a")), Variant::stringArray({QStringLiteral("x")})})})
        EXPECT_EQ(roundTrip(v), v) << encoded(v).toHex().toStdString();

    // A structure travels in an ExtensionObject under its encoding id, and is known by it.
    BuildInfo info;
    info.productName = QStringLiteral("KV7");
    const ExtensionObject x = roundTrip(Variant::extensionObject(makeExtension(info))).x->extensionObject;
    BuildInfo back;
    ASSERT_TRUE(decodeExtension(x, back));
    EXPECT_EQ(back.productName, QStringLiteral("KV7"));
    ServerStatusDataType wrong;
    EXPECT_FALSE(decodeExtension(x, wrong));
}

TEST(UaEncoding, MalformedInputGetsTheRightStatus)
{
    DataValue value;
    value.setValue(Variant::stringArray({QStringLiteral("alpha"), QStringLiteral("beta")}));
    value.setStatus(Status::Uncertain);
    const QByteArray full = encoded(holding(BuiltinType::DataValue, &VariantData::dataValue, value));
    for (qsizetype n = 0; n < full.size(); ++n)
        EXPECT_EQ(decodeStatus(full.left(n)), Status::BadDecodingError) << n;
    EXPECT_EQ(decodeStatus(full), Status::Good);

    const struct {
        const char *bytes;
        StatusCode status;
    } cases[] = {
        {"1a", Status::BadDecodingError},                                         // type id 26
        {"18", Status::BadDecodingError},                                         // scalar Variant in a Variant
        {"0cfeffffff", Status::BadDecodingError},                                 // string length -2
        {"8600000000", Status::Good},                                             // empty Int32 array
        {"86ffffff7f", Status::BadEncodingLimitsExceeded},                        // 2^31-1 elements
        {"8610000000", Status::BadDecodingError},                                 // 16 elements, no bytes
        {"1106", Status::BadDecodingError},                                       // NodeId encoding 6
        {"11c000", Status::BadDecodingError},                                     // expanded flags in a NodeId
        {"150400", Status::BadDecodingError},                                     // LocalizedText mask 4
        {"1600000300000000", Status::BadDecodingError},                           // ExtensionObject encoding 3
        {"1740", Status::BadDecodingError},                                       // DataValue mask bit 6
        {"c60200000001000000020000000100000003000000", Status::BadDecodingError}, // 3 by dimensions, 2 given
        {"4601000000", Status::BadDecodingError},                                 // dimensions on a scalar
    };
    for (const auto &c : cases)
        EXPECT_EQ(decodeStatus(hex(c.bytes)), c.status) << c.bytes;
}

TEST(UaEncoding, LimitsOnStringsArraysNestingAndMemory)
{
    DecodeLimits limits;
    limits.maxStringLength = 4;
    limits.maxArrayLength = 2;
    limits.maxDepth = 5;
    limits.maxDecodedBytes = 1 << 20;
    const QString a = QStringLiteral("a");
    Variant nested = Variant::integer(BuiltinType::Byte, 1);
    for (int k = 0; k < 10; ++k)
        nested = Variant::array(BuiltinType::Variant, {nested});
    QByteArray chain = hex("19");
    for (int k = 0; k < 100; ++k)
        chain += hex("40");
    const struct {
        QByteArray bytes;
        StatusCode limited, unlimited;
    } cases[] = {
        {encoded(Variant::string(QStringLiteral("abcd"))), Status::Good, Status::Good},
        {encoded(Variant::string(QStringLiteral("abcde"))), Status::BadEncodingLimitsExceeded, Status::Good},
        {encoded(Variant::stringArray({a, a})), Status::Good, Status::Good},
        {encoded(Variant::stringArray({a, a, a})), Status::BadEncodingLimitsExceeded, Status::Good},
        {encoded(nested), Status::BadEncodingLimitsExceeded, Status::Good},
        {chain + hex("00"), Status::BadEncodingLimitsExceeded, Status::BadEncodingLimitsExceeded},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(decodeStatus(c.bytes, limits), c.limited) << c.bytes.toHex().left(40).toStdString();
        EXPECT_EQ(decodeStatus(c.bytes), c.unlimited) << c.bytes.toHex().left(40).toStdString();
    }
    // Tiny elements that take far more memory decoded than on the wire.
    DecodeLimits budget;
    budget.maxDecodedBytes = 1 << 20;
    const QByteArray flags = encoded(Variant::array(BuiltinType::Boolean, std::vector(20000, Variant::boolean(true))));
    EXPECT_LT(flags.size(), 1 << 15);
    EXPECT_EQ(decodeStatus(flags, budget), Status::BadEncodingLimitsExceeded);
    EXPECT_EQ(decodeStatus(flags), Status::Good);
    const Variant ids = Variant::array(BuiltinType::NodeId, std::vector(5000, Variant::nodeId(NodeId(0, 1))));
    EXPECT_EQ(decodeStatus(encoded(ids), budget), Status::BadEncodingLimitsExceeded);
}

// UA Binary built-in types: layouts from OPC 10000-6, values at their limits both ways, and malformed or
// oversized input refused with the right status. What a ReadResponse or PublishResponse carries (DataValues and
// ExtensionObjects too) is pinned in UaGoldenTest.
#include "UaFixture.h"

#include <cmath>
#include <limits>

namespace Ua { // where Variant is the UA one, not the toolkit's

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

} // namespace

TEST(UaEncoding, BuiltinsTakeTheirLayoutsAndComeBackAlike)
{
    NodeId guid;
    guid.ns = 2;
    guid.kind = NodeId::Kind::Guid;
    guid.guid = Guid{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};
    // Rows of a value and its bytes: the type byte, then the value, little-endian; NodeIds in the shortest form
    // that holds them. Decoded and encoded again, the same bytes (which tells a null String from an empty one).
    std::vector<std::pair<Variant, QByteArray>> layouts{
        {Variant::real(BuiltinType::Double, std::nan("")), "0b000000000000f87f"},
        {Variant::nodeId(guid), "11040200912b967275fae64a8d28b404dc7daf63"}};
    for (const QJsonValue &row : uaCases("layouts"))
        layouts.emplace_back(uaValueOf(row[0]), row[1].toString().toLatin1());
    for (const auto &[value, bytes] : layouts)
        EXPECT_EQ(std::pair(encoded(value).toHex(), encoded(roundTrip(value)).toHex()), std::pair(bytes, bytes));

    ExpandedNodeId expanded(NodeId(1, QStringLiteral("x")));
    expanded.namespaceUri = QStringLiteral("urn:test");
    expanded.serverIndex = 3;
    DiagnosticInfo inner{0x29, 7, 0, 0, 9, {}, Status::BadNodeIdUnknown, {}}; // a locale without its text
    const DiagnosticInfo outer{0x1F, 1, 2, 3, 4, QStringLiteral("more"), 0, std::make_shared<DiagnosticInfo>(inner)};
    Variant matrix = Variant::array(BuiltinType::Int32, {});
    for (int k = 0; k < 6; ++k)
        matrix.x->elements.push_back(Variant::integer(BuiltinType::Int32, k));
    matrix.x->dimensions = {2, 3};
    for (const Variant &v :
         {Variant::nodeId(NodeId(2, 0xFFFFFFFFu)),
          holding(BuiltinType::ExpandedNodeId, &VariantData::expandedNodeId, expanded),
          holding(BuiltinType::Guid, &VariantData::guid, guid.guid),
          holding(BuiltinType::DiagnosticInfo, &VariantData::diagnosticInfo, outer), matrix, Variant::stringArray({}),
          Variant::array(BuiltinType::Variant,
                         {Variant::string(QStringLiteral("a")), Variant::stringArray({QStringLiteral("x")})})})
        EXPECT_EQ(roundTrip(v), v) << encoded(v).toHex().toStdString();

    // A structure in an ExtensionObject is known by its encoding id (the Server's status, read, decodes).
    ServerStatusDataType wrong;
    EXPECT_FALSE(
        decodeExtension(roundTrip(Variant::extensionObject(makeExtension(BuildInfo{}))).x->extensionObject, wrong));
}

// A Variant's number fields share their place and its bytes live in its shared block: the type says what compares.
TEST(UaEncoding, VariantsCompareWhatTheirTypeHolds)
{
    const Variant nan = Variant::real(BuiltinType::Double, std::nan(""));
    const Variant bytes = Variant::byteString("ab");
    const std::vector<std::tuple<Variant, Variant, bool>> rows{
        {Variant::real(BuiltinType::Double, 0.0), Variant::real(BuiltinType::Double, -0.0), true},
        {nan, nan, true},
        {Variant::real(BuiltinType::Float, 1.5), Variant::real(BuiltinType::Float, 2.5), false},
        {Variant::integer(BuiltinType::Int64, 1), Variant::integer(BuiltinType::Int64, 2), false},
        {bytes, roundTrip(bytes), true},
        {bytes, Variant::byteString("ac"), false},
        {bytes, Variant::byteString("ab", BuiltinType::XmlElement), false}};
    for (const auto &[a, b, same] : rows)
        EXPECT_EQ(a == b, same) << encoded(a).toHex().toStdString() << " / " << encoded(b).toHex().toStdString();
    EXPECT_EQ(std::pair(bytes.bytes(), Variant::string(QStringLiteral("ab")).bytes()),
              std::pair(QByteArray("ab"), QByteArray()));
}

TEST(UaEncoding, MalformedOrOversizedInputGetsTheRightStatus)
{
    DataValue value;
    value.setValue(Variant::stringArray({QStringLiteral("alpha"), QStringLiteral("beta")}));
    value.setStatus(Status::Uncertain);
    const QByteArray full = encoded(holding(BuiltinType::DataValue, &VariantData::dataValue, value));
    for (qsizetype n = 0; n < full.size(); ++n)
        EXPECT_EQ(decodeStatus(full.left(n)), Status::BadDecodingError) << n;
    EXPECT_EQ(decodeStatus(full), Status::Good);

    // Rows of bytes, the status by default and with these limits, and why.
    const DecodeLimits limits{4, 2, 5, 1 << 20};
    for (const QJsonValue &row : uaCases("malformed")) {
        const QByteArray bytes = QByteArray::fromHex(row[0].toString().toLatin1());
        EXPECT_EQ(std::pair(std::string(statusName(decodeStatus(bytes))),
                            std::string(statusName(decodeStatus(bytes, limits)))),
                  std::pair(str(row[1]), str(row[2])))
            << str(row[3]);
    }

    // Tiny elements that take far more memory decoded than on the wire.
    const DecodeLimits budget{.maxDecodedBytes = 1 << 20};
    const QByteArray flags = encoded(Variant::array(BuiltinType::Boolean, std::vector(20000, Variant::boolean(true))));
    EXPECT_LT(flags.size(), 1 << 15);
    EXPECT_EQ(std::pair(decodeStatus(flags), decodeStatus(flags, budget)),
              std::pair(Status::Good, Status::BadEncodingLimitsExceeded));
    const Variant ids = Variant::array(BuiltinType::NodeId, std::vector(5000, Variant::nodeId(NodeId(0, 1))));
    EXPECT_EQ(decodeStatus(encoded(ids), budget), Status::BadEncodingLimitsExceeded);
}

} // namespace Ua

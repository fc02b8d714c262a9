#include "ua/UaBinary.h"
#include "ua/UaTypeDescription.h"

namespace Ua {

// --- DateTime -----------------------------------------------------------------

namespace {
constexpr std::int64_t EpochDifferenceMs = 11644473600000LL; // 1601-01-01 to 1970-01-01
}

DateTime toDateTime(const QDateTime &t)
{
    if (!t.isValid())
        return 0;
    return (t.toMSecsSinceEpoch() + EpochDifferenceMs) * 10000;
}

QDateTime fromDateTime(DateTime t)
{
    if (t <= 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(t / 10000 - EpochDifferenceMs, Qt::UTC);
}

// --- Value helpers ------------------------------------------------------------

bool NodeId::operator==(const NodeId &o) const
{
    if (ns != o.ns || kind != o.kind)
        return false;
    switch (kind) {
    case Kind::Numeric: return numeric == o.numeric;
    case Kind::String: return string == o.string;
    case Kind::Guid: return guid == o.guid;
    case Kind::ByteString: return bytes == o.bytes;
    }
    return false;
}

QString NodeId::toString() const
{
    QString prefix = ns ? QStringLiteral("ns=%1;").arg(ns) : QString();
    switch (kind) {
    case Kind::Numeric: return prefix + QStringLiteral("i=%1").arg(numeric);
    case Kind::String: return prefix + QStringLiteral("s=") + string;
    case Kind::Guid:
        return prefix + QStringLiteral("g=%1-%2-%3")
                            .arg(guid.data1, 8, 16, QLatin1Char('0'))
                            .arg(guid.data2, 4, 16, QLatin1Char('0'))
                            .arg(guid.data3, 4, 16, QLatin1Char('0'));
    case Kind::ByteString: return prefix + QStringLiteral("b=") + QString::fromLatin1(bytes.toBase64());
    }
    return prefix;
}

bool DiagnosticInfo::operator==(const DiagnosticInfo &o) const
{
    if (mask != o.mask || symbolicId != o.symbolicId || namespaceUri != o.namespaceUri ||
        localizedText != o.localizedText || locale != o.locale || additionalInfo != o.additionalInfo ||
        innerStatusCode != o.innerStatusCode || bool(inner) != bool(o.inner))
        return false;
    return !inner || *inner == *o.inner;
}

namespace {
VariantData &data(Variant &v)
{
    if (!v.x)
        v.x = std::make_shared<VariantData>();
    return *v.x;
}
const std::vector<Variant> &noElements()
{
    static const std::vector<Variant> none;
    return none;
}

// A scalar of a type kept in the shared part of the variant.
template <class T> Variant holding(BuiltinType type, T VariantData::*member, T value)
{
    Variant r;
    r.type = type;
    data(r).*member = std::move(value);
    return r;
}
} // namespace

Variant Variant::nodeId(NodeId id) { return holding(BuiltinType::NodeId, &VariantData::nodeId, std::move(id)); }

Variant Variant::qualifiedName(QualifiedName q)
{
    return holding(BuiltinType::QualifiedName, &VariantData::qualifiedName, std::move(q));
}

Variant Variant::localizedText(LocalizedText t)
{
    return holding(BuiltinType::LocalizedText, &VariantData::localizedText, std::move(t));
}

Variant Variant::extensionObject(ExtensionObject e)
{
    return holding(BuiltinType::ExtensionObject, &VariantData::extensionObject, std::move(e));
}

Variant Variant::byteString(QByteArray v, BuiltinType t) { return holding(t, &VariantData::bytes, std::move(v)); }

const QByteArray &Variant::bytes() const
{
    static const QByteArray none;
    return x ? x->bytes : none;
}

Variant Variant::array(BuiltinType elementType, std::vector<Variant> elements)
{
    Variant r;
    r.type = elementType;
    r.isArray = true;
    data(r).elements = std::move(elements);
    return r;
}

Variant Variant::stringArray(const std::vector<QString> &texts)
{
    std::vector<Variant> e;
    e.reserve(texts.size());
    for (const auto &t : texts)
        e.push_back(string(t));
    return array(BuiltinType::String, std::move(e));
}

const std::vector<Variant> &Variant::elements() const { return x ? x->elements : noElements(); }

bool Variant::operator==(const Variant &o) const
{
    if (type != o.type || isArray != o.isArray || s != o.s)
        return false;
    if (type == BuiltinType::Float || type == BuiltinType::Double) {
        if (!(d == o.d || (d != d && o.d != o.d)))
            return false;
    } else if (i != o.i) {
        return false;
    }
    if (bool(x) != bool(o.x))
        return false;
    return !x || *x == *o.x;
}

std::size_t fixedWireSize(BuiltinType t)
{
    switch (t) {
    case BuiltinType::Boolean:
    case BuiltinType::SByte:
    case BuiltinType::Byte: return 1;
    case BuiltinType::Int16:
    case BuiltinType::UInt16: return 2;
    case BuiltinType::Int32:
    case BuiltinType::UInt32:
    case BuiltinType::Float:
    case BuiltinType::StatusCode: return 4;
    case BuiltinType::Int64:
    case BuiltinType::UInt64:
    case BuiltinType::Double:
    case BuiltinType::DateTime: return 8;
    case BuiltinType::Guid: return 16;
    default: return 0;
    }
}

// --- Encoder / Decoder basics ----------------------------------------------------

void Encoder::string(QStringView s, bool null)
{
    if (null) {
        i32(-1);
        return;
    }
    // Most texts here are ASCII item ids: write them straight into the buffer.
    const qsizetype n = s.size();
    bool ascii = true;
    for (qsizetype k = 0; k < n; ++k)
        if (s[k].unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        i32(std::int32_t(n));
        char *dst = extend(std::size_t(n));
        for (qsizetype k = 0; k < n; ++k)
            dst[k] = char(s[k].unicode());
        return;
    }
    const QByteArray utf8 = s.toUtf8();
    i32(std::int32_t(utf8.size()));
    raw(utf8.constData(), std::size_t(utf8.size()));
}

void Encoder::grow(std::size_t n)
{
    // Doubling keeps the number of copies of a large answer logarithmic.
    out_.reserve(std::max<qsizetype>(2 * out_.capacity(), out_.size() + qsizetype(n) + 256));
}

void Encoder::byteString(const QByteArray &b)
{
    if (b.isNull()) {
        i32(-1);
        return;
    }
    i32(std::int32_t(b.size()));
    raw(b.constData(), std::size_t(b.size()));
}

void Encoder::patchU32(qsizetype at, std::uint32_t v)
{
    char *p = out_.data() + at;
    p[0] = char(v);
    p[1] = char(v >> 8);
    p[2] = char(v >> 16);
    p[3] = char(v >> 24);
}

std::int32_t Decoder::lengthPrefix(std::size_t costPerByte)
{
    const std::int32_t n = i32();
    if (n == -1)
        return n;
    if (n < -1)
        throw CodecError{Status::BadDecodingError};
    if (n > limits_.maxStringLength)
        throw CodecError{Status::BadEncodingLimitsExceeded};
    need(std::size_t(n));
    charge(std::size_t(n) * costPerByte);
    return n;
}

QString Decoder::string()
{
    // A decoded string holds two bytes per character.
    const std::int32_t n = lengthPrefix(2);
    if (n == -1)
        return {};
    QString s = n == 0 ? QStringLiteral("") : QString::fromUtf8(reinterpret_cast<const char *>(p_), n);
    p_ += n;
    return s;
}

QByteArray Decoder::byteString()
{
    const std::int32_t n = lengthPrefix(1);
    if (n == -1)
        return {};
    QByteArray b(reinterpret_cast<const char *>(p_), n);
    if (n == 0)
        b = QByteArray("", 0);
    p_ += n;
    return b;
}

std::size_t Decoder::arrayLength(std::size_t minElementSize, std::size_t elementCost)
{
    const std::int32_t n = i32();
    if (n == -1)
        return 0;
    if (n < -1)
        throw CodecError{Status::BadDecodingError};
    if (n > limits_.maxArrayLength)
        throw CodecError{Status::BadEncodingLimitsExceeded};
    if (std::size_t(n) * std::max<std::size_t>(minElementSize, 1) > remaining())
        throw CodecError{Status::BadDecodingError};
    charge(std::size_t(n) * elementCost);
    return std::size_t(n);
}

// --- Built-in types --------------------------------------------------------------

void encodeGuid(Encoder &e, const Guid &g)
{
    e.u32(g.data1);
    e.u16(g.data2);
    e.u16(g.data3);
    e.raw(g.data4.data(), 8);
}

Guid decodeGuid(Decoder &d)
{
    Guid g;
    g.data1 = d.u32();
    g.data2 = d.u16();
    g.data3 = d.u16();
    for (auto &b : g.data4)
        b = d.u8();
    return g;
}

namespace {
void encodeNodeIdWithFlags(Encoder &e, const NodeId &id, std::uint8_t flags)
{
    switch (id.kind) {
    case NodeId::Kind::Numeric:
        if (id.ns == 0 && id.numeric <= 0xFF) {
            e.u8(0x00 | flags);
            e.u8(std::uint8_t(id.numeric));
        } else if (id.ns <= 0xFF && id.numeric <= 0xFFFF) {
            e.u8(0x01 | flags);
            e.u8(std::uint8_t(id.ns));
            e.u16(std::uint16_t(id.numeric));
        } else {
            e.u8(0x02 | flags);
            e.u16(id.ns);
            e.u32(id.numeric);
        }
        return;
    case NodeId::Kind::String:
        e.u8(0x03 | flags);
        e.u16(id.ns);
        e.string(id.string);
        return;
    case NodeId::Kind::Guid:
        e.u8(0x04 | flags);
        e.u16(id.ns);
        encodeGuid(e, id.guid);
        return;
    case NodeId::Kind::ByteString:
        e.u8(0x05 | flags);
        e.u16(id.ns);
        e.byteString(id.bytes);
        return;
    }
}

NodeId decodeNodeIdBody(Decoder &d, std::uint8_t encoding)
{
    NodeId id;
    switch (encoding & 0x3F) {
    case 0x00: id.numeric = d.u8(); break;
    case 0x01:
        id.ns = d.u8();
        id.numeric = d.u16();
        break;
    case 0x02:
        id.ns = d.u16();
        id.numeric = d.u32();
        break;
    case 0x03:
        id.kind = NodeId::Kind::String;
        id.ns = d.u16();
        id.string = d.string();
        break;
    case 0x04:
        id.kind = NodeId::Kind::Guid;
        id.ns = d.u16();
        id.guid = decodeGuid(d);
        break;
    case 0x05:
        id.kind = NodeId::Kind::ByteString;
        id.ns = d.u16();
        id.bytes = d.byteString();
        break;
    default: throw CodecError{Status::BadDecodingError};
    }
    return id;
}
} // namespace

void encodeNodeId(Encoder &e, const NodeId &id) { encodeNodeIdWithFlags(e, id, 0); }

NodeId decodeNodeId(Decoder &d)
{
    const std::uint8_t encoding = d.u8();
    if (encoding & 0xC0)
        throw CodecError{Status::BadDecodingError};
    return decodeNodeIdBody(d, encoding);
}

void encodeExpandedNodeId(Encoder &e, const ExpandedNodeId &id)
{
    std::uint8_t flags = 0;
    if (!id.namespaceUri.isNull())
        flags |= 0x80;
    if (id.serverIndex != 0)
        flags |= 0x40;
    encodeNodeIdWithFlags(e, id.nodeId, flags);
    if (flags & 0x80)
        e.string(id.namespaceUri);
    if (flags & 0x40)
        e.u32(id.serverIndex);
}

ExpandedNodeId decodeExpandedNodeId(Decoder &d)
{
    const std::uint8_t encoding = d.u8();
    ExpandedNodeId id;
    id.nodeId = decodeNodeIdBody(d, encoding);
    if (encoding & 0x80)
        id.namespaceUri = d.string();
    if (encoding & 0x40)
        id.serverIndex = d.u32();
    return id;
}

void encodeQualifiedName(Encoder &e, const QualifiedName &q)
{
    e.u16(q.ns);
    e.string(q.name);
}

QualifiedName decodeQualifiedName(Decoder &d)
{
    QualifiedName q;
    q.ns = d.u16();
    q.name = d.string();
    return q;
}

void encodeLocalizedText(Encoder &e, const LocalizedText &t)
{
    const std::uint8_t mask = (t.locale.isEmpty() ? 0 : 0x01) | (t.text.isNull() ? 0 : 0x02);
    e.u8(mask);
    if (mask & 0x01)
        e.string(t.locale);
    if (mask & 0x02)
        e.string(t.text);
}

LocalizedText decodeLocalizedText(Decoder &d)
{
    const std::uint8_t mask = d.u8();
    if (mask & ~0x03)
        throw CodecError{Status::BadDecodingError};
    LocalizedText t;
    if (mask & 0x01)
        t.locale = d.string();
    if (mask & 0x02)
        t.text = d.string();
    return t;
}

void encodeExtensionObject(Encoder &e, const ExtensionObject &x)
{
    if (x.type && x.object) {
        encodeNodeId(e, NodeId(0, x.type->binaryEncodingId));
        e.u8(std::uint8_t(ExtensionObject::Encoding::ByteString));
        const qsizetype lengthAt = e.size();
        e.u32(0);
        encodeStructure(e, *x.type, x.object.get());
        e.patchU32(lengthAt, std::uint32_t(e.size() - lengthAt - 4));
        return;
    }
    encodeNodeId(e, x.typeId);
    e.u8(std::uint8_t(x.encoding));
    if (x.encoding != ExtensionObject::Encoding::None)
        e.byteString(x.body);
}

ExtensionObject decodeExtensionObject(Decoder &d)
{
    ExtensionObject x;
    x.typeId = decodeNodeId(d);
    const std::uint8_t encoding = d.u8();
    if (encoding > 2)
        throw CodecError{Status::BadDecodingError};
    x.encoding = ExtensionObject::Encoding(encoding);
    if (encoding != 0)
        x.body = d.byteString();
    return x;
}

void encodeDiagnosticInfo(Encoder &e, const DiagnosticInfo &x)
{
    std::uint8_t mask = x.mask & 0x3F;
    if (x.inner)
        mask |= 0x40;
    e.u8(mask);
    if (mask & 0x01)
        e.i32(x.symbolicId);
    if (mask & 0x02)
        e.i32(x.namespaceUri);
    if (mask & 0x08)
        e.i32(x.locale);
    if (mask & 0x04)
        e.i32(x.localizedText);
    if (mask & 0x10)
        e.string(x.additionalInfo);
    if (mask & 0x20)
        e.u32(x.innerStatusCode);
    if (mask & 0x40)
        encodeDiagnosticInfo(e, *x.inner);
}

DiagnosticInfo decodeDiagnosticInfo(Decoder &d)
{
    d.enter();
    DiagnosticInfo x;
    const std::uint8_t mask = d.u8();
    if (mask & 0x80)
        throw CodecError{Status::BadDecodingError};
    x.mask = mask & 0x3F;
    if (mask & 0x01)
        x.symbolicId = d.i32();
    if (mask & 0x02)
        x.namespaceUri = d.i32();
    if (mask & 0x08)
        x.locale = d.i32();
    if (mask & 0x04)
        x.localizedText = d.i32();
    if (mask & 0x10)
        x.additionalInfo = d.string();
    if (mask & 0x20)
        x.innerStatusCode = d.u32();
    if (mask & 0x40)
        x.inner = std::make_shared<DiagnosticInfo>(decodeDiagnosticInfo(d));
    d.leave();
    return x;
}

namespace {
void encodeScalar(Encoder &e, const Variant &v)
{
    switch (v.type) {
    case BuiltinType::Null: return;
    case BuiltinType::Boolean: e.u8(v.i ? 1 : 0); return;
    case BuiltinType::SByte:
    case BuiltinType::Byte: e.u8(std::uint8_t(v.i)); return;
    case BuiltinType::Int16:
    case BuiltinType::UInt16: e.u16(std::uint16_t(v.i)); return;
    case BuiltinType::Int32:
    case BuiltinType::UInt32:
    case BuiltinType::StatusCode: e.u32(std::uint32_t(v.i)); return;
    case BuiltinType::Int64:
    case BuiltinType::UInt64:
    case BuiltinType::DateTime: e.i64(v.i); return;
    case BuiltinType::Float: e.f32(float(v.d)); return;
    case BuiltinType::Double: e.f64(v.d); return;
    case BuiltinType::String: e.string(v.s); return;
    case BuiltinType::ByteString:
    case BuiltinType::XmlElement: e.byteString(v.bytes()); return;
    case BuiltinType::Guid: encodeGuid(e, v.x ? v.x->guid : Guid{}); return;
    case BuiltinType::NodeId: encodeNodeId(e, v.x ? v.x->nodeId : NodeId{}); return;
    case BuiltinType::ExpandedNodeId: encodeExpandedNodeId(e, v.x ? v.x->expandedNodeId : ExpandedNodeId{}); return;
    case BuiltinType::QualifiedName: encodeQualifiedName(e, v.x ? v.x->qualifiedName : QualifiedName{}); return;
    case BuiltinType::LocalizedText: encodeLocalizedText(e, v.x ? v.x->localizedText : LocalizedText{}); return;
    case BuiltinType::ExtensionObject: encodeExtensionObject(e, v.x ? v.x->extensionObject : ExtensionObject{}); return;
    case BuiltinType::DataValue: encodeDataValue(e, v.x ? v.x->dataValue : DataValue{}); return;
    case BuiltinType::Variant: throw CodecError{Status::BadEncodingError}; // only inside arrays
    case BuiltinType::DiagnosticInfo: encodeDiagnosticInfo(e, v.x ? v.x->diagnosticInfo : DiagnosticInfo{}); return;
    }
}

Variant decodeScalar(Decoder &d, BuiltinType t)
{
    Variant v;
    v.type = t;
    if (t >= BuiltinType::Guid && t != BuiltinType::StatusCode && t != BuiltinType::Variant)
        d.charge(sizeof(VariantData));
    switch (t) {
    case BuiltinType::Null: break;
    case BuiltinType::Boolean: v.i = d.u8() != 0; break;
    case BuiltinType::SByte: v.i = std::int8_t(d.u8()); break;
    case BuiltinType::Byte: v.i = d.u8(); break;
    case BuiltinType::Int16: v.i = std::int16_t(d.u16()); break;
    case BuiltinType::UInt16: v.i = d.u16(); break;
    case BuiltinType::Int32: v.i = d.i32(); break;
    case BuiltinType::UInt32:
    case BuiltinType::StatusCode: v.i = d.u32(); break;
    case BuiltinType::Int64:
    case BuiltinType::UInt64:
    case BuiltinType::DateTime: v.i = d.i64(); break;
    case BuiltinType::Float: v.d = d.f32(); break;
    case BuiltinType::Double: v.d = d.f64(); break;
    case BuiltinType::String: v.s = d.string(); break;
    case BuiltinType::ByteString:
    case BuiltinType::XmlElement: data(v).bytes = d.byteString(); break;
    case BuiltinType::Guid: data(v).guid = decodeGuid(d); break;
    case BuiltinType::NodeId: data(v).nodeId = decodeNodeId(d); break;
    case BuiltinType::ExpandedNodeId: data(v).expandedNodeId = decodeExpandedNodeId(d); break;
    case BuiltinType::QualifiedName: data(v).qualifiedName = decodeQualifiedName(d); break;
    case BuiltinType::LocalizedText: data(v).localizedText = decodeLocalizedText(d); break;
    case BuiltinType::ExtensionObject: data(v).extensionObject = decodeExtensionObject(d); break;
    case BuiltinType::DataValue: data(v).dataValue = decodeDataValue(d); break;
    case BuiltinType::Variant: return decodeVariant(d);
    case BuiltinType::DiagnosticInfo: data(v).diagnosticInfo = decodeDiagnosticInfo(d); break;
    }
    return v;
}
} // namespace

void encodeVariant(Encoder &e, const Variant &v)
{
    if (v.type == BuiltinType::Null) {
        e.u8(0);
        return;
    }
    std::uint8_t mask = std::uint8_t(v.type);
    if (!v.isArray) {
        e.u8(mask);
        encodeScalar(e, v);
        return;
    }
    const auto &dims = v.x ? v.x->dimensions : std::vector<std::int32_t>{};
    mask |= 0x80;
    if (!dims.empty())
        mask |= 0x40;
    e.u8(mask);
    const auto &elements = v.elements();
    e.i32(std::int32_t(elements.size()));
    for (const auto &el : elements) {
        if (v.type == BuiltinType::Variant)
            encodeVariant(e, el);
        else
            encodeScalar(e, el);
    }
    if (!dims.empty()) {
        e.i32(std::int32_t(dims.size()));
        for (auto dim : dims)
            e.i32(dim);
    }
}

Variant decodeVariant(Decoder &d)
{
    d.enter();
    const std::uint8_t mask = d.u8();
    const std::uint8_t typeId = mask & 0x3F;
    if (typeId > std::uint8_t(BuiltinType::DiagnosticInfo))
        throw CodecError{Status::BadDecodingError};
    const auto type = BuiltinType(typeId);
    Variant v;
    if (!(mask & 0x80)) {
        if (mask & 0x40)
            throw CodecError{Status::BadDecodingError};
        if (type == BuiltinType::Variant) // a Variant holds another only inside an array
            throw CodecError{Status::BadDecodingError};
        v = decodeScalar(d, type);
    } else {
        if (type == BuiltinType::Null)
            throw CodecError{Status::BadDecodingError};
        const std::size_t n = d.arrayLength(std::max<std::size_t>(fixedWireSize(type), 1), sizeof(Variant));
        d.charge(sizeof(VariantData));
        v.type = type;
        v.isArray = true;
        auto &elements = data(v).elements;
        elements.reserve(n);
        for (std::size_t k = 0; k < n; ++k)
            elements.push_back(type == BuiltinType::Variant ? decodeVariant(d) : decodeScalar(d, type));
        if (mask & 0x40) {
            const std::size_t count = d.arrayLength(4);
            auto &dims = data(v).dimensions;
            std::uint64_t product = 1;
            for (std::size_t k = 0; k < count; ++k) {
                const std::int32_t dim = d.i32();
                if (dim < 0)
                    throw CodecError{Status::BadDecodingError};
                dims.push_back(dim);
                product = std::min<std::uint64_t>(product * std::uint64_t(dim), std::uint64_t(1) << 40);
            }
            if (count == 0 || product != n)
                throw CodecError{Status::BadDecodingError};
        }
    }
    d.leave();
    return v;
}

void encodeDataValue(Encoder &e, const DataValue &v)
{
    std::uint8_t mask = v.mask & 0x3F;
    e.u8(mask);
    if (mask & DataValue::HasValue)
        encodeVariant(e, v.value);
    if (mask & DataValue::HasStatus)
        e.u32(v.status);
    if (mask & DataValue::HasSourceTimestamp)
        e.i64(v.sourceTimestamp);
    if (mask & DataValue::HasSourcePicoseconds)
        e.u16(v.sourcePicoseconds);
    if (mask & DataValue::HasServerTimestamp)
        e.i64(v.serverTimestamp);
    if (mask & DataValue::HasServerPicoseconds)
        e.u16(v.serverPicoseconds);
}

DataValue decodeDataValue(Decoder &d)
{
    d.enter();
    DataValue v;
    const std::uint8_t mask = d.u8();
    if (mask & 0xC0)
        throw CodecError{Status::BadDecodingError};
    v.mask = mask;
    if (mask & DataValue::HasValue)
        v.value = decodeVariant(d);
    if (mask & DataValue::HasStatus)
        v.status = d.u32();
    if (mask & DataValue::HasSourceTimestamp)
        v.sourceTimestamp = d.i64();
    if (mask & DataValue::HasSourcePicoseconds)
        v.sourcePicoseconds = d.u16();
    if (mask & DataValue::HasServerTimestamp)
        v.serverTimestamp = d.i64();
    if (mask & DataValue::HasServerPicoseconds)
        v.serverPicoseconds = d.u16();
    d.leave();
    return v;
}

} // namespace Ua

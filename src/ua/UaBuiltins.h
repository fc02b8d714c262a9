#pragma once
#include "ua/UaStatusCodes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// The built-in types of OPC 10000-6 as this server holds them in memory.
namespace Ua {

struct TypeDesc;

// Built-in type ids as they appear in a Variant's encoding mask.
enum class BuiltinType : std::uint8_t {
    Null = 0,
    Boolean,
    SByte,
    Byte,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Int64,
    UInt64,
    Float,
    Double,
    String,
    DateTime,
    Guid,
    ByteString,
    XmlElement,
    NodeId,
    ExpandedNodeId,
    StatusCode,
    QualifiedName,
    LocalizedText,
    ExtensionObject,
    DataValue,
    Variant,
    DiagnosticInfo
};

// DateTime shares Int64's wire form: 100 ns ticks since 1601-01-01 UTC.
using DateTime = std::int64_t;
DateTime toDateTime(const QDateTime &t);
QDateTime fromDateTime(DateTime t);

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0, data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    bool operator==(const Guid &) const = default;
};

struct NodeId {
    enum class Kind : std::uint8_t { Numeric, String, Guid, ByteString };
    std::uint16_t ns = 0;
    Kind kind = Kind::Numeric;
    std::uint32_t numeric = 0;
    QString string;
    QByteArray bytes;
    Guid guid;

    NodeId() = default;
    NodeId(std::uint16_t n, std::uint32_t id) : ns(n), numeric(id) {}
    NodeId(std::uint16_t n, QString s) : ns(n), kind(Kind::String), string(std::move(s)) {}
    static NodeId ofBytes(std::uint16_t n, QByteArray b)
    {
        NodeId id;
        id.ns = n;
        id.kind = Kind::ByteString;
        id.bytes = std::move(b);
        return id;
    }
    bool isNull() const { return ns == 0 && kind == Kind::Numeric && numeric == 0; }
    bool isNumeric(std::uint32_t id, std::uint16_t n = 0) const
    {
        return kind == Kind::Numeric && ns == n && numeric == id;
    }
    bool operator==(const NodeId &o) const;
    QString toString() const; // "ns=1;s=C01.Z1" form for trace lines
};

struct ExpandedNodeId {
    NodeId nodeId;
    QString namespaceUri;
    std::uint32_t serverIndex = 0;
    ExpandedNodeId() = default;
    ExpandedNodeId(NodeId id) : nodeId(std::move(id)) {}
    bool operator==(const ExpandedNodeId &) const = default;
};

struct QualifiedName {
    std::uint16_t ns = 0;
    QString name;
    bool operator==(const QualifiedName &) const = default;
    bool isNull() const { return ns == 0 && name.isEmpty(); }
};

struct LocalizedText {
    QString locale;
    QString text;
    bool operator==(const LocalizedText &) const = default;
};

// A structure in encoded form. A body that this server builds itself carries its
// type description and the object; received bodies stay raw until a service
// decodes the one it expects.
struct ExtensionObject {
    enum class Encoding : std::uint8_t { None = 0, ByteString = 1, Xml = 2 };
    NodeId typeId;
    Encoding encoding = Encoding::None;
    QByteArray body;
    const TypeDesc *type = nullptr;
    std::shared_ptr<const void> object;
    bool operator==(const ExtensionObject &o) const
    {
        return typeId == o.typeId && encoding == o.encoding && body == o.body && object == o.object;
    }
};

struct DiagnosticInfo {
    std::uint8_t mask = 0; // which of the fields below are present
    std::int32_t symbolicId = 0, namespaceUri = 0, localizedText = 0, locale = 0;
    QString additionalInfo;
    StatusCode innerStatusCode = 0;
    std::shared_ptr<DiagnosticInfo> inner;
    bool operator==(const DiagnosticInfo &o) const;
};

struct VariantData;
struct DataValue;

// A Variant: scalars keep numbers inline and texts in implicitly shared Qt
// strings, so values taken from items cost no copy; the rarer byte strings, complex
// values and arrays live in a shared block. Every monitored item holds one, so the
// number fields share their place (the type says which one holds the value), and the
// small fields come last, where a DataValue puts its own small fields beside them.
struct Variant {
    union {
        std::int64_t i = 0; // Boolean, integers, DateTime, StatusCode (UInt64 by bit pattern)
        double d;           // Float, Double
    };
    QString s; // String
    std::shared_ptr<VariantData> x;
    BuiltinType type = BuiltinType::Null;
    bool isArray = false;

    bool isNull() const { return type == BuiltinType::Null; }

    static Variant boolean(bool v) { return integer(BuiltinType::Boolean, v ? 1 : 0); }
    static Variant integer(BuiltinType t, std::int64_t v)
    {
        Variant r;
        r.type = t;
        r.i = v;
        return r;
    }
    static Variant real(BuiltinType t, double v)
    {
        Variant r;
        r.type = t;
        r.d = v;
        return r;
    }
    static Variant string(QString v)
    {
        Variant r;
        r.type = BuiltinType::String;
        r.s = std::move(v);
        return r;
    }
    static Variant byteString(QByteArray v, BuiltinType t = BuiltinType::ByteString); // or XmlElement
    static Variant dateTime(DateTime t) { return integer(BuiltinType::DateTime, t); }
    static Variant nodeId(NodeId id);
    static Variant qualifiedName(QualifiedName q);
    static Variant localizedText(LocalizedText t);
    static Variant extensionObject(ExtensionObject e);
    static Variant array(BuiltinType elementType, std::vector<Variant> elements);
    static Variant stringArray(const std::vector<QString> &texts);

    // Element access for arrays (empty for scalars).
    const std::vector<Variant> &elements() const;
    // A ByteString's or XmlElement's bytes (empty for other types).
    const QByteArray &bytes() const;

    bool operator==(const Variant &o) const;
};

struct DataValue {
    enum Mask : std::uint8_t {
        HasValue = 0x01,
        HasStatus = 0x02,
        HasSourceTimestamp = 0x04,
        HasServerTimestamp = 0x08,
        HasSourcePicoseconds = 0x10,
        HasServerPicoseconds = 0x20
    };
    // The small fields fill the end of the value's last word.
    [[no_unique_address]] Variant value;
    std::uint8_t mask = 0;
    std::uint16_t sourcePicoseconds = 0, serverPicoseconds = 0;
    DateTime sourceTimestamp = 0, serverTimestamp = 0;
    StatusCode status = 0;

    void setValue(Variant v)
    {
        value = std::move(v);
        mask |= HasValue;
    }
    void setStatus(StatusCode s)
    {
        status = s;
        if (s != 0)
            mask |= HasStatus;
        else
            mask &= std::uint8_t(~HasStatus);
    }
    bool operator==(const DataValue &) const = default;
};

struct VariantData {
    QByteArray bytes;
    NodeId nodeId;
    ExpandedNodeId expandedNodeId;
    QualifiedName qualifiedName;
    LocalizedText localizedText;
    Guid guid;
    ExtensionObject extensionObject;
    DataValue dataValue;
    DiagnosticInfo diagnosticInfo;
    std::vector<Variant> elements;
    std::vector<std::int32_t> dimensions;
    bool operator==(const VariantData &) const = default;
};

// Size of the type on the wire when it has a fixed one (0 otherwise); used to
// check array lengths against the bytes left before allocating.
std::size_t fixedWireSize(BuiltinType t);

} // namespace Ua

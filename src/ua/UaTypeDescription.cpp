#include "ua/UaTypeDescription.h"

namespace Ua {

void encodeStructure(Encoder &e, const TypeDesc &type, const void *object)
{
    if (type.kind == TypeDesc::Kind::Builtin) {
        type.encode(e, object);
        return;
    }
    void *o = const_cast<void *>(object); // accessors are shared by both directions
    for (std::size_t k = 0; k < type.fieldCount; ++k) {
        const FieldDesc &f = type.fields[k];
        const TypeDesc &ft = *f.type();
        void *m = f.member(o);
        if (!f.isArray) {
            encodeStructure(e, ft, m);
            continue;
        }
        const std::size_t n = f.size(m);
        e.i32(std::int32_t(n));
        for (std::size_t i = 0; i < n; ++i)
            encodeStructure(e, ft, f.at(m, i));
    }
}

void decodeStructure(Decoder &d, const TypeDesc &type, void *object, std::size_t firstField)
{
    if (type.kind == TypeDesc::Kind::Builtin) {
        type.decode(d, object);
        return;
    }
    d.enter();
    for (std::size_t k = firstField; k < type.fieldCount; ++k) {
        const FieldDesc &f = type.fields[k];
        const TypeDesc &ft = *f.type();
        void *m = f.member(object);
        if (!f.isArray) {
            decodeStructure(d, ft, m);
            continue;
        }
        const std::size_t n = d.arrayLength(ft.minWireSize, f.elementSize);
        f.resize(m, n);
        for (std::size_t i = 0; i < n; ++i)
            decodeStructure(d, ft, f.at(m, i));
    }
    d.leave();
}

void encodeMessage(Encoder &e, const TypeDesc &type, const void *message)
{
    encodeNodeId(e, NodeId(0, type.binaryEncodingId));
    encodeStructure(e, type, message);
}

#define UA_BUILTIN(T, Name, MinSize, EncodeExpr, DecodeExpr)                                                           \
    const TypeDesc *TypeOf<T>::get()                                                                                   \
    {                                                                                                                  \
        static const TypeDesc type{Name,                                                                               \
                                   TypeDesc::Kind::Builtin,                                                            \
                                   0,                                                                                  \
                                   MinSize,                                                                            \
                                   [](Encoder &e, const void *p) {                                                     \
                                       const T &v = *static_cast<const T *>(p);                                        \
                                       EncodeExpr;                                                                     \
                                   },                                                                                  \
                                   [](Decoder &d, void *p) {                                                           \
                                       T &v = *static_cast<T *>(p);                                                    \
                                       DecodeExpr;                                                                     \
                                   },                                                                                  \
                                   nullptr,                                                                            \
                                   0,                                                                                  \
                                   sizeof(T),                                                                          \
                                   alignof(T),                                                                         \
                                   nullptr,                                                                            \
                                   nullptr};                                                                           \
        return &type;                                                                                                  \
    }

UA_BUILTIN(bool, "Boolean", 1, e.u8(v ? 1 : 0), v = d.u8() != 0)
UA_BUILTIN(std::int8_t, "SByte", 1, e.u8(std::uint8_t(v)), v = std::int8_t(d.u8()))
UA_BUILTIN(std::uint8_t, "Byte", 1, e.u8(v), v = d.u8())
UA_BUILTIN(std::int16_t, "Int16", 2, e.u16(std::uint16_t(v)), v = std::int16_t(d.u16()))
UA_BUILTIN(std::uint16_t, "UInt16", 2, e.u16(v), v = d.u16())
UA_BUILTIN(std::int32_t, "Int32", 4, e.i32(v), v = d.i32())
UA_BUILTIN(std::uint32_t, "UInt32", 4, e.u32(v), v = d.u32())
UA_BUILTIN(std::int64_t, "Int64", 8, e.i64(v), v = d.i64())
UA_BUILTIN(std::uint64_t, "UInt64", 8, e.u64(v), v = d.u64())
UA_BUILTIN(float, "Float", 4, e.f32(v), v = d.f32())
UA_BUILTIN(double, "Double", 8, e.f64(v), v = d.f64())
UA_BUILTIN(QString, "String", 4, e.string(v), v = d.string())
UA_BUILTIN(QByteArray, "ByteString", 4, e.byteString(v), v = d.byteString())
UA_BUILTIN(Guid, "Guid", 16, encodeGuid(e, v), v = decodeGuid(d))
UA_BUILTIN(NodeId, "NodeId", 2, encodeNodeId(e, v), v = decodeNodeId(d))
UA_BUILTIN(ExpandedNodeId, "ExpandedNodeId", 2, encodeExpandedNodeId(e, v), v = decodeExpandedNodeId(d))
UA_BUILTIN(QualifiedName, "QualifiedName", 6, encodeQualifiedName(e, v), v = decodeQualifiedName(d))
UA_BUILTIN(LocalizedText, "LocalizedText", 1, encodeLocalizedText(e, v), v = decodeLocalizedText(d))
UA_BUILTIN(ExtensionObject, "ExtensionObject", 3, encodeExtensionObject(e, v), v = decodeExtensionObject(d))
UA_BUILTIN(DataValue, "DataValue", 1, encodeDataValue(e, v), v = decodeDataValue(d))
UA_BUILTIN(Variant, "Variant", 1, encodeVariant(e, v), v = decodeVariant(d))
UA_BUILTIN(DiagnosticInfo, "DiagnosticInfo", 1, encodeDiagnosticInfo(e, v), v = decodeDiagnosticInfo(d))

#undef UA_BUILTIN

} // namespace Ua

#pragma once
#include "ua/UaBinary.h"

#include <type_traits>
#include <vector>

// Structures are encoded and decoded by walking a table of field descriptions
// (name, type, array flag, accessor) instead of a hand-written pair of functions per
// structure, the way open62541 does it.
namespace Ua {

struct FieldDesc {
    const char *name;
    const TypeDesc *(*type)();
    bool isArray;
    void *(*member)(void *object);
    // Array access (isArray only).
    std::size_t (*size)(const void *vector);
    void *(*at)(void *vector, std::size_t index);
    void (*resize)(void *vector, std::size_t size);
    std::size_t elementSize; // in memory, charged against the decoder's budget
};

struct TypeDesc {
    enum class Kind : std::uint8_t { Builtin, Structure };
    const char *name;
    Kind kind;
    std::uint32_t binaryEncodingId; // Default Binary encoding node (structures)
    std::size_t minWireSize;        // least bytes an element takes (array length checks)
    void (*encode)(Encoder &, const void *);
    void (*decode)(Decoder &, void *);
    const FieldDesc *fields;
    std::size_t fieldCount;
};

void encodeStructure(Encoder &e, const TypeDesc &type, const void *object);
void decodeStructure(Decoder &d, const TypeDesc &type, void *object);

// Type descriptions of the C++ types that appear as fields. Structures provide a
// static desc(); built-in types are specialised in UaTypeDescription.cpp.
template <class T> struct TypeOf {
    static const TypeDesc *get() { return &T::desc(); }
};
#define UA_BUILTIN_TYPEOF(T)                                                                                           \
    template <> struct TypeOf<T> {                                                                                     \
        static const TypeDesc *get();                                                                                  \
    };
UA_BUILTIN_TYPEOF(bool)
UA_BUILTIN_TYPEOF(std::int8_t)
UA_BUILTIN_TYPEOF(std::uint8_t)
UA_BUILTIN_TYPEOF(std::int16_t)
UA_BUILTIN_TYPEOF(std::uint16_t)
UA_BUILTIN_TYPEOF(std::int32_t)
UA_BUILTIN_TYPEOF(std::uint32_t) // also StatusCode, which shares its wire form
UA_BUILTIN_TYPEOF(std::int64_t)  // also DateTime
UA_BUILTIN_TYPEOF(std::uint64_t)
UA_BUILTIN_TYPEOF(float)
UA_BUILTIN_TYPEOF(double)
UA_BUILTIN_TYPEOF(QString)
UA_BUILTIN_TYPEOF(QByteArray)
UA_BUILTIN_TYPEOF(Guid)
UA_BUILTIN_TYPEOF(NodeId)
UA_BUILTIN_TYPEOF(ExpandedNodeId)
UA_BUILTIN_TYPEOF(QualifiedName)
UA_BUILTIN_TYPEOF(LocalizedText)
UA_BUILTIN_TYPEOF(ExtensionObject)
UA_BUILTIN_TYPEOF(DataValue)
UA_BUILTIN_TYPEOF(Variant)
UA_BUILTIN_TYPEOF(DiagnosticInfo)
#undef UA_BUILTIN_TYPEOF

namespace detail {
template <class> struct MemberTraits;
template <class C, class T> struct MemberTraits<T C::*> {
    using Class = C;
    using Type = T;
};
template <class> struct IsVector : std::false_type {
};
template <class T> struct IsVector<std::vector<T>> : std::true_type {
    using Element = T;
};
} // namespace detail

// Field description from a pointer to member: type and array flag follow from the
// member's C++ type.
template <auto Member> constexpr FieldDesc field(const char *name)
{
    using Traits = detail::MemberTraits<decltype(Member)>;
    using C = typename Traits::Class;
    using T = typename Traits::Type;
    FieldDesc f{};
    f.name = name;
    f.member = [](void *o) -> void * { return &(static_cast<C *>(o)->*Member); };
    if constexpr (detail::IsVector<T>::value) {
        using E = typename detail::IsVector<T>::Element;
        static_assert(!std::is_same_v<E, bool>, "Boolean arrays are not addressable");
        f.isArray = true;
        f.type = &TypeOf<E>::get;
        f.size = [](const void *v) { return static_cast<const T *>(v)->size(); };
        f.at = [](void *v, std::size_t i) -> void * { return &(*static_cast<T *>(v))[i]; };
        f.resize = [](void *v, std::size_t n) { static_cast<T *>(v)->resize(n); };
        f.elementSize = sizeof(E);
    } else {
        f.isArray = false;
        f.type = &TypeOf<T>::get;
    }
    return f;
}

// Encodes a whole service message body: its encoding NodeId, then the structure.
template <class T> void encodeMessage(Encoder &e, const T &message)
{
    const TypeDesc &type = T::desc();
    encodeNodeId(e, NodeId(0, type.binaryEncodingId));
    encodeStructure(e, type, &message);
}

template <class T> void decodeInto(Decoder &d, T &object) { decodeStructure(d, T::desc(), &object); }

// Decodes the body of an ExtensionObject that should hold a T; false when it holds
// something else or is malformed.
template <class T> bool decodeExtension(const ExtensionObject &x, T &out, const DecodeLimits &limits = {})
{
    if (x.encoding != ExtensionObject::Encoding::ByteString || !x.typeId.isNumeric(T::desc().binaryEncodingId))
        return false;
    try {
        Decoder d(x.body, limits);
        decodeInto(d, out);
        return true;
    } catch (const CodecError &) {
        return false;
    }
}

// An ExtensionObject that carries a structure built here.
template <class T> ExtensionObject makeExtension(T value)
{
    ExtensionObject x;
    x.typeId = NodeId(0, T::desc().binaryEncodingId);
    x.encoding = ExtensionObject::Encoding::ByteString;
    x.type = &T::desc();
    x.object = std::make_shared<const T>(std::move(value));
    return x;
}

} // namespace Ua

// Defines T::desc() from its field list.
#define UA_STRUCT(T, encodingId, ...)                                                                                  \
    const ::Ua::TypeDesc &T::desc()                                                                                    \
    {                                                                                                                  \
        static const ::Ua::FieldDesc fields[] = {__VA_ARGS__};                                                         \
        static const ::Ua::TypeDesc type{                                                                              \
            #T, ::Ua::TypeDesc::Kind::Structure, encodingId, 1, nullptr, nullptr, fields, std::size(fields)};          \
        return type;                                                                                                   \
    }
#define UA_FIELD(T, member, name) ::Ua::field<&T::member>(name)

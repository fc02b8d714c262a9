#pragma once
#include "ua/UaBinary.h"
#include "ua/UaNodeIds.h"

#include <new>
#include <type_traits>
#include <vector>

// Structures are encoded and decoded by walking a table of field descriptions
// instead of a hand-written pair of functions per structure, the way open62541
// does it. A structure is declared once, with UA_STRUCTURE (below): the fields in
// wire order and the encoding id named after the structure; the table follows.
namespace Ua {

struct TypeDesc;

struct FieldDesc {
    const char *name; // the member's name: the standard's field name in lower camel case
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
    // An object of the type made and ended where only its description is known.
    std::size_t size, align;
    void (*construct)(void *);
    void (*destroy)(void *);
};

void encodeStructure(Encoder &e, const TypeDesc &type, const void *object);
// Decodes the fields from firstField on (a request's header may come first on its own).
void decodeStructure(Decoder &d, const TypeDesc &type, void *object, std::size_t firstField = 0);

// An object known by its type description alone.
class AnyStructure {
public:
    explicit AnyStructure(const TypeDesc &type)
        : type_(type), object_(::operator new(type.size, std::align_val_t(type.align)))
    {
        type.construct(object_);
    }
    ~AnyStructure()
    {
        type_.destroy(object_);
        ::operator delete(object_, std::align_val_t(type_.align));
    }
    AnyStructure(const AnyStructure &) = delete;
    AnyStructure &operator=(const AnyStructure &) = delete;
    void *get() const { return object_; }

private:
    const TypeDesc &type_;
    void *object_;
};

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

template <class T> constexpr TypeDesc structure(const char *name, const FieldDesc *fields, std::size_t count)
{
    return TypeDesc{name,
                    TypeDesc::Kind::Structure,
                    T::binaryEncodingId,
                    1,
                    nullptr,
                    nullptr,
                    fields,
                    count,
                    sizeof(T),
                    alignof(T),
                    [](void *p) { new (p) T(); },
                    [](void *p) { static_cast<T *>(p)->~T(); }};
}

// Encodes a whole service message body: its encoding NodeId, then the structure.
void encodeMessage(Encoder &e, const TypeDesc &type, const void *message);
template <class T> void encodeMessage(Encoder &e, const T &message) { encodeMessage(e, T::desc(), &message); }

template <class T> void decodeInto(Decoder &d, T &object) { decodeStructure(d, T::desc(), &object); }

// Decodes the body of an ExtensionObject that should hold a T; false when it holds
// something else or is malformed.
template <class T> bool decodeExtension(const ExtensionObject &x, T &out, const DecodeLimits &limits = {})
{
    if (x.encoding != ExtensionObject::Encoding::ByteString || !x.typeId.isNumeric(T::binaryEncodingId))
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
    x.typeId = NodeId(0, T::binaryEncodingId);
    x.encoding = ExtensionObject::Encoding::ByteString;
    x.type = &T::desc();
    x.object = std::make_shared<const T>(std::move(value));
    return x;
}

} // namespace Ua

#ifdef Q_MOC_RUN // moc's preprocessor cannot expand the field lists, and needs none of them
#define UA_STRUCTURE(Name, ...) struct Name
#else
// UA_STRUCTURE(Name, (Type, member), ...) declares struct Name with its members in
// wire order, its encoding id Id::Name_Binary and its type description desc().
#define UA_STRUCTURE(Name, ...)                                                                                        \
    struct Name {                                                                                                      \
        UA_FOR_EACH(UA_DECLARE_FIELD, Name, __VA_ARGS__)                                                               \
        static constexpr std::uint32_t binaryEncodingId = ::Ua::Id::Name##_Binary;                                     \
        static const ::Ua::TypeDesc &desc()                                                                            \
        {                                                                                                              \
            static constexpr ::Ua::FieldDesc fields[] = {UA_FOR_EACH(UA_DESCRIBE_FIELD, Name, __VA_ARGS__)};           \
            static constexpr ::Ua::TypeDesc type = ::Ua::structure<Name>(#Name, fields, std::size(fields));            \
            return type;                                                                                               \
        }                                                                                                              \
    }

// The machinery: UA_FOR_EACH(m, context, a, b, ...) gives m(context, a) m(context, b) ...
#define UA_PARENS ()
#define UA_EXPAND(...) UA_EXPAND3(UA_EXPAND3(UA_EXPAND3(UA_EXPAND3(__VA_ARGS__))))
#define UA_EXPAND3(...) UA_EXPAND2(UA_EXPAND2(UA_EXPAND2(UA_EXPAND2(__VA_ARGS__))))
#define UA_EXPAND2(...) UA_EXPAND1(UA_EXPAND1(UA_EXPAND1(UA_EXPAND1(__VA_ARGS__))))
#define UA_EXPAND1(...) __VA_ARGS__
#define UA_FOR_EACH(macro, context, ...) __VA_OPT__(UA_EXPAND(UA_FOR_EACH_STEP(macro, context, __VA_ARGS__)))
#define UA_FOR_EACH_STEP(macro, context, first, ...)                                                                   \
    macro(context, first) __VA_OPT__(UA_FOR_EACH_AGAIN UA_PARENS(macro, context, __VA_ARGS__))
#define UA_FOR_EACH_AGAIN() UA_FOR_EACH_STEP
#define UA_APPLY(macro, ...) macro(__VA_ARGS__)
#define UA_UNPACK(...) __VA_ARGS__
#define UA_DECLARE_FIELD(Name, field) UA_APPLY(UA_DECLARE_FIELD_, UA_UNPACK field)
#define UA_DECLARE_FIELD_(Type, member) Type member{};
#define UA_DESCRIBE_FIELD(Name, field) UA_APPLY(UA_DESCRIBE_FIELD_, Name, UA_UNPACK field)
#define UA_DESCRIBE_FIELD_(Name, Type, member) ::Ua::field<&Name::member>(#member),
#endif

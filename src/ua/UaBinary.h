#pragma once
#include "ua/UaBuiltins.h"

#include <QByteArray>
#include <QStringView>
#include <algorithm>
#include <cstring>

// UA Binary (OPC 10000-6 5.2): little-endian writer and bounds-checked reader.
namespace Ua {

// Limits a decoder applies to what a peer sends us.
struct DecodeLimits {
    std::int32_t maxStringLength = 1 << 20;
    std::int32_t maxArrayLength = 100000;
    int maxDepth = 32;
    // Memory a decoded message may take: the in-memory forms are larger than the wire
    // form, so a small message of tiny array elements must not blow up.
    std::size_t maxDecodedBytes = 32u << 20;
};

// Thrown by the decoder (and by encoders of impossible values); callers turn it into
// a status for the peer.
struct CodecError {
    StatusCode status;
};

// Appends to a caller's buffer, which is reused from message to message.
class Encoder {
public:
    explicit Encoder(QByteArray &out) : out_(out) {}
    qsizetype size() const { return out_.size(); }

    void raw(const void *p, std::size_t n) { std::memcpy(extend(n), p, n); }
    void u8(std::uint8_t v) { raw(&v, 1); }
    void u16(std::uint16_t v)
    {
        char b[2] = {char(v), char(v >> 8)};
        raw(b, 2);
    }
    void u32(std::uint32_t v)
    {
        char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        raw(b, 4);
    }
    void u64(std::uint64_t v)
    {
        u32(std::uint32_t(v));
        u32(std::uint32_t(v >> 32));
    }
    void i32(std::int32_t v) { u32(std::uint32_t(v)); }
    void i64(std::int64_t v) { u64(std::uint64_t(v)); }
    void f32(float v)
    {
        std::uint32_t b;
        std::memcpy(&b, &v, 4);
        u32(b);
    }
    void f64(double v)
    {
        std::uint64_t b;
        std::memcpy(&b, &v, 8);
        u64(b);
    }
    void string(QStringView s, bool null = false);
    void string(const QString &s) { string(QStringView(s), s.isNull()); }
    void byteString(const QByteArray &b);
    // Overwrites a 32-bit value written earlier (lengths known only afterwards).
    void patchU32(qsizetype at, std::uint32_t v);

private:
    // Room for n more bytes at the end, the size grown by n: the spot to write them.
    // Works on the array's storage directly because QByteArray::resize, called per field,
    // was a fifth of the work of answering a large Read.
    char *extend(std::size_t n)
    {
        auto &d = out_.data_ptr();
        if (d.needsDetach() || d.freeSpaceAtEnd() <= qsizetype(n)) // one more for the '\0'
            grow(n);
        char *at = d.data() + d.size;
        d.size += qsizetype(n);
        at[n] = '\0';
        return at;
    }
    void grow(std::size_t n);

    QByteArray &out_;
};

class Decoder {
public:
    Decoder(const char *data, std::size_t size, const DecodeLimits &limits = {})
        : p_(reinterpret_cast<const std::uint8_t *>(data)), end_(p_ + size), limits_(limits)
    {
    }
    explicit Decoder(const QByteArray &b, const DecodeLimits &limits = {})
        : Decoder(b.constData(), std::size_t(b.size()), limits)
    {
    }

    std::size_t remaining() const { return std::size_t(end_ - p_); }
    bool atEnd() const { return p_ == end_; }
    const char *position() const { return reinterpret_cast<const char *>(p_); }

    std::uint8_t u8()
    {
        need(1);
        return *p_++;
    }
    std::uint16_t u16()
    {
        need(2);
        std::uint16_t v = std::uint16_t(p_[0] | (p_[1] << 8));
        p_ += 2;
        return v;
    }
    std::uint32_t u32()
    {
        need(4);
        std::uint32_t v = std::uint32_t(p_[0]) | (std::uint32_t(p_[1]) << 8) | (std::uint32_t(p_[2]) << 16) |
                          (std::uint32_t(p_[3]) << 24);
        p_ += 4;
        return v;
    }
    std::uint64_t u64()
    {
        std::uint64_t lo = u32();
        return lo | (std::uint64_t(u32()) << 32);
    }
    std::int32_t i32() { return std::int32_t(u32()); }
    std::int64_t i64() { return std::int64_t(u64()); }
    float f32()
    {
        std::uint32_t b = u32();
        float v;
        std::memcpy(&v, &b, 4);
        return v;
    }
    double f64()
    {
        std::uint64_t b = u64();
        double v;
        std::memcpy(&v, &b, 8);
        return v;
    }
    QString string();
    QByteArray byteString();
    // An array's length: -1 (null) gives 0; checked against the limit and against the
    // bytes left, each element needing at least minElementSize bytes, and charged
    // elementCost bytes of memory each.
    std::size_t arrayLength(std::size_t minElementSize = 1, std::size_t elementCost = 0);
    // Accounts for memory the decoded form takes.
    void charge(std::size_t bytes)
    {
        decoded_ += bytes;
        if (decoded_ > limits_.maxDecodedBytes)
            throw CodecError{Status::BadEncodingLimitsExceeded};
    }

    // Nesting guard for recursive types.
    void enter()
    {
        if (++depth_ > limits_.maxDepth)
            throw CodecError{Status::BadEncodingLimitsExceeded};
    }
    void leave() { --depth_; }

private:
    // Reads the length of a String or ByteString (-1 is null), checks it against the
    // limits and the bytes left, and charges its decoded size.
    std::int32_t lengthPrefix(std::size_t costPerByte);
    void need(std::size_t n) const
    {
        if (std::size_t(end_ - p_) < n)
            throw CodecError{Status::BadDecodingError};
    }
    const std::uint8_t *p_;
    const std::uint8_t *end_;
    DecodeLimits limits_;
    int depth_ = 0;
    std::size_t decoded_ = 0;
};

// Built-in types.
void encodeGuid(Encoder &e, const Guid &g);
Guid decodeGuid(Decoder &d);
void encodeNodeId(Encoder &e, const NodeId &id);
NodeId decodeNodeId(Decoder &d);
void encodeExpandedNodeId(Encoder &e, const ExpandedNodeId &id);
ExpandedNodeId decodeExpandedNodeId(Decoder &d);
void encodeQualifiedName(Encoder &e, const QualifiedName &q);
QualifiedName decodeQualifiedName(Decoder &d);
void encodeLocalizedText(Encoder &e, const LocalizedText &t);
LocalizedText decodeLocalizedText(Decoder &d);
void encodeExtensionObject(Encoder &e, const ExtensionObject &x);
ExtensionObject decodeExtensionObject(Decoder &d);
void encodeDiagnosticInfo(Encoder &e, const DiagnosticInfo &x);
DiagnosticInfo decodeDiagnosticInfo(Decoder &d);
void encodeVariant(Encoder &e, const Variant &v);
Variant decodeVariant(Decoder &d);
void encodeDataValue(Encoder &e, const DataValue &v);
DataValue decodeDataValue(Decoder &d);

} // namespace Ua

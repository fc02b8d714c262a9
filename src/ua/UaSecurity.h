#pragma once
#include "ua/UaStatusCodes.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <memory>

// Security of a secure channel (OPC 10000-6 6.7). A SecurityPolicy stands for one
// policy URI and is shared by every channel that uses it: it checks the security
// header of an incoming OpenSecureChannel chunk, protects the OpenSecureChannel
// chunks with the certificates' keys (asymmetric) and derives the keys of each
// security token from the two nonces (symmetric). A channel's ChannelSecurity holds
// those protections and is asked for every chunk in and out. Policy None protects
// nothing: no signature, no padding, no encryption.
namespace Ua {

// Random bytes from the system's source, for nonces and session tokens.
QByteArray randomBytes(int n);

enum class SecurityMode : std::int32_t { Invalid = 0, None = 1, Sign = 2, SignAndEncrypt = 3 };

// The security header of an OpenSecureChannel chunk.
struct AsymmetricHeader {
    QString policyUri;
    QByteArray senderCertificate;
    QByteArray receiverThumbprint;
};

// What protecting a chunk adds to it. From the sequence header on, a chunk is
// encrypted (when at all) in blocks: sequence header, body, padding with its size
// field(s), signature.
struct ChunkLayout {
    std::size_t signatureSize = 0;
    std::size_t plainBlockSize = 1;   // encryption takes blocks of this size...
    std::size_t cipherBlockSize = 1;  // ...and gives blocks of this size
    std::size_t paddingSizeBytes = 0; // 0 without encryption, else 1 (2 for keys above 2048 bits)

    static constexpr std::size_t SequenceHeaderSize = 8;
    // Room for the body in a chunk of chunkSize bytes whose headers up to the
    // sequence header take headerSize bytes (0 when they leave no room).
    std::size_t maxBodySize(std::size_t chunkSize, std::size_t headerSize) const
    {
        if (chunkSize <= headerSize)
            return 0;
        const std::size_t plain = (chunkSize - headerSize) / cipherBlockSize * plainBlockSize;
        const std::size_t overhead = SequenceHeaderSize + signatureSize + paddingSizeBytes;
        return plain > overhead ? plain - overhead : 0;
    }
};

// Signing and encryption of chunks with one set of keys, both directions.
class ChunkProtection {
public:
    virtual ~ChunkProtection() = default;
    virtual ChunkLayout layout() const = 0;
    // The chunk from chunkStart to the end of out holds its headers (its size field
    // counting what is there) and, from secured on, the sequence header and the body:
    // adds padding and signature, corrects the size field, and encrypts from secured on.
    virtual void protect(QByteArray &out, qsizetype chunkStart, qsizetype secured) const = 0;
    // Decrypts a received chunk from secured on and checks its signature; gives the
    // chunk's size without padding and signature. Throws CodecError with
    // BadSecurityChecksFailed when a check fails.
    virtual std::size_t unprotect(char *chunk, std::size_t size, std::size_t secured) const = 0;
};

class SecurityPolicy {
public:
    virtual ~SecurityPolicy() = default;
    virtual QString uri() const = 0;
    // Length of the nonces exchanged by OpenSecureChannel (0: none).
    virtual std::size_t nonceLength() const = 0;
    // Checks the security header of an incoming OpenSecureChannel chunk (the peer's
    // certificate, and that the thumbprint names ours). Good, or why it is refused.
    virtual StatusCode acceptPeer(const AsymmetricHeader &incoming) const = 0;
    // Our security header for the OpenSecureChannel chunks we send to that peer.
    virtual AsymmetricHeader ownHeader(const AsymmetricHeader &incoming) const = 0;
    // Protection of the OpenSecureChannel chunks exchanged with that peer.
    virtual std::unique_ptr<ChunkProtection> asymmetric(const AsymmetricHeader &incoming) const = 0;
    // Protection of the other chunks under one security token (OPC 10000-6 6.7.5).
    virtual std::unique_ptr<ChunkProtection> symmetric(SecurityMode mode, const QByteArray &clientNonce,
                                                       const QByteArray &serverNonce) const = 0;
};

class SecurityPolicyNone final : public SecurityPolicy {
public:
    static QString policyUri() { return QStringLiteral("http://opcfoundation.org/UA/SecurityPolicy#None"); }
    QString uri() const override { return policyUri(); }
    std::size_t nonceLength() const override { return 0; }
    StatusCode acceptPeer(const AsymmetricHeader &) const override { return Status::Good; }
    AsymmetricHeader ownHeader(const AsymmetricHeader &) const override { return {policyUri(), {}, {}}; }
    std::unique_ptr<ChunkProtection> asymmetric(const AsymmetricHeader &) const override;
    std::unique_ptr<ChunkProtection> symmetric(SecurityMode, const QByteArray &, const QByteArray &) const override;
};

// The security of one channel: the asymmetric protection for OpenSecureChannel, and
// the keys of each security token. After a renewal the previous token's keys stay
// until the peer has used the new token or the previous one has expired; until then
// what we send stays under the previous token, as the peer may not have the new
// keys yet.
class ChannelSecurity {
public:
    ChannelSecurity(const SecurityPolicy &policy, const AsymmetricHeader &incoming);

    const SecurityPolicy &policy() const { return policy_; }
    SecurityMode mode() const { return mode_; }
    const AsymmetricHeader &ownHeader() const { return ownHeader_; }
    const ChunkProtection &asymmetric() const { return *asymmetric_; }

    // A new token and its keys; mode is the one the channel was opened with.
    void addToken(std::uint32_t id, SecurityMode mode, qint64 createdMs, std::uint32_t lifetimeMs,
                  const QByteArray &clientNonce, const QByteArray &serverNonce);
    std::uint32_t tokenId() const { return current_.id; }
    // The keys a received chunk of that token is checked with; nullptr when the
    // token is unknown or expired.
    const ChunkProtection *incoming(std::uint32_t tokenId, qint64 nowMs);
    // The token and keys of what we send now.
    std::uint32_t outgoingTokenId() const { return previous_.keys ? previous_.id : current_.id; }
    const ChunkProtection &outgoing() const { return previous_.keys ? *previous_.keys : *current_.keys; }
    // True once the newest token is past its lifetime (with a quarter's grace).
    bool expired(qint64 nowMs) const { return current_.keys && nowMs > current_.expiresMs; }

private:
    struct Token {
        std::uint32_t id = 0;
        qint64 expiresMs = 0;
        std::unique_ptr<ChunkProtection> keys;
    };
    const SecurityPolicy &policy_;
    SecurityMode mode_ = SecurityMode::Invalid;
    AsymmetricHeader ownHeader_;
    std::unique_ptr<ChunkProtection> asymmetric_;
    Token current_, previous_;
};

} // namespace Ua

#include "ua/UaSecurity.h"
#include "security/CertificateStore.h"
#include "security/ChunkSecurity.h"
#include "ua/UaBinary.h"

#include <cstring>

namespace Ua {

QByteArray randomBytes(int n)
{
    QByteArray bytes = Security::Crypto::randomBytes(n);
    // Without random bytes no nonce or token can be trusted: the request fails.
    if (bytes.size() != n)
        throw CodecError{Status::BadInternalError};
    return bytes;
}

namespace {

// Policy None: chunks travel as they are.
class PlainChunks final : public ChunkProtection {
public:
    std::size_t maxBodySize(std::size_t chunkSize, std::size_t headerSize) const override
    {
        return chunkSize > headerSize + SequenceHeaderSize ? chunkSize - headerSize - SequenceHeaderSize : 0;
    }
    void protect(QByteArray &, qsizetype, qsizetype) const override {}
    std::size_t unprotect(char *, std::size_t size, std::size_t) const override { return size; }
};

// The OpenSSL side works on whole chunks; these copy a chunk out of the stream and
// back, which costs little beside the cryptography.
template <typename Secure> void protectChunk(QByteArray &out, qsizetype chunkStart, qsizetype secured, Secure secure)
{
    QByteArray chunk = out.sliced(chunkStart);
    if (secure(chunk, secured - chunkStart) != Security::SecurityResult::Ok)
        throw CodecError{Status::BadInternalError};
    out.truncate(chunkStart);
    out += chunk;
}

template <typename Open> std::size_t unprotectChunk(char *data, std::size_t size, std::size_t secured, Open open)
{
    QByteArray chunk(data, qsizetype(size));
    if (open(chunk, qsizetype(secured)) != Security::SecurityResult::Ok)
        throw CodecError{Status::BadSecurityChecksFailed};
    std::memcpy(data, chunk.constData(), std::size_t(chunk.size()));
    return std::size_t(chunk.size());
}

class AsymmetricChunks final : public ChunkProtection {
public:
    AsymmetricChunks(const Security::SecurityPolicy &policy, Security::RsaKey ourKey, Security::RsaKey peerKey)
        : policy_(policy), ourKey_(std::move(ourKey)), peerKey_(std::move(peerKey))
    {
    }
    std::size_t maxBodySize(std::size_t chunkSize, std::size_t headerSize) const override
    {
        return std::size_t(
            Security::asymmetricMaxBody(policy_, qsizetype(chunkSize), qsizetype(headerSize), ourKey_, peerKey_));
    }
    void protect(QByteArray &out, qsizetype chunkStart, qsizetype secured) const override
    {
        protectChunk(out, chunkStart, secured, [this](QByteArray &chunk, qsizetype plainStart) {
            return Security::secureAsymmetricChunk(policy_, chunk, plainStart, ourKey_, peerKey_);
        });
    }
    std::size_t unprotect(char *chunk, std::size_t size, std::size_t secured) const override
    {
        return unprotectChunk(chunk, size, secured, [this](QByteArray &c, qsizetype plainStart) {
            return Security::openAsymmetricChunk(policy_, c, plainStart, ourKey_, peerKey_);
        });
    }

private:
    const Security::SecurityPolicy &policy_;
    Security::RsaKey ourKey_, peerKey_;
};

// We secure with the server's keys and check with the client's.
class SymmetricChunks final : public ChunkProtection {
public:
    SymmetricChunks(const Security::SecurityPolicy &policy, Security::SecurityMode mode, Security::ChannelKeys keys)
        : policy_(policy), mode_(mode), keys_(std::move(keys))
    {
    }
    std::size_t maxBodySize(std::size_t chunkSize, std::size_t headerSize) const override
    {
        return std::size_t(Security::symmetricMaxBody(policy_, mode_, qsizetype(chunkSize), qsizetype(headerSize)));
    }
    void protect(QByteArray &out, qsizetype chunkStart, qsizetype secured) const override
    {
        protectChunk(out, chunkStart, secured, [this](QByteArray &chunk, qsizetype plainStart) {
            return Security::secureSymmetricChunk(policy_, mode_, chunk, plainStart, keys_.server);
        });
    }
    std::size_t unprotect(char *chunk, std::size_t size, std::size_t secured) const override
    {
        return unprotectChunk(chunk, size, secured, [this](QByteArray &c, qsizetype plainStart) {
            return Security::openSymmetricChunk(policy_, mode_, c, plainStart, keys_.client);
        });
    }

private:
    const Security::SecurityPolicy &policy_;
    Security::SecurityMode mode_;
    Security::ChannelKeys keys_;
};

Security::RsaKey peerKeyOf(const QByteArray &derChain)
{
    const std::vector<Security::Certificate> chain = Security::Certificate::chainFromDer(derChain);
    return chain.empty() ? Security::RsaKey() : chain.front().publicKey();
}

StatusCode statusOf(Security::CertificateCheck check)
{
    using C = Security::CertificateCheck;
    switch (check) {
    case C::Good: return Status::Good;
    case C::Invalid: return Status::BadCertificateInvalid;
    case C::ChainIncomplete: return Status::BadCertificateChainIncomplete;
    case C::PolicyCheckFailed: return Status::BadCertificatePolicyCheckFailed;
    case C::Untrusted: return Status::BadCertificateUntrusted;
    case C::TimeInvalid: return Status::BadCertificateTimeInvalid;
    case C::IssuerTimeInvalid: return Status::BadCertificateIssuerTimeInvalid;
    case C::UriInvalid: return Status::BadCertificateUriInvalid;
    case C::UseNotAllowed: return Status::BadCertificateUseNotAllowed;
    case C::IssuerUseNotAllowed: return Status::BadCertificateIssuerUseNotAllowed;
    case C::RevocationUnknown: return Status::BadCertificateRevocationUnknown;
    case C::IssuerRevocationUnknown: return Status::BadCertificateIssuerRevocationUnknown;
    case C::Revoked: return Status::BadCertificateRevoked;
    case C::IssuerRevoked: return Status::BadCertificateIssuerRevoked;
    }
    return Status::BadCertificateInvalid;
}

} // namespace

StatusCode certificateRefusal(StatusCode detailed)
{
    switch (detailed) {
    case Status::Good:
    case Status::BadCertificateTimeInvalid:
    case Status::BadCertificateIssuerTimeInvalid:
    case Status::BadCertificateUriInvalid:
    case Status::BadCertificateUseNotAllowed:
    case Status::BadCertificateIssuerUseNotAllowed:
    case Status::BadCertificateRevocationUnknown: return detailed;
    default: return Status::BadSecurityChecksFailed;
    }
}

std::unique_ptr<ChunkProtection> SecurityPolicyNone::asymmetric(const AsymmetricHeader &) const
{
    return std::make_unique<PlainChunks>();
}

std::unique_ptr<ChunkProtection> SecurityPolicyNone::symmetric(SecurityMode, const QByteArray &,
                                                               const QByteArray &) const
{
    return std::make_unique<PlainChunks>();
}

CryptoPolicy::CryptoPolicy(const Security::SecurityPolicy &policy, std::shared_ptr<Security::CertificateStore> store)
    : policy_(policy), store_(std::move(store))
{
}

QString CryptoPolicy::uri() const { return policy_.uri; }

std::size_t CryptoPolicy::nonceLength() const { return std::size_t(policy_.nonceLength); }

StatusCode CryptoPolicy::acceptPeer(const AsymmetricHeader &incoming, QString &why) const
{
    // The receiver thumbprint names the certificate the peer encrypted for: ours.
    if (incoming.receiverThumbprint != store_->ownCertificate().thumbprint()) {
        why = QStringLiteral("the chunk is not meant for our certificate");
        return Status::BadCertificateInvalid;
    }
    const StatusCode detailed = statusOf(store_->validate(incoming.senderCertificate, QString(), &policy_));
    if (detailed != Status::Good)
        why = QStringLiteral("client certificate refused: ") + QLatin1String(statusName(detailed));
    return certificateRefusal(detailed);
}

AsymmetricHeader CryptoPolicy::ownHeader(const AsymmetricHeader &incoming) const
{
    const std::vector<Security::Certificate> chain = Security::Certificate::chainFromDer(incoming.senderCertificate);
    return {policy_.uri, certificate(), chain.empty() ? QByteArray() : chain.front().thumbprint()};
}

std::unique_ptr<ChunkProtection> CryptoPolicy::asymmetric(const AsymmetricHeader &incoming) const
{
    return std::make_unique<AsymmetricChunks>(policy_, store_->ownKey(), peerKeyOf(incoming.senderCertificate));
}

std::unique_ptr<ChunkProtection> CryptoPolicy::symmetric(SecurityMode mode, const QByteArray &clientNonce,
                                                         const QByteArray &serverNonce) const
{
    Security::ChannelKeys keys;
    if (Security::deriveChannelKeys(policy_, clientNonce, serverNonce, keys) != Security::SecurityResult::Ok)
        return nullptr;
    return std::make_unique<SymmetricChunks>(policy_, Security::SecurityMode(int(mode)), std::move(keys));
}

QByteArray CryptoPolicy::certificate() const { return store_->ownCertificate().der(); }

QString CryptoPolicy::signatureAlgorithm() const { return policy_.asymmetricSignatureUri; }

std::optional<QByteArray> CryptoPolicy::sign(QByteArrayView data) const
{
    return Security::signData(policy_, store_->ownKey(), data);
}

bool CryptoPolicy::verify(const QByteArray &peerCertificate, QByteArrayView data, QByteArrayView signature) const
{
    const Security::RsaKey key = peerKeyOf(peerCertificate);
    return !key.isNull() && Security::verifyData(policy_, key, data, signature);
}

ChannelSecurity::ChannelSecurity(const SecurityPolicy &policy, const AsymmetricHeader &incoming)
    : policy_(policy), ownHeader_(policy.ownHeader(incoming)), peerCertificate_(incoming.senderCertificate),
      asymmetric_(policy.asymmetric(incoming))
{
}

bool ChannelSecurity::addToken(std::uint32_t id, SecurityMode mode, qint64 createdMs, std::uint32_t lifetimeMs,
                               const QByteArray &clientNonce, const QByteArray &serverNonce)
{
    std::unique_ptr<ChunkProtection> keys = policy_.symmetric(mode, clientNonce, serverNonce);
    if (!keys)
        return false;
    mode_ = mode;
    // A token not renewed within a quarter past its lifetime is gone.
    Token token{id, createdMs + qint64(lifetimeMs) * 5 / 4, std::move(keys)};
    previous_ = std::move(current_);
    current_ = std::move(token);
    return true;
}

const ChunkProtection *ChannelSecurity::incoming(std::uint32_t tokenId, qint64 nowMs)
{
    if (previous_.keys && nowMs > previous_.expiresMs)
        previous_ = Token();
    if (current_.keys && tokenId == current_.id) {
        previous_ = Token(); // the peer uses the new token: the old one is done
        return current_.keys.get();
    }
    if (previous_.keys && tokenId == previous_.id)
        return previous_.keys.get();
    return nullptr;
}

} // namespace Ua

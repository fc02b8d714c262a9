#include "ua/UaSecurity.h"

#include <QRandomGenerator>

namespace Ua {

QByteArray randomBytes(int n)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(b.data()), n / 4);
    for (int k = n / 4 * 4; k < n; ++k)
        b[k] = char(QRandomGenerator::system()->generate());
    return b;
}

namespace {
// Policy None: chunks travel as they are.
class PlainChunks final : public ChunkProtection {
public:
    ChunkLayout layout() const override { return {}; }
    void protect(QByteArray &, qsizetype, qsizetype) const override {}
    std::size_t unprotect(char *, std::size_t size, std::size_t) const override { return size; }
};
} // namespace

std::unique_ptr<ChunkProtection> SecurityPolicyNone::asymmetric(const AsymmetricHeader &) const
{
    return std::make_unique<PlainChunks>();
}

std::unique_ptr<ChunkProtection> SecurityPolicyNone::symmetric(SecurityMode, const QByteArray &,
                                                               const QByteArray &) const
{
    return std::make_unique<PlainChunks>();
}

ChannelSecurity::ChannelSecurity(const SecurityPolicy &policy, const AsymmetricHeader &incoming)
    : policy_(policy), ownHeader_(policy.ownHeader(incoming)), asymmetric_(policy.asymmetric(incoming))
{
}

void ChannelSecurity::addToken(std::uint32_t id, SecurityMode mode, qint64 createdMs, std::uint32_t lifetimeMs,
                               const QByteArray &clientNonce, const QByteArray &serverNonce)
{
    mode_ = mode;
    // A token not renewed within a quarter past its lifetime is gone.
    Token token{id, createdMs + qint64(lifetimeMs) * 5 / 4, policy_.symmetric(mode, clientNonce, serverNonce)};
    previous_ = std::move(current_);
    current_ = std::move(token);
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

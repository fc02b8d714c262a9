#pragma once
#include <QByteArray>
#include <QString>
#include <cstddef>

// What a secure channel asks of its security policy: the policy's URI and the
// per-chunk work of signing and encrypting. None is the one policy served today;
// Basic256Sha256 and the others slot in here with certificates and keys.
namespace Ua {

class SecurityPolicy {
public:
    virtual ~SecurityPolicy() = default;
    virtual QString uri() const = 0;
    // Bytes added after a symmetric chunk's body (padding and signature).
    virtual std::size_t symmetricOverhead(std::size_t bodySize) const = 0;
    // Secures an outgoing chunk in place (header already complete).
    virtual void secureChunk(QByteArray &chunk) const = 0;
    // Checks and strips an incoming chunk's protection; false when it fails.
    virtual bool verifyChunk(QByteArray &chunk, std::size_t bodyOffset) const = 0;
};

class SecurityPolicyNone final : public SecurityPolicy {
public:
    static QString policyUri() { return QStringLiteral("http://opcfoundation.org/UA/SecurityPolicy#None"); }
    QString uri() const override { return policyUri(); }
    std::size_t symmetricOverhead(std::size_t) const override { return 0; }
    void secureChunk(QByteArray &) const override {}
    bool verifyChunk(QByteArray &, std::size_t) const override { return true; }
};

} // namespace Ua

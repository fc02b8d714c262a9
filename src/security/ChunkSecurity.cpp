#include "security/ChunkSecurity.h"

#include <QtEndian>
#include <functional>

namespace Security {

namespace {

constexpr qsizetype MessageHeaderSize = 12;
constexpr qsizetype SizeOffset = 4;

// What one direction of a chunk's protection needs: the sizes that decide the
// padding, and the operations. Asymmetric and symmetric chunks share the layout and
// differ only here.
struct Protection {
    bool encrypted = false;
    qsizetype plainBlock = 0;
    qsizetype cipherBlock = 0;
    qsizetype signatureSize = 0;
    bool extraPadding = false; // a second padding size byte, for keys above 2048 bits
    std::function<std::optional<QByteArray>(QByteArrayView)> sign;
    std::function<bool(QByteArrayView, QByteArrayView)> verify;
    std::function<std::optional<QByteArray>(QByteArrayView)> encrypt;
    std::function<std::optional<QByteArray>(QByteArrayView)> decrypt;
};

qsizetype paddingTail(const Protection &p) { return p.encrypted ? 1 + (p.extraPadding ? 1 : 0) : 0; }

qsizetype maxBody(const Protection &p, qsizetype chunkSize, qsizetype plainStart)
{
    const qsizetype space = chunkSize - plainStart;
    const qsizetype plain = p.encrypted ? space / p.cipherBlock * p.plainBlock : space;
    return qMax<qsizetype>(0, plain - SequenceHeaderSize - p.signatureSize - paddingTail(p));
}

SecurityResult secure(const Protection &p, QByteArray &chunk, qsizetype plainStart)
{
    if (plainStart < MessageHeaderSize || chunk.size() < plainStart + SequenceHeaderSize)
        return SecurityResult::Malformed;
    QByteArray out = chunk;
    qsizetype finalSize = out.size() + p.signatureSize;
    if (p.encrypted) {
        const qsizetype plainLength = out.size() - plainStart + paddingTail(p) + p.signatureSize;
        const qsizetype padding = (p.plainBlock - plainLength % p.plainBlock) % p.plainBlock;
        if (padding > (p.extraPadding ? 0xFFFF : 0xFF))
            return SecurityResult::InternalError;
        out.append(char(padding & 0xFF));
        out.append(padding, char(padding & 0xFF));
        if (p.extraPadding)
            out.append(char(padding >> 8));
        finalSize = plainStart + (plainLength + padding) / p.plainBlock * p.cipherBlock;
    }
    if (finalSize > qsizetype(UINT32_MAX))
        return SecurityResult::Malformed;
    qToLittleEndian<quint32>(quint32(finalSize), out.data() + SizeOffset);
    const std::optional<QByteArray> signature = p.sign(out);
    if (!signature || signature->size() != p.signatureSize)
        return SecurityResult::InternalError;
    out += *signature;
    if (p.encrypted) {
        const std::optional<QByteArray> cipher = p.encrypt(QByteArrayView(out).sliced(plainStart));
        if (!cipher || plainStart + cipher->size() != finalSize)
            return SecurityResult::InternalError;
        out.truncate(plainStart);
        out += *cipher;
    }
    chunk = out;
    return SecurityResult::Ok;
}

SecurityResult open(const Protection &p, QByteArray &chunk, qsizetype plainStart)
{
    if (plainStart < MessageHeaderSize || chunk.size() < plainStart)
        return SecurityResult::Malformed;
    const QByteArrayView received = QByteArrayView(chunk).sliced(plainStart);
    QByteArray plain;
    if (p.encrypted) {
        if (received.isEmpty() || received.size() % p.cipherBlock != 0)
            return SecurityResult::Malformed;
        std::optional<QByteArray> decrypted = p.decrypt(received);
        if (!decrypted)
            return SecurityResult::DecryptionFailed;
        plain = std::move(*decrypted);
    } else {
        plain = received.toByteArray();
    }
    if (plain.size() < SequenceHeaderSize + paddingTail(p) + p.signatureSize)
        return SecurityResult::Malformed;
    qsizetype end = plain.size() - p.signatureSize;
    const QByteArray signedPart = chunk.first(plainStart) + plain.first(end);
    if (!p.verify(signedPart, QByteArrayView(plain).sliced(end)))
        return SecurityResult::SignatureInvalid;
    if (p.encrypted) {
        // Read from the back: [size byte][size × padding byte][extra size byte]. The
        // byte before the extra one is a padding byte, or the size byte itself when
        // there is no padding: either way it holds the low byte of the size.
        const qsizetype lowAt = end - 1 - (p.extraPadding ? 1 : 0);
        const uchar low = uchar(plain.at(lowAt));
        const qsizetype padding = low + (p.extraPadding ? qsizetype(uchar(plain.at(end - 1))) << 8 : 0);
        const qsizetype start = lowAt - padding;
        if (start < SequenceHeaderSize)
            return SecurityResult::PaddingInvalid;
        for (qsizetype i = start; i < lowAt; ++i)
            if (uchar(plain.at(i)) != low)
                return SecurityResult::PaddingInvalid;
        end = start;
    }
    chunk = chunk.first(plainStart) + plain.first(end);
    return SecurityResult::Ok;
}

// The direction from the signer to the holder of encryptionKey. The operations
// hold on to the arguments: a Protection lives only for one call.
Protection asymmetric(const SecurityPolicy &policy, const RsaKey &signer, const RsaKey &encryptionKey)
{
    Protection p;
    p.encrypted = true;
    p.plainBlock = Crypto::rsaPlainBlockSize(encryptionKey, policy.asymmetricEncryption);
    p.cipherBlock = encryptionKey.bytes();
    p.signatureSize = signer.bytes();
    p.extraPadding = encryptionKey.bits() > 2048;
    p.sign = [&](QByteArrayView data) { return Crypto::rsaSign(signer, policy.asymmetricSignature, data); };
    p.verify = [&](QByteArrayView data, QByteArrayView signature) {
        return Crypto::rsaVerify(signer, policy.asymmetricSignature, data, signature);
    };
    p.encrypt = [&](QByteArrayView data) {
        return Crypto::rsaEncrypt(encryptionKey, policy.asymmetricEncryption, data);
    };
    p.decrypt = [&](QByteArrayView data) {
        return Crypto::rsaDecrypt(encryptionKey, policy.asymmetricEncryption, data);
    };
    return p;
}

bool asymmetricKeysFit(const SecurityPolicy &policy, const RsaKey &ourKey, const RsaKey &peerKey)
{
    return ourKey.hasPrivateKey() && keyLengthAllowed(policy, ourKey) && keyLengthAllowed(policy, peerKey);
}

Protection symmetric(const SecurityPolicy &policy, SecurityMode mode, const SymmetricKeys &keys)
{
    Protection p;
    p.encrypted = mode == SecurityMode::SignAndEncrypt;
    p.plainBlock = p.cipherBlock = policy.blockSize;
    p.signatureSize = policy.signatureSize;
    p.sign = [&keys](QByteArrayView data) { return std::optional(Crypto::hmacSha256(keys.signingKey, data)); };
    p.verify = [&keys](QByteArrayView data, QByteArrayView signature) {
        return Crypto::constantTimeEquals(Crypto::hmacSha256(keys.signingKey, data), signature);
    };
    p.encrypt = [&keys](QByteArrayView data) { return Crypto::aesCbcEncrypt(keys.encryptingKey, keys.iv, data); };
    p.decrypt = [&keys](QByteArrayView data) { return Crypto::aesCbcDecrypt(keys.encryptingKey, keys.iv, data); };
    return p;
}

bool symmetricKeysFit(const SecurityPolicy &policy, const SymmetricKeys &keys)
{
    return keys.signingKey.size() == policy.signingKeyLength &&
           keys.encryptingKey.size() == policy.encryptingKeyLength && keys.iv.size() == policy.blockSize;
}

bool unprotected(const SecurityPolicy &policy, SecurityMode mode)
{
    return !policy.secure || mode == SecurityMode::None;
}

} // namespace

SecurityResult secureAsymmetricChunk(const SecurityPolicy &policy, QByteArray &chunk, qsizetype plainStart,
                                     const RsaKey &ourKey, const RsaKey &peerKey)
{
    if (!policy.secure)
        return SecurityResult::Ok;
    return asymmetricKeysFit(policy, ourKey, peerKey) ? secure(asymmetric(policy, ourKey, peerKey), chunk, plainStart)
                                                      : SecurityResult::KeyRejected;
}

SecurityResult openAsymmetricChunk(const SecurityPolicy &policy, QByteArray &chunk, qsizetype plainStart,
                                   const RsaKey &ourKey, const RsaKey &peerKey)
{
    if (!policy.secure)
        return SecurityResult::Ok;
    return asymmetricKeysFit(policy, ourKey, peerKey) ? open(asymmetric(policy, peerKey, ourKey), chunk, plainStart)
                                                      : SecurityResult::KeyRejected;
}

qsizetype asymmetricMaxBody(const SecurityPolicy &policy, qsizetype chunkSize, qsizetype plainStart,
                            const RsaKey &ourKey, const RsaKey &peerKey)
{
    if (!policy.secure)
        return qMax<qsizetype>(0, chunkSize - plainStart - SequenceHeaderSize);
    return asymmetricKeysFit(policy, ourKey, peerKey)
               ? maxBody(asymmetric(policy, ourKey, peerKey), chunkSize, plainStart)
               : 0;
}

SecurityResult secureSymmetricChunk(const SecurityPolicy &policy, SecurityMode mode, QByteArray &chunk,
                                    qsizetype plainStart, const SymmetricKeys &keys)
{
    if (unprotected(policy, mode))
        return SecurityResult::Ok;
    return symmetricKeysFit(policy, keys) ? secure(symmetric(policy, mode, keys), chunk, plainStart)
                                          : SecurityResult::KeyRejected;
}

SecurityResult openSymmetricChunk(const SecurityPolicy &policy, SecurityMode mode, QByteArray &chunk,
                                  qsizetype plainStart, const SymmetricKeys &keys)
{
    if (unprotected(policy, mode))
        return SecurityResult::Ok;
    return symmetricKeysFit(policy, keys) ? open(symmetric(policy, mode, keys), chunk, plainStart)
                                          : SecurityResult::KeyRejected;
}

qsizetype symmetricMaxBody(const SecurityPolicy &policy, SecurityMode mode, qsizetype chunkSize, qsizetype plainStart)
{
    static const SymmetricKeys sizesOnly;
    if (unprotected(policy, mode))
        return qMax<qsizetype>(0, chunkSize - plainStart - SequenceHeaderSize);
    return maxBody(symmetric(policy, mode, sizesOnly), chunkSize, plainStart);
}

} // namespace Security

#include "security/SecurityPolicy.h"

#include <QtEndian>

namespace Security {

namespace {

using Crypto::RsaEncryption;
using Crypto::RsaSignature;

// Plain text, not QString: the table may be built while other files' statics are
// still being constructed.
constexpr char PolicyPrefix[] = "http://opcfoundation.org/UA/SecurityPolicy#";
constexpr char RsaSha256[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
constexpr char RsaPssSha256[] = "http://opcfoundation.org/UA/security/rsa-pss-sha2-256";
constexpr char RsaOaep[] = "http://www.w3.org/2001/04/xmlenc#rsa-oaep";
constexpr char RsaOaepSha256[] = "http://opcfoundation.org/UA/security/rsa-oaep-sha2-256";
constexpr char HmacSha256[] = "http://www.w3.org/2000/09/xmldsig#hmac-sha256";
constexpr char Aes128Cbc[] = "http://www.w3.org/2001/04/xmlenc#aes128-cbc";
constexpr char Aes256Cbc[] = "http://www.w3.org/2001/04/xmlenc#aes256-cbc";

SecurityPolicy none()
{
    SecurityPolicy policy{};
    policy.name = QStringLiteral("None");
    policy.uri = QLatin1String(PolicyPrefix) + policy.name;
    return policy;
}

SecurityPolicy secure(const char *name, RsaSignature signature, const char *signatureUri, RsaEncryption encryption,
                      const char *encryptionUri, const char *symmetricUri, int encryptingKeyLength)
{
    return {QLatin1String(PolicyPrefix) + QLatin1String(name),
            QLatin1String(name),
            true,
            signature,
            QLatin1String(signatureUri),
            encryption,
            QLatin1String(encryptionUri),
            QLatin1String(HmacSha256),
            QLatin1String(symmetricUri),
            32,
            encryptingKeyLength,
            16,
            32,
            32,
            2048,
            4096};
}

SymmetricKeys splitKeys(const SecurityPolicy &policy, const QByteArray &material)
{
    return {material.first(policy.signingKeyLength),
            material.sliced(policy.signingKeyLength, policy.encryptingKeyLength),
            material.sliced(policy.signingKeyLength + policy.encryptingKeyLength, policy.blockSize)};
}

} // namespace

const std::vector<SecurityPolicy> &securityPolicies()
{
    static const std::vector<SecurityPolicy> policies{
        none(),
        secure("Aes256_Sha256_RsaPss", RsaSignature::PssSha256, RsaPssSha256, RsaEncryption::OaepSha256, RsaOaepSha256,
               Aes256Cbc, 32),
        secure("Basic256Sha256", RsaSignature::Pkcs1Sha256, RsaSha256, RsaEncryption::OaepSha1, RsaOaep, Aes256Cbc, 32),
        secure("Aes128_Sha256_RsaOaep", RsaSignature::Pkcs1Sha256, RsaSha256, RsaEncryption::OaepSha1, RsaOaep,
               Aes128Cbc, 16),
    };
    return policies;
}

const SecurityPolicy &securityPolicyNone() { return securityPolicies().front(); }

const SecurityPolicy *findSecurityPolicy(QStringView uriOrName)
{
    for (const SecurityPolicy &policy : securityPolicies())
        if (uriOrName == policy.uri || uriOrName == policy.name)
            return &policy;
    return nullptr;
}

bool keyLengthAllowed(const SecurityPolicy &policy, const RsaKey &key)
{
    return !policy.secure || (!key.isNull() && key.bits() >= policy.minKeyBits && key.bits() <= policy.maxKeyBits);
}

QByteArray makeNonce(const SecurityPolicy &policy)
{
    return policy.secure ? Crypto::randomBytes(policy.nonceLength) : QByteArray();
}

SecurityResult deriveChannelKeys(const SecurityPolicy &policy, const QByteArray &clientNonce,
                                 const QByteArray &serverNonce, ChannelKeys &keys)
{
    if (!policy.secure)
        return SecurityResult::Ok;
    if (clientNonce.size() != policy.nonceLength || serverNonce.size() != policy.nonceLength)
        return SecurityResult::NonceInvalid;
    const int length = policy.signingKeyLength + policy.encryptingKeyLength + policy.blockSize;
    const QByteArray client = Crypto::pSha256(serverNonce, clientNonce, length);
    const QByteArray server = Crypto::pSha256(clientNonce, serverNonce, length);
    if (client.size() != length || server.size() != length)
        return SecurityResult::InternalError;
    keys = {splitKeys(policy, client), splitKeys(policy, server)};
    return SecurityResult::Ok;
}

std::optional<QByteArray> signData(const SecurityPolicy &policy, const RsaKey &ourKey, QByteArrayView data)
{
    if (!policy.secure)
        return QByteArray();
    return Crypto::rsaSign(ourKey, policy.asymmetricSignature, data);
}

bool verifyData(const SecurityPolicy &policy, const RsaKey &peerKey, QByteArrayView data, QByteArrayView signature)
{
    return !policy.secure || Crypto::rsaVerify(peerKey, policy.asymmetricSignature, data, signature);
}

SecurityResult decryptUserSecret(const SecurityPolicy &policy, const RsaKey &ourKey, QByteArrayView secret,
                                 QByteArrayView serverNonce, QByteArray &password)
{
    if (!policy.secure) {
        password = secret.toByteArray();
        return SecurityResult::Ok;
    }
    if (serverNonce.isEmpty())
        return SecurityResult::NonceInvalid;
    const std::optional<QByteArray> plain = Crypto::rsaDecrypt(ourKey, policy.asymmetricEncryption, secret);
    if (!plain)
        return SecurityResult::DecryptionFailed;
    // The length counts the password and the nonce, not itself.
    if (plain->size() < 4)
        return SecurityResult::Malformed;
    const quint32 length = qFromLittleEndian<quint32>(plain->constData());
    if (length > quint32(plain->size() - 4) || length < quint32(serverNonce.size()))
        return SecurityResult::Malformed;
    const QByteArrayView content = QByteArrayView(*plain).sliced(4, qsizetype(length));
    if (!Crypto::constantTimeEquals(content.last(serverNonce.size()), serverNonce))
        return SecurityResult::NonceInvalid;
    password = content.first(content.size() - serverNonce.size()).toByteArray();
    return SecurityResult::Ok;
}

} // namespace Security

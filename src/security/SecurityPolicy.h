#pragma once
#include "security/Crypto.h"

#include <QString>
#include <QStringView>
#include <optional>
#include <vector>

// The OPC UA security policies this server offers (OPC 10000-7): what each one
// uses for the OpenSecureChannel exchange (RSA) and for every later chunk (HMAC and
// AES with keys derived from the two nonces), and the helpers that apply them to
// whole messages (OPC 10000-6 6.7).
namespace Security {

// MessageSecurityMode, with the numbers the OPC UA enumeration gives them.
enum class SecurityMode { None = 1, Sign = 2, SignAndEncrypt = 3 };

// How a security step ended. The UA side maps each to a status code:
//   Ok                Good
//   NonceInvalid      BadNonceInvalid
//   KeyRejected       BadSecurityPolicyRejected (a key outside the policy's lengths)
//   SignatureInvalid  BadSecurityChecksFailed (BadUserSignatureInvalid for a session)
//   DecryptionFailed  BadSecurityChecksFailed (BadIdentityTokenInvalid for a token)
//   PaddingInvalid    BadSecurityChecksFailed
//   Malformed         BadSecurityChecksFailed (sizes that cannot hold the parts)
//   InternalError     BadInternalError (OpenSSL itself failed)
enum class SecurityResult {
    Ok,
    NonceInvalid,
    KeyRejected,
    SignatureInvalid,
    DecryptionFailed,
    PaddingInvalid,
    Malformed,
    InternalError
};

struct SecurityPolicy {
    QString uri;
    QString name; // the URI's fragment, for logs and settings
    bool secure;  // false for None, which signs and encrypts nothing
    Crypto::RsaSignature asymmetricSignature;
    QString asymmetricSignatureUri; // SignatureData.algorithm
    Crypto::RsaEncryption asymmetricEncryption;
    QString asymmetricEncryptionUri; // UserNameIdentityToken.encryptionAlgorithm
    QString symmetricSignatureUri;
    QString symmetricEncryptionUri;
    int signingKeyLength;    // derived HMAC-SHA256 key
    int encryptingKeyLength; // derived AES key: 16 or 32
    int blockSize;           // AES block and IV
    int signatureSize;       // HMAC-SHA256 output
    int nonceLength;
    int minKeyBits, maxKeyBits; // RSA key lengths allowed for either side
};

// None first, then the secure policies from the strongest signature down.
const std::vector<SecurityPolicy> &securityPolicies();
const SecurityPolicy &securityPolicyNone();
// The policy with this URI, or its name ("Basic256Sha256"); null when unknown.
const SecurityPolicy *findSecurityPolicy(QStringView uriOrName);

bool keyLengthAllowed(const SecurityPolicy &policy, const RsaKey &key);
// A fresh nonce of the policy's length; empty for None or when the generator fails.
QByteArray makeNonce(const SecurityPolicy &policy);

// The keys one side secures its chunks with.
struct SymmetricKeys {
    QByteArray signingKey;
    QByteArray encryptingKey;
    QByteArray iv;
};
struct ChannelKeys {
    SymmetricKeys client; // what the client signs and encrypts with, the server checks with
    SymmetricKeys server; // the reverse
};
// OPC 10000-6 6.7.5: the client's keys from P_SHA256(serverNonce, clientNonce), the
// server's from P_SHA256(clientNonce, serverNonce). NonceInvalid when a nonce does
// not have the policy's length.
SecurityResult deriveChannelKeys(const SecurityPolicy &policy, const QByteArray &clientNonce,
                                 const QByteArray &serverNonce, ChannelKeys &keys);

// The session's proofs (CreateSession's serverSignature, ActivateSession's
// clientSignature): the policy's asymmetric signature over the given bytes.
std::optional<QByteArray> signData(const SecurityPolicy &policy, const RsaKey &ourKey, QByteArrayView data);
bool verifyData(const SecurityPolicy &policy, const RsaKey &peerKey, QByteArrayView data, QByteArrayView signature);

// A UserName token's password, sent as the legacy encrypted secret: the length, the
// password and the server nonce, encrypted with the server's key by the token
// policy's algorithm. With policy None the secret is the password itself.
SecurityResult decryptUserSecret(const SecurityPolicy &policy, const RsaKey &ourKey, QByteArrayView secret,
                                 QByteArrayView serverNonce, QByteArray &password);

} // namespace Security

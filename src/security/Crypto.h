#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <optional>

struct evp_pkey_st;

// Thin wrappers over OpenSSL's EVP interface: every hash, MAC, cipher, signature
// and random byte of the OPC UA security comes from here. A failure is an empty or
// missing result, never an exception and never a partial output.
namespace Security {

// An RSA key, private (with its public half) or public only. Copies share one
// OpenSSL key, which never changes once made.
class RsaKey {
public:
    RsaKey() = default;
    static RsaKey generate(int bits);
    // A PEM private key (PKCS#8 or PKCS#1) or public key; null when it does not parse
    // or is not RSA.
    static RsaKey fromPem(QByteArrayView pem);
    // Takes over a reference the caller owns; null when the key is not RSA.
    static RsaKey adopt(evp_pkey_st *key, bool isPrivate);

    bool isNull() const { return !key_; }
    bool hasPrivateKey() const { return key_ && private_; }
    int bits() const;
    int bytes() const;
    // PKCS#8 PEM of the private key; empty for a public key.
    QByteArray privateKeyPem() const;
    // Whether both keys have the same public half.
    bool sameKeyAs(const RsaKey &other) const;
    evp_pkey_st *get() const { return key_.get(); }

private:
    std::shared_ptr<evp_pkey_st> key_;
    bool private_ = false;
};

namespace Crypto {

// Bytes from OpenSSL's generator; empty when it fails.
QByteArray randomBytes(int count);
QByteArray sha1(QByteArrayView data);
QByteArray sha256(QByteArrayView data);
QByteArray hmacSha256(QByteArrayView key, QByteArrayView data);
// The OPC UA key derivation function P_SHA256(secret, seed), cut to length bytes.
QByteArray pSha256(QByteArrayView secret, QByteArrayView seed, int length);
QByteArray pbkdf2Sha256(QByteArrayView password, QByteArrayView salt, int iterations, int length);
// Compares in a time that does not depend on where the inputs differ.
bool constantTimeEquals(QByteArrayView a, QByteArrayView b);

// AES-CBC without padding (the OPC UA chunk carries its own): a key of 16 or 32
// bytes picks AES-128 or AES-256; the IV has 16 bytes; data is whole blocks.
std::optional<QByteArray> aesCbcEncrypt(QByteArrayView key, QByteArrayView iv, QByteArrayView data);
std::optional<QByteArray> aesCbcDecrypt(QByteArrayView key, QByteArrayView iv, QByteArrayView data);

enum class RsaSignature { Pkcs1Sha256, PssSha256 };
enum class RsaEncryption { OaepSha1, OaepSha256 };

std::optional<QByteArray> rsaSign(const RsaKey &privateKey, RsaSignature scheme, QByteArrayView data);
bool rsaVerify(const RsaKey &publicKey, RsaSignature scheme, QByteArrayView data, QByteArrayView signature);
// Plain text bytes one encrypted block carries: the key's bytes less the OAEP overhead.
int rsaPlainBlockSize(const RsaKey &key, RsaEncryption scheme);
// Encrypts block by block, each block of plain text to one block of the key's size.
std::optional<QByteArray> rsaEncrypt(const RsaKey &publicKey, RsaEncryption scheme, QByteArrayView data);
std::optional<QByteArray> rsaDecrypt(const RsaKey &privateKey, RsaEncryption scheme, QByteArrayView data);

} // namespace Crypto
} // namespace Security

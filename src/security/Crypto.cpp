#include "security/Crypto.h"
#include "security/OpenSslHandles.h"

#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

namespace Security {

namespace {

// An encrypted PEM key would otherwise make OpenSSL ask for a passphrase on the
// terminal; the program never has one, so such a key simply does not load.
int noPassphrase(char *, int, int, void *) { return -1; }

QByteArray digest(const EVP_MD *md, QByteArrayView data)
{
    QByteArray out(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    if (EVP_Digest(data.data(), size_t(data.size()), ucharData(out), &size, md, nullptr) != 1) {
        dropErrors();
        return {};
    }
    out.resize(size);
    return out;
}

bool setSignaturePadding(EVP_PKEY_CTX *ctx, Crypto::RsaSignature scheme, bool signing)
{
    if (scheme == Crypto::RsaSignature::Pkcs1Sha256)
        return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1;
    // OPC UA signs with a salt as long as the hash; a verifier takes any length.
    return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) == 1 &&
           EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, signing ? RSA_PSS_SALTLEN_DIGEST : RSA_PSS_SALTLEN_AUTO) == 1;
}

PkeyCtxPtr oaepContext(const RsaKey &key, Crypto::RsaEncryption scheme, bool encrypt)
{
    if (key.isNull() || (!encrypt && !key.hasPrivateKey()))
        return nullptr;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    const EVP_MD *md = scheme == Crypto::RsaEncryption::OaepSha1 ? EVP_sha1() : EVP_sha256();
    if (!ctx || (encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), md) != 1 || EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), md) != 1) {
        dropErrors();
        return nullptr;
    }
    return ctx;
}

std::optional<QByteArray> aesCbc(bool encrypt, QByteArrayView key, QByteArrayView iv, QByteArrayView data)
{
    const EVP_CIPHER *cipher = key.size() == 16 ? EVP_aes_128_cbc() : key.size() == 32 ? EVP_aes_256_cbc() : nullptr;
    if (!cipher || iv.size() != 16 || data.size() % 16 != 0 || data.size() > INT_MAX - 16)
        return std::nullopt;
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    QByteArray out(data.size() + 16, Qt::Uninitialized);
    int written = 0, last = 0;
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, ucharData(key), ucharData(iv), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), ucharData(out), &written, ucharData(data), int(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), ucharData(out) + written, &last) != 1)
        return failed();
    out.resize(written + last);
    return out;
}

} // namespace

RsaKey RsaKey::generate(int bits)
{
    if (bits < 1024 || bits > 16384)
        return {};
    return adopt(EVP_RSA_gen(unsigned(bits)), true);
}

RsaKey RsaKey::fromPem(QByteArrayView pem)
{
    if (BioPtr bio = readBio(pem))
        if (EVP_PKEY *key = PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr))
            return adopt(key, true);
    if (BioPtr bio = readBio(pem))
        if (EVP_PKEY *key = PEM_read_bio_PUBKEY(bio.get(), nullptr, noPassphrase, nullptr))
            return adopt(key, false);
    dropErrors();
    return {};
}

RsaKey RsaKey::adopt(evp_pkey_st *key, bool isPrivate)
{
    RsaKey result;
    if (!key) {
        dropErrors();
        return result;
    }
    if (EVP_PKEY_is_a(key, "RSA") != 1) {
        EVP_PKEY_free(key);
        return result;
    }
    result.key_.reset(key, EVP_PKEY_free);
    result.private_ = isPrivate;
    return result;
}

int RsaKey::bits() const { return key_ ? EVP_PKEY_get_bits(key_.get()) : 0; }

int RsaKey::bytes() const { return key_ ? EVP_PKEY_get_size(key_.get()) : 0; }

QByteArray RsaKey::privateKeyPem() const
{
    if (!hasPrivateKey())
        return {};
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        dropErrors();
        return {};
    }
    return bioBytes(bio.get());
}

bool RsaKey::sameKeyAs(const RsaKey &other) const
{
    return key_ && other.key_ && EVP_PKEY_eq(key_.get(), other.key_.get()) == 1;
}

namespace Crypto {

QByteArray randomBytes(int count)
{
    QByteArray out(count, Qt::Uninitialized);
    if (count < 0 || RAND_bytes(ucharData(out), count) != 1) {
        dropErrors();
        return {};
    }
    return out;
}

QByteArray sha1(QByteArrayView data) { return digest(EVP_sha1(), data); }

QByteArray sha256(QByteArrayView data) { return digest(EVP_sha256(), data); }

QByteArray hmacSha256(QByteArrayView key, QByteArrayView data)
{
    QByteArray out(32, Qt::Uninitialized);
    size_t size = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), size_t(key.size()), ucharData(data),
                   size_t(data.size()), ucharData(out), size_t(out.size()), &size)) {
        dropErrors();
        return {};
    }
    out.resize(qsizetype(size));
    return out;
}

QByteArray pSha256(QByteArrayView secret, QByteArrayView seed, int length)
{
    // P_hash of RFC 5246: A(0) = seed, A(i) = HMAC(secret, A(i-1)); the output is
    // HMAC(secret, A(1) + seed) + HMAC(secret, A(2) + seed) + ...
    QByteArray out;
    QByteArray a = seed.toByteArray();
    while (out.size() < length) {
        a = hmacSha256(secret, a);
        const QByteArray block = hmacSha256(secret, a + seed.toByteArray());
        if (a.isEmpty() || block.isEmpty())
            return {};
        out += block;
    }
    out.truncate(length);
    return out;
}

QByteArray pbkdf2Sha256(QByteArrayView password, QByteArrayView salt, int iterations, int length)
{
    QByteArray out(length, Qt::Uninitialized);
    if (iterations < 1 || length < 1 || password.size() > INT_MAX || salt.size() > INT_MAX ||
        PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), ucharData(salt), int(salt.size()), iterations,
                          EVP_sha256(), length, ucharData(out)) != 1) {
        dropErrors();
        return {};
    }
    return out;
}

bool constantTimeEquals(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), size_t(a.size())) == 0;
}

std::optional<QByteArray> aesCbcEncrypt(QByteArrayView key, QByteArrayView iv, QByteArrayView data)
{
    return aesCbc(true, key, iv, data);
}

std::optional<QByteArray> aesCbcDecrypt(QByteArrayView key, QByteArrayView iv, QByteArrayView data)
{
    return aesCbc(false, key, iv, data);
}

std::optional<QByteArray> rsaSign(const RsaKey &privateKey, RsaSignature scheme, QByteArrayView data)
{
    if (!privateKey.hasPrivateKey())
        return std::nullopt;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX *keyCtx = nullptr;
    QByteArray signature(privateKey.bytes(), Qt::Uninitialized);
    size_t size = size_t(signature.size());
    if (!ctx || EVP_DigestSignInit(ctx.get(), &keyCtx, EVP_sha256(), nullptr, privateKey.get()) != 1 ||
        !setSignaturePadding(keyCtx, scheme, true) ||
        EVP_DigestSign(ctx.get(), ucharData(signature), &size, ucharData(data), size_t(data.size())) != 1)
        return failed();
    signature.resize(qsizetype(size));
    return signature;
}

bool rsaVerify(const RsaKey &publicKey, RsaSignature scheme, QByteArrayView data, QByteArrayView signature)
{
    if (publicKey.isNull())
        return false;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX *keyCtx = nullptr;
    if (ctx && EVP_DigestVerifyInit(ctx.get(), &keyCtx, EVP_sha256(), nullptr, publicKey.get()) == 1 &&
        setSignaturePadding(keyCtx, scheme, false) &&
        EVP_DigestVerify(ctx.get(), ucharData(signature), size_t(signature.size()), ucharData(data),
                         size_t(data.size())) == 1)
        return true;
    dropErrors();
    return false;
}

int rsaPlainBlockSize(const RsaKey &key, RsaEncryption scheme)
{
    // OAEP takes two hashes and two bytes of every block.
    const int overhead = scheme == RsaEncryption::OaepSha1 ? 2 * 20 + 2 : 2 * 32 + 2;
    return key.isNull() ? 0 : key.bytes() - overhead;
}

std::optional<QByteArray> rsaEncrypt(const RsaKey &publicKey, RsaEncryption scheme, QByteArrayView data)
{
    const PkeyCtxPtr ctx = oaepContext(publicKey, scheme, true);
    const int plainBlock = rsaPlainBlockSize(publicKey, scheme);
    if (!ctx || plainBlock <= 0)
        return std::nullopt;
    const qsizetype cipherBlock = publicKey.bytes();
    QByteArray out((data.size() + plainBlock - 1) / plainBlock * cipherBlock, Qt::Uninitialized);
    for (qsizetype in = 0, at = 0; in < data.size(); in += plainBlock, at += cipherBlock) {
        const QByteArrayView block = data.sliced(in, qMin<qsizetype>(plainBlock, data.size() - in));
        size_t size = size_t(cipherBlock);
        if (EVP_PKEY_encrypt(ctx.get(), ucharData(out) + at, &size, ucharData(block), size_t(block.size())) != 1 ||
            size != size_t(cipherBlock))
            return failed();
    }
    return out;
}

std::optional<QByteArray> rsaDecrypt(const RsaKey &privateKey, RsaEncryption scheme, QByteArrayView data)
{
    const PkeyCtxPtr ctx = oaepContext(privateKey, scheme, false);
    const qsizetype cipherBlock = privateKey.bytes();
    if (!ctx || cipherBlock <= 0 || data.size() % cipherBlock != 0)
        return std::nullopt;
    QByteArray out;
    out.reserve(data.size());
    QByteArray block(cipherBlock, Qt::Uninitialized);
    for (qsizetype in = 0; in < data.size(); in += cipherBlock) {
        size_t size = size_t(block.size());
        if (EVP_PKEY_decrypt(ctx.get(), ucharData(block), &size, ucharData(data.sliced(in, cipherBlock)),
                             size_t(cipherBlock)) != 1)
            return failed();
        out.append(block.constData(), qsizetype(size));
    }
    return out;
}

} // namespace Crypto
} // namespace Security

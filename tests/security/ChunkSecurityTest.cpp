// Chunks that were tampered with, cut or padded wrongly fail cleanly and stay as
// they came; the size limits the chunker relies on hold exactly.
#include "security/ChunkSecurity.h"
#include "SecurityTestSupport.h"

#include <QtEndian>
#include <gtest/gtest.h>

using namespace Security;
using namespace SecurityTest;

namespace {

constexpr qsizetype PlainStart = 16; // message header and a symmetric security header

QByteArray plainChunk(qsizetype bodySize)
{
    QByteArray chunk = "MSGF" + QByteArray(PlainStart - 4, '\x07');
    for (qsizetype i = 0; i < SequenceHeaderSize + bodySize; ++i)
        chunk += char(i * 7);
    return chunk;
}

const SecurityPolicy &policy(const char *name) { return *findSecurityPolicy(QString::fromLatin1(name)); }

SymmetricKeys keysFor(const SecurityPolicy &p)
{
    ChannelKeys keys;
    deriveChannelKeys(p, QByteArray(32, 'c'), QByteArray(32, 's'), keys);
    return keys.client;
}

// One way to secure and open a chunk: asymmetric (mode None here), or symmetric.
struct Channel {
    const char *name;
    const char *policyName;
    SecurityMode mode;
    const char *serverKey = "server2048";

    SecurityResult secure(QByteArray &chunk) const
    {
        const SecurityPolicy &p = policy(policyName);
        return mode == SecurityMode::None ? secureAsymmetricChunk(p, chunk, PlainStart, key("client"), key(serverKey))
                                          : secureSymmetricChunk(p, mode, chunk, PlainStart, keysFor(p));
    }
    SecurityResult open(QByteArray &chunk) const
    {
        const SecurityPolicy &p = policy(policyName);
        return mode == SecurityMode::None ? openAsymmetricChunk(p, chunk, PlainStart, key(serverKey), key("client"))
                                          : openSymmetricChunk(p, mode, chunk, PlainStart, keysFor(p));
    }
    qsizetype maxBody(qsizetype chunkSize) const
    {
        const SecurityPolicy &p = policy(policyName);
        return mode == SecurityMode::None ? asymmetricMaxBody(p, chunkSize, PlainStart, key("client"), key(serverKey))
                                          : symmetricMaxBody(p, mode, chunkSize, PlainStart);
    }
};

const Channel channels[] = {
    {"asymmetric Basic256Sha256", "Basic256Sha256", SecurityMode::None},
    {"asymmetric to 4096 bits", "Aes256_Sha256_RsaPss", SecurityMode::None, "server4096"},
    {"Aes128_Sha256_RsaOaep Sign", "Aes128_Sha256_RsaOaep", SecurityMode::Sign},
    {"Aes128_Sha256_RsaOaep SignAndEncrypt", "Aes128_Sha256_RsaOaep", SecurityMode::SignAndEncrypt},
    {"Basic256Sha256 SignAndEncrypt", "Basic256Sha256", SecurityMode::SignAndEncrypt},
};

} // namespace

TEST(ChunkSecurity, ATamperedOrCutChunkFailsAndStaysAsItCame)
{
    for (const Channel &channel : channels) {
        QByteArray secured = plainChunk(300);
        ASSERT_EQ(channel.secure(secured), SecurityResult::Ok) << channel.name;
        EXPECT_EQ(qFromLittleEndian<quint32>(secured.constData() + 4), quint32(secured.size())) << channel.name;
        QByteArray opened = secured;
        ASSERT_EQ(channel.open(opened), SecurityResult::Ok) << channel.name;
        EXPECT_EQ(opened.sliced(8), plainChunk(300).sliced(8)) << channel.name; // all but the size
        // The message and security headers, the first and the last encrypted byte,
        // the middle of the body.
        for (const qsizetype at : {qsizetype(5), PlainStart - 1, PlainStart, secured.size() / 2, secured.size() - 1}) {
            QByteArray tampered = secured;
            tampered[at] = char(tampered[at] ^ 0x10);
            const QByteArray before = tampered;
            const SecurityResult result = channel.open(tampered);
            EXPECT_TRUE(result == SecurityResult::SignatureInvalid || result == SecurityResult::DecryptionFailed)
                << channel.name << " at " << at;
            EXPECT_EQ(tampered, before) << channel.name;
        }
        for (const qsizetype size : {qsizetype(0), PlainStart - 1, secured.size() - 1}) {
            QByteArray cut = secured.first(size);
            EXPECT_NE(channel.open(cut), SecurityResult::Ok) << channel.name << " cut to " << size;
        }
    }
}

TEST(ChunkSecurity, MaxBodyIsTheLargestBodyThatFits)
{
    for (const Channel &channel : channels) {
        for (const qsizetype limit : {qsizetype(8192), qsizetype(65535)}) {
            const qsizetype max = channel.maxBody(limit);
            QByteArray fits = plainChunk(max), over = plainChunk(max + 1);
            ASSERT_EQ(channel.secure(fits), SecurityResult::Ok);
            ASSERT_EQ(channel.secure(over), SecurityResult::Ok);
            EXPECT_LE(fits.size(), limit) << channel.name;
            EXPECT_GT(over.size(), limit) << channel.name;
        }
    }
}

TEST(ChunkSecurity, PaddingThatDoesNotMatchItsSizeIsRefusedAfterTheSignature)
{
    const SecurityPolicy &p = policy("Basic256Sha256");
    const SymmetricKeys keys = keysFor(p);
    // Signed and encrypted correctly, with the padding given: 8 + 10 + 14 + 32 bytes.
    const auto build = [&](const QByteArray &padding) {
        QByteArray chunk = plainChunk(10) + padding;
        qToLittleEndian<quint32>(quint32(chunk.size() + 32), chunk.data() + 4);
        chunk += Crypto::hmacSha256(keys.signingKey, chunk);
        return chunk.first(PlainStart) + *Crypto::aesCbcEncrypt(keys.encryptingKey, keys.iv, chunk.sliced(PlainStart));
    };
    const std::pair<QByteArray, SecurityResult> cases[] = {
        {QByteArray(14, '\x0d'), SecurityResult::Ok},
        {QByteArray(13, '\x0d') + '\x0c', SecurityResult::PaddingInvalid}, // bytes unlike their size
        {QByteArray(14, '\x1f'), SecurityResult::PaddingInvalid},          // more than the chunk holds
    };
    for (const auto &[padding, expected] : cases) {
        QByteArray chunk = build(padding);
        EXPECT_EQ(openSymmetricChunk(p, SecurityMode::SignAndEncrypt, chunk, PlainStart, keys), expected);
    }
}

TEST(ChunkSecurity, KeysThatDoNotFitThePolicyAreRejected)
{
    const SecurityPolicy &p = policy("Basic256Sha256");
    const RsaKey small = RsaKey::generate(1024);
    const RsaKey publicOnly = Certificate::fromDer(bytes(vectors()["clientCertificate"]["der"]))->publicKey();
    QByteArray chunk = plainChunk(10);
    EXPECT_EQ(secureAsymmetricChunk(p, chunk, PlainStart, small, key("server2048")), SecurityResult::KeyRejected);
    EXPECT_EQ(secureAsymmetricChunk(p, chunk, PlainStart, key("client"), small), SecurityResult::KeyRejected);
    EXPECT_EQ(secureAsymmetricChunk(p, chunk, PlainStart, publicOnly, key("server2048")), SecurityResult::KeyRejected);
    const SymmetricKeys aes128 = keysFor(policy("Aes128_Sha256_RsaOaep"));
    EXPECT_EQ(secureSymmetricChunk(p, SecurityMode::SignAndEncrypt, chunk, PlainStart, aes128),
              SecurityResult::KeyRejected);
    // Mode None and policy None leave a chunk alone.
    EXPECT_EQ(secureSymmetricChunk(p, SecurityMode::None, chunk, PlainStart, aes128), SecurityResult::Ok);
    EXPECT_EQ(secureAsymmetricChunk(securityPolicyNone(), chunk, PlainStart, {}, {}), SecurityResult::Ok);
    EXPECT_EQ(chunk, plainChunk(10));
}

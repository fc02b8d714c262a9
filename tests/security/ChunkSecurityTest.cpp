// Our policies against node-opcua's answers (key derivation, whole chunks in both
// directions, signatures, multi-block RSA, the UserName secret); chunks that were
// tampered with, cut or padded wrongly fail cleanly and stay as they came; the size
// limits the chunker relies on hold exactly.
#include "security/ChunkSecurity.h"
#include "SecurityTestSupport.h"

#include <QJsonArray>
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

    // Secures the chunk, or opens it.
    SecurityResult apply(QByteArray &chunk, bool securing) const
    {
        const SecurityPolicy &p = policy(policyName);
        const RsaKey &client = key("client"), &server = key(serverKey);
        if (mode != SecurityMode::None)
            return securing ? secureSymmetricChunk(p, mode, chunk, PlainStart, keysFor(p))
                            : openSymmetricChunk(p, mode, chunk, PlainStart, keysFor(p));
        return securing ? secureAsymmetricChunk(p, chunk, PlainStart, client, server)
                        : openAsymmetricChunk(p, chunk, PlainStart, server, client);
    }
    SecurityResult secure(QByteArray &chunk) const { return apply(chunk, true); }
    SecurityResult open(QByteArray &chunk) const { return apply(chunk, false); }
    qsizetype maxBody(qsizetype chunkSize) const
    {
        const SecurityPolicy &p = policy(policyName);
        return mode == SecurityMode::None ? asymmetricMaxBody(p, chunkSize, PlainStart, key("client"), key(serverKey))
                                          : symmetricMaxBody(p, mode, chunkSize, PlainStart);
    }
};

class PolicyVectors : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        for (const QJsonValue &v : vectors()["policies"].toArray())
            if (v["name"].toString() == QLatin1String(GetParam()))
                object = v.toObject();
        found = findSecurityPolicy(vector["uri"].toString());
        ASSERT_NE(found, nullptr) << "no vector for " << GetParam();
        ASSERT_EQ(deriveChannelKeys(*found, nonce("client"), nonce("server"), keys), SecurityResult::Ok);
    }
    const RsaKey &serverKey(const char *part) const
    {
        return key(QStringLiteral("server%1").arg(vector[part]["serverBits"].toInt()));
    }
    static QByteArray nonce(const char *side) { return bytes(vectors()[QLatin1String(side) + "Nonce"]); }

    QJsonObject object;
    const QJsonObject &vector = object; // read only, so that vector["a"]["b"] works
    const SecurityPolicy *found = nullptr;
    ChannelKeys keys;
    const RsaKey &client = key("client");
};

} // namespace

TEST_P(PolicyVectors, DerivesTheChannelKeysOfBothSides)
{
    const QJsonValue prf = vectors()["pSha256"];
    EXPECT_EQ(Crypto::pSha256(bytes(prf["secret"]), bytes(prf["seed"]), 100), bytes(prf["output"]));
    for (const auto &[side, derived] : {std::pair{"clientKeys", keys.client}, {"serverKeys", keys.server}}) {
        EXPECT_EQ(QList<QByteArray>({derived.signingKey, derived.encryptingKey, derived.iv}),
                  QList<QByteArray>({bytes(vector[side]["signingKey"]), bytes(vector[side]["encryptingKey"]),
                                     bytes(vector[side]["iv"])}))
            << side;
    }
    // A nonce of another length than the policy's is refused, on either side.
    EXPECT_EQ(deriveChannelKeys(*found, nonce("client").left(31), nonce("server"), keys), SecurityResult::NonceInvalid);
    EXPECT_EQ(deriveChannelKeys(*found, nonce("client"), nonce("server") + 'x', keys), SecurityResult::NonceInvalid);
}

TEST_P(PolicyVectors, ChunksGoBothWaysAndSymmetricOnesMatchByteForByte)
{
    const QJsonValue v = vector["openSecureChannel"];
    const RsaKey &server = serverKey("openSecureChannel");
    const qsizetype plainStart = v["plainStart"].toInt();
    const QByteArray theirs = bytes(v["chunk"]);
    QByteArray ours = theirs;
    ASSERT_EQ(openAsymmetricChunk(*found, ours, plainStart, server, client), SecurityResult::Ok);
    EXPECT_EQ(ours.first(plainStart), theirs.first(plainStart));
    EXPECT_EQ(ours.sliced(plainStart + SequenceHeaderSize), bytes(v["body"]));
    // Secured again by us, it decrypts to node-opcua's plain text: the same padding,
    // size field and (for PKCS#1, which is deterministic) signature.
    ASSERT_EQ(secureAsymmetricChunk(*found, ours, plainStart, client, server), SecurityResult::Ok);
    EXPECT_EQ(ours.first(plainStart), theirs.first(plainStart));
    const auto plain = [&](const QByteArray &chunk) {
        return Crypto::rsaDecrypt(server, found->asymmetricEncryption, QByteArrayView(chunk).sliced(plainStart))
            .value_or("failed");
    };
    const qsizetype salted = found->asymmetricSignature == Crypto::RsaSignature::PssSha256 ? client.bytes() : 0;
    EXPECT_EQ(plain(ours).chopped(salted), plain(theirs).chopped(salted));

    for (const auto &[name, mode] :
         {std::pair{"Sign", SecurityMode::Sign}, {"SignAndEncrypt", SecurityMode::SignAndEncrypt}}) {
        const QJsonValue s = vector["symmetric"][name];
        const qsizetype start = s["plainStart"].toInt();
        QByteArray chunk = bytes(s["chunk"]);
        EXPECT_EQ(openSymmetricChunk(*found, mode, chunk, start, keys.server), SecurityResult::SignatureInvalid);
        ASSERT_EQ(openSymmetricChunk(*found, mode, chunk, start, keys.client), SecurityResult::Ok) << name;
        EXPECT_EQ(chunk.sliced(start + SequenceHeaderSize), bytes(s["body"])) << name;
        ASSERT_EQ(secureSymmetricChunk(*found, mode, chunk, start, keys.client), SecurityResult::Ok) << name;
        EXPECT_EQ(chunk.toHex(), bytes(s["chunk"]).toHex()) << name;
    }
}

TEST_P(PolicyVectors, SignaturesAndEncryptionInteroperate)
{
    const QByteArray data = bytes(vector["signature"]["data"]), theirs = bytes(vector["signature"]["value"]);
    const QByteArray ours = signData(*found, client, data).value_or("failed");
    EXPECT_TRUE(verifyData(*found, client, data, theirs) && verifyData(*found, client, data, ours));
    if (found->asymmetricSignature == Crypto::RsaSignature::Pkcs1Sha256) {
        EXPECT_EQ(ours, theirs);
    }
    QByteArray flipped = theirs;
    flipped[40] = char(flipped[40] ^ 1);
    EXPECT_FALSE(verifyData(*found, client, data, flipped) || verifyData(*found, client, data + 'x', theirs));

    const RsaKey &server = serverKey("encrypted");
    const QByteArray plain = bytes(vector["encrypted"]["plain"]);
    EXPECT_EQ(Crypto::rsaDecrypt(server, found->asymmetricEncryption, bytes(vector["encrypted"]["cipher"])), plain);
    const int block = Crypto::rsaPlainBlockSize(server, found->asymmetricEncryption);
    for (const int length : {1, block, block + 1, 3 * block}) {
        const QByteArray cipher =
            Crypto::rsaEncrypt(server, found->asymmetricEncryption, plain.left(length)).value_or("");
        EXPECT_EQ(cipher.size(), (length + block - 1) / block * server.bytes()) << length;
        EXPECT_EQ(Crypto::rsaDecrypt(server, found->asymmetricEncryption, cipher), plain.left(length)) << length;
    }
}

TEST_P(PolicyVectors, DecryptsTheUserNameSecret)
{
    const RsaKey &server = serverKey("userSecret");
    const QByteArray secret = bytes(vector["userSecret"]["encrypted"]), nonce = PolicyVectors::nonce("server");
    QByteArray password = "unchanged";
    ASSERT_EQ(decryptUserSecret(*found, server, secret, nonce, password), SecurityResult::Ok);
    EXPECT_EQ(password, bytes(vector["userSecret"]["password"]));

    password = "unchanged";
    QByteArray tampered = secret;
    tampered[7] = char(tampered[7] ^ 1);
    // A length field that claims more than was sent, or less than the nonce.
    const auto lying = [&](const char *length) {
        return *Crypto::rsaEncrypt(server, found->asymmetricEncryption, QByteArray(length, 4) + "pw" + nonce);
    };
    const std::tuple<const RsaKey &, QByteArray, QByteArray, SecurityResult> cases[] = {
        {server, secret, nonce.chopped(1) + 'x', SecurityResult::NonceInvalid},
        {server, tampered, nonce, SecurityResult::DecryptionFailed},
        {client, secret, nonce, SecurityResult::DecryptionFailed},
        {server, lying("\xff\x00\x00\x00"), nonce, SecurityResult::Malformed},
        {server, lying("\x02\x00\x00\x00"), nonce, SecurityResult::Malformed},
    };
    for (const auto &[ours, sent, expectedNonce, result] : cases)
        EXPECT_EQ(decryptUserSecret(*found, ours, sent, expectedNonce, password), result);
    EXPECT_EQ(password, "unchanged");
}

INSTANTIATE_TEST_SUITE_P(Policies, PolicyVectors,
                         ::testing::Values("Basic256Sha256", "Aes128_Sha256_RsaOaep", "Aes256_Sha256_RsaPss"));

TEST(ChunkSecurity, ATamperedOrCutChunkFailsAndStaysAsItCameAndMaxBodyIsTheLargestThatFits)
{
    const Channel channels[] = {
        {"asymmetric Basic256Sha256", "Basic256Sha256", SecurityMode::None},
        {"asymmetric to 4096 bits", "Aes256_Sha256_RsaPss", SecurityMode::None, "server4096"},
        {"Aes128_Sha256_RsaOaep Sign", "Aes128_Sha256_RsaOaep", SecurityMode::Sign},
        {"Aes128_Sha256_RsaOaep SignAndEncrypt", "Aes128_Sha256_RsaOaep", SecurityMode::SignAndEncrypt},
        {"Basic256Sha256 SignAndEncrypt", "Basic256Sha256", SecurityMode::SignAndEncrypt},
    };
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
        for (const qsizetype limit : {qsizetype(8192), qsizetype(65535)}) {
            const qsizetype max = channel.maxBody(limit);
            QByteArray fits = plainChunk(max), over = plainChunk(max + 1);
            ASSERT_TRUE(channel.secure(fits) == SecurityResult::Ok && channel.secure(over) == SecurityResult::Ok);
            EXPECT_TRUE(fits.size() <= limit && over.size() > limit) << channel.name << " within " << limit;
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

// Our policies against node-opcua's answers: key derivation, whole chunks in both
// directions, signatures, multi-block RSA and the UserName secret.
#include "SecurityTestSupport.h"
#include "security/ChunkSecurity.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace Security;
using namespace SecurityTest;

namespace {

SymmetricKeys keysOf(const QJsonValue &v)
{
    return {bytes(v[QLatin1String("signingKey")]), bytes(v[QLatin1String("encryptingKey")]),
            bytes(v[QLatin1String("iv")])};
}

QString serverKeyName(const QJsonValue &v)
{
    return QStringLiteral("server%1").arg(v[QLatin1String("serverBits")].toInt());
}

class PolicyVectors : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { ASSERT_NE(found, nullptr) << "no vector for " << GetParam(); }

    const QJsonObject vector = policyVector(QLatin1String(GetParam()));
    const SecurityPolicy *found = findSecurityPolicy(vector[QLatin1String("uri")].toString());
    const SecurityPolicy &policy = found ? *found : securityPolicyNone();
};

} // namespace

TEST(SecurityVectors, PSha256MatchesNodeOpcua)
{
    const QJsonValue v = vectors()[QLatin1String("pSha256")];
    EXPECT_EQ(Crypto::pSha256(bytes(v[QLatin1String("secret")]), bytes(v[QLatin1String("seed")]), 100),
              bytes(v[QLatin1String("output")]));
}

TEST_P(PolicyVectors, DerivesTheChannelKeysOfBothSides)
{
    ChannelKeys keys;
    ASSERT_EQ(deriveChannelKeys(policy, bytes(vectors()[QLatin1String("clientNonce")]),
                                bytes(vectors()[QLatin1String("serverNonce")]), keys),
              SecurityResult::Ok);
    for (const auto &[side, derived] : {std::pair{"clientKeys", keys.client}, std::pair{"serverKeys", keys.server}}) {
        const SymmetricKeys expected = keysOf(vector[QLatin1String(side)]);
        EXPECT_EQ(derived.signingKey, expected.signingKey) << side;
        EXPECT_EQ(derived.encryptingKey, expected.encryptingKey) << side;
        EXPECT_EQ(derived.iv, expected.iv) << side;
    }
    // A nonce of another length than the policy's is refused, on either side.
    const QByteArray nonce = bytes(vectors()[QLatin1String("clientNonce")]);
    EXPECT_EQ(deriveChannelKeys(policy, nonce.left(31), nonce, keys), SecurityResult::NonceInvalid);
    EXPECT_EQ(deriveChannelKeys(policy, nonce, nonce + 'x', keys), SecurityResult::NonceInvalid);
}

TEST_P(PolicyVectors, OpensTheClientsOpenSecureChannelChunk)
{
    const QJsonValue v = vector[QLatin1String("openSecureChannel")];
    const RsaKey &server = key(serverKeyName(v));
    const qsizetype plainStart = v[QLatin1String("plainStart")].toInt();
    QByteArray chunk = bytes(v[QLatin1String("chunk")]);
    const QByteArray headers = chunk.first(plainStart);
    ASSERT_EQ(openAsymmetricChunk(policy, chunk, plainStart, server, key(QStringLiteral("client"))),
              SecurityResult::Ok);
    EXPECT_EQ(chunk.first(plainStart), headers);
    EXPECT_EQ(chunk.sliced(plainStart + SequenceHeaderSize), bytes(v[QLatin1String("body")]));
}

TEST_P(PolicyVectors, SecuresAnOpenSecureChannelChunkLaidOutAsNodeOpcuaDoes)
{
    // The same headers and body secured by us decrypt to node-opcua's plain text:
    // the same padding, size field and (deterministic PKCS#1) signature.
    const QJsonValue v = vector[QLatin1String("openSecureChannel")];
    const RsaKey &server = key(serverKeyName(v));
    const RsaKey &client = key(QStringLiteral("client"));
    const qsizetype plainStart = v[QLatin1String("plainStart")].toInt();
    const QByteArray theirs = bytes(v[QLatin1String("chunk")]);
    const QByteArray body = bytes(v[QLatin1String("body")]);
    QByteArray ours = theirs; // opened: the headers, the sequence header and the body
    ASSERT_EQ(openAsymmetricChunk(policy, ours, plainStart, server, client), SecurityResult::Ok);
    ASSERT_EQ(secureAsymmetricChunk(policy, ours, plainStart, client, server), SecurityResult::Ok);
    EXPECT_EQ(ours.size(), theirs.size());
    EXPECT_EQ(ours.first(plainStart), theirs.first(plainStart));
    const auto plain = [&](const QByteArray &chunk) {
        return Crypto::rsaDecrypt(server, policy.asymmetricEncryption, QByteArrayView(chunk).sliced(plainStart));
    };
    const std::optional<QByteArray> ourPlain = plain(ours), theirPlain = plain(theirs);
    ASSERT_TRUE(ourPlain && theirPlain);
    const qsizetype compared = policy.asymmetricSignature == Crypto::RsaSignature::PssSha256
                                   ? ourPlain->size() - client.bytes() // PSS signatures are salted
                                   : ourPlain->size();
    EXPECT_EQ(ourPlain->first(compared), theirPlain->first(compared));
    ASSERT_EQ(openAsymmetricChunk(policy, ours, plainStart, server, client), SecurityResult::Ok);
    EXPECT_EQ(ours.sliced(plainStart + SequenceHeaderSize), body);
}

TEST_P(PolicyVectors, SymmetricChunksMatchNodeOpcuaByteForByte)
{
    ChannelKeys keys;
    deriveChannelKeys(policy, bytes(vectors()[QLatin1String("clientNonce")]),
                      bytes(vectors()[QLatin1String("serverNonce")]), keys);
    for (const auto &[name, mode] :
         {std::pair{"Sign", SecurityMode::Sign}, {"SignAndEncrypt", SecurityMode::SignAndEncrypt}}) {
        const QJsonValue v = vector[QLatin1String("symmetric")][QLatin1String(name)];
        const qsizetype plainStart = v[QLatin1String("plainStart")].toInt();
        const QByteArray theirs = bytes(v[QLatin1String("chunk")]);
        QByteArray opened = theirs;
        ASSERT_EQ(openSymmetricChunk(policy, mode, opened, plainStart, keys.client), SecurityResult::Ok) << name;
        EXPECT_EQ(opened.first(plainStart), theirs.first(plainStart)) << name;
        EXPECT_EQ(opened.sliced(plainStart + SequenceHeaderSize), bytes(v[QLatin1String("body")])) << name;
        QByteArray ours = opened;
        ASSERT_EQ(secureSymmetricChunk(policy, mode, ours, plainStart, keys.client), SecurityResult::Ok) << name;
        EXPECT_EQ(ours.toHex(), theirs.toHex()) << name;
        // The other side's keys do not open it.
        opened = theirs;
        EXPECT_EQ(openSymmetricChunk(policy, mode, opened, plainStart, keys.server), SecurityResult::SignatureInvalid);
    }
}

TEST_P(PolicyVectors, SignaturesAndEncryptionInteroperate)
{
    const RsaKey &client = key(QStringLiteral("client"));
    const QJsonValue signature = vector[QLatin1String("signature")];
    const QByteArray data = bytes(signature[QLatin1String("data")]);
    const QByteArray theirs = bytes(signature[QLatin1String("value")]);
    EXPECT_TRUE(verifyData(policy, client, data, theirs));
    const std::optional<QByteArray> ours = signData(policy, client, data);
    ASSERT_TRUE(ours);
    EXPECT_TRUE(verifyData(policy, client, data, *ours));
    if (policy.asymmetricSignature == Crypto::RsaSignature::Pkcs1Sha256)
        EXPECT_EQ(*ours, theirs);
    QByteArray flipped = theirs;
    flipped[40] = char(flipped[40] ^ 1);
    EXPECT_FALSE(verifyData(policy, client, data, flipped));
    EXPECT_FALSE(verifyData(policy, client, data + 'x', theirs));

    const QJsonValue encrypted = vector[QLatin1String("encrypted")];
    const RsaKey &server = key(serverKeyName(encrypted));
    const QByteArray plain = bytes(encrypted[QLatin1String("plain")]);
    EXPECT_EQ(Crypto::rsaDecrypt(server, policy.asymmetricEncryption, bytes(encrypted[QLatin1String("cipher")])),
              plain);
    // Lengths around the block boundary, and back.
    const int block = Crypto::rsaPlainBlockSize(server, policy.asymmetricEncryption);
    for (const int length : {1, block - 1, block, block + 1, 3 * block}) {
        const std::optional<QByteArray> cipher =
            Crypto::rsaEncrypt(server, policy.asymmetricEncryption, plain.left(length));
        ASSERT_TRUE(cipher) << length;
        EXPECT_EQ(cipher->size(), (length + block - 1) / block * server.bytes()) << length;
        EXPECT_EQ(Crypto::rsaDecrypt(server, policy.asymmetricEncryption, *cipher), plain.left(length)) << length;
    }
}

TEST_P(PolicyVectors, DecryptsTheUserNameSecret)
{
    const QJsonValue v = vector[QLatin1String("userSecret")];
    const RsaKey &server = key(serverKeyName(v));
    const QByteArray secret = bytes(v[QLatin1String("encrypted")]);
    const QByteArray nonce = bytes(vectors()[QLatin1String("serverNonce")]);
    QByteArray password = "unchanged";
    ASSERT_EQ(decryptUserSecret(policy, server, secret, nonce, password), SecurityResult::Ok);
    EXPECT_EQ(password, bytes(v[QLatin1String("password")]));

    password = "unchanged";
    QByteArray otherNonce = nonce;
    otherNonce[0] = char(otherNonce[0] ^ 1);
    EXPECT_EQ(decryptUserSecret(policy, server, secret, otherNonce, password), SecurityResult::NonceInvalid);
    QByteArray tampered = secret;
    tampered[7] = char(tampered[7] ^ 1);
    EXPECT_EQ(decryptUserSecret(policy, server, tampered, nonce, password), SecurityResult::DecryptionFailed);
    EXPECT_EQ(decryptUserSecret(policy, key(QStringLiteral("client")), secret, nonce, password),
              SecurityResult::DecryptionFailed);
    // A length field that claims more than was sent, or less than the nonce.
    for (const QByteArray &length : {QByteArray("\xff\x00\x00\x00", 4), QByteArray("\x02\x00\x00\x00", 4)}) {
        const std::optional<QByteArray> bad =
            Crypto::rsaEncrypt(server, policy.asymmetricEncryption, length + "pw" + nonce);
        EXPECT_EQ(decryptUserSecret(policy, server, *bad, nonce, password), SecurityResult::Malformed);
    }
    EXPECT_EQ(password, "unchanged");
}

INSTANTIATE_TEST_SUITE_P(Policies, PolicyVectors,
                         ::testing::Values("Basic256Sha256", "Aes128_Sha256_RsaOaep", "Aes256_Sha256_RsaPss"));

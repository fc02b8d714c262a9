// Our policies against node-opcua's answers: key derivation, whole chunks in both
// directions, signatures, multi-block RSA and the UserName secret.
#include "SecurityTestSupport.h"
#include "security/ChunkSecurity.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace Security;
using namespace SecurityTest;

namespace {

class PolicyVectors : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        for (const QJsonValue &v : vectors()["policies"].toArray())
            if (v["name"].toString() == QLatin1String(GetParam()))
                object = v.toObject();
        found = findSecurityPolicy(vector["uri"].toString());
        ASSERT_NE(found, nullptr) << "no vector for " << GetParam();
        ASSERT_EQ(deriveChannelKeys(*found, bytes(vectors()["clientNonce"]), bytes(vectors()["serverNonce"]), keys),
                  SecurityResult::Ok);
    }
    const RsaKey &serverKey(const char *part) const
    {
        return key(QStringLiteral("server%1").arg(vector[part]["serverBits"].toInt()));
    }

    QJsonObject object;
    const QJsonObject &vector = object; // read only, so that vector["a"]["b"] works
    const SecurityPolicy *found = nullptr;
    ChannelKeys keys;
    const RsaKey &client = key("client");
};

} // namespace

TEST(SecurityVectors, PSha256MatchesNodeOpcua)
{
    const QJsonValue v = vectors()["pSha256"];
    EXPECT_EQ(Crypto::pSha256(bytes(v["secret"]), bytes(v["seed"]), 100), bytes(v["output"]));
}

TEST_P(PolicyVectors, DerivesTheChannelKeysOfBothSides)
{
    for (const auto &[side, derived] : {std::pair{"clientKeys", keys.client}, {"serverKeys", keys.server}}) {
        EXPECT_EQ(derived.signingKey, bytes(vector[side]["signingKey"])) << side;
        EXPECT_EQ(derived.encryptingKey, bytes(vector[side]["encryptingKey"])) << side;
        EXPECT_EQ(derived.iv, bytes(vector[side]["iv"])) << side;
    }
    // A nonce of another length than the policy's is refused, on either side.
    const QByteArray nonce = bytes(vectors()["clientNonce"]);
    EXPECT_EQ(deriveChannelKeys(*found, nonce.left(31), nonce, keys), SecurityResult::NonceInvalid);
    EXPECT_EQ(deriveChannelKeys(*found, nonce, nonce + 'x', keys), SecurityResult::NonceInvalid);
}

TEST_P(PolicyVectors, OpenSecureChannelChunksGoBothWays)
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
}

TEST_P(PolicyVectors, SymmetricChunksMatchNodeOpcuaByteForByte)
{
    for (const auto &[name, mode] :
         {std::pair{"Sign", SecurityMode::Sign}, {"SignAndEncrypt", SecurityMode::SignAndEncrypt}}) {
        const QJsonValue v = vector["symmetric"][name];
        const qsizetype plainStart = v["plainStart"].toInt();
        const QByteArray theirs = bytes(v["chunk"]);
        QByteArray chunk = theirs;
        EXPECT_EQ(openSymmetricChunk(*found, mode, chunk, plainStart, keys.server), SecurityResult::SignatureInvalid);
        ASSERT_EQ(openSymmetricChunk(*found, mode, chunk, plainStart, keys.client), SecurityResult::Ok) << name;
        EXPECT_EQ(chunk.sliced(plainStart + SequenceHeaderSize), bytes(v["body"])) << name;
        ASSERT_EQ(secureSymmetricChunk(*found, mode, chunk, plainStart, keys.client), SecurityResult::Ok) << name;
        EXPECT_EQ(chunk.toHex(), theirs.toHex()) << name;
    }
}

TEST_P(PolicyVectors, SignaturesAndEncryptionInteroperate)
{
    const QByteArray data = bytes(vector["signature"]["data"]), theirs = bytes(vector["signature"]["value"]);
    EXPECT_TRUE(verifyData(*found, client, data, theirs));
    const QByteArray ours = signData(*found, client, data).value_or("failed");
    EXPECT_TRUE(verifyData(*found, client, data, ours));
    if (found->asymmetricSignature == Crypto::RsaSignature::Pkcs1Sha256) {
        EXPECT_EQ(ours, theirs);
    }
    QByteArray flipped = theirs;
    flipped[40] = char(flipped[40] ^ 1);
    EXPECT_FALSE(verifyData(*found, client, data, flipped));
    EXPECT_FALSE(verifyData(*found, client, data + 'x', theirs));

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
    const QByteArray secret = bytes(vector["userSecret"]["encrypted"]), nonce = bytes(vectors()["serverNonce"]);
    QByteArray password = "unchanged";
    ASSERT_EQ(decryptUserSecret(*found, server, secret, nonce, password), SecurityResult::Ok);
    EXPECT_EQ(password, bytes(vector["userSecret"]["password"]));

    password = "unchanged";
    EXPECT_EQ(decryptUserSecret(*found, server, secret, nonce.chopped(1) + 'x', password),
              SecurityResult::NonceInvalid);
    QByteArray tampered = secret;
    tampered[7] = char(tampered[7] ^ 1);
    EXPECT_EQ(decryptUserSecret(*found, server, tampered, nonce, password), SecurityResult::DecryptionFailed);
    EXPECT_EQ(decryptUserSecret(*found, client, secret, nonce, password), SecurityResult::DecryptionFailed);
    // A length field that claims more than was sent, or less than the nonce.
    for (const char *length : {"\xff\x00\x00\x00", "\x02\x00\x00\x00"}) {
        const std::optional<QByteArray> bad =
            Crypto::rsaEncrypt(server, found->asymmetricEncryption, QByteArray(length, 4) + "pw" + nonce);
        EXPECT_EQ(decryptUserSecret(*found, server, *bad, nonce, password), SecurityResult::Malformed);
    }
    EXPECT_EQ(password, "unchanged");
}

INSTANTIATE_TEST_SUITE_P(Policies, PolicyVectors,
                         ::testing::Values("Basic256Sha256", "Aes128_Sha256_RsaOaep", "Aes256_Sha256_RsaPss"));

// Every policy against node-opcua's answers; what was tampered with, cut, padded wrongly or
// keyed wrongly fails and stays as it came; the size limits the chunker relies on hold.
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

// Secured one way (asymmetric: mode None here), a chunk changed anywhere or cut fails and stays as
// it came, and the largest body said to fit does, one more not.
void checkTamperingAndSize(const SecurityPolicy &p, SecurityMode mode, const SymmetricKeys &keys, const RsaKey &client,
                           const RsaKey &server)
{
    SCOPED_TRACE("mode " + std::to_string(int(mode)));
    const auto apply = [&](QByteArray &chunk, bool securing) {
        if (mode != SecurityMode::None)
            return securing ? secureSymmetricChunk(p, mode, chunk, PlainStart, keys)
                            : openSymmetricChunk(p, mode, chunk, PlainStart, keys);
        return securing ? secureAsymmetricChunk(p, chunk, PlainStart, client, server)
                        : openAsymmetricChunk(p, chunk, PlainStart, server, client);
    };
    QByteArray secured = plainChunk(300);
    ASSERT_EQ(apply(secured, true), SecurityResult::Ok);
    // The message and security headers, the first and the last encrypted byte, the middle.
    for (const qsizetype at : {qsizetype(5), PlainStart - 1, PlainStart, secured.size() / 2, secured.size() - 1}) {
        QByteArray tampered = secured;
        tampered[at] = char(tampered[at] ^ 0x10);
        const QByteArray before = tampered;
        const SecurityResult result = apply(tampered, false);
        EXPECT_TRUE(result == SecurityResult::SignatureInvalid || result == SecurityResult::DecryptionFailed) << at;
        EXPECT_EQ(tampered, before);
    }
    for (const qsizetype size : {qsizetype(0), PlainStart - 1, secured.size() - 1}) {
        QByteArray cut = secured.first(size);
        EXPECT_NE(apply(cut, false), SecurityResult::Ok) << "cut to " << size;
    }
    for (const qsizetype limit : {qsizetype(8192), qsizetype(65535)}) {
        const qsizetype max = mode == SecurityMode::None ? asymmetricMaxBody(p, limit, PlainStart, client, server)
                                                         : symmetricMaxBody(p, mode, limit, PlainStart);
        QByteArray fits = plainChunk(max), over = plainChunk(max + 1);
        ASSERT_TRUE(apply(fits, true) == SecurityResult::Ok && apply(over, true) == SecurityResult::Ok);
        EXPECT_TRUE(fits.size() <= limit && over.size() > limit) << "within " << limit;
    }
}

} // namespace

TEST(ChunkSecurity, EveryPolicyAgreesWithNodeOpcuaAndRefusesWhatWasTamperedWith)
{
    const QByteArray clientNonce = bytes(vectors()["clientNonce"]), serverNonce = bytes(vectors()["serverNonce"]);
    const RsaKey &client = key("client"), small = RsaKey::generate(1024);
    const RsaKey publicOnly = Certificate::fromDer(bytes(vectors()["clientCertificate"]["der"]))->publicKey();
    for (const QJsonValue v : vectors()["policies"].toArray()) {
        SCOPED_TRACE(v["name"].toString().toStdString());
        const SecurityPolicy *found = findSecurityPolicy(v["uri"].toString());
        ASSERT_NE(found, nullptr);
        const RsaKey &server = key(QStringLiteral("server%1").arg(v["openSecureChannel"]["serverBits"].toInt()));
        ChannelKeys keys;
        ASSERT_EQ(deriveChannelKeys(*found, clientNonce, serverNonce, keys), SecurityResult::Ok);
        for (const auto &[side, derived] : {std::pair{"clientKeys", keys.client}, {"serverKeys", keys.server}})
            EXPECT_EQ((derived.signingKey + derived.encryptingKey + derived.iv).toHex(), bytes(v[side]).toHex())
                << side;
        EXPECT_EQ(deriveChannelKeys(*found, clientNonce.left(31), serverNonce, keys), SecurityResult::NonceInvalid);
        EXPECT_EQ(deriveChannelKeys(*found, clientNonce, serverNonce + 'x', keys), SecurityResult::NonceInvalid);

        // Their OpenSecureChannel chunk, opened and secured again by us, decrypts to their plain
        // text: the same padding, size field and (for PKCS#1, which is deterministic) signature.
        const QJsonValue open = v["openSecureChannel"];
        const qsizetype plainStart = open["plainStart"].toInt();
        const QByteArray theirs = bytes(open["chunk"]);
        QByteArray ours = theirs;
        ASSERT_EQ(openAsymmetricChunk(*found, ours, plainStart, server, client), SecurityResult::Ok);
        EXPECT_EQ(ours.sliced(plainStart + SequenceHeaderSize), bytes(open["body"]));
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
            const QJsonValue s = v["symmetric"][name];
            const qsizetype start = s["plainStart"].toInt();
            QByteArray chunk = bytes(s["chunk"]);
            EXPECT_EQ(openSymmetricChunk(*found, mode, chunk, start, keys.server), SecurityResult::SignatureInvalid);
            ASSERT_EQ(openSymmetricChunk(*found, mode, chunk, start, keys.client), SecurityResult::Ok) << name;
            EXPECT_EQ(chunk.sliced(start + SequenceHeaderSize), bytes(s["body"])) << name;
            ASSERT_EQ(secureSymmetricChunk(*found, mode, chunk, start, keys.client), SecurityResult::Ok) << name;
            EXPECT_EQ(chunk.toHex(), bytes(s["chunk"]).toHex()) << name;
        }
        for (const SecurityMode mode : {SecurityMode::None, SecurityMode::Sign, SecurityMode::SignAndEncrypt})
            checkTamperingAndSize(*found, mode, keys.client, client, server);

        // Only a UserName secret that decrypts and ends in the nonce ever sets the password.
        const QByteArray secret = bytes(v["userSecret"]["encrypted"]);
        QByteArray password = "unchanged", tampered = secret;
        tampered[7] = char(tampered[7] ^ 1);
        // A length field that claims more than was sent, or less than the nonce.
        const auto lying = [&](const char *length) {
            return *Crypto::rsaEncrypt(server, found->asymmetricEncryption, QByteArray(length, 4) + "pw" + serverNonce);
        };
        const std::tuple<const RsaKey &, QByteArray, QByteArray, SecurityResult> cases[] = {
            {server, secret, serverNonce.chopped(1) + 'x', SecurityResult::NonceInvalid},
            {server, tampered, serverNonce, SecurityResult::DecryptionFailed},
            {client, secret, serverNonce, SecurityResult::DecryptionFailed},
            {server, lying("\xff\x00\x00\x00"), serverNonce, SecurityResult::Malformed},
            {server, lying("\x02\x00\x00\x00"), serverNonce, SecurityResult::Malformed},
        };
        for (const auto &[ours, sent, expectedNonce, result] : cases)
            EXPECT_EQ(decryptUserSecret(*found, ours, sent, expectedNonce, password), result);
        EXPECT_EQ(password, "unchanged");
        ASSERT_EQ(decryptUserSecret(*found, server, secret, serverNonce, password), SecurityResult::Ok);
        EXPECT_EQ(password, bytes(v["userSecret"]["password"]));

        // Padding unlike its size, signed and encrypted correctly: 8 + 10 + 14 + 32 bytes.
        const auto padded = [&](const QByteArray &padding) {
            QByteArray chunk = plainChunk(10) + padding;
            qToLittleEndian<quint32>(quint32(chunk.size() + 32), chunk.data() + 4);
            chunk += Crypto::hmacSha256(keys.client.signingKey, chunk);
            chunk = chunk.first(PlainStart) +
                    *Crypto::aesCbcEncrypt(keys.client.encryptingKey, keys.client.iv, chunk.sliced(PlainStart));
            return openSymmetricChunk(*found, SecurityMode::SignAndEncrypt, chunk, PlainStart, keys.client);
        };
        EXPECT_EQ(std::vector({padded(QByteArray(14, '\x0d')), padded(QByteArray(13, '\x0d') + '\x0c'),
                               padded(QByteArray(14, '\x1f'))}),
                  std::vector({SecurityResult::Ok, SecurityResult::PaddingInvalid, SecurityResult::PaddingInvalid}))
            << "as it should be, bytes unlike their size, more than the chunk holds";

        QByteArray chunk = plainChunk(10);
        SymmetricKeys shortKey = keys.client;
        shortKey.encryptingKey.chop(8);
        EXPECT_EQ(
            std::vector({secureAsymmetricChunk(*found, chunk, PlainStart, small, server),
                         secureAsymmetricChunk(*found, chunk, PlainStart, client, small),
                         secureAsymmetricChunk(*found, chunk, PlainStart, publicOnly, server),
                         secureSymmetricChunk(*found, SecurityMode::SignAndEncrypt, chunk, PlainStart, shortKey)}),
            std::vector(4, SecurityResult::KeyRejected));
        // Mode None and policy None leave a chunk alone.
        EXPECT_EQ(secureSymmetricChunk(*found, SecurityMode::None, chunk, PlainStart, shortKey), SecurityResult::Ok);
        EXPECT_EQ(secureAsymmetricChunk(securityPolicyNone(), chunk, PlainStart, {}, {}), SecurityResult::Ok);
        EXPECT_EQ(chunk, plainChunk(10));
    }
}

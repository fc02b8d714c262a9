// What node-opcua, a stack written independently of ours, made (vectors/, by make-vectors.js), read and made again by
// us; the PKI folder: our own certificate made on first start, and the checks of a client's certificate.
#include "TestSupport.h"
#include "common/SecureFiles.h"
#include "security/CertificateStore.h"
#include "security/ChunkSecurity.h"

#include <QDir>
#include <QJsonArray>
#include <QtEndian>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>

using namespace Security;
using Check = CertificateCheck;

namespace {

QJsonObject vectors() { return sourceJson(QStringLiteral("tests/security/vectors/vectors.json")); }
QByteArray bytes(const QJsonValue &base64) { return QByteArray::fromBase64(base64.toString().toLatin1()); }
// "client", "server2048" or "server4096".
RsaKey key(const QString &name) { return RsaKey::fromPem(vectors()["keys"][name].toString().toLatin1()); }

// A certificate valid through 2026 and 2027: an application's, or a CA's.
CertificateRequest request(const QString &name, bool ca = false)
{
    const QDateTime from(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC), to(QDate(2027, 12, 31), QTime(0, 0), Qt::UTC);
    const unsigned usage = ca ? KeyCertSign | CrlSign : CertificateRequest().keyUsage;
    return {name, QString(), "urn:tests:" + name, QStringList("host.example"), from, to, ca, usage, !ca, !ca};
}

Certificate issue(const CertificateRequest &request, const RsaKey &subjectKey, const Certificate *issuer = nullptr,
                  const RsaKey &issuerKey = {})
{
    return Certificate::create(request, subjectKey, issuer, issuerKey).value();
}

// A DER revocation list of issuer that names the revoked certificates, dated at the issuer's start.
QByteArray revocationList(const Certificate &issuer, const RsaKey &issuerKey,
                          const std::vector<Certificate> &revoked = {})
{
    X509_CRL *crl = X509_CRL_new();
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer.get()));
    X509_CRL_set1_lastUpdate(crl, X509_get0_notBefore(issuer.get()));
    for (const Certificate &certificate : revoked) {
        X509_REVOKED *entry = X509_REVOKED_new();
        X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(certificate.get()));
        X509_REVOKED_set_revocationDate(entry, X509_getm_notBefore(issuer.get()));
        X509_CRL_add0_revoked(crl, entry);
    }
    X509_CRL_sign(crl, issuerKey.get(), EVP_sha256());
    QByteArray der(i2d_X509_CRL(crl, nullptr), '\0');
    auto *at = reinterpret_cast<unsigned char *>(der.data());
    i2d_X509_CRL(crl, &at);
    X509_CRL_free(crl);
    return der;
}

const QDateTime June2026(QDate(2026, 6, 1), QTime(0, 0), Qt::UTC);
const ApplicationIdentity Identity{"urn:host1:QUARLEN:OPC-KV7",      "OPC-KV7", "QUARLEN",
                                   {"host1.example", "192.168.7.9"}, 2048,      3};

constexpr qsizetype PlainStart = 16; // message header and a symmetric security header

// OPC UA's PSS salt is as long as the hash. Our verifier takes any length, so our signatures are checked here.
bool saltAsLongAsTheHash(const RsaKey &key, QByteArrayView data, QByteArrayView signature)
{
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_PKEY_CTX *ctx = nullptr;
    return EVP_DigestVerifyInit(md.get(), &ctx, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) == 1 &&
           EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, 32) == 1 &&
           EVP_DigestVerifyUpdate(md.get(), data.data(), size_t(data.size())) == 1 &&
           EVP_DigestVerifyFinal(md.get(), reinterpret_cast<const unsigned char *>(signature.data()),
                                 size_t(signature.size())) == 1;
}

QByteArray plainChunk(qsizetype bodySize)
{
    QByteArray chunk = "MSGF" + QByteArray(PlainStart - 4, '\x07');
    for (qsizetype i = 0; i < SequenceHeaderSize + bodySize; ++i)
        chunk += char(i * 7);
    return chunk;
}

// Secured one way (asymmetric: mode None), a chunk changed or cut fails and stays as it came; the size limits hold.
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
        EXPECT_TRUE((result == SecurityResult::SignatureInvalid || result == SecurityResult::DecryptionFailed) &&
                    tampered == before)
            << at;
    }
    for (QByteArray cut : {secured.first(0), secured.first(PlainStart - 1), secured.chopped(1)})
        EXPECT_NE(apply(cut, false), SecurityResult::Ok) << "cut to " << cut.size();
    for (const qsizetype limit : {qsizetype(8192), qsizetype(65535)}) {
        const qsizetype max = mode == SecurityMode::None ? asymmetricMaxBody(p, limit, PlainStart, client, server)
                                                         : symmetricMaxBody(p, mode, limit, PlainStart);
        QByteArray fits = plainChunk(max), over = plainChunk(max + 1);
        ASSERT_TRUE(apply(fits, true) == SecurityResult::Ok && apply(over, true) == SecurityResult::Ok);
        EXPECT_TRUE(fits.size() <= limit && over.size() > limit) << "within " << limit;
    }
}

} // namespace

TEST(CertificateStore, FirstStartMakesOurCertificateAndClientsPassByTrustTimeUriUseChainAndRevocationAlone)
{
    TempAppFolder folder;
    ManualClock clock{June2026};
    const QString pki = folder.file("pki");
    const auto files = [&](const QString &subfolder) { return QDir(pki + '/' + subfolder).entryList(QDir::Files); };
    CertificateStore store(pki, clock);
    const mode_t umask = ::umask(077); // the modes below must not come from the umask
    ASSERT_EQ(store.open(Identity), QString());
    ::umask(umask);
    const Certificate &own = store.ownCertificate();
    const unsigned required = DigitalSignature | NonRepudiation | KeyEncipherment | DataEncipherment | KeyCertSign;
    EXPECT_EQ(std::tuple(own.commonName(), own.applicationUri(), own.hostNames(), own.notAfter(),
                         own.publicKey().bits(), own.keyUsage() & required,
                         own.allowsServerAuth() && own.allowsClientAuth() && !own.isCa()),
              std::tuple(Identity.applicationName, Identity.applicationUri, Identity.hostNames, clock.now().addYears(3),
                         2048, required, true));
    EXPECT_TRUE(own.notBefore() <= clock.now() && own.publicKey().sameKeyAs(store.ownKey()) && own.isSelfSigned());
    for (const auto &[path, mode] :
         pairs("own/private/application.pem=600|own/private=700|own/certs/application.der=644|own/certs=755|"
               "trusted/certs=755|trusted/crl=755|issuers/certs=755|issuers/crl=755|rejected/certs=755")) {
        struct stat info {};
        ::stat(QFile::encodeName(pki + '/' + path).constData(), &info);
        EXPECT_EQ(QString::number(info.st_mode & 07777, 8), mode) << qPrintable(path);
    }
    CertificateStore again(pki, clock);
    ASSERT_EQ(again.open(Identity), QString());
    EXPECT_TRUE(again.ownCertificate().der() == own.der() && again.ownKey().sameKeyAs(store.ownKey()));

    // The rejected keep the newest; automatic trust puts a newcomer among the trusted instead.
    const Certificate stranger = issue(request("Some Client/1"), key("client"));
    EXPECT_EQ(store.validate(stranger.der(), {}), Check::Untrusted);
    const QString name = certificateFileName(stranger);
    EXPECT_TRUE(name.startsWith("Some Client_1 [") && name.endsWith("].der")) << name.toStdString();
    for (int i = 1; i <= CertificateStore::MaxRejected; ++i)
        store.validate(issue(request(QStringLiteral("flood %1").arg(i)), key("client")).der(), {});
    const QStringList rejected = files("rejected/certs");
    EXPECT_TRUE(rejected.size() == CertificateStore::MaxRejected &&
                rejected.filter(QStringLiteral("flood %1 ").arg(CertificateStore::MaxRejected)).size() == 1);
    store.setAutoTrust(true);
    const Certificate other = issue(request("other"), key("client"));
    EXPECT_EQ(store.validate(other.der(), {}), Check::Good);
    EXPECT_EQ(std::pair(files("trusted/certs"), files("rejected/certs").filter("other").size()),
              std::pair(QStringList{certificateFileName(other)}, qsizetype(0)));
    store.setAutoTrust(false);

    // A root CA, an intermediate below it, a client below each, variants of a self-signed client.
    const RsaKey rootKey = key("server2048"), middleKey = key("server4096"), clientKey = key("client");
    const Certificate root = issue(request("Root CA", true), rootKey);
    const Certificate middle = issue(request("Middle CA", true), middleKey, &root, rootKey);
    const Certificate client = issue(request("client"), clientKey, &root, rootKey);
    const auto selfSigned = [&](auto change) {
        CertificateRequest r = request("client");
        change(r);
        return issue(r, clientKey).der();
    };
    CertificateRequest lapsed = request("Middle CA", true);
    lapsed.notAfter = June2026.addDays(-1);
    const std::map<QString, QByteArray> named{
        {"root", root.der()},
        {"middle", middle.der()},
        {"client", client.der()},
        {"deep", issue(request("deep client"), clientKey, &middle, middleKey).der()},
        {"forged", issue(request("forged"), clientKey, &root, clientKey).der()},
        {"lapsedMiddle", issue(lapsed, middleKey, &root, rootKey).der()},
        {"notCaMiddle", issue(request("Middle CA"), middleKey, &root, rootKey).der()},
        {"selfSigned", selfSigned([](auto &) {})},
        {"notYetValid", selfSigned([](auto &r) { r.notBefore = June2026.addDays(1); })},
        {"signOnly", selfSigned([](auto &r) { r.keyUsage = DigitalSignature; })},
        {"encipherOnly", selfSigned([](auto &r) { r.keyUsage = KeyEncipherment; })},
        {"serverOnly", selfSigned([](auto &r) { r.clientAuth = false; })},
        {"weak", issue(request("weak"), RsaKey::generate(1024)).der()},
        {"garbage", "not a certificate"},
        {"rootList", revocationList(root, rootKey)},
        {"middleList", revocationList(middle, middleKey)},
        {"otherKeyList", revocationList(root, middleKey)},
        {"clientRevoked", revocationList(root, rootKey, {client})},
        {"middleRevoked", revocationList(root, rootKey, {middle})},
    };
    const QStringList checks = QStringLiteral("Good Invalid ChainIncomplete PolicyCheckFailed Untrusted TimeInvalid "
                                              "IssuerTimeInvalid UriInvalid UseNotAllowed IssuerUseNotAllowed "
                                              "RevocationUnknown IssuerRevocationUnknown Revoked IssuerRevoked")
                                   .split(' ');
    for (const QJsonValue row :
         sourceJson(QStringLiteral("tests/security/cases.json"))["certificateChecks"].toArray()) {
        for (const QString sub : {"trusted/certs", "trusted/crl", "issuers/certs", "issuers/crl", "rejected/certs"})
            for (const QString &name : files(sub))
                QFile::remove(pki + '/' + sub + '/' + name);
        for (const QJsonValue file : row["files"].toArray())
            Files::writeFileAtomically(pki + '/' + file.toString(), named.at(file.toString().section('/', 2)), 0600);
        QByteArray sent;
        for (const QJsonValue name : row["sent"].toArray())
            sent += named.at(name.toString());
        const QDateTime at = row["at"].isString() ? QDateTime::fromString(row["at"].toString(), Qt::ISODate) : June2026;
        clock.advance(clock.now().msecsTo(at));
        const Check result = store.validate(sent, row["uri"].toString(), findSecurityPolicy(row["policy"].toString()));
        EXPECT_EQ(checks[int(result)], row["expected"].toString()) << row["what"].toString().toStdString();
        EXPECT_EQ(files("rejected/certs").size(), result == Check::Untrusted) << "only the untrusted are kept";
    }

    const QString cert = pki + "/own/certs/application.der", key = pki + "/own/private/application.pem";
    const QByteArray keyBytes = folder.read("pki/own/private/application.pem");
    // A key missing, a garbage certificate, another's key, a file for a folder: the message names it, no key is taken.
    for (const auto &[path, bytes] : {std::pair{key, QByteArray()},
                                      {cert, QByteArray("garbage")},
                                      {key, clientKey.privateKeyPem()},
                                      {pki + "/issuers", "file"}}) {
        QDir(path).removeRecursively();
        QFile::remove(path);
        if (!bytes.isEmpty())
            Files::writeFileAtomically(path, bytes, 0600);
        CertificateStore damaged(pki);
        const QString message = damaged.open(Identity);
        EXPECT_TRUE(message.contains(path) && damaged.ownKey().isNull()) << message.toStdString();
        Files::writeFileAtomically(cert, own.der(), 0644);
        Files::writeFileAtomically(key, keyBytes, 0600);
    }
}

TEST(KnownAnswers, WhatNodeOpcuaMadeReadsAndEveryPolicyAgreesWithItAndRefusesWhatWasTamperedWith)
{
    const QJsonValue made = vectors()["clientCertificate"];
    const QByteArray der = bytes(made["der"]);
    const std::optional<Certificate> certificate = Certificate::fromDer(der);
    ASSERT_TRUE(certificate);
    EXPECT_EQ(QStringList({QString::fromLatin1(certificate->thumbprint().toHex()), certificate->applicationUri(),
                           certificate->hostNames().join(','), certificate->notBefore().toString(Qt::ISODate)}),
              QStringList({made["thumbprint"].toString(), made["applicationUri"].toString(),
                           made["hostNames"].toVariant().toStringList().join(','), made["notBefore"].toString()}));
    EXPECT_TRUE(certificate->publicKey().sameKeyAs(key("client")) && certificate->isSelfSigned());

    EXPECT_FALSE(Certificate::fromDer(der.chopped(5) + char(der[der.size() - 5] ^ 1) + der.last(4))->isSelfSigned())
        << "a signature bit flipped";
    for (const QByteArray &bad : // cut, more after it, not DER, nothing, a chain longer than any we take
         {der.chopped(1), der + '\0', QByteArray("\x30\x82\xff\xff"), QByteArray(), der.repeated(64)}) {
        EXPECT_FALSE(Certificate::fromDer(bad));
        EXPECT_TRUE(Certificate::chainFromDer(der + bad).size() == (bad.isEmpty() ? 1u : 0u));
    }

    const QByteArray clientNonce = bytes(vectors()["clientNonce"]), serverNonce = bytes(vectors()["serverNonce"]);
    const RsaKey &client = key("client"), small = RsaKey::generate(1024);
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

        // Their OpenSecureChannel chunk opened and secured again by us: their plain text, but for PSS's random salt.
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
        EXPECT_TRUE(!salted || saltAsLongAsTheHash(client, ours.first(plainStart) + plain(ours).chopped(salted),
                                                   plain(ours).last(salted)));

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
                         secureAsymmetricChunk(*found, chunk, PlainStart, certificate->publicKey(), server),
                         secureSymmetricChunk(*found, SecurityMode::SignAndEncrypt, chunk, PlainStart, shortKey)}),
            std::vector(4, SecurityResult::KeyRejected));
        // Mode None and policy None leave a chunk alone.
        EXPECT_EQ(secureSymmetricChunk(*found, SecurityMode::None, chunk, PlainStart, shortKey), SecurityResult::Ok);
        EXPECT_EQ(secureAsymmetricChunk(securityPolicyNone(), chunk, PlainStart, {}, {}), SecurityResult::Ok);
        EXPECT_EQ(chunk, plainChunk(10));
    }
}

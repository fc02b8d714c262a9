// Certificates and the PKI folder: what another stack made, our own made on first start,
// and the check of a client's: trust, rejection, time, URI, use, chains and revocation.
#include "SecurityTestSupport.h"
#include "TestSupport.h"
#include "common/SecureFiles.h"
#include "security/CertificateStore.h"

#include <QDir>
#include <QJsonArray>
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>

using namespace Security;
using namespace SecurityTest;
using Check = CertificateCheck;

namespace {

// A certificate valid through 2026 and 2027: an application's, or a CA's.
CertificateRequest request(const QString &name, bool ca = false)
{
    CertificateRequest r;
    r.commonName = name;
    r.applicationUri = "urn:tests:" + name;
    r.hostNames = {"host.example"};
    r.notBefore = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    r.notAfter = QDateTime(QDate(2027, 12, 31), QTime(0, 0), Qt::UTC);
    if (ca)
        std::tie(r.ca, r.keyUsage, r.serverAuth, r.clientAuth) = std::tuple(true, KeyCertSign | CrlSign, false, false);
    return r;
}

Certificate issue(const CertificateRequest &request, const RsaKey &subjectKey, const Certificate *issuer = nullptr,
                  const RsaKey &issuerKey = {})
{
    return Certificate::create(request, subjectKey, issuer, issuerKey).value();
}

// A DER revocation list of issuer that names the revoked certificates.
QByteArray revocationList(const Certificate &issuer, const RsaKey &issuerKey,
                          const std::vector<Certificate> &revoked = {})
{
    X509_CRL *crl = X509_CRL_new();
    ASN1_TIME *now = ASN1_TIME_set(nullptr, QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer.get()));
    X509_CRL_set1_lastUpdate(crl, now);
    for (const Certificate &certificate : revoked) {
        X509_REVOKED *entry = X509_REVOKED_new();
        X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(certificate.get()));
        X509_REVOKED_set_revocationDate(entry, now);
        X509_CRL_add0_revoked(crl, entry);
    }
    X509_CRL_sign(crl, issuerKey.get(), EVP_sha256());
    QByteArray der(i2d_X509_CRL(crl, nullptr), '\0');
    auto *at = reinterpret_cast<unsigned char *>(der.data());
    i2d_X509_CRL(crl, &at);
    ASN1_TIME_free(now);
    X509_CRL_free(crl);
    return der;
}

const QDateTime June2026(QDate(2026, 6, 1), QTime(0, 0), Qt::UTC);
const ApplicationIdentity Identity{"urn:host1:QUARLEN:OPC-KV7",      "OPC-KV7", "QUARLEN",
                                   {"host1.example", "192.168.7.9"}, 2048,      3};

} // namespace

TEST(Certificate, ReadsWhatNodeOpcuaMade)
{
    const QJsonValue v = vectors()["clientCertificate"];
    const QByteArray der = bytes(v["der"]);
    const std::optional<Certificate> certificate = Certificate::fromDer(der);
    ASSERT_TRUE(certificate);
    EXPECT_EQ(QStringList({QString::fromLatin1(certificate->thumbprint().toHex()), certificate->applicationUri(),
                           certificate->hostNames().join(','), certificate->notBefore().toString(Qt::ISODate)}),
              QStringList({v["thumbprint"].toString(), v["applicationUri"].toString(),
                           v["hostNames"].toVariant().toStringList().join(','), v["notBefore"].toString()}));
    EXPECT_TRUE(certificate->publicKey().sameKeyAs(key("client")) && certificate->isSelfSigned());
    EXPECT_EQ(Certificate::chainFromDer(der + der).size(), 2u);

    EXPECT_FALSE(Certificate::fromDer(der.chopped(5) + char(der[der.size() - 5] ^ 1) + der.last(4))->isSelfSigned())
        << "a signature bit flipped";
    for (const QByteArray &bad : {der.chopped(1), der + '\0', QByteArray("\x30\x82\xff\xff"), QByteArray()}) {
        EXPECT_FALSE(Certificate::fromDer(bad));
        EXPECT_TRUE(Certificate::chainFromDer(der + bad).size() == (bad.isEmpty() ? 1u : 0u));
    }
}

TEST(Certificate, FirstStartMakesTheApplicationCertificateAndAFolderThatCannotBeUsedIsReportedWithItsPath)
{
    TempAppFolder folder;
    const ManualClock clock;
    const QString pki = folder.file("pki");
    CertificateStore store(pki, clock);
    const mode_t umask = ::umask(077); // the modes below must not come from the umask
    const QString opened = store.open(Identity);
    ::umask(umask);
    ASSERT_EQ(opened, QString());
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
    EXPECT_EQ(again.ownCertificate().der(), own.der());
    EXPECT_TRUE(again.ownKey().sameKeyAs(store.ownKey()));

    const QString cert = pki + "/own/certs/application.der", key = pki + "/own/private/application.pem";
    const QByteArray keyBytes = folder.read("pki/own/private/application.pem");
    // A key missing, a certificate of garbage, another's key, a file where a folder belongs: a
    // message names the path and no key is taken; the folder is mended for the next case.
    for (const auto &[path, bytes] : {std::pair{key, QByteArray()},
                                      {cert, QByteArray("garbage")},
                                      {key, SecurityTest::key("client").privateKeyPem()},
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

TEST(CertificateStore, AnUntrustedClientIsRejectedUntilTrustedAndTimeUriUseChainsAndRevocationListsDecide)
{
    TempAppFolder folder;
    ManualClock clock{June2026};
    const QString pki = folder.file("pki");
    const auto put = [&](const QString &subfolder, const QString &name, const QByteArray &bytes) {
        QDir().mkpath(pki + '/' + subfolder);
        ASSERT_EQ(Files::writeFileAtomically(pki + '/' + subfolder + '/' + name, bytes, 0600), QString());
    };
    const auto files = [&](const QString &subfolder) { return QDir(pki + '/' + subfolder).entryList(QDir::Files); };
    // Our own pair is put in place, so that no key is generated.
    put("own/certs", "application.der", issue(request("server"), key("server2048")).der());
    put("own/private", "application.pem", key("server2048").privateKeyPem());
    CertificateStore store{pki, clock};
    ASSERT_EQ(store.open({}), QString());

    const Certificate stranger = issue(request("Some Client/1"), key("client"));
    EXPECT_EQ(store.validate(stranger.der(), {}), Check::Untrusted);
    const QString name = certificateFileName(stranger);
    EXPECT_TRUE(name.startsWith("Some Client_1 [") && name.endsWith("].der")) << name.toStdString();
    ASSERT_EQ(files("rejected/certs"), QStringList{name});
    ASSERT_TRUE(QFile::rename(pki + "/rejected/certs/" + name, pki + "/trusted/certs/" + name));
    EXPECT_EQ(store.validate(stranger.der(), stranger.applicationUri()), Check::Good);

    for (int i = 0; i <= CertificateStore::MaxRejected; ++i)
        store.validate(issue(request(QStringLiteral("flood %1").arg(i)), key("client")).der(), {});
    const QStringList rejected = files("rejected/certs");
    EXPECT_EQ(rejected.size(), CertificateStore::MaxRejected);
    EXPECT_EQ(rejected.filter(QStringLiteral("flood %1 ").arg(CertificateStore::MaxRejected)).size(), 1);

    store.setAutoTrust(true);
    const Certificate other = issue(request("other"), key("client"));
    EXPECT_EQ(store.validate(other.der(), {}), Check::Good);
    EXPECT_EQ(files("trusted/certs"), QStringList({certificateFileName(other), name}));
    EXPECT_EQ(files("rejected/certs").size(), CertificateStore::MaxRejected);
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
    for (const QJsonValue row : readJson("cases.json")["certificateChecks"].toArray()) {
        for (const QString sub : {"trusted/certs", "trusted/crl", "issuers/certs", "issuers/crl", "rejected/certs"})
            for (const QString &name : files(sub))
                QFile::remove(pki + '/' + sub + '/' + name);
        for (const QJsonValue file : row["files"].toArray())
            put(file.toString().section('/', 0, 1), file.toString().section('/', 2),
                named.at(file.toString().section('/', 2)));
        QByteArray sent;
        for (const QJsonValue name : row["sent"].toArray())
            sent += named.at(name.toString());
        const QDateTime at = row["at"].isString() ? QDateTime::fromString(row["at"].toString(), Qt::ISODate) : June2026;
        clock.advance(June2026.msecsTo(at));
        const Check result = store.validate(sent, row["uri"].toString(), findSecurityPolicy(row["policy"].toString()));
        EXPECT_EQ(checks[int(result)], row["expected"].toString()) << row["what"].toString().toStdString();
        EXPECT_EQ(files("rejected/certs").size(), result == Check::Untrusted) << "only the untrusted are kept";
        clock.advance(at.msecsTo(June2026));
    }
}

// Certificates: parsing what another stack made, the application certificate made
// on first start, and a PKI folder that cannot be used.
#include "SecurityTestSupport.h"
#include "TestSupport.h"
#include "common/SecureFiles.h"
#include "security/CertificateStore.h"

#include <QDir>
#include <QJsonArray>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Security;
using namespace SecurityTest;

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

const ApplicationIdentity Identity{"urn:host1:QUARLEN:OPC-KV7",      "OPC-KV7", "QUARLEN",
                                   {"host1.example", "192.168.7.9"}, 2048,      3};

} // namespace

TEST(Certificate, ReadsWhatNodeOpcuaMade)
{
    const QJsonValue v = vectors()["clientCertificate"];
    const QByteArray der = bytes(v["der"]);
    const std::optional<Certificate> certificate = Certificate::fromDer(der);
    ASSERT_TRUE(certificate);
    EXPECT_EQ(certificate->thumbprint().toHex(), v["thumbprint"].toString().toLatin1());
    EXPECT_EQ(certificate->applicationUri(), v["applicationUri"].toString());
    EXPECT_EQ(certificate->hostNames(), v["hostNames"].toVariant().toStringList());
    EXPECT_EQ(certificate->notBefore(), QDateTime::fromString(v["notBefore"].toString(), Qt::ISODate));
    EXPECT_TRUE(certificate->publicKey().sameKeyAs(key("client")));
    EXPECT_TRUE(certificate->isSelfSigned());
    EXPECT_EQ(Certificate::chainFromDer(der + der).size(), 2u);

    QByteArray signatureFlipped = der;
    signatureFlipped[der.size() - 5] = char(signatureFlipped[der.size() - 5] ^ 1);
    EXPECT_FALSE(Certificate::fromDer(signatureFlipped)->isSelfSigned());
    // Damaged bytes give no certificate, and no chain.
    for (const QByteArray &bad : {der.chopped(1), der + '\0', QByteArray("\x30\x82\xff\xff")}) {
        EXPECT_FALSE(Certificate::fromDer(bad));
        EXPECT_TRUE(Certificate::chainFromDer(der + bad).empty());
    }
    EXPECT_FALSE(Certificate::fromDer(QByteArray()));
}

TEST(Certificate, FirstStartMakesTheApplicationCertificateAndKeepsIt)
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
    EXPECT_EQ(own.commonName(), Identity.applicationName);
    EXPECT_EQ(own.applicationUri(), Identity.applicationUri);
    EXPECT_EQ(own.hostNames(), Identity.hostNames);
    EXPECT_LE(own.notBefore(), clock.now());
    EXPECT_EQ(own.notAfter(), clock.now().addYears(3));
    EXPECT_EQ(own.publicKey().bits(), 2048);
    EXPECT_TRUE(own.publicKey().sameKeyAs(store.ownKey()));
    EXPECT_TRUE(own.isSelfSigned());
    EXPECT_FALSE(own.isCa());
    const unsigned required = DigitalSignature | NonRepudiation | KeyEncipherment | DataEncipherment | KeyCertSign;
    EXPECT_EQ(own.keyUsage() & required, required);
    EXPECT_TRUE(own.allowsServerAuth() && own.allowsClientAuth());

    const std::pair<const char *, mode_t> modes[] = {
        {"own/private/application.pem", 0600},
        {"own/private", 0700},
        {"own/certs/application.der", 0644},
        {"own/certs", 0755},
        {"trusted/certs", 0755},
        {"trusted/crl", 0755},
        {"issuers/certs", 0755},
        {"issuers/crl", 0755},
        {"rejected/certs", 0755},
    };
    for (const auto &[path, mode] : modes)
        EXPECT_EQ(modeOf(pki + '/' + path), mode) << path;

    // The next start loads the same pair.
    CertificateStore again(pki, clock);
    ASSERT_EQ(again.open(Identity), QString());
    EXPECT_EQ(again.ownCertificate().der(), own.der());
    EXPECT_TRUE(again.ownKey().sameKeyAs(store.ownKey()));
}

TEST(Certificate, APkiFolderThatCannotBeUsedIsReportedWithItsPath)
{
    TempAppFolder folder;
    const QString pki = folder.file("pki");
    ASSERT_EQ(CertificateStore(pki).open(Identity), QString());
    const QString cert = pki + "/own/certs/application.der", key = pki + "/own/private/application.pem";
    QByteArray certBytes, keyBytes;
    Files::readFile(cert, certBytes);
    Files::readFile(key, keyBytes);
    // Each case damages the folder; a message names the path, and the folder is mended.
    const std::tuple<const char *, std::function<void()>, QString> cases[] = {
        {"key missing", [&] { QFile::remove(key); }, key},
        {"key is a folder", [&] { QFile::remove(key) && QDir().mkpath(key); }, key},
        {"certificate is garbage", [&] { Files::writeFileAtomically(cert, "garbage", 0644); }, cert},
        {"key of another certificate",
         [&] { Files::writeFileAtomically(key, SecurityTest::key("client").privateKeyPem(), 0600); }, key},
        {"a folder is a file",
         [&] { QDir(pki + "/issuers").removeRecursively() && QFile(pki + "/issuers").open(QIODevice::WriteOnly); },
         pki + "/issuers"},
    };
    for (const auto &[what, damage, path] : cases) {
        damage();
        CertificateStore store(pki);
        const QString message = store.open(Identity);
        EXPECT_TRUE(message.contains(path)) << what << ": " << message.toStdString();
        EXPECT_TRUE(store.ownKey().isNull()) << what;
        QDir(key).removeRecursively();
        Files::writeFileAtomically(cert, certBytes, 0644);
        Files::writeFileAtomically(key, keyBytes, 0600);
    }
    // A PKI folder below a regular file cannot be made at all.
    EXPECT_TRUE(CertificateStore(cert + "/pki").open(Identity).contains(cert));
}

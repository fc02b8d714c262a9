// Certificates: parsing what another stack made, the application certificate made
// on first start, and a PKI folder that cannot be used.
#include "SecurityTestSupport.h"
#include "TestSupport.h"
#include "security/CertificateStore.h"
#include "security/SecureFiles.h"

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

ApplicationIdentity identity()
{
    ApplicationIdentity id;
    id.applicationUri = QStringLiteral("urn:host1:QUARLEN:OPC-KV7");
    id.applicationName = QStringLiteral("OPC-KV7");
    id.organization = QStringLiteral("QUARLEN");
    id.hostNames = {QStringLiteral("host1.example"), QStringLiteral("192.168.7.9")};
    id.validityYears = 3;
    return id;
}

} // namespace

TEST(Certificate, ReadsWhatNodeOpcuaMade)
{
    const QJsonValue v = vectors()[QLatin1String("clientCertificate")];
    const QByteArray der = bytes(v[QLatin1String("der")]);
    const std::optional<Certificate> certificate = Certificate::fromDer(der);
    ASSERT_TRUE(certificate);
    EXPECT_EQ(certificate->thumbprint().toHex(), v[QLatin1String("thumbprint")].toString().toLatin1());
    EXPECT_EQ(certificate->applicationUri(), v[QLatin1String("applicationUri")].toString());
    EXPECT_EQ(certificate->hostNames(), v[QLatin1String("hostNames")].toVariant().toStringList());
    EXPECT_EQ(certificate->notBefore(), QDateTime::fromString(v[QLatin1String("notBefore")].toString(), Qt::ISODate));
    EXPECT_TRUE(certificate->publicKey().sameKeyAs(key(QStringLiteral("client"))));
    EXPECT_TRUE(certificate->isSelfSigned());
    EXPECT_EQ(Certificate::chainFromDer(der + der).size(), 2u);

    // Damaged bytes give no certificate, and no chain.
    QByteArray signatureFlipped = der;
    signatureFlipped[der.size() - 5] = char(signatureFlipped[der.size() - 5] ^ 1);
    EXPECT_FALSE(Certificate::fromDer(signatureFlipped)->isSelfSigned());
    for (const QByteArray &bad : {der.left(der.size() - 1), der + '\0', QByteArray("\x30\x82\xff\xff")}) {
        EXPECT_FALSE(Certificate::fromDer(bad));
        EXPECT_TRUE(Certificate::chainFromDer(der + bad).empty());
    }
    EXPECT_FALSE(Certificate::fromDer(QByteArray()));
}

TEST(Certificate, FirstStartMakesTheApplicationCertificateAndKeepsIt)
{
    TempAppFolder folder;
    const ManualClock clock;
    const QString pki = folder.file(QStringLiteral("pki"));
    CertificateStore store(pki, clock);
    const mode_t umask = ::umask(077); // the modes below must not come from the umask
    const QString opened = store.open(identity());
    ::umask(umask);
    ASSERT_EQ(opened, QString());
    const Certificate &own = store.ownCertificate();
    EXPECT_EQ(own.commonName(), QStringLiteral("OPC-KV7"));
    EXPECT_EQ(own.applicationUri(), identity().applicationUri);
    EXPECT_EQ(own.hostNames(), identity().hostNames);
    EXPECT_LE(own.notBefore(), clock.now());
    EXPECT_EQ(own.notAfter(), clock.now().addYears(3));
    EXPECT_EQ(own.publicKey().bits(), 2048);
    EXPECT_TRUE(own.publicKey().sameKeyAs(store.ownKey()));
    EXPECT_TRUE(own.isSelfSigned());
    EXPECT_FALSE(own.isCa());
    const unsigned required = DigitalSignature | NonRepudiation | KeyEncipherment | DataEncipherment | KeyCertSign;
    EXPECT_EQ(own.keyUsage() & required, required);
    EXPECT_TRUE(own.allowsServerAuth() && own.allowsClientAuth());

    // Modes as set, whatever the umask.
    EXPECT_EQ(modeOf(pki + QStringLiteral("/own/private/application.pem")), 0600u);
    EXPECT_EQ(modeOf(pki + QStringLiteral("/own/certs/application.der")), 0644u);
    EXPECT_EQ(modeOf(pki + QStringLiteral("/own/private")), 0700u);
    for (const char *sub :
         {"own/certs", "trusted/certs", "trusted/crl", "issuers/certs", "issuers/crl", "rejected/certs"})
        EXPECT_EQ(modeOf(pki + QLatin1Char('/') + QLatin1String(sub)), 0755u) << sub;
    QByteArray onDisk;
    ASSERT_EQ(readFile(pki + QStringLiteral("/own/certs/application.der"), onDisk), QString());
    EXPECT_EQ(onDisk, own.der());

    // The next start loads the same pair.
    CertificateStore again(pki, clock);
    ASSERT_EQ(again.open(identity()), QString());
    EXPECT_EQ(again.ownCertificate().thumbprint(), own.thumbprint());
    EXPECT_TRUE(again.ownKey().sameKeyAs(store.ownKey()));
}

TEST(Certificate, APkiFolderThatCannotBeUsedIsReportedWithItsPath)
{
    TempAppFolder folder;
    const QString pki = folder.file(QStringLiteral("pki"));
    ASSERT_EQ(CertificateStore(pki).open(identity()), QString());
    const QString certPath = pki + QStringLiteral("/own/certs/application.der");
    const QString keyPath = pki + QStringLiteral("/own/private/application.pem");
    QByteArray cert, keyPem;
    readFile(certPath, cert);
    readFile(keyPath, keyPem);
    const auto restore = [&] {
        QDir(keyPath).removeRecursively();
        writeFileAtomically(certPath, cert, 0644);
        writeFileAtomically(keyPath, keyPem, 0600);
    };
    // Each case damages the folder, expects a message naming the path, and repairs it.
    const struct {
        const char *what;
        std::function<void()> damage;
        QString path;
    } cases[] = {
        {"key missing", [&] { QFile::remove(keyPath); }, keyPath},
        {"key is a folder",
         [&] {
             QFile::remove(keyPath);
             QDir().mkpath(keyPath);
         },
         keyPath},
        {"certificate is garbage", [&] { writeFileAtomically(certPath, "garbage", 0644); }, certPath},
        {"key of another certificate", [&] { writeFileAtomically(keyPath, key("client").privateKeyPem(), 0600); },
         keyPath},
        {"folder is a file",
         [&] {
             QDir(pki + QStringLiteral("/trusted")).removeRecursively();
             writeFileAtomically(pki + QStringLiteral("/trusted"), "x", 0644);
         },
         pki + QStringLiteral("/trusted")},
    };
    for (const auto &c : cases) {
        c.damage();
        CertificateStore store(pki);
        const QString message = store.open(identity());
        EXPECT_TRUE(message.contains(c.path)) << c.what << ": " << message.toStdString();
        EXPECT_TRUE(store.ownKey().isNull()) << c.what;
        restore();
    }
    // A PKI folder below a regular file cannot be made at all.
    EXPECT_TRUE(CertificateStore(certPath + QStringLiteral("/pki")).open(identity()).contains(certPath));
}

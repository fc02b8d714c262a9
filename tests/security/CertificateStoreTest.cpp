// The check of a client's certificate against the PKI folder: trust, rejection and
// a later move, validity, URI, usage, chains and revocation lists.
#include "security/CertificateStore.h"
#include "SecurityTestSupport.h"
#include "TestSupport.h"
#include "security/SecureFiles.h"

#include <QDir>
#include <functional>
#include <gtest/gtest.h>

using namespace Security;
using namespace SecurityTest;
using Check = CertificateCheck;

namespace {

const QDateTime June2026(QDate(2026, 6, 1), QTime(0, 0), Qt::UTC);

class CertificateValidation : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Our own pair is put in place, so that no key is generated.
        const Certificate own = issue(request(QStringLiteral("server")), key(QStringLiteral("server2048")));
        QDir().mkpath(pki + QStringLiteral("/own/certs"));
        QDir().mkpath(pki + QStringLiteral("/own/private"));
        writeFileAtomically(pki + QStringLiteral("/own/certs/application.der"), own.der(), 0644);
        writeFileAtomically(pki + QStringLiteral("/own/private/application.pem"),
                            key(QStringLiteral("server2048")).privateKeyPem(), 0600);
        ASSERT_EQ(store.open({}), QString());
    }
    void put(const QString &subfolder, const QString &name, const QByteArray &bytes)
    {
        ASSERT_EQ(writeFileAtomically(pki + QLatin1Char('/') + subfolder + QLatin1Char('/') + name, bytes, 0644),
                  QString());
    }
    void trust(const Certificate &certificate, const char *subfolder = "trusted/certs")
    {
        put(QLatin1String(subfolder), certificateFileName(certificate), certificate.der());
    }
    QStringList files(const char *subfolder) const
    {
        return QDir(pki + QLatin1Char('/') + QLatin1String(subfolder)).entryList(QDir::Files);
    }
    Check check(const std::vector<Certificate> &chain, const QString &uri = {}, const SecurityPolicy *policy = nullptr)
    {
        QByteArray der;
        for (const Certificate &certificate : chain)
            der += certificate.der();
        return store.validate(der, uri, policy);
    }

    TempAppFolder folder;
    ManualClock clock{June2026};
    const QString pki = folder.file(QStringLiteral("pki"));
    CertificateStore store{pki, clock};
};

// A root CA, an intermediate CA below it and a client below each.
struct Hierarchy {
    RsaKey rootKey = key(QStringLiteral("server2048"));
    RsaKey middleKey = key(QStringLiteral("server4096"));
    RsaKey clientKey = key(QStringLiteral("client"));
    Certificate root = issue(request(QStringLiteral("Root CA"), true), rootKey);
    Certificate middle = issue(request(QStringLiteral("Middle CA"), true), middleKey, &root, rootKey);
    Certificate client = issue(request(QStringLiteral("client")), clientKey, &root, rootKey);
    Certificate deepClient = issue(request(QStringLiteral("deep client")), clientKey, &middle, middleKey);
};

const Hierarchy &hierarchy()
{
    static const Hierarchy h;
    return h;
}

} // namespace

TEST_F(CertificateValidation, AnUntrustedClientIsRejectedUntilAnAdministratorMovesItToTrusted)
{
    const Certificate client = issue(request(QStringLiteral("Some Client/1")), key(QStringLiteral("client")));
    EXPECT_EQ(check({client}), Check::Untrusted);
    const QString name = certificateFileName(client);
    EXPECT_TRUE(name.startsWith(QStringLiteral("Some Client_1 [")) && name.endsWith(QStringLiteral("].der")));
    ASSERT_EQ(files("rejected/certs"), QStringList{name});
    EXPECT_TRUE(files("trusted/certs").isEmpty());

    ASSERT_TRUE(
        QFile::rename(pki + QStringLiteral("/rejected/certs/") + name, pki + QStringLiteral("/trusted/certs/") + name));
    EXPECT_EQ(check({client}, client.applicationUri()), Check::Good);
    EXPECT_TRUE(files("rejected/certs").isEmpty());
}

TEST_F(CertificateValidation, AutoTrustAddsAnUntrustedClientToTrusted)
{
    store.setAutoTrust(true);
    const Certificate client = issue(request(QStringLiteral("client")), key(QStringLiteral("client")));
    EXPECT_EQ(check({client}), Check::Good);
    EXPECT_EQ(files("trusted/certs"), QStringList{certificateFileName(client)});
    EXPECT_TRUE(files("rejected/certs").isEmpty());
}

TEST_F(CertificateValidation, ATrustedSelfSignedClientIsCheckedForTimeUriAndUse)
{
    const struct {
        const char *what;
        std::function<void(CertificateRequest &)> change;
        QDateTime at;
        QString uri;
        Check expected;
    } cases[] = {
        {"as made", [](CertificateRequest &) {}, June2026, QStringLiteral("urn:tests:client"), Check::Good},
        {"no URI asked", [](CertificateRequest &) {}, June2026, QString(), Check::Good},
        {"another URI", [](CertificateRequest &) {}, June2026, QStringLiteral("urn:tests:other"), Check::UriInvalid},
        {"expired", [](CertificateRequest &) {}, QDateTime(QDate(2028, 1, 1), QTime(0, 0), Qt::UTC), QString(),
         Check::TimeInvalid},
        {"not yet valid", [](CertificateRequest &r) { r.notBefore = June2026.addDays(1); }, June2026, QString(),
         Check::TimeInvalid},
        {"cannot encipher", [](CertificateRequest &r) { r.keyUsage = DigitalSignature | KeyCertSign; }, June2026,
         QString(), Check::UseNotAllowed},
        {"cannot sign", [](CertificateRequest &r) { r.keyUsage = KeyEncipherment | KeyCertSign; }, June2026, QString(),
         Check::UseNotAllowed},
        {"server use only", [](CertificateRequest &r) { r.clientAuth = false; }, June2026, QString(),
         Check::UseNotAllowed},
    };
    for (const auto &c : cases) {
        CertificateRequest r = request(QStringLiteral("client"));
        c.change(r);
        const Certificate client = issue(r, key(QStringLiteral("client")));
        trust(client);
        clock.advance(June2026.msecsTo(c.at));
        EXPECT_EQ(check({client}, c.uri), c.expected) << c.what;
        clock.advance(c.at.msecsTo(June2026));
    }
}

TEST_F(CertificateValidation, ChainsAreBuiltFromTheListsAndCheckedForRevocation)
{
    const Hierarchy &h = hierarchy();
    const auto crl = [&](const Certificate &ca, const RsaKey &caKey, std::vector<Certificate> revoked = {}) {
        return revocationList(ca, caKey, revoked);
    };
    using Files = std::vector<std::pair<const char *, QByteArray>>;
    const QByteArray rootCrl = crl(h.root, h.rootKey), middleCrl = crl(h.middle, h.middleKey);
    const Certificate forged = issue(request(QStringLiteral("forged")), h.clientKey, &h.root, h.clientKey);
    const Certificate lapsedMiddle = [&] {
        CertificateRequest r = request(QStringLiteral("Middle CA"), true);
        r.notAfter = June2026.addDays(-1);
        return issue(r, h.middleKey, &h.root, h.rootKey);
    }();
    const Certificate notCaMiddle = issue(request(QStringLiteral("Middle CA")), h.middleKey, &h.root, h.rootKey);
    const struct {
        const char *what;
        Files files;
        std::vector<Certificate> sent;
        Check expected;
    } cases[] = {
        {"trusted CA with its list",
         {{"trusted/certs", h.root.der()}, {"trusted/crl", rootCrl}},
         {h.client},
         Check::Good},
        {"revoked",
         {{"trusted/certs", h.root.der()}, {"trusted/crl", crl(h.root, h.rootKey, {h.client})}},
         {h.client},
         Check::Revoked},
        {"CA without a list", {{"trusted/certs", h.root.der()}}, {h.client}, Check::RevocationUnknown},
        {"a list signed by another key",
         {{"trusted/certs", h.root.der()}, {"trusted/crl", crl(h.root, h.middleKey)}},
         {h.client},
         Check::RevocationUnknown},
        {"issuer unknown", {}, {h.client}, Check::ChainIncomplete},
        {"CA only among the issuers",
         {{"issuers/certs", h.root.der()}, {"issuers/crl", rootCrl}},
         {h.client},
         Check::Untrusted},
        {"client trusted, CA among the issuers",
         {{"issuers/certs", h.root.der()}, {"issuers/crl", rootCrl}, {"trusted/certs", h.client.der()}},
         {h.client},
         Check::Good},
        {"signature not the CA's",
         {{"trusted/certs", h.root.der()}, {"trusted/crl", rootCrl}},
         {forged},
         Check::Invalid},
        {"intermediate sent along",
         {{"trusted/certs", h.root.der()}, {"trusted/crl", rootCrl}, {"issuers/crl", middleCrl}},
         {h.deepClient, h.middle},
         Check::Good},
        {"intermediate from the issuers",
         {{"trusted/certs", h.root.der()},
          {"trusted/crl", rootCrl},
          {"issuers/certs", h.middle.der()},
          {"issuers/crl", middleCrl}},
         {h.deepClient},
         Check::Good},
        {"intermediate revoked",
         {{"trusted/certs", h.root.der()},
          {"trusted/crl", crl(h.root, h.rootKey, {h.middle})},
          {"issuers/crl", middleCrl}},
         {h.deepClient, h.middle},
         Check::IssuerRevoked},
        {"root without a list",
         {{"trusted/certs", h.root.der()}, {"issuers/crl", middleCrl}},
         {h.deepClient, h.middle},
         Check::IssuerRevocationUnknown},
        {"intermediate expired",
         {{"trusted/certs", h.root.der()}, {"trusted/crl", rootCrl}, {"issuers/crl", middleCrl}},
         {h.deepClient, lapsedMiddle},
         Check::IssuerTimeInvalid},
        {"intermediate is no CA",
         {{"trusted/certs", h.root.der()}, {"trusted/crl", rootCrl}, {"issuers/crl", middleCrl}},
         {h.deepClient, notCaMiddle},
         Check::IssuerUseNotAllowed},
    };
    for (const auto &c : cases) {
        for (const char *sub : {"trusted/certs", "trusted/crl", "issuers/certs", "issuers/crl"})
            for (const QString &name : files(sub))
                QFile::remove(pki + QLatin1Char('/') + QLatin1String(sub) + QLatin1Char('/') + name);
        int n = 0;
        for (const auto &[sub, bytes] : c.files)
            put(QLatin1String(sub), QStringLiteral("file%1.der").arg(++n), bytes);
        EXPECT_EQ(check(c.sent), c.expected) << c.what;
    }
}

TEST_F(CertificateValidation, WhatIsNoUsableCertificateIsInvalidOrFailsThePolicy)
{
    EXPECT_EQ(store.validate(QByteArray("not a certificate"), {}), Check::Invalid);
    EXPECT_EQ(store.validate(QByteArray(), {}), Check::Invalid);
    const Certificate weak = issue(request(QStringLiteral("weak")), RsaKey::generate(1024));
    trust(weak);
    EXPECT_EQ(check({weak}, {}, findSecurityPolicy(QStringLiteral("Basic256Sha256"))), Check::PolicyCheckFailed);
    EXPECT_EQ(check({weak}), Check::Good);
    EXPECT_TRUE(files("rejected/certs").isEmpty());
}

TEST_F(CertificateValidation, RejectedCertificatesNeverPileUpBeyondTheLimit)
{
    for (int i = 0; i <= CertificateStore::MaxRejected; ++i)
        check({issue(request(QStringLiteral("flood %1").arg(i)), key(QStringLiteral("client")))});
    const QStringList rejected = files("rejected/certs");
    EXPECT_EQ(rejected.size(), CertificateStore::MaxRejected);
    EXPECT_TRUE(rejected.filter(QStringLiteral("flood %1 ").arg(CertificateStore::MaxRejected)).size() == 1);
}

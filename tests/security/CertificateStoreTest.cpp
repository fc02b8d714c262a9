// The check of a client's certificate against the PKI folder: trust, rejection and
// a later move, validity, URI, usage, chains and revocation lists.
#include "security/CertificateStore.h"
#include "SecurityTestSupport.h"
#include "TestSupport.h"
#include "common/SecureFiles.h"

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
        QDir().mkpath(pki + "/own/certs");
        QDir().mkpath(pki + "/own/private");
        Files::writeFileAtomically(pki + "/own/certs/application.der",
                                   issue(request("server"), key("server2048")).der(), 0644);
        Files::writeFileAtomically(pki + "/own/private/application.pem", key("server2048").privateKeyPem(), 0600);
        ASSERT_EQ(store.open({}), QString());
    }
    void put(const QString &subfolder, const QString &name, const QByteArray &bytes)
    {
        ASSERT_EQ(Files::writeFileAtomically(pki + '/' + subfolder + '/' + name, bytes, 0644), QString());
    }
    QStringList files(const QString &subfolder) const { return QDir(pki + '/' + subfolder).entryList(QDir::Files); }
    Check check(const std::vector<Certificate> &chain, const QString &uri = {}, const SecurityPolicy *policy = nullptr)
    {
        QByteArray der;
        for (const Certificate &certificate : chain)
            der += certificate.der();
        return store.validate(der, uri, policy);
    }

    TempAppFolder folder;
    ManualClock clock{June2026};
    const QString pki = folder.file("pki");
    CertificateStore store{pki, clock};
};

} // namespace

TEST_F(CertificateValidation, AnUntrustedClientIsRejectedUntilAnAdministratorMovesItToTrusted)
{
    const Certificate client = issue(request("Some Client/1"), key("client"));
    EXPECT_EQ(check({client}), Check::Untrusted);
    const QString name = certificateFileName(client);
    EXPECT_TRUE(name.startsWith("Some Client_1 [") && name.endsWith("].der")) << name.toStdString();
    ASSERT_EQ(files("rejected/certs"), QStringList{name});
    EXPECT_TRUE(files("trusted/certs").isEmpty());

    ASSERT_TRUE(QFile::rename(pki + "/rejected/certs/" + name, pki + "/trusted/certs/" + name));
    EXPECT_EQ(check({client}, client.applicationUri()), Check::Good);
    EXPECT_TRUE(files("rejected/certs").isEmpty());

    // With auto-trust another one goes straight to trusted.
    store.setAutoTrust(true);
    const Certificate other = issue(request("other"), key("client"));
    EXPECT_EQ(check({other}), Check::Good);
    EXPECT_TRUE(files("trusted/certs").contains(certificateFileName(other)));
    EXPECT_TRUE(files("rejected/certs").isEmpty());
}

TEST_F(CertificateValidation, ATrustedSelfSignedClientIsCheckedForTimeUriAndUse)
{
    using Change = std::function<void(CertificateRequest &)>;
    const Change none = [](CertificateRequest &) {};
    const QDateTime later(QDate(2028, 1, 1), QTime(0, 0), Qt::UTC);
    const std::tuple<const char *, Change, QDateTime, QString, Check> cases[] = {
        {"as made", none, June2026, "urn:tests:client", Check::Good},
        {"no URI asked", none, June2026, {}, Check::Good},
        {"another URI", none, June2026, "urn:tests:other", Check::UriInvalid},
        {"expired", none, later, {}, Check::TimeInvalid},
        {"not yet valid",
         [](CertificateRequest &r) { r.notBefore = June2026.addDays(1); },
         June2026,
         {},
         Check::TimeInvalid},
        {"cannot encipher",
         [](CertificateRequest &r) { r.keyUsage = DigitalSignature; },
         June2026,
         {},
         Check::UseNotAllowed},
        {"cannot sign",
         [](CertificateRequest &r) { r.keyUsage = KeyEncipherment; },
         June2026,
         {},
         Check::UseNotAllowed},
        {"server use only", [](CertificateRequest &r) { r.clientAuth = false; }, June2026, {}, Check::UseNotAllowed},
    };
    for (const auto &[what, change, at, uri, expected] : cases) {
        CertificateRequest r = request("client");
        change(r);
        const Certificate client = issue(r, key("client"));
        put("trusted/certs", certificateFileName(client), client.der());
        clock.advance(June2026.msecsTo(at));
        EXPECT_EQ(check({client}, uri), expected) << what;
        clock.advance(at.msecsTo(June2026));
    }
}

TEST_F(CertificateValidation, ChainsAreBuiltFromTheListsAndCheckedForRevocation)
{
    // A root CA, an intermediate CA below it, and a client below each.
    const RsaKey &rootKey = key("server2048"), &middleKey = key("server4096"), &clientKey = key("client");
    const Certificate root = issue(request("Root CA", true), rootKey);
    const Certificate middle = issue(request("Middle CA", true), middleKey, &root, rootKey);
    const Certificate client = issue(request("client"), clientKey, &root, rootKey);
    const Certificate deep = issue(request("deep client"), clientKey, &middle, middleKey);
    const Certificate forged = issue(request("forged"), clientKey, &root, clientKey);
    CertificateRequest lapsed = request("Middle CA", true);
    lapsed.notAfter = June2026.addDays(-1);
    const Certificate lapsedMiddle = issue(lapsed, middleKey, &root, rootKey);
    const Certificate notCaMiddle = issue(request("Middle CA"), middleKey, &root, rootKey);
    const QByteArray rootCrl = revocationList(root, rootKey), middleCrl = revocationList(middle, middleKey);
    const std::pair<const char *, QByteArray> trustedRoot{"trusted/certs", root.der()},
        rootList{"trusted/crl", rootCrl}, middleList{"issuers/crl", middleCrl};

    using Files = std::vector<std::pair<const char *, QByteArray>>;
    const std::tuple<const char *, Files, std::vector<Certificate>, Check> cases[] = {
        {"trusted CA with its list", {trustedRoot, rootList}, {client}, Check::Good},
        {"revoked", {trustedRoot, {"trusted/crl", revocationList(root, rootKey, {client})}}, {client}, Check::Revoked},
        {"CA without a list", {trustedRoot}, {client}, Check::RevocationUnknown},
        {"list signed by another key",
         {trustedRoot, {"trusted/crl", revocationList(root, middleKey)}},
         {client},
         Check::RevocationUnknown},
        {"issuer unknown", {}, {client}, Check::ChainIncomplete},
        {"CA only among the issuers",
         {{"issuers/certs", root.der()}, {"issuers/crl", rootCrl}},
         {client},
         Check::Untrusted},
        {"client trusted, CA among the issuers",
         {{"issuers/certs", root.der()}, {"issuers/crl", rootCrl}, {"trusted/certs", client.der()}},
         {client},
         Check::Good},
        {"signature not the CA's", {trustedRoot, rootList}, {forged}, Check::Invalid},
        {"intermediate sent along", {trustedRoot, rootList, middleList}, {deep, middle}, Check::Good},
        {"intermediate among the issuers",
         {trustedRoot, rootList, middleList, {"issuers/certs", middle.der()}},
         {deep},
         Check::Good},
        {"intermediate revoked",
         {trustedRoot, {"trusted/crl", revocationList(root, rootKey, {middle})}, middleList},
         {deep, middle},
         Check::IssuerRevoked},
        {"root without a list", {trustedRoot, middleList}, {deep, middle}, Check::IssuerRevocationUnknown},
        {"intermediate expired", {trustedRoot, rootList, middleList}, {deep, lapsedMiddle}, Check::IssuerTimeInvalid},
        {"intermediate is no CA", {trustedRoot, rootList, middleList}, {deep, notCaMiddle}, Check::IssuerUseNotAllowed},
    };
    for (const auto &[what, placed, sent, expected] : cases) {
        for (const QString sub : {"trusted/certs", "trusted/crl", "issuers/certs", "issuers/crl"})
            for (const QString &name : files(sub))
                QFile::remove(pki + '/' + sub + '/' + name);
        int n = 0;
        for (const auto &[sub, bytes] : placed)
            put(sub, QString::number(++n), bytes);
        EXPECT_EQ(check(sent), expected) << what;
    }
}

TEST_F(CertificateValidation, WhatIsNoUsableCertificateIsInvalidOrFailsThePolicy)
{
    EXPECT_EQ(store.validate(QByteArray("not a certificate"), {}), Check::Invalid);
    EXPECT_EQ(store.validate(QByteArray(), {}), Check::Invalid);
    const Certificate weak = issue(request("weak"), RsaKey::generate(1024));
    put("trusted/certs", "weak.der", weak.der());
    EXPECT_EQ(check({weak}, {}, findSecurityPolicy(u"Basic256Sha256")), Check::PolicyCheckFailed);
    EXPECT_EQ(check({weak}), Check::Good);
    EXPECT_TRUE(files("rejected/certs").isEmpty());
}

TEST_F(CertificateValidation, RejectedCertificatesNeverPileUpBeyondTheLimit)
{
    for (int i = 0; i <= CertificateStore::MaxRejected; ++i)
        check({issue(request(QStringLiteral("flood %1").arg(i)), key("client"))});
    const QStringList rejected = files("rejected/certs");
    EXPECT_EQ(rejected.size(), CertificateStore::MaxRejected);
    EXPECT_EQ(rejected.filter(QStringLiteral("flood %1 ").arg(CertificateStore::MaxRejected)).size(), 1);
}

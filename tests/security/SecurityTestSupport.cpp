#include "SecurityTestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>
#include <map>

#include <openssl/x509.h>

using namespace Security;

namespace SecurityTest {

const QJsonObject &vectors()
{
    static const QJsonObject root = [] {
        QFile file(qEnvironmentVariable("KV7_SOURCE_DIR") + QStringLiteral("/tests/security/vectors/vectors.json"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << "KV7_SOURCE_DIR names the source tree";
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return root;
}

QByteArray bytes(const QJsonValue &base64) { return QByteArray::fromBase64(base64.toString().toLatin1()); }

const RsaKey &key(const QString &name)
{
    static const std::map<QString, RsaKey> keys{
        {"client", RsaKey::fromPem(vectors()["clientKey"].toString().toLatin1())},
        {"server2048", RsaKey::fromPem(vectors()["serverKeys"]["2048"].toString().toLatin1())},
        {"server4096", RsaKey::fromPem(vectors()["serverKeys"]["4096"].toString().toLatin1())},
    };
    return keys.at(name);
}

CertificateRequest request(const QString &name, bool ca)
{
    CertificateRequest r;
    r.commonName = name;
    r.applicationUri = "urn:tests:" + name;
    r.hostNames = {"host.example"};
    r.notBefore = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    r.notAfter = QDateTime(QDate(2027, 12, 31), QTime(0, 0), Qt::UTC);
    r.ca = ca;
    if (ca) {
        r.keyUsage = KeyCertSign | CrlSign;
        r.serverAuth = r.clientAuth = false;
    }
    return r;
}

Certificate issue(const CertificateRequest &request, const RsaKey &subjectKey, const Certificate *issuer,
                  const RsaKey &issuerKey)
{
    const std::optional<Certificate> certificate = Certificate::create(request, subjectKey, issuer, issuerKey);
    EXPECT_TRUE(certificate.has_value());
    return certificate.value_or(Certificate());
}

QByteArray revocationList(const Certificate &issuer, const RsaKey &issuerKey, const std::vector<Certificate> &revoked)
{
    X509_CRL *crl = X509_CRL_new();
    ASN1_TIME *now = ASN1_TIME_set(nullptr, QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
    X509_CRL_set_version(crl, X509_CRL_VERSION_2);
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer.get()));
    X509_CRL_set1_lastUpdate(crl, now);
    for (const Certificate &certificate : revoked) {
        X509_REVOKED *entry = X509_REVOKED_new();
        X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(certificate.get()));
        X509_REVOKED_set_revocationDate(entry, now);
        X509_CRL_add0_revoked(crl, entry);
    }
    X509_CRL_sign(crl, issuerKey.get(), EVP_sha256());
    unsigned char *der = nullptr;
    const int size = i2d_X509_CRL(crl, &der);
    const QByteArray result(reinterpret_cast<const char *>(der), size);
    OPENSSL_free(der);
    ASN1_TIME_free(now);
    X509_CRL_free(crl);
    return result;
}

} // namespace SecurityTest

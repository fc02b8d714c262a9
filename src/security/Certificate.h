#pragma once
#include "security/Crypto.h"

#include <QDateTime>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

struct x509_st;

namespace Security {

// Key usage bits, valued as OpenSSL reports them.
enum KeyUsage : unsigned {
    DigitalSignature = 0x80,
    NonRepudiation = 0x40,
    KeyEncipherment = 0x20,
    DataEncipherment = 0x10,
    KeyCertSign = 0x04,
    CrlSign = 0x02,
};

// What a new certificate says. The defaults are those of an OPC UA application
// instance certificate (OPC 10000-6 6.2.2): signature, non-repudiation and both
// encipherments, certificate signing as it signs itself, server and client use.
struct CertificateRequest {
    QString commonName;
    QString organization;
    QString applicationUri;
    QStringList hostNames; // DNS names or IP addresses
    QDateTime notBefore;
    QDateTime notAfter;
    bool ca = false;
    unsigned keyUsage = DigitalSignature | NonRepudiation | KeyEncipherment | DataEncipherment | KeyCertSign;
    bool serverAuth = true;
    bool clientAuth = true;
};

// An X.509 certificate. Copies share one OpenSSL object, which never changes.
class Certificate {
public:
    Certificate() = default;
    // Exactly one DER certificate, nothing after it.
    static std::optional<Certificate> fromDer(QByteArrayView der);
    // One or more DER certificates one after another, as a peer sends its chain;
    // empty when any part fails.
    static std::vector<Certificate> chainFromDer(QByteArrayView der);
    // A certificate file: DER or PEM.
    static std::optional<Certificate> fromFileBytes(QByteArrayView bytes);
    // A certificate for subjectKey, signed by issuer with issuerKey, or by itself
    // when issuer is null. SHA-256, a random serial number.
    static std::optional<Certificate> create(const CertificateRequest &request, const RsaKey &subjectKey,
                                             const Certificate *issuer, const RsaKey &issuerKey);

    bool isNull() const { return !cert_; }
    QByteArray der() const;
    QByteArray thumbprint() const; // SHA-1 of the DER bytes
    QString commonName() const;
    QString applicationUri() const; // the first URI of the subject alternative name
    QStringList hostNames() const;  // its DNS names and IP addresses
    QDateTime notBefore() const;
    QDateTime notAfter() const;
    RsaKey publicKey() const; // null when the key is not RSA
    // The key usage bits; all of them when the certificate does not restrict them.
    unsigned keyUsage() const;
    // Extended key usage; true when the certificate does not restrict it.
    bool allowsServerAuth() const;
    bool allowsClientAuth() const;
    bool isCa() const;
    // Whether this certificate names issuer as its issuer and issuer's key
    // verifies its signature.
    bool namesIssuer(const Certificate &issuer) const;
    bool isSignedBy(const Certificate &issuer) const;
    bool isSelfSigned() const { return namesIssuer(*this) && isSignedBy(*this); }
    x509_st *get() const { return cert_.get(); }

private:
    static std::optional<Certificate> adopt(x509_st *x509);
    static std::optional<Certificate> parseFirst(QByteArrayView der, qsizetype &used);

    std::shared_ptr<x509_st> cert_;
};

} // namespace Security

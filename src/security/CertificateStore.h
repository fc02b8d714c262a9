#pragma once
#include "common/Clock.h"
#include "security/Certificate.h"
#include "security/SecurityPolicy.h"

// The PKI folder and the check of a peer's certificate (OPC 10000-4 6.1.3).
namespace Security {

// The outcome of a check, one per OPC UA status code:
//   Good                     Good
//   Invalid                  BadCertificateInvalid (does not parse, a signature fails, no RSA key)
//   ChainIncomplete          BadCertificateChainIncomplete
//   PolicyCheckFailed        BadCertificatePolicyCheckFailed (key length outside the policy)
//   Untrusted                BadCertificateUntrusted
//   TimeInvalid              BadCertificateTimeInvalid
//   IssuerTimeInvalid        BadCertificateIssuerTimeInvalid
//   UriInvalid               BadCertificateUriInvalid
//   UseNotAllowed            BadCertificateUseNotAllowed
//   IssuerUseNotAllowed      BadCertificateIssuerUseNotAllowed
//   RevocationUnknown        BadCertificateRevocationUnknown
//   IssuerRevocationUnknown  BadCertificateIssuerRevocationUnknown
//   Revoked                  BadCertificateRevoked
//   IssuerRevoked            BadCertificateIssuerRevoked
enum class CertificateCheck {
    Good,
    Invalid,
    ChainIncomplete,
    PolicyCheckFailed,
    Untrusted,
    TimeInvalid,
    IssuerTimeInvalid,
    UriInvalid,
    UseNotAllowed,
    IssuerUseNotAllowed,
    RevocationUnknown,
    IssuerRevocationUnknown,
    Revoked,
    IssuerRevoked,
};

// Who this server is, for the certificate it makes on its first start.
struct ApplicationIdentity {
    QString applicationUri;
    QString applicationName;
    QString organization;
    QStringList hostNames;
    int keyBits = 2048; // at least 2048
    int validityYears = 5;
};

// The PKI folder of the application:
//   own/certs/application.der    our certificate (0644)
//   own/private/application.pem  our private key, PKCS#8 PEM (0600, in a 0700 folder)
//   trusted/certs, trusted/crl   peers and CAs we trust, and the CAs' revocation lists
//   issuers/certs, issuers/crl   CAs that complete a chain without being trusted themselves
//   rejected/certs               refused certificates: moving one to trusted/certs trusts it
// Certificates are DER or PEM files, revocation lists likewise.
class CertificateStore {
public:
    explicit CertificateStore(QString folder, const Clock &clock = Clock::system());

    // Makes the folder tree and loads our certificate and key, creating both when
    // neither exists. Returns an empty string, or one message naming the path that
    // failed (the caller then serves only what needs no certificate).
    QString open(const ApplicationIdentity &identity);
    const Certificate &ownCertificate() const { return own_; }
    const RsaKey &ownKey() const { return ownKey_; }
    QString folder() const { return folder_; }

    // With auto-trust, an untrusted certificate is added to trusted/certs and
    // accepted instead of being rejected.
    void setAutoTrust(bool on) { autoTrust_ = on; }

    // Checks a client's certificate chain (DER, its own certificate first) against
    // the clientUri of its ApplicationDescription (empty: no check) and the key
    // lengths of the channel's policy (null: no check). The trust lists are read at
    // every check, so a certificate an administrator moved counts at once. An
    // untrusted certificate is saved in rejected/certs.
    CertificateCheck validate(QByteArrayView derChain, const QString &applicationUri,
                              const SecurityPolicy *policy = nullptr);

    // At most this many files stay in rejected/certs: a peer could otherwise fill
    // the disk with throw-away certificates.
    static constexpr int MaxRejected = 100;

private:
    QString createOwn(const ApplicationIdentity &identity, const QString &certPath, const QString &keyPath);
    void keep(const Certificate &certificate, const QString &subfolder);

    QString folder_;
    const Clock &clock_;
    bool autoTrust_ = false;
    Certificate own_;
    RsaKey ownKey_;
};

// The file name a certificate gets in rejected/certs or trusted/certs:
// "<common name> [<thumbprint>].der".
QString certificateFileName(const Certificate &certificate);

} // namespace Security

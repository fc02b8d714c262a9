#include "security/CertificateStore.h"
#include "common/SecureFiles.h"
#include "log/Log.h"
#include "security/OpenSslHandles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include <openssl/pem.h>

#include <sys/stat.h>

namespace Security {

namespace {

constexpr int MaxChainLength = 10;
const QString OwnCertificate = QStringLiteral("own/certs/application.der");
const QString OwnKey = QStringLiteral("own/private/application.pem");

using CrlShared = std::shared_ptr<X509_CRL>;

// The trust lists as they are on disk at the moment of a check.
struct TrustLists {
    std::vector<Certificate> trusted;
    std::vector<Certificate> issuers;
    std::vector<CrlShared> crls;
};

QStringList filesIn(const QString &folder)
{
    QStringList paths;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        paths << dir.filePath(name);
    return paths;
}

// Files that do not parse are passed over: a stray file must not stop every check.
std::vector<Certificate> readCertificates(const QString &folder)
{
    std::vector<Certificate> certificates;
    for (const QString &path : filesIn(folder)) {
        QByteArray bytes;
        if (Files::readFile(path, bytes).isEmpty())
            if (std::optional<Certificate> certificate = Certificate::fromFileBytes(bytes))
                certificates.push_back(*certificate);
    }
    return certificates;
}

CrlShared parseCrl(const QByteArray &bytes)
{
    const unsigned char *at = ucharData(bytes);
    X509_CRL *crl = d2i_X509_CRL(nullptr, &at, long(bytes.size()));
    if (!crl) {
        BioPtr bio = readBio(bytes);
        crl = bio ? PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    }
    dropErrors();
    return crl ? CrlShared(crl, X509_CRL_free) : nullptr;
}

void readCrls(const QString &folder, std::vector<CrlShared> &crls)
{
    for (const QString &path : filesIn(folder)) {
        QByteArray bytes;
        if (Files::readFile(path, bytes).isEmpty())
            if (CrlShared crl = parseCrl(bytes))
                crls.push_back(crl);
    }
}

TrustLists readTrustLists(const QString &folder)
{
    TrustLists lists{readCertificates(folder + QStringLiteral("/trusted/certs")),
                     readCertificates(folder + QStringLiteral("/issuers/certs")),
                     {}};
    readCrls(folder + QStringLiteral("/trusted/crl"), lists.crls);
    readCrls(folder + QStringLiteral("/issuers/crl"), lists.crls);
    return lists;
}

bool contains(const std::vector<Certificate> &list, const Certificate &certificate)
{
    const QByteArray thumbprint = certificate.thumbprint();
    return std::any_of(list.begin(), list.end(),
                       [&](const Certificate &entry) { return entry.thumbprint() == thumbprint; });
}

// Builds the chain from the leaf up to a self-signed root, or the result that
// stops it.
CertificateCheck buildChain(std::vector<Certificate> &chain, const std::vector<Certificate> &candidates)
{
    for (;;) {
        const Certificate &current = chain.back();
        if (current.namesIssuer(current))
            return current.isSignedBy(current) ? CertificateCheck::Good : CertificateCheck::Invalid;
        if (chain.size() >= MaxChainLength)
            return CertificateCheck::ChainIncomplete;
        bool named = false;
        const Certificate *issuer = nullptr;
        for (const Certificate &candidate : candidates) {
            if (!current.namesIssuer(candidate))
                continue;
            named = true;
            if (current.isSignedBy(candidate)) {
                issuer = &candidate;
                break;
            }
        }
        if (!issuer)
            return named ? CertificateCheck::Invalid : CertificateCheck::ChainIncomplete;
        chain.push_back(*issuer);
    }
}

enum class Revocation { Unknown, Revoked, Good };

// What the issuer's revocation lists say of a certificate. A CA without a list
// leaves it unknown, as OPC 10000-4 asks.
Revocation revocation(const Certificate &certificate, const Certificate &issuer, const std::vector<CrlShared> &crls)
{
    bool found = false;
    EVP_PKEY *issuerKey = X509_get0_pubkey(issuer.get());
    for (const CrlShared &crl : crls) {
        if (X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_subject_name(issuer.get())) != 0 || !issuerKey ||
            X509_CRL_verify(crl.get(), issuerKey) != 1)
            continue;
        found = true;
        X509_REVOKED *entry = nullptr;
        if (X509_CRL_get0_by_cert(crl.get(), &entry, certificate.get()) == 1) {
            dropErrors();
            return Revocation::Revoked;
        }
    }
    dropErrors();
    return found ? Revocation::Good : Revocation::Unknown;
}

bool validAt(const Certificate &certificate, const QDateTime &now)
{
    return now >= certificate.notBefore() && now <= certificate.notAfter();
}

// The checks after the trust list, in the order OPC 10000-4 gives them.
CertificateCheck checkChain(const std::vector<Certificate> &chain, const QDateTime &now, const QString &applicationUri,
                            const std::vector<CrlShared> &crls)
{
    const Certificate &leaf = chain.front();
    if (!validAt(leaf, now))
        return CertificateCheck::TimeInvalid;
    for (size_t i = 1; i < chain.size(); ++i)
        if (!validAt(chain[i], now))
            return CertificateCheck::IssuerTimeInvalid;
    if (!applicationUri.isEmpty() && leaf.applicationUri() != applicationUri)
        return CertificateCheck::UriInvalid;
    const unsigned usage = leaf.keyUsage();
    if (!(usage & DigitalSignature) || !(usage & (KeyEncipherment | DataEncipherment)) || !leaf.allowsClientAuth())
        return CertificateCheck::UseNotAllowed;
    for (size_t i = 1; i < chain.size(); ++i)
        if (!chain[i].isCa() || !(chain[i].keyUsage() & KeyCertSign))
            return CertificateCheck::IssuerUseNotAllowed;
    // Each link to a distinct issuer; a self-signed root has no one to revoke it.
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        switch (revocation(chain[i], chain[i + 1], crls)) {
        case Revocation::Unknown:
            return i == 0 ? CertificateCheck::RevocationUnknown : CertificateCheck::IssuerRevocationUnknown;
        case Revocation::Revoked: return i == 0 ? CertificateCheck::Revoked : CertificateCheck::IssuerRevoked;
        case Revocation::Good: break;
        }
    }
    return CertificateCheck::Good;
}

// Keeps the newest files of a folder, so that one more fits under the limit.
void trimFolder(const QString &folder, int limit)
{
    QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Time); // newest first
    while (files.size() >= limit) {
        QFile::remove(files.takeLast().filePath());
    }
}

} // namespace

QString certificateFileName(const Certificate &certificate)
{
    QString name = certificate.commonName();
    // Only characters that are safe in any file name; the thumbprint keeps it unique.
    for (QChar &c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char(' ') && c != QLatin1Char('-') && c != QLatin1Char('_') &&
            c != QLatin1Char('.'))
            c = QLatin1Char('_');
    name = name.left(64).trimmed();
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("certificate"));
    return QStringLiteral("%1 [%2].der").arg(name, QString::fromLatin1(certificate.thumbprint().toHex().toUpper()));
}

CertificateStore::CertificateStore(QString folder, const Clock &clock) : folder_(std::move(folder)), clock_(clock) {}

QString CertificateStore::open(const ApplicationIdentity &identity)
{
    static const std::pair<const char *, mode_t> folders[] = {
        {"own/certs", 0755},     {"own/private", 0700}, {"trusted/certs", 0755},  {"trusted/crl", 0755},
        {"issuers/certs", 0755}, {"issuers/crl", 0755}, {"rejected/certs", 0755},
    };
    for (const auto &[name, mode] : folders)
        if (const QString error = Files::makeFolder(folder_ + QLatin1Char('/') + QLatin1String(name), mode);
            !error.isEmpty())
            return error;
    // A private folder made by hand may be open to others; ours is not.
    const QString privateFolder = folder_ + QStringLiteral("/own/private");
    if (::chmod(QFile::encodeName(privateFolder).constData(), 0700) != 0)
        return QStringLiteral("Cannot protect %1").arg(privateFolder);

    const QString certPath = folder_ + QLatin1Char('/') + OwnCertificate;
    const QString keyPath = folder_ + QLatin1Char('/') + OwnKey;
    if (!QFileInfo::exists(certPath) && !QFileInfo::exists(keyPath))
        return createOwn(identity, certPath, keyPath);

    QByteArray certBytes, keyBytes;
    if (const QString error = Files::readFile(certPath, certBytes); !error.isEmpty())
        return error;
    if (const QString error = Files::readFile(keyPath, keyBytes); !error.isEmpty())
        return error;
    const std::optional<Certificate> certificate = Certificate::fromFileBytes(certBytes);
    if (!certificate || certificate->publicKey().isNull())
        return QStringLiteral("%1 is not an RSA certificate").arg(certPath);
    const RsaKey key = RsaKey::fromPem(keyBytes);
    if (!key.hasPrivateKey())
        return QStringLiteral("%1 is not an RSA private key").arg(keyPath);
    if (!key.sameKeyAs(certificate->publicKey()))
        return QStringLiteral("The key %1 does not belong to the certificate %2").arg(keyPath, certPath);
    own_ = *certificate;
    ownKey_ = key;
    return {};
}

QString CertificateStore::createOwn(const ApplicationIdentity &identity, const QString &certPath,
                                    const QString &keyPath)
{
    const RsaKey key = RsaKey::generate(qMax(2048, identity.keyBits));
    const QDateTime now = clock_.now();
    CertificateRequest request;
    request.commonName = identity.applicationName;
    request.organization = identity.organization;
    request.applicationUri = identity.applicationUri;
    request.hostNames = identity.hostNames;
    // A day back, so that a client whose clock is a little behind still accepts it.
    request.notBefore = now.addDays(-1);
    request.notAfter = now.addYears(identity.validityYears);
    const std::optional<Certificate> certificate = Certificate::create(request, key, nullptr, RsaKey());
    if (!certificate)
        return QStringLiteral("Cannot create the certificate %1").arg(certPath);
    if (const QString error = Files::writeFileAtomically(keyPath, key.privateKeyPem(), 0600); !error.isEmpty())
        return error;
    if (const QString error = Files::writeFileAtomically(certPath, certificate->der(), 0644); !error.isEmpty()) {
        QFile::remove(keyPath); // no key without its certificate: the next start makes both again
        return error;
    }
    own_ = *certificate;
    ownKey_ = key;
    return {};
}

CertificateCheck CertificateStore::validate(QByteArrayView derChain, const QString &applicationUri,
                                            const SecurityPolicy *policy)
{
    const std::vector<Certificate> sent = Certificate::chainFromDer(derChain);
    if (sent.empty() || sent.front().publicKey().isNull())
        return CertificateCheck::Invalid;
    const TrustLists lists = readTrustLists(folder_);
    std::vector<Certificate> candidates(sent.begin() + 1, sent.end());
    candidates.insert(candidates.end(), lists.trusted.begin(), lists.trusted.end());
    candidates.insert(candidates.end(), lists.issuers.begin(), lists.issuers.end());

    std::vector<Certificate> chain{sent.front()};
    if (const CertificateCheck built = buildChain(chain, candidates); built != CertificateCheck::Good)
        return built;
    if (policy && !keyLengthAllowed(*policy, chain.front().publicKey()))
        return CertificateCheck::PolicyCheckFailed;
    const bool trusted =
        std::any_of(chain.begin(), chain.end(), [&](const Certificate &c) { return contains(lists.trusted, c); });
    if (!trusted) {
        keep(chain.front(), autoTrust_ ? QStringLiteral("trusted/certs") : QStringLiteral("rejected/certs"));
        if (!autoTrust_)
            return CertificateCheck::Untrusted;
    }
    return checkChain(chain, clock_.now(), applicationUri, lists.crls);
}

void CertificateStore::keep(const Certificate &certificate, const QString &subfolder)
{
    const QString folder = folder_ + QLatin1Char('/') + subfolder;
    const QString path = folder + QLatin1Char('/') + certificateFileName(certificate);
    if (QFileInfo::exists(path))
        return;
    if (subfolder.startsWith(QLatin1String("rejected")))
        trimFolder(folder, MaxRejected);
    if (const QString error = Files::writeFileAtomically(path, certificate.der(), 0644); !error.isEmpty())
        Log::LogDebugMessage(error);
}

} // namespace Security

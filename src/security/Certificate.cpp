#include "security/Certificate.h"
#include "security/OpenSslHandles.h"

#include <openssl/bn.h>
#include <openssl/pem.h>

#include <arpa/inet.h>
#include <ctime>

namespace Security {

namespace {

constexpr int MaxChainLength = 10;

int noPassphrase(char *, int, int, void *) { return -1; }

QString asn1Text(const ASN1_STRING *text)
{
    unsigned char *utf8 = nullptr;
    const int size = ASN1_STRING_to_UTF8(&utf8, text);
    if (size < 0) {
        dropErrors();
        return {};
    }
    const QString result = QString::fromUtf8(reinterpret_cast<const char *>(utf8), size);
    OPENSSL_free(utf8);
    return result;
}

QDateTime asn1Time(const ASN1_TIME *time)
{
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1) {
        dropErrors();
        return {};
    }
    return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), QTime(tm.tm_hour, tm.tm_min, tm.tm_sec),
                     Qt::UTC);
}

QString ipText(const ASN1_OCTET_STRING *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    const int length = ASN1_STRING_length(address);
    const int family = length == 4 ? AF_INET : length == 16 ? AF_INET6 : 0;
    if (!family || !inet_ntop(family, ASN1_STRING_get0_data(address), text, sizeof text))
        return {};
    return QString::fromLatin1(text);
}

// The URIs, DNS names and IP addresses of the subject alternative name, in order.
std::vector<std::pair<int, QString>> alternativeNames(X509 *x509)
{
    std::vector<std::pair<int, QString>> result;
    GeneralNamesPtr names(
        x509 ? static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(x509, NID_subject_alt_name, nullptr, nullptr)) : nullptr);
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_URI || name->type == GEN_DNS)
            result.emplace_back(name->type, asn1Text(name->d.ia5));
        else if (name->type == GEN_IPADD)
            result.emplace_back(name->type, ipText(name->d.iPAddress));
    }
    dropErrors();
    return result;
}

bool addExtension(X509 *x509, X509V3_CTX *ctx, int nid, const QByteArray &value)
{
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.constData());
    const bool added = extension && X509_add_ext(x509, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool addName(X509_NAME *name, const char *field, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    return value.isEmpty() ||
           X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, ucharData(utf8), int(utf8.size()), -1, 0) == 1;
}

bool addAlternativeNames(X509 *x509, const CertificateRequest &request)
{
    GeneralNamesPtr names(GENERAL_NAMES_new());
    const auto add = [&names](int type, ASN1_STRING *value) {
        GENERAL_NAME *name = GENERAL_NAME_new();
        if (!name || !value) {
            GENERAL_NAME_free(name);
            ASN1_STRING_free(value);
            return false;
        }
        GENERAL_NAME_set0_value(name, type, value);
        if (sk_GENERAL_NAME_push(names.get(), name) > 0)
            return true;
        GENERAL_NAME_free(name);
        return false;
    };
    const auto ia5 = [](const QString &text) {
        const QByteArray bytes = text.toUtf8();
        ASN1_IA5STRING *value = ASN1_IA5STRING_new();
        if (value && ASN1_STRING_set(value, bytes.constData(), int(bytes.size())) != 1) {
            ASN1_IA5STRING_free(value);
            return static_cast<ASN1_IA5STRING *>(nullptr);
        }
        return value;
    };
    if (!names || (!request.applicationUri.isEmpty() && !add(GEN_URI, ia5(request.applicationUri))))
        return false;
    for (const QString &host : request.hostNames) {
        ASN1_OCTET_STRING *ip = a2i_IPADDRESS(host.toLatin1().constData());
        dropErrors(); // a DNS name is no address, and says so in the error queue
        if (!(ip ? add(GEN_IPADD, ip) : add(GEN_DNS, ia5(host))))
            return false;
    }
    return sk_GENERAL_NAME_num(names.get()) == 0 ||
           X509_add1_ext_i2d(x509, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1;
}

QByteArray keyUsageText(unsigned usage)
{
    static const std::pair<unsigned, const char *> names[] = {
        {DigitalSignature, "digitalSignature"}, {NonRepudiation, "nonRepudiation"},
        {KeyEncipherment, "keyEncipherment"},   {DataEncipherment, "dataEncipherment"},
        {KeyCertSign, "keyCertSign"},           {CrlSign, "cRLSign"},
    };
    QByteArray text = "critical";
    for (const auto &[bit, name] : names)
        if (usage & bit)
            text += QByteArray(",") + name;
    return text;
}

bool fillCertificate(X509 *x509, const CertificateRequest &request, const RsaKey &subjectKey, X509 *issuer)
{
    const QByteArray serial = Crypto::randomBytes(16);
    OpenSslPtr<BIGNUM, BN_free> number(serial.isEmpty() ? nullptr : BN_bin2bn(ucharData(serial), 16, nullptr));
    // Positive and of full length, as RFC 5280 asks of a serial number.
    if (!number || BN_clear_bit(number.get(), 127) != 1 || BN_set_bit(number.get(), 126) != 1 ||
        !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(x509)))
        return false;
    X509_NAME *subject = X509_get_subject_name(x509);
    if (X509_set_version(x509, X509_VERSION_3) != 1 ||
        !ASN1_TIME_set(X509_getm_notBefore(x509), time_t(request.notBefore.toSecsSinceEpoch())) ||
        !ASN1_TIME_set(X509_getm_notAfter(x509), time_t(request.notAfter.toSecsSinceEpoch())) ||
        !addName(subject, "CN", request.commonName) || !addName(subject, "O", request.organization) ||
        !addName(subject, "DC", request.hostNames.value(0)) ||
        X509_set_issuer_name(x509, issuer ? X509_get_subject_name(issuer) : subject) != 1 ||
        X509_set_pubkey(x509, subjectKey.get()) != 1)
        return false;
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer : x509, x509, nullptr, nullptr, 0);
    const QByteArray extendedUsage =
        QByteArray(request.serverAuth ? ",serverAuth" : "") + (request.clientAuth ? ",clientAuth" : "");
    return addExtension(x509, &ctx, NID_basic_constraints, request.ca ? "critical,CA:TRUE" : "critical,CA:FALSE") &&
           addExtension(x509, &ctx, NID_key_usage, keyUsageText(request.keyUsage)) &&
           (extendedUsage.isEmpty() || addExtension(x509, &ctx, NID_ext_key_usage, extendedUsage.mid(1))) &&
           addExtension(x509, &ctx, NID_subject_key_identifier, "hash") &&
           addExtension(x509, &ctx, NID_authority_key_identifier, "keyid:always,issuer") &&
           addAlternativeNames(x509, request);
}

} // namespace

std::optional<Certificate> Certificate::adopt(x509_st *x509)
{
    if (!x509)
        return failed();
    Certificate result;
    result.cert_.reset(x509, X509_free);
    // A certificate whose extensions OpenSSL cannot read is no certificate.
    if (X509_get_extension_flags(x509) & EXFLAG_INVALID)
        return failed();
    return result;
}

std::optional<Certificate> Certificate::parseFirst(QByteArrayView der, qsizetype &used)
{
    const unsigned char *start = ucharData(der);
    const unsigned char *at = start;
    std::optional<Certificate> result =
        adopt(der.size() > LONG_MAX ? nullptr : d2i_X509(nullptr, &at, long(der.size())));
    used = at - start;
    return result;
}

std::optional<Certificate> Certificate::fromDer(QByteArrayView der)
{
    qsizetype used = 0;
    std::optional<Certificate> result = parseFirst(der, used);
    return used == der.size() ? result : std::nullopt;
}

std::vector<Certificate> Certificate::chainFromDer(QByteArrayView der)
{
    std::vector<Certificate> chain;
    while (!der.isEmpty() && chain.size() < MaxChainLength) {
        qsizetype used = 0;
        const std::optional<Certificate> certificate = parseFirst(der, used);
        if (!certificate)
            return {};
        chain.push_back(*certificate);
        der = der.sliced(used);
    }
    return der.isEmpty() ? chain : std::vector<Certificate>();
}

std::optional<Certificate> Certificate::fromFileBytes(QByteArrayView bytes)
{
    if (std::optional<Certificate> der = fromDer(bytes))
        return der;
    BioPtr bio = readBio(bytes);
    return adopt(bio ? PEM_read_bio_X509(bio.get(), nullptr, noPassphrase, nullptr) : nullptr);
}

std::optional<Certificate> Certificate::create(const CertificateRequest &request, const RsaKey &subjectKey,
                                               const Certificate *issuer, const RsaKey &issuerKey)
{
    const RsaKey &signer = issuer ? issuerKey : subjectKey;
    if (subjectKey.isNull() || !signer.hasPrivateKey() || (issuer && issuer->isNull()))
        return std::nullopt;
    X509Ptr x509(X509_new());
    if (!x509 || !fillCertificate(x509.get(), request, subjectKey, issuer ? issuer->get() : nullptr) ||
        X509_sign(x509.get(), signer.get(), EVP_sha256()) <= 0)
        return failed();
    return adopt(x509.release());
}

QByteArray Certificate::der() const
{
    if (!cert_)
        return {};
    QByteArray bytes(i2d_X509(cert_.get(), nullptr), Qt::Uninitialized);
    unsigned char *out = ucharData(bytes);
    if (bytes.isEmpty() || i2d_X509(cert_.get(), &out) != bytes.size()) {
        dropErrors();
        return {};
    }
    return bytes;
}

QByteArray Certificate::thumbprint() const { return cert_ ? Crypto::sha1(der()) : QByteArray(); }

QString Certificate::commonName() const
{
    const X509_NAME *name = cert_ ? X509_get_subject_name(cert_.get()) : nullptr;
    const int index = name ? X509_NAME_get_index_by_NID(name, NID_commonName, -1) : -1;
    return index < 0 ? QString() : asn1Text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

QString Certificate::applicationUri() const
{
    for (const auto &[type, name] : alternativeNames(cert_.get()))
        if (type == GEN_URI)
            return name;
    return {};
}

QStringList Certificate::hostNames() const
{
    QStringList hosts;
    for (const auto &[type, name] : alternativeNames(cert_.get()))
        if (type != GEN_URI)
            hosts << name;
    return hosts;
}

QDateTime Certificate::notBefore() const { return cert_ ? asn1Time(X509_get0_notBefore(cert_.get())) : QDateTime(); }

QDateTime Certificate::notAfter() const { return cert_ ? asn1Time(X509_get0_notAfter(cert_.get())) : QDateTime(); }

RsaKey Certificate::publicKey() const { return cert_ ? RsaKey::adopt(X509_get_pubkey(cert_.get()), false) : RsaKey(); }

unsigned Certificate::keyUsage() const { return cert_ ? unsigned(X509_get_key_usage(cert_.get())) : 0; }

bool Certificate::allowsServerAuth() const
{
    return cert_ && (X509_get_extended_key_usage(cert_.get()) & XKU_SSL_SERVER);
}

bool Certificate::allowsClientAuth() const
{
    return cert_ && (X509_get_extended_key_usage(cert_.get()) & XKU_SSL_CLIENT);
}

bool Certificate::isCa() const { return cert_ && X509_check_ca(cert_.get()) == 1; }

bool Certificate::namesIssuer(const Certificate &issuer) const
{
    return cert_ && issuer.cert_ &&
           X509_NAME_cmp(X509_get_issuer_name(cert_.get()), X509_get_subject_name(issuer.cert_.get())) == 0;
}

bool Certificate::isSignedBy(const Certificate &issuer) const
{
    EVP_PKEY *key = issuer.cert_ ? X509_get0_pubkey(issuer.cert_.get()) : nullptr;
    if (cert_ && key && X509_verify(cert_.get(), key) == 1)
        return true;
    dropErrors();
    return false;
}

} // namespace Security

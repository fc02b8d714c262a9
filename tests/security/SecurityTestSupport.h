#pragma once
#include "security/Certificate.h"
#include "security/SecurityPolicy.h"

#include <QJsonObject>

// The known answers made by node-opcua (vectors/vectors.json) and the keys and
// certificates the security tests build from them.
namespace SecurityTest {

const QJsonObject &vectors();
QByteArray bytes(const QJsonValue &base64);
// The vectors' keys: "client", "server2048", "server4096".
const Security::RsaKey &key(const QString &name);

// A certificate for a test, valid through 2026 and 2027: an application's, or a
// CA's that signs certificates and revocation lists.
Security::CertificateRequest request(const QString &name, bool ca = false);
Security::Certificate issue(const Security::CertificateRequest &request, const Security::RsaKey &subjectKey,
                            const Security::Certificate *issuer = nullptr, const Security::RsaKey &issuerKey = {});
// A DER revocation list of issuer that names the revoked certificates.
QByteArray revocationList(const Security::Certificate &issuer, const Security::RsaKey &issuerKey,
                          const std::vector<Security::Certificate> &revoked = {});

} // namespace SecurityTest

#pragma once
#include "security/CertificateStore.h"
#include "ua/UaServerCore.h"

#include <QStringList>

// The server's security from its settings: the endpoints' policies and modes, our
// certificate (made on the first start), the trust lists and the users.
namespace Ua {

struct SecuritySettings {
    // The INI texts: a comma-separated list of policy names or URIs, and two switches.
    QString policies = QStringLiteral("None,Basic256Sha256,Aes128_Sha256_RsaOaep,Aes256_Sha256_RsaPss");
    QString anonymous = QStringLiteral("1");
    QString autoTrust = QStringLiteral("0");
    QString applicationFolder; // holds pki/ and the users file
    Security::ApplicationIdentity identity;
};

// Sets config.security (each usable policy in modes Sign and SignAndEncrypt, None
// in mode None) and config.accessControl. Returns one line for each problem: a
// bad setting (its default is used), a PKI file that cannot be read or written
// (the secure policies are dropped, and named).
QStringList configureSecurity(ServerConfig &config, const SecuritySettings &settings);

} // namespace Ua

#pragma once
#include "security/Certificate.h"
#include "security/SecurityPolicy.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <map>

// Known answers made once by node-opcua, a stack written independently of ours
// (vectors/vectors.json, made by vectors/make-vectors.js), and the keys in them.
namespace SecurityTest {

inline const QJsonObject &vectors()
{
    static const QJsonObject root = [] {
        QFile file(qEnvironmentVariable("KV7_SOURCE_DIR") + QStringLiteral("/tests/security/vectors/vectors.json"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << "KV7_SOURCE_DIR names the source tree";
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return root;
}

inline QByteArray bytes(const QJsonValue &base64) { return QByteArray::fromBase64(base64.toString().toLatin1()); }

// "client", "server2048" or "server4096".
inline const Security::RsaKey &key(const QString &name)
{
    static const std::map<QString, Security::RsaKey> keys{
        {"client", Security::RsaKey::fromPem(vectors()["clientKey"].toString().toLatin1())},
        {"server2048", Security::RsaKey::fromPem(vectors()["serverKeys"]["2048"].toString().toLatin1())},
        {"server4096", Security::RsaKey::fromPem(vectors()["serverKeys"]["4096"].toString().toLatin1())},
    };
    return keys.at(name);
}

} // namespace SecurityTest

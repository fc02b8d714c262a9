#pragma once
#include "security/Certificate.h"
#include "security/SecurityPolicy.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

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
inline Security::RsaKey key(const QString &name)
{
    const QJsonValue pem = name == "client" ? vectors()["clientKey"] : vectors()["serverKeys"][name.sliced(6)];
    return Security::RsaKey::fromPem(pem.toString().toLatin1());
}

} // namespace SecurityTest

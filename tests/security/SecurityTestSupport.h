#pragma once
#include "TestSupport.h"
#include "security/Certificate.h"
#include "security/SecurityPolicy.h"

#include <QJsonObject>
#include <gtest/gtest.h>

// Cases that are plain data (cases.json), and known answers made once by node-opcua, a stack
// written independently of ours (vectors/vectors.json, by vectors/make-vectors.js).
namespace SecurityTest {

inline QJsonObject readJson(const QString &name) { return sourceJson(QStringLiteral("tests/security/") + name); }
inline const QJsonObject &vectors()
{
    static const QJsonObject root = readJson("vectors/vectors.json");
    return root;
}
inline QByteArray bytes(const QJsonValue &base64) { return QByteArray::fromBase64(base64.toString().toLatin1()); }
// "client", "server2048" or "server4096".
inline Security::RsaKey key(const QString &name)
{
    return Security::RsaKey::fromPem(vectors()["keys"][name].toString().toLatin1());
}

} // namespace SecurityTest

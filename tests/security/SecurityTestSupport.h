#pragma once
#include "security/Certificate.h"
#include "security/SecurityPolicy.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace SecurityTest {

// A JSON file of tests/security (cases.json: cases that are plain data, what goes in
// and what must come out); one that does not parse fails the test.
inline QJsonObject readJson(const QString &name)
{
    QFile file(qEnvironmentVariable("KV7_SOURCE_DIR") + QStringLiteral("/tests/security/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << "KV7_SOURCE_DIR names the source tree";
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll(), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << name.toStdString() << ": " << error.errorString().toStdString();
    return root;
}

// Known answers made once by node-opcua, a stack written independently of ours
// (vectors/vectors.json, made by vectors/make-vectors.js), and the keys in them.
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

#pragma once
#include <QString>

// Identity of the program and of its one panel protocol.
namespace AppInfo {

inline const QString Title = QStringLiteral("OPC-KV7");
inline const QString ProgID = QStringLiteral("QUARLEN.KV7.1");

struct ProtocolIdentity {
    int number;
    QString name; // names the protocol INI file, its section and the frame log
    QString key;  // every engine's ClaveProtocol
};
inline const ProtocolIdentity Protocol{67, QStringLiteral("KV7"), QStringLiteral("K67")};

// The folder holding the INI, language and password files and the frame log:
// $OPC_KV7_HOME when set, else the executable's folder. No trailing separator.
QString applicationFolder();

// "major.minor.revision", the file description and the company from the build.
QString versionText();
QString fileDescription();
QString companyName();

} // namespace AppInfo

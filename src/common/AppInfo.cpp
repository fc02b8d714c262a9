#include "common/AppInfo.h"
#include "Version.h"
#include "common/BuildIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace AppInfo {

QString applicationFolder()
{
    const QString home = qEnvironmentVariable("OPC_KV7_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(QFileInfo(home).absoluteFilePath());
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(KV7_VERSION_MAJOR).arg(KV7_VERSION_MINOR).arg(KV7_VERSION_REVISION);
}

QString fileDescription() { return QStringLiteral(KV7_FILE_DESCRIPTION); }
QString companyName() { return QStringLiteral(KV7_COMPANY); }
QString buildNumber() { return QStringLiteral(KV7_BUILD_NUMBER); }
qint64 buildEpoch() { return KV7_BUILD_EPOCH; }

} // namespace AppInfo

#include "config/Ini.h"
#include "common/AppInfo.h"
#include "config/ProfileFile.h"
#include "lang/Language.h"
#include "log/Log.h"

namespace Ini {

namespace {

QString protocolFileName(const QString &section) { return section + QStringLiteral(".ini"); }

QString applicationFileName() { return AppInfo::Title + QStringLiteral(".ini"); }

QString inFolder(const QString &fileName) { return AppInfo::applicationFolder() + QLatin1Char('/') + fileName; }

// The caller is not told about a failed write; the operator is, and goes on.
void put(const QString &fileName, const QString &section, const QString &key, const QString &value)
{
    if (Profile::writeString(inFolder(fileName), section, key, value))
        return;
    Log::NotifyOperator(
        {Log::Notice::Kind::Standard, AppInfo::Title, GetLangText(QStringLiteral("ErrorAlEscribirEn")) + fileName});
}

QString applicationIniPath() { return inFolder(applicationFileName()); }
QString protocolIniPath(const QString &section) { return inFolder(protocolFileName(section)); }

} // namespace

QString IniGetString(const QString &section, const QString &key, const QString &defaultValue)
{
    return Profile::readString(applicationIniPath(), section, key, defaultValue);
}

std::int32_t IniGetInt(const QString &section, const QString &key, std::int32_t defaultValue)
{
    return Profile::readInt(applicationIniPath(), section, key, defaultValue);
}

void IniPutString(const QString &section, const QString &key, const QString &value)
{
    put(applicationFileName(), section, key, value);
}

QString ProtocolIniGetString(const QString &section, const QString &key, const QString &defaultValue)
{
    return Profile::readString(protocolIniPath(section), section, key, defaultValue);
}

std::int32_t ProtocolIniGetInt(const QString &section, const QString &key, std::int32_t defaultValue)
{
    return Profile::readInt(protocolIniPath(section), section, key, defaultValue);
}

void ProtocolIniPutString(const QString &section, const QString &key, const QString &value)
{
    put(protocolFileName(section), section, key, value);
}

} // namespace Ini

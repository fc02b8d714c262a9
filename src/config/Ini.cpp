#include "config/Ini.h"
#include "common/AppInfo.h"
#include "config/ProfileFile.h"
#include "lang/LangText.h"
#include "log/Log.h"

namespace Ini {

namespace {

QString protocolFileName(const QString &section) { return section + QStringLiteral(".ini"); }

QString applicationFileName() { return AppInfo::Title + QStringLiteral(".ini"); }

QString inFolder(const QString &fileName) { return AppInfo::applicationFolder() + QLatin1Char('/') + fileName; }

// The operator is told about a failed write, and the caller goes on.
bool put(const QString &fileName, const std::vector<Profile::Entry> &entries)
{
    if (Profile::writeStrings(inFolder(fileName), entries))
        return true;
    Log::NotifyOperator(
        {Log::Notice::Kind::Standard, AppInfo::Title,
         LangTextOr(QStringLiteral("ErrorAlEscribirEn"), QStringLiteral("Error writing to ")) + fileName});
    return false;
}

} // namespace

QString applicationIniPath() { return inFolder(applicationFileName()); }
QString protocolIniPath(const QString &section) { return inFolder(protocolFileName(section)); }

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
    put(applicationFileName(), {{section, key, value}});
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
    put(protocolFileName(section), {{section, key, value}});
}

bool IniPutStrings(const std::vector<Profile::Entry> &entries) { return put(applicationFileName(), entries); }

bool ProtocolIniPutStrings(const QString &section, const std::vector<Profile::Entry> &entries)
{
    return put(protocolFileName(section), entries);
}

} // namespace Ini

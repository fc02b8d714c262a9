#pragma once
#include "config/ProfileFile.h"

#include <QString>
#include <cstdint>
#include <vector>

// Access to the two INI files of the application folder: the application file
// ("OPC-KV7.ini") and the protocol file, named after the section accessed
// ("KV7.ini"). Every call sees the file as it is now. A failed write is
// a notice to the operator (Log::NotifyOperator) and the caller goes on.
namespace Ini {

QString IniGetString(const QString &section, const QString &key, const QString &defaultValue);
std::int32_t IniGetInt(const QString &section, const QString &key, std::int32_t defaultValue);
void IniPutString(const QString &section, const QString &key, const QString &value);

QString ProtocolIniGetString(const QString &section, const QString &key, const QString &defaultValue);
std::int32_t ProtocolIniGetInt(const QString &section, const QString &key, std::int32_t defaultValue);
void ProtocolIniPutString(const QString &section, const QString &key, const QString &value);

// Several values in one atomic replacement of the file, so that an interrupted or
// failed save never leaves some keys new and some old. False (after the notice)
// when the file could not be written.
bool IniPutStrings(const std::vector<Profile::Entry> &entries);
bool ProtocolIniPutStrings(const QString &section, const std::vector<Profile::Entry> &entries);

// Full paths of the two files.
QString applicationIniPath();
QString protocolIniPath(const QString &section);

} // namespace Ini

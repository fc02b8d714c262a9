#pragma once
#include <QString>
#include <cstdint>

// Access to the two INI files of the application folder: the application file
// ("OPC-KV7.ini") and the protocol file, named after the section accessed
// ("KV7.ini"). Every call goes to the file; nothing is cached. A failed write is
// a notice to the operator (Log::NotifyOperator) and the caller goes on.
namespace Ini {

QString IniGetString(const QString &section, const QString &key, const QString &defaultValue);
std::int32_t IniGetInt(const QString &section, const QString &key, std::int32_t defaultValue);
void IniPutString(const QString &section, const QString &key, const QString &value);

QString ProtocolIniGetString(const QString &section, const QString &key, const QString &defaultValue);
std::int32_t ProtocolIniGetInt(const QString &section, const QString &key, std::int32_t defaultValue);
void ProtocolIniPutString(const QString &section, const QString &key, const QString &value);

} // namespace Ini

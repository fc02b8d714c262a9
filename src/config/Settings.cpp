#include "config/Settings.h"
#include "common/AppInfo.h"
#include "common/Error.h"
#include "common/Val.h"
#include "config/Ini.h"
#include "log/Log.h"

namespace {

QString slotKey(int slot, const char *suffix) { return QStringLiteral("C%1%2").arg(slot).arg(QLatin1String(suffix)); }

} // namespace

void LoadGeneralSettings(GeneralSettings &settings)
{
    const QString text =
        Ini::IniGetString(QStringLiteral("Configuracion"), QStringLiteral("TiempoSesion"), QStringLiteral("900"));
    const double seconds = Val(text);
    try {
        settings.SessionTimeout = CInt(seconds);
    } catch (const RuntimeError &e) {
        // A session length out of range is a typing slip in the file; stopping the
        // whole server over it helps nobody, so the nearest valid length is used.
        settings.SessionTimeout = seconds < 0 ? std::int16_t(-32768) : std::int16_t(32767);
        Log::ReportEvent(e.description() + QStringLiteral(": TiempoSesion=") + text + QStringLiteral(", using ") +
                             QString::number(settings.SessionTimeout),
                         QStringLiteral("Startup Warning"));
    }
}

void LoadConnectionTable(ConnectionTable &table)
{
    const QString section = AppInfo::Protocol.name;
    auto inUse = [&](int slot) { return Ini::ProtocolIniGetInt(section, slotKey(slot, "-On"), 0) != 0; };

    int count = 0;
    for (int n = 1; n <= MaxConnections; ++n)
        if (inUse(n))
            ++count;

    table.ConnectionCount = 0;
    table.Connections.assign(std::size_t(count) + 1, ConnectionRecord{});
    if (count == 0)
        return;

    for (int n = 1; n <= MaxConnections; ++n) {
        if (!inUse(n))
            continue;
        // The file is read twice; should it gain slots in between, the extra ones
        // have no record to go into.
        if (table.ConnectionCount >= count)
            break;
        ++table.ConnectionCount;
        ConnectionRecord &record = table[table.ConnectionCount];
        record.Name = Ini::ProtocolIniGetString(section, slotKey(n, "-Nm"), QString());
        record.Protocol = std::int16_t(AppInfo::Protocol.number);
        record.ProtocolKey = AppInfo::Protocol.key;
        const std::int32_t port = Ini::ProtocolIniGetInt(section, slotKey(n, "-Com"), table.ConnectionCount);
        // A port number that does not fit is a failed step: the record keeps port 0
        // and runs without a serial port.
        if (port >= -32768 && port <= 32767)
            record.ComPort = std::int16_t(port);
        record.Settings = QStringLiteral("4800,n,8,1");
        record.Handshaking = 0;
        record.Enabled = 1;
        record.Slot = std::int16_t(n);
    }
}

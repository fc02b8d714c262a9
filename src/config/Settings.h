#pragma once
#include <QString>
#include <cstdint>
#include <vector>

class cTarvolin;

// One configured panel connection.
struct ConnectionRecord {
    QString Name;
    std::int16_t PortIndex = 0;
    std::int16_t ComPort = 0;
    QString Settings;
    std::int16_t Handshaking = 0;
    std::int16_t Enabled = 0;
    bool IsOpen = false;
    cTarvolin *Engine = nullptr;
    std::int16_t Protocol = 0;
    QString ProtocolKey;
    std::int16_t Slot = 0;
};

// The general settings and the connection table, read at start-up.
struct GeneralSettings {
    std::int16_t SessionTimeout = 0;
};

struct ConnectionTable {
    std::int16_t ConnectionCount = 0;
    std::vector<ConnectionRecord> Connections = std::vector<ConnectionRecord>(1); // index 0 unused
    ConnectionRecord &operator[](int i) { return Connections[std::size_t(i)]; }
};

void LoadGeneralSettings(GeneralSettings &settings);
void LoadConnectionTable(ConnectionTable &table);

constexpr int MaxConnections = 16;

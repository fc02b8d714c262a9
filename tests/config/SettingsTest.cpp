#include "config/Settings.h"
#include "TestSupport.h"
#include "log/Log.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

namespace {

ConnectionTable loadTable(const TempAppFolder &folder, const QByteArray &protocolFile)
{
    folder.write("KV7.ini", protocolFile);
    ConnectionTable table;
    LoadConnectionTable(table);
    return table;
}

std::int16_t sessionTimeoutFor(const TempAppFolder &folder, const QByteArray &value)
{
    folder.write("OPC-KV7.ini", "[Configuracion]\r\nTiempoSesion=" + value + "\r\n");
    GeneralSettings settings;
    LoadGeneralSettings(settings);
    return settings.SessionTimeout;
}

} // namespace

TEST(ConnectionTable, SlotsInUseWithoutPortsGetPortsInSlotOrder)
{
    TempAppFolder folder;
    ConnectionTable table = loadTable(folder, "[KV7]\r\nC2-On=1\r\nC2-Nm=Nave 2\r\nC5-On=1\r\nC3-Nm=unused\r\n");
    ASSERT_EQ(table.ConnectionCount, 2);
    ASSERT_EQ(table.Connections.size(), 3u);
    EXPECT_EQ(table[1].Slot, 2);
    EXPECT_EQ(table[1].ComPort, 1);
    EXPECT_EQ(table[1].Name, "Nave 2");
    EXPECT_EQ(table[2].Slot, 5);
    EXPECT_EQ(table[2].ComPort, 2);
    EXPECT_EQ(table[2].Name, "");
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(table[i].Settings, "4800,n,8,1");
        EXPECT_EQ(table[i].Handshaking, 0);
        EXPECT_EQ(table[i].Enabled, 1);
        EXPECT_EQ(table[i].Protocol, 67);
        EXPECT_EQ(table[i].ProtocolKey, "K67");
        EXPECT_FALSE(table[i].IsOpen);
        EXPECT_EQ(table[i].Engine, nullptr);
    }
    // The hourglass is gone again.
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ConnectionTable, PortKeysInUseValuesAndSlotLimits)
{
    TempAppFolder folder;
    ConnectionTable table = loadTable(folder, "[KV7]\r\nC5-On=1\r\nC5-Com=7\r\n");
    ASSERT_EQ(table.ConnectionCount, 1);
    EXPECT_EQ(table[1].ComPort, 7);
    EXPECT_EQ(table[1].Slot, 5);

    // Any non-zero in-use value counts; slots beyond 16 are never read; names match
    // without case.
    table = loadTable(folder, "[kv7]\r\nc3-on=2\r\nC16-On=-1\r\nC16-Com=0\r\nC17-On=1\r\nC0-On=1\r\nC1-On=0\r\n");
    ASSERT_EQ(table.ConnectionCount, 2);
    EXPECT_EQ(table[1].Slot, 3);
    EXPECT_EQ(table[2].Slot, 16);
    EXPECT_EQ(table[2].ComPort, 0); // runs without a serial port

    // A port number beyond 16 bits is a failed step: no port, the rest still read.
    table = loadTable(folder, "[KV7]\r\nC1-On=1\r\nC1-Com=70000\r\nC1-Nm=Norte\r\n");
    ASSERT_EQ(table.ConnectionCount, 1);
    EXPECT_EQ(table[1].ComPort, 0);
    EXPECT_EQ(table[1].Name, "Norte");
}

TEST(ConnectionTable, NoFileOrNoSlotInUseGivesNoConnection)
{
    TempAppFolder folder;
    ConnectionTable table;
    table.ConnectionCount = 3;
    table.Connections.resize(4);
    LoadConnectionTable(table);
    EXPECT_EQ(table.ConnectionCount, 0);
    EXPECT_EQ(table.Connections.size(), 1u);
    table = loadTable(folder, "[KV7]\r\nC1-On=0\r\nC1-Nm=x\r\nC2-On=abc\r\n");
    EXPECT_EQ(table.ConnectionCount, 0);
}

TEST(GeneralSettings, SessionTimeoutIsReadWithValAndRounded)
{
    TempAppFolder folder;
    {
        GeneralSettings settings;
        LoadGeneralSettings(settings);
        EXPECT_EQ(settings.SessionTimeout, 900); // no file: the default
        ASSERT_EQ(settings.ProtocolNames.size(), 68u);
        EXPECT_EQ(settings.ProtocolNames[67], "KV7");
        EXPECT_EQ(settings.ProtocolNames[66], "");
    }
    EXPECT_EQ(sessionTimeoutFor(folder, "120.6"), 121);
    EXPECT_EQ(sessionTimeoutFor(folder, "abc"), 0);
    EXPECT_EQ(sessionTimeoutFor(folder, "2.5"), 2);
    EXPECT_EQ(sessionTimeoutFor(folder, "3.5"), 4);
    EXPECT_EQ(sessionTimeoutFor(folder, "1 80"), 180);
    EXPECT_EQ(sessionTimeoutFor(folder, ""), 0);
}

TEST(GeneralSettings, SessionTimeoutBeyond16BitsIsClampedAndReported)
{
    TempAppFolder folder;
    QStringList lines;
    auto previous = Log::setListener([&](const QString &line) { lines << line; });
    EXPECT_EQ(sessionTimeoutFor(folder, "100000"), 32767);
    EXPECT_EQ(sessionTimeoutFor(folder, "-1e9"), -32768);
    EXPECT_EQ(sessionTimeoutFor(folder, "32767.4"), 32767);
    Log::setListener(std::move(previous));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "(Startup Error: Overflow: TiempoSesion=100000, using 32767)");
    EXPECT_EQ(lines[1], "(Startup Error: Overflow: TiempoSesion=-1e9, using -32768)");
}

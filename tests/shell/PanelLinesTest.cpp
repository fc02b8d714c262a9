#include "ShellFixture.h"
#include "protocol/cTarvolin.h"
#include "protocol/comPort.h"
#include "shell/PanelConnections.h"

#include <QPlainTextEdit>
#include <gtest/gtest.h>

namespace {

// Three panel lines on COM1..COM3, each port mapped to a device in "Ports".
struct PanelLines : ::testing::Test {
    TempAppFolder folder;
    DialogRecorder dialogs;
    Pty pty[3];

    void SetUp() override
    {
        installLanguageFile(folder);
        for (const Pty &p : pty)
            ASSERT_TRUE(p.valid());
        folder.write(QStringLiteral("KV7.ini"),
                     crlf(QStringLiteral("[KV7]\nC1-On=1\nC1-Com=1\nC2-On=1\nC2-Com=2\nC3-On=1\nC3-Com=3\n")));
    }
    void mapPorts(const QString &com1, const QString &com2, const QString &com3) const
    {
        folder.write(QStringLiteral("OPC-KV7.ini"),
                     crlf(QStringLiteral("[Ports]\nCOM1=%1\nCOM2=%2\nCOM3=%3\n").arg(com1, com2, com3)));
    }
    // Panel p reports zone 1 off: the line sets the panel number and clears the
    // communication error of the connection it arrives on.
    static QByteArray offFrame(int panel)
    {
        return QStringLiteral("W%1 1OF\r").arg(panel, 2, 10, QLatin1Char('0')).toLatin1();
    }
};

TEST_F(PanelLines, FramesOnThreePortsReachTheirConnectionsItems)
{
    mapPorts(pty[0].path(), pty[1].path(), pty[2].path());
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running) << qPrintable(s.logic().startupError());
    const ConnectionTable &table = s.logic().connections().table();
    ASSERT_EQ(table.ConnectionCount, 3);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(table.Connections[std::size_t(i)].IsOpen) << i;
        EXPECT_EQ(table.Connections[std::size_t(i)].PortIndex, i - 1);
    }
    EXPECT_EQ(s.opc().Tags().Count(), 3 * 478);
    EXPECT_EQ(s.value(QStringLiteral("C02.Error_Comm")), Variant(std::uint8_t(1)));

    ASSERT_TRUE(pty[0].write(offFrame(11)));
    ASSERT_TRUE(pty[1].write(QByteArray("W12 1O"))); // a line in two bursts
    ASSERT_TRUE(pty[2].write(offFrame(13)));
    ASSERT_TRUE(waitFor([&] {
        return s.value(QStringLiteral("C01.NPanel")) == Variant(std::uint8_t(11)) &&
               s.value(QStringLiteral("C03.NPanel")) == Variant(std::uint8_t(13));
    }));
    ASSERT_TRUE(pty[1].write(QByteArray("F\r")));
    ASSERT_TRUE(waitFor([&] { return s.value(QStringLiteral("C02.NPanel")) == Variant(std::uint8_t(12)); }));

    for (const char *prefix : {"C01", "C02", "C03"}) {
        const QString p = QLatin1String(prefix);
        EXPECT_EQ(s.value(p + QStringLiteral(".Z1.StateStr")), Variant(QStringLiteral("OFF"))) << prefix;
        const OPCItem *err = s.opc().Tags().find(p + QStringLiteral(".Error_Comm"));
        ASSERT_TRUE(err);
        EXPECT_EQ(err->Value().toDouble(), 0.0) << prefix;
        EXPECT_EQ(err->Quality(), Quality::Good);
    }

    // Shutdown stops the engines and closes every port.
    s.logic().mnuFileForceExit_Click();
    EXPECT_EQ(s.logic().connections().table().ConnectionCount, 0);
    for (int k = 0; k < s.logic().connections().portCount(); ++k)
        EXPECT_FALSE(s.logic().connections().port(k)->PortOpen()) << k;
}

TEST_F(PanelLines, PortThatDoesNotExistIsReportedAndTheOtherLinesServe)
{
    mapPorts(pty[0].path(), folder.file(QStringLiteral("no-such-tty")), pty[2].path());
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    const ConnectionTable &table = s.logic().connections().table();
    EXPECT_TRUE(table.Connections[1].IsOpen);
    EXPECT_FALSE(table.Connections[2].IsOpen);
    EXPECT_TRUE(table.Connections[3].IsOpen);
    // The engine of the dead line runs without data: its error item stays set.
    EXPECT_TRUE(table.Connections[2].Engine->Running());
    const QString trace = s.window->tracePane()->toPlainText();
    EXPECT_TRUE(trace.contains(QStringLiteral("(No se puede abrir COM2. Protocolo:KV7  Error: "))) << qPrintable(trace);

    ASSERT_TRUE(pty[0].write(offFrame(21)));
    ASSERT_TRUE(pty[2].write(offFrame(23)));
    ASSERT_TRUE(waitFor([&] {
        return s.value(QStringLiteral("C01.NPanel")) == Variant(std::uint8_t(21)) &&
               s.value(QStringLiteral("C03.NPanel")) == Variant(std::uint8_t(23));
    }));
    EXPECT_EQ(s.value(QStringLiteral("C02.Error_Comm")), Variant(std::uint8_t(1)));
}

TEST_F(PanelLines, TwoConnectionsOnOnePortKeepOneReader)
{
    folder.write(QStringLiteral("KV7.ini"),
                 crlf(QStringLiteral("[KV7]\nC1-On=1\nC1-Com=1\nC2-On=1\nC2-Com=1\nC3-On=1\nC3-Com=3\n")));
    mapPorts(pty[0].path(), pty[1].path(), pty[2].path());
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    const ConnectionTable &table = s.logic().connections().table();
    EXPECT_TRUE(table.Connections[1].IsOpen);
    EXPECT_FALSE(table.Connections[2].IsOpen);
    EXPECT_TRUE(table.Connections[3].IsOpen);
    EXPECT_TRUE(s.window->tracePane()->toPlainText().contains(
        QStringLiteral("(No se puede abrir COM1. Protocolo:KV7  Error: Port already used by connection 1)")));

    // Every line of COM1 goes to connection 1 only.
    ASSERT_TRUE(pty[0].write(offFrame(31) + offFrame(32)));
    ASSERT_TRUE(pty[2].write(offFrame(33)));
    ASSERT_TRUE(waitFor([&] {
        return s.value(QStringLiteral("C01.NPanel")) == Variant(std::uint8_t(32)) &&
               s.value(QStringLiteral("C03.NPanel")) == Variant(std::uint8_t(33));
    }));
    EXPECT_EQ(s.value(QStringLiteral("C02.NPanel")), Variant(std::uint8_t(0)));
}

TEST_F(PanelLines, ConnectionWithoutPortStartsWithoutOpeningAndNoMessage)
{
    folder.write(QStringLiteral("KV7.ini"), crlf(QStringLiteral("[KV7]\nC2-On=1\nC2-Com=0\nC5-On=1\nC5-Com=3\n")));
    mapPorts(pty[0].path(), pty[1].path(), pty[2].path());
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    const ConnectionTable &table = s.logic().connections().table();
    ASSERT_EQ(table.ConnectionCount, 2);
    EXPECT_EQ(table.Connections[1].Slot, 2);
    EXPECT_TRUE(table.Connections[1].IsOpen);
    EXPECT_TRUE(table.Connections[1].Engine->Running());
    EXPECT_FALSE(s.logic().connections().port(0)->PortOpen());
    EXPECT_FALSE(s.window->tracePane()->toPlainText().contains(QStringLiteral("No se puede abrir")));
    // Connection 2 is the second port element and receives what COM3 brings.
    EXPECT_EQ(table.Connections[2].PortIndex, 1);
    ASSERT_TRUE(pty[2].write(offFrame(42)));
    ASSERT_TRUE(waitFor([&] { return s.value(QStringLiteral("C02.NPanel")) == Variant(std::uint8_t(42)); }));
    // The engine collection holds the first engine only.
    EXPECT_EQ(s.logic().connections().firstEngine(QStringLiteral("K67")), table.Connections[1].Engine);
}

TEST_F(PanelLines, MissingOrDamagedIniFilesStillServe)
{
    // No protocol file at all: no connection, the server runs empty.
    folder.write(QStringLiteral("KV7.ini"), QByteArray());
    folder.write(QStringLiteral("OPC-KV7.ini"),
                 QByteArray("\xff\xfe[Configur\r\n=\r\n[[[\r\nMainWidth\r\n\0\0garbage", 40));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running) << qPrintable(s.logic().startupError());
    EXPECT_EQ(s.opc().Tags().Count(), 0);
    EXPECT_EQ(s.opc().ServerState(), ServerStates::Running);
}

} // namespace

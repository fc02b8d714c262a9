#include "TestSupport.h"
#include "common/Clock.h"
#include "monitor/FrameLog.h"
#include "monitor/FrameMonitor.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

const QByteArray Start = "********************* START REGISTER *********************";
const QByteArray Stop = "********************* STOP REGISTER *********************";

struct MonitorTest : ::testing::Test {
    TempAppFolder folder;
    DialogRecorder dialogs;
    // Local time, so the stamps read the same in every time zone.
    ManualClock clock{QDateTime(QDate(2024, 5, 17), QTime(9, 3, 41), Qt::LocalTime)};
    FrameMonitor monitor{clock, folder.file("KV7.log")};
    QStringList lines() const
    {
        QStringList out;
        for (int row = 0; row < monitor.rowCount(); ++row)
            out << monitor.data(monitor.index(row)).toString();
        return out;
    }
};

} // namespace

TEST_F(MonitorTest, FramesAreListedWithTheirDirectionFollowedAndCappedAt500)
{
    QSignalSpy follow(&monitor, &FrameMonitor::followLine);
    monitor.VerTramas("ignored", FrameMonitor::Received); // capture is off until the monitor loads
    EXPECT_EQ(monitor.rowCount(), 0);
    monitor.load();
    monitor.VerTramas("T", FrameMonitor::Sent);
    monitor.frameReceived("W1\r");
    monitor.VerTramas("M", 7);
    EXPECT_EQ(lines(), QStringList({"TX:>>T", "RX:<<W1\r", "M"}));
    EXPECT_EQ(follow.count(), 3);
    EXPECT_EQ(follow.last().at(0).toInt(), 2);

    monitor.setFollowLast(false);
    monitor.clear();
    for (int i = 1; i <= 501; ++i)
        monitor.frameReceived(QByteArray::number(i));
    EXPECT_EQ(follow.count(), 3);
    ASSERT_EQ(monitor.rowCount(), 500);
    EXPECT_EQ(lines().first(), "RX:<<2");
    EXPECT_EQ(lines().last(), "RX:<<501");
    EXPECT_EQ(monitor.allLinesText().count("\r\n"), 500);
    EXPECT_TRUE(monitor.allLinesText().startsWith("RX:<<2\r\nRX:<<3\r\n"));
    EXPECT_EQ(monitor.lineText(499), "RX:<<501");

    monitor.setBusMonitorOn(false);
    monitor.frameReceived("W2\r");
    EXPECT_EQ(monitor.lineText(499), "RX:<<501");
}

TEST_F(MonitorTest, TheLogHoldsStampedLinesBetweenStartAndStopRegister)
{
    monitor.load();
    monitor.setLogging(true);
    monitor.frameReceived("W0102\r");
    clock.advance(1500);
    monitor.setLogging(false);
    monitor.frameReceived("unlogged\r");
    monitor.setLogging(true); // appends to the same file

    // With capture off the file is opened and closed, but nothing is written.
    monitor.setBusMonitorOn(false);
    monitor.setLogging(false);
    monitor.setLogging(true);
    monitor.setBusMonitorOn(true);
    monitor.unload(); // closing the window stops the log

    EXPECT_EQ(folder.read("KV7.log"), "2024/05/17 09:03:41 " + Start + "\r\n" +
                                          "2024/05/17 09:03:41 RX:<<W0102\r\r\n"
                                          "2024/05/17 09:03:42 " +
                                          Stop + "\r\n" + "2024/05/17 09:03:42 " + Start + "\r\n" +
                                          "2024/05/17 09:03:42 " + Stop + "\r\n");
    EXPECT_FALSE(monitor.BusMonitorOn());
    EXPECT_FALSE(monitor.logging());
    EXPECT_EQ(monitor.rowCount(), 0);
    EXPECT_TRUE(monitor.FollowLast());
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(MonitorTest, AHiddenMonitorCollectsFramesOnceCaptureIsOn)
{
    monitor.setBusMonitorOn(true); // a debug start, before any window
    monitor.setFollowLast(false);
    monitor.frameReceived("W1\r");
    EXPECT_TRUE(monitor.isLoaded());
    EXPECT_TRUE(monitor.FollowLast());
    EXPECT_EQ(lines(), QStringList({"RX:<<W1\r"}));
}

TEST_F(MonitorTest, TheLogIsBoundedToOneOldFile)
{
    const QString path = folder.file("KV7.log");
    FrameLog log(clock, path, 100);
    ASSERT_TRUE(log.open());
    for (int i = 0; i < 12; ++i) // 12 lines of 30 bytes
        log.write(QStringLiteral("frame %1").arg(i, 2, 10, QLatin1Char('0')));
    EXPECT_LE(QFileInfo(path).size(), 100);
    EXPECT_LE(QFileInfo(path + ".1").size(), 100);
    EXPECT_FALSE(QFileInfo::exists(path + ".2"));
    EXPECT_TRUE(folder.read("KV7.log").endsWith("frame 11\r\n"));
    EXPECT_TRUE(folder.read("KV7.log.1").startsWith("2024/05/17 09:03:41 frame 06\r\n"));

    // When the full file cannot be moved aside, logging stops rather than grow.
    QFile::remove(path + ".1");
    QDir(folder.path()).mkpath("KV7.log.1/keep");
    log.write("frame 12");
    log.write("frame 13");
    log.write("frame 14");
    EXPECT_FALSE(log.isOpen());
    EXPECT_LE(QFileInfo(path).size(), 100);
    EXPECT_EQ(dialogs.requests().size(), 1u);
}

TEST_F(MonitorTest, AnOpenOrWriteFailureIsReportedOnceAndCaptureGoesOn)
{
    folder.write("blocker", "a file, not a folder");
    FrameMonitor unopenable(clock, folder.file("blocker/KV7.log"));
    unopenable.load();
    unopenable.setLogging(true);
    unopenable.frameReceived("W1\r");
    EXPECT_FALSE(unopenable.logging());
    EXPECT_EQ(unopenable.rowCount(), 1);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_TRUE(dialogs.requests()[0].text.startsWith("Cannot write the frame log " + folder.file("blocker/KV7.log")));

    FrameMonitor full(clock, "/dev/full");
    full.load();
    full.setLogging(true);
    for (int i = 0; i < 3; ++i)
        full.frameReceived("W1\r");
    EXPECT_EQ(full.rowCount(), 4);
    EXPECT_EQ(dialogs.requests().size(), 2u);
}

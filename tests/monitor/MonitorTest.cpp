// The communications monitor, its frame log and the statistics list.
#include "TestSupport.h"
#include "monitor/FrameLog.h"
#include "monitor/FrameMonitor.h"
#include "monitor/Statistics.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// No language file: the designed captions. The statistics list samples the figures set here.
struct MonitorTest : ::testing::Test, StatisticsSource {
    TempAppFolder folder;
    DialogRecorder dialogs;
    // Local time, so the stamps read the same in every time zone.
    ManualClock clock{QDateTime(QDate(2024, 5, 17), QTime(9, 3, 41), Qt::LocalTime)};
    FrameMonitor monitor{clock, folder.file("KV7.log")};
    std::vector<Line> lineFigures{{"C01", 40, 2, -1, true}, {"C02", 0, 0, -1, false}};
    Server serverFigures{3, 2, 40, 1000};
    std::vector<Line> lines() const override { return lineFigures; }
    Server server() const override { return serverFigures; }
    StatisticsModel model{*this, clock};
};

QString decimal(double value) { return QLocale::system().toString(value, 'f', 1); }

} // namespace

TEST_F(MonitorTest, FramesAreListedCappedAndLoggedInABoundedLogAndTheStatisticsAreRatesAndAgesFromTheClock)
{
    QSignalSpy follow(&monitor, &FrameMonitor::followLine);
    monitor.frameReceived("ignored"); // nothing is taken before the monitor loads
    monitor.load();
    monitor.VerTramas("T", FrameMonitor::Sent);
    monitor.VerTramas("M", 7);
    monitor.frameReceived("W1\r");
    EXPECT_EQ(monitor.allLinesText(), "TX:>>T\r\nM\r\nRX:<<W1\r\r\n");
    ASSERT_EQ(follow.count(), 3);
    EXPECT_EQ(follow.last().at(0).toInt(), 2);

    monitor.setFollowLast(false);
    for (int i = 4; i <= 501; ++i)
        monitor.frameReceived(QByteArray::number(i));
    monitor.setBusMonitorOn(false);
    monitor.frameReceived("off");
    EXPECT_EQ(follow.count(), 3);
    ASSERT_EQ(monitor.rowCount(), 500);
    EXPECT_EQ(monitor.data(monitor.index(0)).toString(), "M");
    EXPECT_EQ(monitor.lineText(499), "RX:<<501");

    // The log holds stamped lines between START and STOP REGISTER.
    monitor.unload();
    monitor.setBusMonitorOn(true); // a debug start: the hidden monitor loads with the first frame
    monitor.setFollowLast(false);
    monitor.setLogging(true);
    EXPECT_TRUE(monitor.FollowLast());
    monitor.frameReceived("W0102\r");
    clock.advance(1500);
    monitor.setLogging(false);
    monitor.frameReceived("unlogged\r");
    monitor.setLogging(true); // appends to the same file
    monitor.setBusMonitorOn(false);
    monitor.setLogging(false); // with capture off nothing is written
    monitor.setLogging(true);
    monitor.setBusMonitorOn(true);
    monitor.unload(); // closing the window stops the log
    const QByteArray start = "********************* START REGISTER *********************\r\n";
    const QByteArray stop = "********************* STOP REGISTER *********************\r\n";
    EXPECT_EQ(folder.read("KV7.log"), "2024/05/17 09:03:41 " + start + "2024/05/17 09:03:41 RX:<<W0102\r\r\n" +
                                          "2024/05/17 09:03:42 " + stop + "2024/05/17 09:03:42 " + start +
                                          "2024/05/17 09:03:42 " + stop);
    EXPECT_TRUE(dialogs.requests().empty());

    // A log is bounded to one old file; a failure is reported once while capture goes on.
    const QString path = folder.file("frames.log");
    FrameLog log(clock, path, 100);
    ASSERT_TRUE(log.open());
    for (int i = 0; i < 12; ++i) // lines of 30 bytes
        log.write(QStringLiteral("frame %1").arg(i, 2, 10, QLatin1Char('0')));
    EXPECT_EQ(folder.read("frames.log.1"),
              "2024/05/17 09:03:42 frame 06\r\n2024/05/17 09:03:42 frame 07\r\n2024/05/17 09:03:42 frame 08\r\n");
    EXPECT_TRUE(folder.read("frames.log").startsWith("2024/05/17 09:03:42 frame 09\r\n"));
    EXPECT_EQ(QFileInfo(path).size(), 90);
    // An old file that cannot be moved aside stops the log.
    QFile::remove(path + ".1");
    QDir(folder.path()).mkpath("frames.log.1/keep");
    log.write("frame 12");
    log.write("frame 13");
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(QFileInfo(path).size(), 90);
    ASSERT_EQ(dialogs.requests().size(), 1u);

    folder.write("blocker", "a file, not a folder");
    FrameMonitor unopenable(clock, folder.file("blocker/KV7.log"));
    FrameMonitor full(clock, "/dev/full");
    for (FrameMonitor *m : {&unopenable, &full}) {
        m->load();
        m->setLogging(true);
        m->frameReceived("W1\r");
        m->frameReceived("W2\r");
    }
    EXPECT_EQ(std::make_pair(unopenable.rowCount(), full.rowCount()), std::make_pair(2, 3));
    ASSERT_EQ(dialogs.requests().size(), 3u);
    EXPECT_TRUE(dialogs.requests()[1].text.startsWith("Cannot write the frame log " + folder.file("blocker/KV7.log")));

    // The statistics list: figures are sampled rates and ages from the clock.
    model.start();
    EXPECT_EQ(model.rowCount(), 2 * 4 + 4);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Value");
    EXPECT_EQ(model.value("C01: Frames per second"), StatisticsModel::Unknown); // one sample gives no rate
    EXPECT_EQ(model.value("C01: Seconds since the last frame"), StatisticsModel::Unknown);
    EXPECT_EQ(model.value("C01: Communication error"), "Yes");

    clock.advance(2500);
    lineFigures[0] = {"C01", 65, 3, 3500, false}; // the log above moved the clock 1.5 s
    serverFigures = {4, 1, 30, 1500};
    model.sample();
    QStringList values;
    for (const char *name : {"C01: Frames per second", "C01: Frames dropped", "C01: Seconds since the last frame",
                             "C01: Communication error", "C02: Frames per second", "OPC UA sessions", "Subscriptions",
                             "Monitored items", "Notifications per second"})
        values << model.value(name);
    EXPECT_EQ(values,
              QStringList({decimal(10.0), "3", decimal(0.5), "No", decimal(0.0), "4", "1", "30", decimal(200.0)}));
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), decimal(10.0));

    clock.advance(1000); // a restarted counter gives no rate rather than a huge one
    lineFigures[0].frames = 5;
    model.sample();
    EXPECT_EQ(model.value("C01: Frames per second"), StatisticsModel::Unknown);
}

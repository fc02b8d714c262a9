#include "monitor/Statistics.h"
#include "TestSupport.h"
#include "common/Clock.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

struct FakeSource : StatisticsSource {
    std::vector<Line> lineFigures;
    Server serverFigures;
    std::vector<Line> lines() const override { return lineFigures; }
    Server server() const override { return serverFigures; }
};

QString decimal(double value) { return QLocale::system().toString(value, 'f', 1); }

struct StatisticsTest : ::testing::Test {
    TempAppFolder folder; // no language file: the designed captions
    ManualClock clock;
    FakeSource source;
    StatisticsModel model{source, clock};
    QString value(const QString &statistic) const { return model.value(statistic); }
};

} // namespace

TEST_F(StatisticsTest, LineFiguresAreRatesOverThePeriodAndAgesFromTheClock)
{
    source.lineFigures = {{"C01", 40, 2, -1, true}, {"C02", 0, 0, -1, false}};
    model.start();
    EXPECT_EQ(model.rowCount(), 2 * 4 + 4);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Statistic");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Value");
    EXPECT_EQ(value("C01: Frames per second"), StatisticsModel::Unknown); // one sample gives no rate
    EXPECT_EQ(value("C01: Seconds since the last frame"), StatisticsModel::Unknown);
    EXPECT_EQ(value("C01: Communication error"), "Yes");

    clock.advance(2500);
    source.lineFigures[0] = {"C01", 65, 3, 2000, false};
    model.sample();
    EXPECT_EQ(value("C01: Frames per second"), decimal(10.0));
    EXPECT_EQ(value("C01: Frames dropped"), "3");
    EXPECT_EQ(value("C01: Seconds since the last frame"), decimal(0.5));
    EXPECT_EQ(value("C01: Communication error"), "No");
    EXPECT_EQ(value("C02: Frames per second"), decimal(0.0));
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "C01: Frames per second");
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), decimal(10.0));

    // A restarted counter gives no rate rather than a huge one.
    clock.advance(1000);
    source.lineFigures[0].frames = 5;
    model.sample();
    EXPECT_EQ(value("C01: Frames per second"), StatisticsModel::Unknown);
}

TEST_F(StatisticsTest, ServerFiguresAndTheNotificationRate)
{
    source.serverFigures = {3, 2, 40, 1000};
    model.setPeriod(500);
    model.start();
    EXPECT_EQ(model.period(), 500);
    EXPECT_EQ(model.rowCount(), 4);
    clock.advance(500);
    source.serverFigures.notifications = 1100;
    source.serverFigures.sessions = 4;
    model.sample();
    EXPECT_EQ(value("OPC UA sessions"), "4");
    EXPECT_EQ(value("Subscriptions"), "2");
    EXPECT_EQ(value("Monitored items"), "40");
    EXPECT_EQ(value("Notifications per second"), decimal(200.0));
    model.stop();
}

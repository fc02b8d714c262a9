#include "monitor/Statistics.h"
#include "TestSupport.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

struct StatisticsTest : ::testing::Test, StatisticsSource {
    std::vector<Line> lineFigures{{"C01", 40, 2, -1, true}, {"C02", 0, 0, -1, false}};
    Server serverFigures{3, 2, 40, 1000};
    std::vector<Line> lines() const override { return lineFigures; }
    Server server() const override { return serverFigures; }

    TempAppFolder folder; // no language file: the designed captions
    ManualClock clock;
    StatisticsModel model{*this, clock};
};

QString decimal(double value) { return QLocale::system().toString(value, 'f', 1); }

} // namespace

TEST_F(StatisticsTest, FiguresAreSampledRatesAndAgesFromTheClock)
{
    model.start();
    EXPECT_EQ(model.rowCount(), 2 * 4 + 4);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Value");
    EXPECT_EQ(model.value("C01: Frames per second"), StatisticsModel::Unknown); // one sample gives no rate
    EXPECT_EQ(model.value("C01: Seconds since the last frame"), StatisticsModel::Unknown);
    EXPECT_EQ(model.value("C01: Communication error"), "Yes");

    clock.advance(2500);
    lineFigures[0] = {"C01", 65, 3, 2000, false};
    serverFigures = {4, 1, 30, 1500};
    model.sample();
    const std::pair<const char *, QString> expected[] = {
        {"C01: Frames per second", decimal(10.0)},
        {"C01: Frames dropped", "3"},
        {"C01: Seconds since the last frame", decimal(0.5)},
        {"C01: Communication error", "No"},
        {"C02: Frames per second", decimal(0.0)},
        {"OPC UA sessions", "4"},
        {"Subscriptions", "1"},
        {"Monitored items", "30"},
        {"Notifications per second", decimal(200.0)},
    };
    for (const auto &[statistic, value] : expected)
        EXPECT_EQ(model.value(statistic), value) << statistic;
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), decimal(10.0));

    clock.advance(1000); // a restarted counter gives no rate rather than a huge one
    lineFigures[0].frames = 5;
    model.sample();
    EXPECT_EQ(model.value("C01: Frames per second"), StatisticsModel::Unknown);
}

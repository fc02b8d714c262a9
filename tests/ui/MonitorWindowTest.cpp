#include "UiFixture.h"
#include "monitor/FrameMonitor.h"
#include "ui/fBus.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

struct MonitorWindowTest : UiTest {
    FrameMonitor monitor{Clock::system(), folder.file("KV7.log")};
    QPointer<fBus> window;
    void SetUp() override
    {
        UiTest::SetUp();
        window = new fBus(monitor);
        window->open();
    }
    void TearDown() override { delete window; }
    QListView *list() const { return child<QListView>(*window, "lstTramas"); }
    QCheckBox *box(const char *name) const { return child<QCheckBox>(*window, name); }
};

} // namespace

TEST_F(MonitorWindowTest, FollowsTheNewestLineAndCopiesLinesOnDoubleClicks)
{
    EXPECT_EQ(window->windowTitle(), "Communications monitor");
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->setText("old");
    QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_TRUE(clipboard->text().isEmpty()); // an empty list empties the clipboard

    monitor.frameReceived("W1\r");
    monitor.frameReceived("W2\r");
    EXPECT_EQ(list()->currentIndex().row(), 1);
    box("chkUltimo")->click();
    monitor.frameReceived("W3\r");
    EXPECT_EQ(list()->currentIndex().row(), 1);
    window->copySelectedLine();
    EXPECT_EQ(clipboard->text(), "RX:<<W2\r");
    QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(clipboard->text(), "RX:<<W1\r\r\nRX:<<W2\r\r\nRX:<<W3\r\r\n");
    list()->clearSelection();
    window->copySelectedLine();
    EXPECT_TRUE(clipboard->text().isEmpty());

    box("chkBus")->click();
    monitor.frameReceived("W4\r");
    EXPECT_EQ(list()->model()->rowCount(), 3);
    QTest::mouseClick(child<QPushButton>(*window, "cmdClear"), Qt::LeftButton);
    EXPECT_EQ(list()->model()->rowCount(), 0);
}

TEST_F(MonitorWindowTest, ClosingTheWindowStopsTheLogAndTheNextOpeningStartsAfresh)
{
    EXPECT_FALSE(box("chkLog")->isChecked());
    box("chkLog")->click();
    monitor.frameReceived("W1\r");
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull()); // released
    EXPECT_FALSE(monitor.BusMonitorOn());
    EXPECT_TRUE(folder.read("KV7.log").endsWith("STOP REGISTER *********************\r\n"));
    window = new fBus(monitor);
    EXPECT_TRUE(box("chkBus")->isChecked() && box("chkUltimo")->isChecked() && !box("chkLog")->isChecked());
    EXPECT_EQ(list()->model()->rowCount(), 0);
}

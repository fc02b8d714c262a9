// The windows on the offscreen platform: the protocol editor, the communications
// monitor and the period dialogs, driven as an operator would.
#include "TestSupport.h"
#include "lang/Language.h"
#include "monitor/FrameMonitor.h"
#include "ui/PeriodDialogs.h"
#include "ui/fBus.h"
#include "ui/fConfTarvolin.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A test folder with the shipped language file, read in English, and every
// dialog of the seam answered with button `answer`.
struct UiTest : ::testing::Test {
    TempAppFolder folder;
    int answer = 0;
    DialogRecorder dialogs{[this](const Dialogs::Request &) { return Dialogs::Answer{answer}; }};

    void SetUp() override
    {
        folder.installLanguageFile();
        ASSERT_EQ(Language::LoadLanguageFile(1), Language::LoadResult::Ok);
    }
    template <class W> static W *child(const QWidget &window, const char *name)
    {
        W *w = window.findChild<W *>(QLatin1String(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
    static void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
};

TEST_F(UiTest, TheEditorThePeriodDialogsAndTheMonitorAsAnOperatorDrivesThem)
{
    fConfTarvolin editor;
    editor.show();
    QTest::keyClick(&editor, Qt::Key_Escape); // nothing edited: it leaves without asking
    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(dialogs.requests().empty());
    editor.show();
    QTest::keyClicks(child<QLineEdit>(editor, "txtMaquina(0)"), "Sala");
    click(child<QPushButton>(editor, "cmdCancelar")); // after an edit it asks; "Yes" leaves
    EXPECT_FALSE(editor.isVisible());
    ASSERT_EQ(dialogs.requests().size(), 1u);

    // The window reads the file when it opens, and the edit left with it: this one opens on none.
    editor.show();
    EXPECT_EQ(editor.windowTitle(), "OPC Server - KV7 - Max.Panels 16");
    QListWidget *list = child<QListWidget>(editor, "lstMaquina");
    QComboBox *com = child<QComboBox>(editor, "cboCOM");
    auto usePort = [&](int row, int entry) {
        list->item(row)->setCheckState(Qt::Checked);
        list->setCurrentRow(row);
        emit com->activated(entry);
    };
    usePort(1, 0);
    usePort(0, 0);
    EXPECT_EQ(list->item(1)->text(), "Panel 2 (COM 1)");
    click(child<QPushButton>(editor, "cmdAceptar"));
    EXPECT_EQ(QStringList({dialogs.texts().last(), QString::number(list->currentRow()), com->currentText()}),
              QStringList({"Two panels use the same port: COM 1", "1", "COM 1"}));
    usePort(1, 4);

    // The help line follows the focus; a timeout out of range is corrected on leaving it.
    QApplication::setActiveWindow(&editor);
    QLineEdit *timeout = child<QLineEdit>(editor, "txtTimeout");
    timeout->setFocus();
    EXPECT_EQ(child<QLabel>(editor, "lblHelp")->text(), "Communication error time (s) 100..200 s");
    timeout->clear();
    QTest::keyClicks(timeout, "50");
    com->setFocus();
    EXPECT_EQ(timeout->text(), "100");
    EXPECT_EQ(child<QLabel>(editor, "lblHelp")->text(), "COM port");

    answer = 1; // "No" to leaving, "Cancel" to saving
    editor.close();
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(dialogs.requests().back().buttons, QStringList({"Yes", "No"}));
    click(child<QPushButton>(editor, "cmdAceptar"));
    EXPECT_EQ(QStringList{dialogs.requests().back().text} + dialogs.requests().back().buttons,
              QStringList({"Do you want to save the changes?", "&OK", "&Cancel"}));
    EXPECT_TRUE(editor.isVisible());
    answer = 0;
    click(child<QPushButton>(editor, "cmdAceptar"));
    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(folder.read("KV7.ini").contains("C2-On=1\r\nC2-Com=5\r\n"));
    EXPECT_EQ(dialogs.requests().size(), 5u);

    // The period dialogs accept their range and refuse anything else.
    frmEditSP sp;
    frmEditMGUP mgup;
    EXPECT_EQ(sp.windowTitle(), "Período de muestreo de Estadísticas");
    EXPECT_EQ(mgup.windowTitle(), "Mínimo periódo de actualización");
    // The dialog, what is typed, the value kept (0: refused).
    const std::tuple<PeriodDialog *, const char *, int> cases[] = {
        {&sp, "100", 100},         {&sp, "60000", 60000}, {&sp, "99", 0},     {&sp, "60001", 0},
        {&sp, "abc", 0},           {&sp, "", 0},          {&sp, "150.5", 0},  {&mgup, "10", 10},
        {&mgup, " 60000 ", 60000}, {&mgup, "9", 0},       {&mgup, "60001", 0}};
    for (const auto &[dialog, typed, kept] : cases) {
        SCOPED_TRACE(typed);
        const bool isSp = dialog == &sp;
        sp.setSamplePeriod(1000);
        mgup.setGroupPeriod(50);
        dialog->show();
        QLineEdit *field = child<QLineEdit>(*dialog, isSp ? "txtSamplePeriod" : "txtGroupPeriod");
        field->setText(typed);
        const std::size_t asked = dialogs.requests().size();
        QTest::keyClick(field, Qt::Key_Return); // OK is the default button
        EXPECT_EQ(dialog->isVisible(), kept == 0);
        EXPECT_EQ(dialog->value(), kept ? kept : isSp ? 1000 : 50);
        if (kept)
            continue;
        EXPECT_EQ(field->text(), typed); // as typed
        ASSERT_EQ(dialogs.requests().size(), asked + 1);
        const Dialogs::Request &r = dialogs.requests().back();
        EXPECT_EQ(QStringList({r.text, r.title, QString::number(r.icon), r.buttons.join(',')}),
                  QStringList({QStringLiteral("Entrar un valor entre %1 y 60000.").arg(isSp ? 100 : 10),
                               "Valor fuera de rango", "2", "&OK"}));
    }
    sp.show();
    child<QLineEdit>(sp, "txtSamplePeriod")->setText("2000");
    click(child<QPushButton>(sp, "cmdCancel"));
    EXPECT_FALSE(sp.isVisible());
    EXPECT_EQ(sp.SamplePeriod(), 1000);

    // The monitor window follows and copies lines; closing it stops the log.
    FrameMonitor monitor{Clock::system(), folder.file("KV7.log")};
    QPointer<fBus> window = new fBus(monitor);
    window->open();
    QListView *frames = child<QListView>(*window, "lstTramas");
    auto box = [&](const char *name) { return child<QCheckBox>(*window, name); };
    EXPECT_EQ(window->windowTitle(), "Communications monitor");
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->setText("old");
    QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_TRUE(clipboard->text().isEmpty()); // an empty list empties the clipboard

    monitor.frameReceived("W1\r");
    monitor.frameReceived("W2\r");
    EXPECT_EQ(frames->currentIndex().row(), 1);
    box("chkUltimo")->click();
    monitor.frameReceived("W3\r");
    EXPECT_EQ(frames->currentIndex().row(), 1);
    window->copySelectedLine();
    EXPECT_EQ(clipboard->text(), "RX:<<W2\r");
    QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(clipboard->text(), "RX:<<W1\r\r\nRX:<<W2\r\r\nRX:<<W3\r\r\n");
    frames->clearSelection();
    window->copySelectedLine();
    EXPECT_TRUE(clipboard->text().isEmpty());

    box("chkBus")->click();
    monitor.frameReceived("W4\r");
    EXPECT_EQ(frames->model()->rowCount(), 3);
    click(child<QPushButton>(*window, "cmdClear"));
    EXPECT_EQ(frames->model()->rowCount(), 0);

    box("chkBus")->click();
    EXPECT_FALSE(box("chkLog")->isChecked());
    box("chkLog")->click();
    monitor.frameReceived("W1\r");
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull()); // released
    EXPECT_FALSE(monitor.BusMonitorOn());
    EXPECT_TRUE(folder.read("KV7.log").endsWith("STOP REGISTER *********************\r\n"));
    fBus next(monitor); // starts afresh
    EXPECT_TRUE(child<QCheckBox>(next, "chkBus")->isChecked() && child<QCheckBox>(next, "chkUltimo")->isChecked() &&
                !child<QCheckBox>(next, "chkLog")->isChecked());
    EXPECT_EQ(child<QListView>(next, "lstTramas")->model()->rowCount(), 0);
}

} // namespace

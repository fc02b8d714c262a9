#include "UiFixture.h"
#include "ui/fConfTarvolin.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

struct ConfigWindowTest : UiTest {
    fConfTarvolin editor;
    void SetUp() override
    {
        UiTest::SetUp();
        editor.show();
    }
    QListWidget *list() { return child<QListWidget>(editor, "lstMaquina"); }
    void usePort(int row, int entry)
    {
        list()->item(row)->setCheckState(Qt::Checked);
        list()->setCurrentRow(row);
        emit child<QComboBox>(editor, "cboCOM")->activated(entry);
    }
    void click(const char *button) { QTest::mouseClick(child<QPushButton>(editor, button), Qt::LeftButton); }
    void answerSecond()
    {
        answer = [](const Dialogs::Request &) { return Dialogs::Answer{1}; };
    }
};

} // namespace

TEST_F(ConfigWindowTest, ADuplicatePortIsRefusedAndTheSaveAsksFirst)
{
    // The window reads the file when it opens: this one opened on none.
    EXPECT_EQ(editor.windowTitle(), "OPC Server - KV7 - Max.Panels 16");
    usePort(1, 0);
    usePort(0, 0);
    EXPECT_EQ(list()->item(1)->text(), "Panel 2 (COM 1)");
    click("cmdAceptar");
    EXPECT_EQ(dialogs.texts(), QStringList{"Two panels use the same port: COM 1"});
    EXPECT_EQ(list()->currentRow(), 1);
    EXPECT_EQ(child<QComboBox>(editor, "cboCOM")->currentText(), "COM 1");

    usePort(1, 4);
    answerSecond(); // "Cancel"
    click("cmdAceptar");
    EXPECT_EQ(dialogs.requests().back().text, "Do you want to save the changes?");
    EXPECT_EQ(dialogs.requests().back().buttons, QStringList({"&OK", "&Cancel"}));
    EXPECT_TRUE(editor.isVisible());
    answer = nullptr;
    click("cmdAceptar");
    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(folder.read("KV7.ini").contains("C2-On=1\r\nC2-Com=5\r\n"));
}

TEST_F(ConfigWindowTest, LeavingAsksOnlyAfterAnEditAndTheTimeoutIsCorrectedOnLeavingIt)
{
    fConfTarvolin fresh;
    fresh.show();
    QTest::keyClick(&fresh, Qt::Key_Escape);
    EXPECT_FALSE(fresh.isVisible());
    EXPECT_TRUE(dialogs.requests().empty());

    // The help line follows the focus.
    QApplication::setActiveWindow(&editor);
    QLineEdit *timeout = child<QLineEdit>(editor, "txtTimeout");
    timeout->setFocus();
    EXPECT_EQ(child<QLabel>(editor, "lblHelp")->text(), "Communication error time (s) 100..200 s");
    timeout->clear();
    QTest::keyClicks(timeout, "50");
    child<QComboBox>(editor, "cboCOM")->setFocus();
    EXPECT_EQ(timeout->text(), "100");
    EXPECT_EQ(child<QLabel>(editor, "lblHelp")->text(), "COM port");

    QTest::keyClicks(child<QLineEdit>(editor, "txtMaquina(0)"), "Sala");
    answerSecond(); // "No"
    editor.close();
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(dialogs.requests().back().buttons, QStringList({"Yes", "No"}));
    answer = nullptr;
    click("cmdCancelar");
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(dialogs.requests().size(), 2u);
}

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
    void choosePort(fConfTarvolin &editor, int row, int entry)
    {
        child<QListWidget>(editor, "lstMaquina")->setCurrentRow(row);
        QComboBox *box = child<QComboBox>(editor, "cboCOM");
        box->setCurrentIndex(entry);
        emit box->activated(entry);
    }
    void check(fConfTarvolin &editor, int row)
    {
        child<QListWidget>(editor, "lstMaquina")->item(row)->setCheckState(Qt::Checked);
    }
    void accept(fConfTarvolin &editor) { QTest::mouseClick(child<QPushButton>(editor, "cmdAceptar"), Qt::LeftButton); }
};

} // namespace

TEST_F(ConfigWindowTest, ADuplicatePortIsRefusedAndTheSaveAsksFirst)
{
    fConfTarvolin editor;
    editor.show();
    EXPECT_EQ(editor.windowTitle(), "OPC Server - KV7 - Max.Panels 16");
    check(editor, 0);
    check(editor, 1);
    choosePort(editor, 1, 0);
    EXPECT_EQ(child<QListWidget>(editor, "lstMaquina")->item(1)->text(), "Panel 2 (COM 1)");
    choosePort(editor, 0, 0);
    accept(editor);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].text, "Two panels use the same port: COM 1");
    EXPECT_EQ(dialogs.requests()[0].icon, 2);
    EXPECT_EQ(child<QListWidget>(editor, "lstMaquina")->currentRow(), 1);
    EXPECT_EQ(child<QComboBox>(editor, "cboCOM")->currentText(), "COM 1");

    choosePort(editor, 1, 4);
    answer = [](const Dialogs::Request &) { return Dialogs::Answer{1, {}}; }; // "Cancel"
    accept(editor);
    EXPECT_EQ(dialogs.requests().back().text, "Do you want to save the changes?");
    EXPECT_EQ(dialogs.requests().back().buttons, QStringList({"&OK", "&Cancel"}));
    EXPECT_TRUE(editor.isVisible());
    EXPECT_FALSE(QFileInfo::exists(folder.file("KV7.ini")));

    answer = nullptr;
    accept(editor);
    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(folder.read("KV7.ini").contains("C2-On=1\r\nC2-Com=5\r\n"));
}

TEST_F(ConfigWindowTest, LeavingAsksOnlyAfterAnEdit)
{
    {
        fConfTarvolin fresh;
        fresh.show();
        QTest::mouseClick(child<QPushButton>(fresh, "cmdCancelar"), Qt::LeftButton);
        EXPECT_FALSE(fresh.isVisible());
        EXPECT_TRUE(dialogs.requests().empty());
    }
    fConfTarvolin editor;
    editor.show();
    QTest::keyClicks(child<QLineEdit>(editor, "txtMaquina(0)"), "Sala");
    answer = [](const Dialogs::Request &) { return Dialogs::Answer{1, {}}; }; // "No"
    editor.close();
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(dialogs.requests().back().buttons, QStringList({"Yes", "No"}));
    answer = nullptr;
    QTest::keyClick(&editor, Qt::Key_Escape);
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(dialogs.requests().size(), 2u);
}

TEST_F(ConfigWindowTest, TheTimeoutBoxIsCorrectedOnLeavingAndTheHelpLineFollowsTheFocus)
{
    fConfTarvolin editor;
    editor.show();
    QApplication::setActiveWindow(&editor);
    QLineEdit *timeout = child<QLineEdit>(editor, "txtTimeout");
    timeout->setFocus();
    EXPECT_EQ(child<QLabel>(editor, "lblHelp")->text(), "Communication error time (s) 100..200 s");
    timeout->clear();
    QTest::keyClicks(timeout, "50");
    child<QComboBox>(editor, "cboCOM")->setFocus();
    EXPECT_EQ(timeout->text(), "100");
    EXPECT_EQ(child<QLabel>(editor, "lblHelp")->text(), "COM port");
}

#include "config/ConfigEditor.h"
#include "TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using Problem = ConfigEditor::Problem;

TEST(ConfigEditor, ChecksRefuseBadTablesTheTimeoutIsAWholeNumberInRangeAndSavingRewritesEveryKeyInPlace)
{
    TempAppFolder folder; // no language file: the designed texts
    DialogRecorder dialogs;
    ConfigEditor editor;
    const auto mark = [&](int slot, int portEntry) {
        editor.setInUse(slot, true);
        editor.selectSlot(slot);
        editor.choosePort(portEntry);
    };
    folder.write("KV7.ini", "[KV7]\r\nC4-Nm=" + QByteArray(300, 'x') + "\r\n");
    editor.LoadEditor();
    EXPECT_EQ(QStringList({editor.entryText(16), editor.timeoutText(), editor.slot(4).name}), // the name whole, not cut
              QStringList({"Panel 16 (COM 16)", "100", QString(300, 'x')}));
    EXPECT_EQ(editor.CheckBeforeSave().message, "Check at least one panel.");

    mark(3, 6); // COM 7 three times, but slot 3 is not in use
    editor.setInUse(3, false);
    mark(1, 0);
    mark(5, 6);
    mark(9, 6);
    editor.selectSlot(1);
    Problem p = editor.CheckBeforeSave();
    EXPECT_EQ(p.message, "Two panels use the same port: COM 7");
    EXPECT_EQ(editor.CurrentSlot(), 9);
    editor.choosePort(8);

    const std::pair<QString, bool> names[] = {{QString(300, 'x'), false}, {QString(254, 'n'), true},
                                              {QString(255, 'n'), false}, {"\"Sala\"", false},
                                              {"Sala \u0105", false},     {" Caldera \u00f1 ", true}};
    for (const auto &[name, fits] : names) {
        editor.selectSlot(4);
        editor.editName(name);
        editor.selectSlot(2);
        p = editor.CheckBeforeSave();
        EXPECT_EQ(p.kind, fits ? Problem::None : Problem::NameDoesNotFit) << qPrintable(name.left(9));
        EXPECT_EQ(editor.CurrentSlot(), fits ? 2 : 4);
    }
    EXPECT_TRUE(p.message.isEmpty());

    for (const auto &[typed, kept] : pairs("50=100|500=200|abc=100|150.7=151|1e2=100|150 s=150")) {
        editor.editTimeout(typed);
        editor.leaveTimeout();
        EXPECT_EQ(editor.timeoutText(), kept) << qPrintable(typed);
    }
    folder.write("KV7.ini", "; plant 2\r\n[Other]\r\nKeep=this\r\n\r\n[KV7]\r\nC2-Nm = Caldera \r\nTimeoutError=150\r\n"
                            "C2-On=1\r\n\r\n[Last]\r\nx=1");
    editor.LoadEditor();
    EXPECT_FALSE(editor.needsLeaveConfirmation(false));
    EXPECT_TRUE(editor.slot(2).inUse);
    editor.selectSlot(2);
    EXPECT_TRUE(editor.needsLeaveConfirmation(false)); // selecting counts as an edit
    EXPECT_FALSE(editor.needsLeaveConfirmation(true)); // a forced exit asks nothing
    editor.editName("  Sala 2 ");
    editor.choosePort(2);
    editor.setAutoSession(true);
    editor.editTimeout("174.6"); // saved as the server will read it
    ASSERT_TRUE(editor.SaveEditor());
    EXPECT_FALSE(editor.Dirty);

    QByteArray added = "AutoSesion=1\r\n";
    for (QByteArray n = "1"; n != "17"; n = QByteArray::number(n.toInt() + 1))
        added += n == "2" ? "C2-Com=3\r\n" : "C" + n + "-On=0\r\nC" + n + "-Com=" + n + "\r\nC" + n + "-Nm=\r\n";
    EXPECT_EQ(folder.read("KV7.ini"), "; plant 2\r\n[Other]\r\nKeep=this\r\n\r\n[KV7]\r\nC2-Nm = Sala 2 \r\n"
                                      "TimeoutError=175\r\nC2-On=1\r\n" +
                                          added + "\r\n[Last]\r\nx=1");

    QFile::remove(folder.file("KV7.ini"));
    QDir(folder.path()).mkdir("KV7.ini"); // cannot be read or replaced
    editor.setInUse(2, false);
    EXPECT_FALSE(editor.SaveEditor());
    EXPECT_TRUE(editor.Dirty);
    EXPECT_EQ(dialogs.texts(), QStringList{"Error writing to KV7.ini"});
}

#include "config/ConfigEditor.h"
#include "TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

using Problem = ConfigEditor::Problem;

struct ConfigEditorTest : ::testing::Test {
    TempAppFolder folder; // no language file: the designed texts
    DialogRecorder dialogs;
    ConfigEditor editor;
    void mark(int slot, int entry)
    {
        editor.setInUse(slot, true);
        editor.selectSlot(slot);
        editor.choosePort(entry);
    }
};

} // namespace

TEST_F(ConfigEditorTest, WithoutAFileSixteenFreeSlotsAndNoSaveUntilOneIsMarked)
{
    editor.LoadEditor();
    EXPECT_FALSE(editor.Dirty);
    EXPECT_EQ(editor.entryText(1), "Panel 1 (COM 1)");
    EXPECT_EQ(editor.entryText(16), "Panel 16 (COM 16)");
    EXPECT_EQ(editor.timeoutText(), "100");
    EXPECT_FALSE(editor.autoSession());
    EXPECT_EQ(editor.CurrentSlot(), 1);
    const Problem p = editor.CheckBeforeSave();
    EXPECT_EQ(p.kind, Problem::NoSlotInUse);
    EXPECT_EQ(p.message, "Check at least one panel.");
    EXPECT_FALSE(QFileInfo::exists(folder.file("KV7.ini")));
}

TEST_F(ConfigEditorTest, TwoMarkedSlotsOnOnePortAreRefusedAndTheLaterIsSelected)
{
    editor.LoadEditor();
    editor.selectSlot(3);
    editor.choosePort(0); // slot 3 on COM 1 as well, but unmarked
    EXPECT_EQ(editor.entryText(3), "Panel 3 (COM 1)");
    mark(1, 0);
    EXPECT_EQ(editor.CheckBeforeSave().kind, Problem::None);
    mark(5, 6);
    mark(9, 6);
    editor.selectSlot(1);
    const Problem p = editor.CheckBeforeSave();
    EXPECT_EQ(p.kind, Problem::PortTwice);
    EXPECT_EQ(p.slot, 9);
    EXPECT_EQ(editor.CurrentSlot(), 9);
    EXPECT_EQ(p.message, "Two panels use the same port: COM 7");
}

TEST_F(ConfigEditorTest, TheTimeoutIsHeldWithinItsRangeAsAWholeNumber)
{
    editor.LoadEditor();
    const std::pair<const char *, const char *> cases[] = {
        {"50", "100"}, {"500", "200"}, {"abc", "100"}, {"", "100"}, {"150.7", "151"}, {"1e2", "100"}, {"150 s", "150"},
    };
    for (const auto &[typed, kept] : cases) {
        editor.editTimeout(typed);
        editor.leaveTimeout();
        EXPECT_EQ(editor.timeoutText(), kept) << typed;
    }
}

TEST_F(ConfigEditorTest, NamesTheFileWouldCutOrChangeAreRefused)
{
    const QString longest(254, QLatin1Char('n'));
    folder.write("KV7.ini", "[KV7]\r\nC4-Nm=" + QByteArray(300, 'x') + "\r\n");
    editor.LoadEditor();
    EXPECT_EQ(editor.slot(4).name.size(), 300); // shown whole, not cut
    mark(1, 0);
    const struct {
        QString name;
        bool fits;
    } cases[] = {
        {longest, true}, {longest + "n", false}, {"\"Sala\"", false}, {"Sala \u0105", false}, {"Caldera \u00f1", true}};
    for (const auto &c : cases) {
        editor.selectSlot(4);
        editor.editName(c.name);
        editor.selectSlot(2);
        const Problem p = editor.CheckBeforeSave();
        EXPECT_EQ(p.kind, c.fits ? Problem::None : Problem::NameDoesNotFit) << qPrintable(c.name.left(20));
        if (!c.fits) {
            EXPECT_EQ(editor.CurrentSlot(), 4);
            EXPECT_TRUE(p.message.endsWith("Panel 4"));
        }
    }
}

TEST_F(ConfigEditorTest, SavingRewritesEveryKeyInPlaceAndKeepsTheRestOfTheFile)
{
    folder.write("KV7.ini", "; plant 2\r\n[Other]\r\nKeep=this\r\n\r\n[KV7]\r\nC2-Nm = Caldera \r\nTimeoutError=150\r\n"
                            "C2-On=1\r\n\r\n[Last]\r\nx=1");
    editor.LoadEditor();
    EXPECT_TRUE(editor.slot(2).inUse);
    EXPECT_EQ(editor.slot(2).name, "Caldera");
    EXPECT_EQ(editor.timeoutText(), "150");
    editor.selectSlot(2);
    editor.editName("  Sala 2 ");
    editor.leaveName();
    editor.choosePort(2);
    editor.setAutoSession(true);
    editor.editTimeout("175");
    EXPECT_TRUE(editor.needsLeaveConfirmation(false));
    EXPECT_FALSE(editor.needsLeaveConfirmation(true)); // a forced exit asks nothing
    ASSERT_TRUE(editor.SaveEditor());
    EXPECT_FALSE(editor.Dirty);

    QByteArray added = "AutoSesion=1\r\n";
    for (int n = 1; n <= 16; ++n) {
        if (n != 2)
            added += "C" + QByteArray::number(n) + "-On=0\r\n";
        added += "C" + QByteArray::number(n) + "-Com=" + QByteArray::number(n == 2 ? 3 : n) + "\r\n";
        if (n != 2)
            added += "C" + QByteArray::number(n) + "-Nm=\r\n";
    }
    EXPECT_EQ(folder.read("KV7.ini"), "; plant 2\r\n[Other]\r\nKeep=this\r\n\r\n[KV7]\r\nC2-Nm = Sala 2 \r\n"
                                      "TimeoutError=175\r\nC2-On=1\r\n" +
                                          added + "\r\n[Last]\r\nx=1");
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(ConfigEditorTest, SelectingASlotCountsAsAnEditAndAFailedSaveKeepsTheEdits)
{
    editor.LoadEditor();
    EXPECT_FALSE(editor.needsLeaveConfirmation(false));
    editor.selectSlot(2);
    EXPECT_TRUE(editor.needsLeaveConfirmation(false));

    QDir(folder.path()).mkdir("KV7.ini"); // cannot be read or replaced
    editor.setInUse(2, true);
    EXPECT_FALSE(editor.SaveEditor());
    EXPECT_TRUE(editor.Dirty);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::StandardMessage);
    EXPECT_EQ(dialogs.requests()[0].text, "Error writing to KV7.ini");
}

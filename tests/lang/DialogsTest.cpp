// The message dialog and the about box: what they ask of the dialog seam, and the real windows behind it.
#include "common/AppInfo.h"
#include "dialogs/AboutBox.h"
#include "dialogs/MsgBox.h"
#include "lang/Language.h"
#include "ui/WidgetDialogs.h"

#include "TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The shipped language, and the real windows behind the seam, driven by keys once they are up.
struct DialogsTest : ::testing::Test {
    TempAppFolder folder;
    Dialogs::Handler previous;
    QString seen; // title and text of the last dialog answered
    void SetUp() override
    {
        previous = WidgetDialogs::install();
        folder.installLanguageFile();
        DialogRecorder quiet;
        ASSERT_EQ(Language::LoadLanguageFile(1), Language::LoadResult::Ok);
    }
    void TearDown() override { Dialogs::setHandler(previous); }
    // Answers the next modal dialog with a key (0: its close box) as soon as it shows.
    void answer(int key, int tries = 500)
    {
        QTimer::singleShot(10, [this, key, tries] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w)
                return tries > 0 ? answer(key, tries - 1) : void();
            const QLabel *text = w->findChild<QLabel *>("lblMsg");
            seen = w->windowTitle() + '|' + (text ? text->text() : QString());
            key ? QTest::keyClick(w, Qt::Key(key)) : void(w->close());
        });
    }
};

TEST_F(DialogsTest, MessageDialogAndAboutBoxFollowTheirArgumentsAndTheLanguageAndKeysAnswerTheRealWindows)
{
    const QString ok = GetLangText("&Aceptar"), exit = GetLangText("&Salir"), cancel = GetLangText("&Cancelar");
    ASSERT_NE(ok, "&Aceptar"); // the language's captions, not the designed ones
    struct Case {
        QString message, title;
        std::int16_t icon, defaultButton, buttons;
        QStringList captions, shown;
        int shownIcon, shownDefault, shownEscape;
    } cases[] = {
        {"one\ntwo\r\nthree\rfour", "", 3, 1, 1, {}, {ok}, 3, 0, 0},
        {"m", "t", 2, 2, 1, {"&Si", "&No"}, {"&Si"}, 2, -1, 0}, // the default names a hidden button
        {"m", "t", 1, 1, 3, {}, {ok, exit, exit}, 1, 0, 2},
        {"m", "t", 1, 3, 2, {"", "&No", "x"}, {ok, "&No"}, 1, -1, 1},
        {"m", "t", 7, 1, 0, {}, {}, 1, -1, -1},
        {"m", "t", 2, 1, 4, {}, {}, 2, -1, -1},
    };
    for (const Case &c : cases) {
        DialogRecorder dialogs;
        ShowMessage(c.message, c.title, c.icon, c.defaultButton, c.buttons, c.captions.value(0), c.captions.value(1),
                    c.captions.value(2));
        ASSERT_EQ(dialogs.requests().size(), 1u);
        const Dialogs::Request &r = dialogs.requests()[0];
        EXPECT_EQ(std::make_tuple(r.kind, r.title, r.text, r.buttons, r.icon, r.defaultButton, r.escapeButton),
                  std::make_tuple(Dialogs::Kind::Message, c.title.isEmpty() ? AppInfo::Title : c.title,
                                  QString(c.message == "m" ? "m" : "one\ntwo\nthree\nfour"), c.shown, c.shownIcon,
                                  c.shownDefault, c.shownEscape))
            << c.buttons;
    }
    // The result is the button's number, 0 for a close without a button.
    for (const auto &[button, result] : {std::pair{0, 1}, {1, 2}, {-1, 0}, {2, 0}}) {
        DialogRecorder dialogs([button = button](const Dialogs::Request &) { return Dialogs::Answer{button}; });
        EXPECT_EQ(ShowMessage("Save?", "t", 1, 1, 2), result) << button;
        EXPECT_EQ(MsgBoxResult, result);
    }

    // The real windows: keys and the close box answer them.
    answer(Qt::Key_Return);
    EXPECT_EQ(ShowMessage("line 1\nline 2", "t", 1, 1, 2, ok, cancel), 1);
    EXPECT_EQ(seen, "t|line 1\nline 2");
    answer(Qt::Key_Escape);
    EXPECT_EQ(ShowMessage("Sure?", "t", 1, 1, 2, ok, cancel), 2);
    answer(0);
    EXPECT_EQ(ShowMessage("Sure?", "t", 1, 1, 2, ok, cancel), 0);
    answer(Qt::Key_Return);
    EXPECT_EQ(Dialogs::show({Dialogs::Kind::StandardMessage, "OPC-KV7", "File not found. /x/OPC-KV7.LNG", {}}).button,
              0);
    EXPECT_TRUE(seen.startsWith("OPC-KV7|")) << qPrintable(seen);
    answer(Qt::Key_Escape);
    frmAbout about;
    about.showModal();
    EXPECT_TRUE(seen.startsWith(about.caption + '|')) << qPrintable(seen);

    // The about box, and the designed captions without a language file.
    EXPECT_EQ(about.caption, GetLangText("Acercade") + AppInfo::Title);
    EXPECT_EQ(about.lblVersion, GetLangText("Version") + " " + AppInfo::versionText());
    EXPECT_EQ(about.lblDescription, "OPC Server for Gas Panels\r\r" + AppInfo::companyName());
    DialogRecorder dialogs;
    about.showModal();
    ASSERT_EQ(dialogs.requests().size(), 1u);
    const Dialogs::Request &r = dialogs.requests()[0];
    EXPECT_EQ(std::make_tuple(r.kind, r.title, r.text),
              std::make_tuple(Dialogs::Kind::About, about.caption,
                              "OPC-KV7\n" + about.lblVersion + "\n\nOPC Server for Gas Panels\n\n" +
                                  AppInfo::companyName() + "\n\n" + GetLangText("Disclaimer")));

    QFile::remove(folder.file("OPC-KV7.LNG"));
    ASSERT_EQ(Language::LoadLanguageFile(0), Language::LoadResult::Shipped);
    EXPECT_EQ(frmAbout().caption, "Acerca de OPC-KV7");
    ShowMessage("m", "t", 1, 1, 3);
    EXPECT_EQ(dialogs.requests().back().buttons, QStringList({"&Aceptar", "&Salir", "&Salir"}));
    EXPECT_EQ(dialogs.requests().size(), 2u); // no "no text" message per caption
}

} // namespace

#include "TestSupport.h"
#include "common/AppInfo.h"
#include "dialogs/AboutBox.h"
#include "dialogs/InputBox.h"
#include "dialogs/MsgBox.h"
#include "lang/Language.h"
#include "ui/WidgetDialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The shipped language file in a test's application folder.
void installLanguageFile(const TempAppFolder &folder)
{
    QString dir = qEnvironmentVariable("KV7_SOURCE_DIR");
    if (dir.isEmpty())
        dir = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../..");
    QFile f(dir + QStringLiteral("/data/OPC-KV7.LNG"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    folder.write(QStringLiteral("OPC-KV7.LNG"), f.readAll());
    ASSERT_EQ(Language::LoadLanguageFile(0), Language::LoadResult::Ok);
}

TEST(ReplaceText, ReplacesLeftToRightWithoutRescanning)
{
    EXPECT_EQ(ReplaceText(QStringLiteral("aaa"), QStringLiteral("aa"), QStringLiteral("b")), QStringLiteral("ba"));
    EXPECT_EQ(ReplaceText(QStringLiteral("xAx"), QStringLiteral("x"), QStringLiteral("xx")), QStringLiteral("xxAxx"));
    EXPECT_EQ(ReplaceText(QStringLiteral("Abc"), QStringLiteral("a"), QStringLiteral("z")), QStringLiteral("Abc"));
    EXPECT_EQ(ReplaceText(QStringLiteral("abc"), QString(), QStringLiteral("z")), QStringLiteral("abc"));
}

struct MsgBoxTest : ::testing::Test {
    TempAppFolder folder;
    void SetUp() override { installLanguageFile(folder); }
};

TEST_F(MsgBoxTest, ShortMessagesAreCentredAndLoweredLongOnesNot)
{
    fMsgBox shortBox;
    shortBox.Msgbox1(QString(54, QLatin1Char('x')), QStringLiteral("T"), 1, 1, 1, {}, {}, {});
    EXPECT_TRUE(shortBox.messageCentred());
    EXPECT_EQ(shortBox.messageTop(), 450);
    fMsgBox longBox;
    longBox.Msgbox1(QString(55, QLatin1Char('x')), QStringLiteral("T"), 1, 1, 1, {}, {}, {});
    EXPECT_FALSE(longBox.messageCentred());
    EXPECT_EQ(longBox.messageTop(), 180);
}

TEST_F(MsgBoxTest, EveryLineBreakBecomesCrLfAndEmptyTitleIsTheApplications)
{
    fMsgBox box;
    box.Msgbox1(QStringLiteral("one\ntwo\r\nthree\rfour"), QString(), 3, 1, 1, {}, {}, {});
    EXPECT_EQ(box.message(), QStringLiteral("one\r\ntwo\r\nthree\r\nfour"));
    EXPECT_EQ(box.caption(), AppInfo::Title);
    EXPECT_EQ(box.icon(), fMsgBox::Alert);
}

TEST_F(MsgBoxTest, ButtonsAreCentredWithLanguageCaptions)
{
    fMsgBox one;
    one.Msgbox1(QStringLiteral("m"), QStringLiteral("t"), 2, 2, 1, QStringLiteral("&Aceptar"),
                QStringLiteral("&Cancelar"), {});
    EXPECT_TRUE(one.buttons()[0].visible);
    EXPECT_FALSE(one.buttons()[1].visible);
    EXPECT_EQ(one.buttons()[0].left, (fMsgBox::OuterWidth - fMsgBox::ButtonWidth) / 2);
    EXPECT_EQ(one.cancelButton(), 0);
    EXPECT_EQ(one.defaultButton(), 1); // names the hidden button: Enter presses nothing

    fMsgBox three;
    three.Msgbox1(QStringLiteral("m"), QStringLiteral("t"), 1, 1, 3, {}, {}, {});
    const int first = (fMsgBox::OuterWidth - 3 * fMsgBox::ButtonWidth - 500) / 2;
    EXPECT_EQ(three.buttons()[0].left, first);
    EXPECT_EQ(three.buttons()[2].left, first + 2 * (fMsgBox::ButtonWidth + 250));
    EXPECT_EQ(three.buttons()[0].caption, GetLangText(QStringLiteral("&Aceptar")));
    EXPECT_EQ(three.buttons()[1].caption, GetLangText(QStringLiteral("&Salir")));
    EXPECT_EQ(three.cancelButton(), 2);

    fMsgBox none;
    none.Msgbox1(QStringLiteral("m"), QStringLiteral("t"), 1, 1, 0, {}, {}, {});
    for (const auto &b : none.buttons())
        EXPECT_FALSE(b.visible);
}

TEST_F(MsgBoxTest, ResultIsTheButtonNumberAndZeroWhenClosed)
{
    int answer = 1;
    DialogRecorder dialogs([&](const Dialogs::Request &) { return Dialogs::Answer{answer, {}}; });
    EXPECT_EQ(ShowMessage(QStringLiteral("Save?"), QStringLiteral("t"), 1, 1, 2, QStringLiteral("&Si"),
                          QStringLiteral("&No")),
              2);
    EXPECT_EQ(MsgBoxResult, 2);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].buttons, (QStringList{QStringLiteral("&Si"), QStringLiteral("&No")}));
    EXPECT_EQ(dialogs.requests()[0].escapeButton, 1);
    answer = -1;
    EXPECT_EQ(ShowMessage(QStringLiteral("Save?"), QStringLiteral("t"), 1, 1, 2), 0);
    EXPECT_EQ(MsgBoxResult, 0);
}

TEST_F(MsgBoxTest, InputBoxGivesTextEmptyOrKeepsItsResult)
{
    int button = 0;
    DialogRecorder dialogs([&](const Dialogs::Request &r) {
        return Dialogs::Answer{button, r.defaultInput + QStringLiteral("7")};
    });
    fInputBox box;
    EXPECT_TRUE(InputBoxOpen);
    EXPECT_EQ(box.acceptCaption(), GetLangText(QStringLiteral("&Aceptar")));
    box.text = QStringLiteral("4");
    EXPECT_EQ(box.showModal(), QStringLiteral("47"));
    button = -1; // the close box hides it and leaves the result
    EXPECT_EQ(box.showModal(), QStringLiteral("47"));
    button = 1;
    EXPECT_EQ(box.showModal(), QString());
}

TEST_F(MsgBoxTest, AboutBoxTexts)
{
    frmAbout about;
    EXPECT_EQ(about.caption, GetLangText(QStringLiteral("Acercade")) + QStringLiteral("OPC-KV7"));
    EXPECT_EQ(about.lblVersion, GetLangText(QStringLiteral("Version")) + QLatin1Char(' ') + AppInfo::versionText());
    EXPECT_EQ(about.lblDescription, QStringLiteral("OPC Server for Gas Panels\r\r") + AppInfo::companyName());
    DialogRecorder dialogs;
    about.showModal();
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::About);
    EXPECT_TRUE(dialogs.requests()[0].text.contains(AppInfo::versionText()));
}

// The real windows behind the seam, driven by keys once they are up.
struct WidgetDialogTest : MsgBoxTest {
    Dialogs::Handler previous;
    void SetUp() override
    {
        MsgBoxTest::SetUp();
        previous = WidgetDialogs::install();
    }
    void TearDown() override { Dialogs::setHandler(previous); }

    // Runs `act` on the modal dialog as soon as it shows; gives up after a while.
    static void whenShown(std::function<void(QWidget *)> act)
    {
        auto *timer = new QTimer;
        auto tries = std::make_shared<int>(0);
        QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
            if (QWidget *w = QApplication::activeModalWidget()) {
                timer->stop();
                timer->deleteLater();
                act(w);
            } else if (++*tries > 500) {
                timer->stop();
                timer->deleteLater();
            }
        });
        timer->start(10);
    }
};

TEST_F(WidgetDialogTest, EscapeEnterAndCloseBoxOnTheMessageDialog)
{
    const QString ok = GetLangText(QStringLiteral("&Aceptar")), cancel = GetLangText(QStringLiteral("&Cancelar"));
    whenShown([](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(ShowMessage(QStringLiteral("Sure?"), QStringLiteral("t"), 1, 1, 2, ok, cancel), 2);

    QString shownText;
    whenShown([&](QWidget *w) {
        shownText = w->findChild<QLabel *>(QStringLiteral("lblMsg"))->text();
        QTest::keyClick(w, Qt::Key_Return);
    });
    EXPECT_EQ(ShowMessage(QStringLiteral("line 1\nline 2"), QStringLiteral("t"), 1, 1, 2, ok, cancel), 1);
    EXPECT_EQ(shownText, QStringLiteral("line 1\nline 2"));

    whenShown([](QWidget *w) { w->close(); });
    EXPECT_EQ(ShowMessage(QStringLiteral("Sure?"), QStringLiteral("t"), 1, 1, 2, ok, cancel), 0);
}

TEST_F(WidgetDialogTest, StandardMessageAndAboutBoxAnswerTheirButton)
{
    Dialogs::Request standard;
    standard.kind = Dialogs::Kind::StandardMessage;
    standard.title = QStringLiteral("OPC-KV7");
    standard.text = QStringLiteral("File not found. /x/OPC-KV7.LNG");
    QString shown;
    whenShown([&](QWidget *w) {
        shown = w->windowTitle();
        QTest::keyClick(w, Qt::Key_Return);
    });
    EXPECT_EQ(Dialogs::show(standard).button, 0);
    EXPECT_EQ(shown, QStringLiteral("OPC-KV7"));

    QString aboutTitle;
    whenShown([&](QWidget *w) {
        aboutTitle = w->windowTitle();
        QTest::keyClick(w, Qt::Key_Escape);
    });
    frmAbout about;
    about.showModal();
    EXPECT_EQ(aboutTitle, about.caption);
}

TEST_F(WidgetDialogTest, EnterInTheInputFieldAccepts)
{
    whenShown([](QWidget *w) {
        auto *field = w->findChild<QLineEdit *>(QStringLiteral("txtDato"));
        field->setText(QStringLiteral("typed"));
        QTest::keyClick(field, Qt::Key_Return);
    });
    fInputBox box;
    box.text = QStringLiteral("old");
    EXPECT_EQ(box.showModal(), QStringLiteral("typed"));
}

} // namespace

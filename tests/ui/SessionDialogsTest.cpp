#include "UiFixture.h"
#include "session/OperatorSession.h"
#include "session/PasswordStore.h"
#include "ui/fCambioCodigo.h"
#include "ui/fCodigo.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

struct NullView : SessionView {
    void setControlEnabled(const QString &, bool) override {}
    void setValueLocked(bool) override {}
    void setSessionPanel(const QString &) override {}
};

struct SessionDialogsTest : UiTest {
    NullView view;
    OperatorSession session{view};
    PasswordStore passwords;
    void SetUp() override
    {
        UiTest::SetUp();
        passwords.ReadPasswordFile();
    }
};

} // namespace

TEST_F(SessionDialogsTest, LoginOpensTheSessionOnlyWithThePassword)
{
    const struct {
        const char *typed;
        bool stays, opens;
    } cases[] = {{"   ", true, false}, {"zuq1", false, false}, {" zuq ", false, true}};
    for (const auto &c : cases) {
        fCodigo login(passwords, session);
        login.show();
        EXPECT_EQ(login.windowTitle(), "Init session");
        QLineEdit *box = child<QLineEdit>(login, "txtPassword");
        EXPECT_EQ(box->echoMode(), QLineEdit::Password);
        QTest::keyClicks(box, c.typed);
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(login.isVisible(), c.stays) << c.typed;
        EXPECT_EQ(session.isOpen(), c.opens) << c.typed;
        if (c.stays)
            EXPECT_EQ(login.focusWidget(), box);
    }
    EXPECT_TRUE(dialogs.requests().empty()); // a wrong password shows no dialog
}

TEST_F(SessionDialogsTest, ChangeOfPasswordWalksTheBoxesAndAcceptsMatchingNewOnes)
{
    fCambioCodigo change(passwords);
    change.show();
    QLineEdit *current = child<QLineEdit>(change, "txtPassword");
    QLineEdit *fresh = child<QLineEdit>(change, "txtPasswordNuevo");
    QLineEdit *repeat = child<QLineEdit>(change, "txtPasswordNuevoRep");
    EXPECT_EQ(child<QLabel>(change, "lblPassword(2)")->text(), "Repeat the new password:");
    QTest::keyClicks(current, "zuq");
    QTest::keyClick(current, Qt::Key_Return);
    EXPECT_EQ(change.focusWidget(), fresh);
    QTest::keyClicks(fresh, "abc");
    QTest::keyClick(fresh, Qt::Key_Return);
    EXPECT_EQ(change.focusWidget(), repeat);
    QTest::keyClicks(repeat, "abd");
    QTest::keyClick(repeat, Qt::Key_Return);
    EXPECT_TRUE(change.isVisible());
    EXPECT_TRUE(repeat->text().isEmpty());
    EXPECT_EQ(change.focusWidget(), repeat);

    QTest::keyClicks(repeat, "ABC");
    QTest::mouseClick(child<QPushButton>(change, "cmdAceptar"), Qt::LeftButton);
    EXPECT_FALSE(change.isVisible());
    EXPECT_EQ(folder.read("PUSER.DAT"), "@@@\r\n");
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(SessionDialogsTest, AWrongCurrentPasswordClosesTheDialogWithAMessage)
{
    fCambioCodigo change(passwords);
    change.show();
    QTest::keyClicks(child<QLineEdit>(change, "txtPassword"), "nope");
    QTest::keyClicks(child<QLineEdit>(change, "txtPasswordNuevo"), "abc");
    QTest::keyClicks(child<QLineEdit>(change, "txtPasswordNuevoRep"), "abc");
    QTest::keyClick(child<QLineEdit>(change, "txtPasswordNuevoRep"), Qt::Key_Return);
    EXPECT_FALSE(change.isVisible());
    ASSERT_EQ(dialogs.requests().size(), 1u);
    const Dialogs::Request &r = dialogs.requests()[0];
    EXPECT_EQ(r.text, "Wrong password");
    EXPECT_EQ(r.title, "Change password");
    EXPECT_EQ(r.icon, 3);
    EXPECT_EQ(r.buttons, QStringList{"&OK"});
    EXPECT_TRUE(passwords.accepts("zuq"));
}

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

struct SessionDialogsTest : UiTest, SessionView {
    void setControlEnabled(const QString &, bool) override {}
    void setValueLocked(bool) override {}
    void setSessionPanel(const QString &) override {}
    OperatorSession session{*this};
    PasswordStore passwords;
    void SetUp() override
    {
        UiTest::SetUp();
        passwords.ReadPasswordFile();
    }
    void type(QWidget &dialog, const char *box, const char *text, bool enter = true)
    {
        QTest::keyClicks(child<QLineEdit>(dialog, box), text);
        if (enter)
            QTest::keyClick(child<QLineEdit>(dialog, box), Qt::Key_Return);
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
        type(login, "txtPassword", c.typed);
        EXPECT_EQ(login.isVisible(), c.stays) << c.typed;
        EXPECT_EQ(session.isOpen(), c.opens) << c.typed;
        if (c.stays) {
            EXPECT_EQ(login.focusWidget(), child<QLineEdit>(login, "txtPassword"));
        }
    }
    EXPECT_TRUE(dialogs.requests().empty()); // a wrong password shows no dialog
}

TEST_F(SessionDialogsTest, ChangeOfPasswordWalksTheBoxesAndRefusesAWrongCurrentPassword)
{
    fCambioCodigo wrong(passwords);
    wrong.show();
    type(wrong, "txtPassword", "nope", false);
    type(wrong, "txtPasswordNuevo", "abc", false);
    type(wrong, "txtPasswordNuevoRep", "abc");
    EXPECT_FALSE(wrong.isVisible());
    ASSERT_EQ(dialogs.requests().size(), 1u);
    const Dialogs::Request r = dialogs.requests()[0];
    EXPECT_EQ(r.text, "Wrong password");
    EXPECT_EQ(r.title, "Change password");
    EXPECT_EQ(r.icon, 3);
    EXPECT_EQ(r.buttons, QStringList{"&OK"});

    fCambioCodigo change(passwords);
    change.show();
    EXPECT_EQ(child<QLabel>(change, "lblPassword(2)")->text(), "Repeat the new password:");
    EXPECT_EQ(child<QLineEdit>(change, "txtPasswordNuevo")->echoMode(), QLineEdit::Password);
    type(change, "txtPassword", "zuq");
    EXPECT_EQ(change.focusWidget(), child<QLineEdit>(change, "txtPasswordNuevo"));
    type(change, "txtPasswordNuevo", "abc");
    type(change, "txtPasswordNuevoRep", "abd");
    EXPECT_TRUE(child<QLineEdit>(change, "txtPasswordNuevoRep")->text().isEmpty());
    EXPECT_EQ(change.focusWidget(), child<QLineEdit>(change, "txtPasswordNuevoRep"));
    type(change, "txtPasswordNuevoRep", "ABC", false);
    QTest::mouseClick(child<QPushButton>(change, "cmdAceptar"), Qt::LeftButton);
    EXPECT_FALSE(change.isVisible());
    EXPECT_EQ(folder.read("PUSER.DAT"), "@@@\r\n");
    EXPECT_EQ(dialogs.requests().size(), 1u);
}

#include "ui/PeriodDialogs.h"
#include "UiFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

TEST_F(UiTest, PeriodDialogsAcceptTheirRangeAndRefuseAnythingElse)
{
    frmEditSP sp;
    frmEditMGUP mgup;
    EXPECT_EQ(sp.windowTitle(), "Período de muestreo de Estadísticas");
    EXPECT_EQ(mgup.windowTitle(), "Mínimo periódo de actualización");
    const struct {
        PeriodDialog *dialog;
        const char *typed;
        int kept; // 0: refused
    } cases[] = {
        {&sp, "100", 100},         {&sp, "60000", 60000}, {&sp, "99", 0},      {&sp, "60001", 0},
        {&sp, "abc", 0},           {&sp, "", 0},          {&sp, "150.5", 0},   {&mgup, "10", 10},
        {&mgup, " 60000 ", 60000}, {&mgup, "9", 0},       {&mgup, "60001", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        const bool isSp = c.dialog == &sp;
        sp.setSamplePeriod(1000);
        mgup.setGroupPeriod(50);
        c.dialog->show();
        QLineEdit *field = child<QLineEdit>(*c.dialog, isSp ? "txtSamplePeriod" : "txtGroupPeriod");
        EXPECT_EQ(field->text(), isSp ? "1000" : "50");
        field->setText(c.typed);
        const std::size_t asked = dialogs.requests().size();
        QTest::keyClick(field, Qt::Key_Return); // OK is the default button
        EXPECT_EQ(c.dialog->isVisible(), c.kept == 0);
        EXPECT_EQ(c.dialog->value(), c.kept ? c.kept : isSp ? 1000 : 50);
        if (c.kept)
            continue;
        EXPECT_EQ(field->text(), c.typed); // as typed
        ASSERT_EQ(dialogs.requests().size(), asked + 1);
        const Dialogs::Request &r = dialogs.requests().back();
        EXPECT_EQ(QStringList({r.text, r.title, QString::number(r.icon), r.buttons.join(',')}),
                  QStringList({QStringLiteral("Entrar un valor entre %1 y 60000.").arg(isSp ? 100 : 10),
                               "Valor fuera de rango", "2", "&OK"}));
    }
    sp.show();
    child<QLineEdit>(sp, "txtSamplePeriod")->setText("2000");
    QTest::mouseClick(child<QPushButton>(sp, "cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(sp.isVisible());
    EXPECT_EQ(sp.SamplePeriod(), 1000);
}

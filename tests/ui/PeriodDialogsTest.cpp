#include "ui/PeriodDialogs.h"
#include "UiFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

TEST_F(UiTest, PeriodDialogsAcceptTheirRangeAndRefuseAnythingElse)
{
    const struct {
        bool sample;
        const char *typed;
        int kept; // 0: refused
    } cases[] = {
        {true, "100", 100},        {true, "60000", 60000}, {true, "99", 0},     {true, "60001", 0},
        {true, "abc", 0},          {true, "", 0},          {true, "150.5", 0},  {false, "10", 10},
        {false, " 60000 ", 60000}, {false, "9", 0},        {false, "60001", 0}, {false, "12x", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        std::unique_ptr<PeriodDialog> dialog;
        if (c.sample) {
            auto *sp = new frmEditSP;
            sp->setSamplePeriod(1000);
            EXPECT_EQ(sp->windowTitle(), "Período de muestreo de Estadísticas");
            dialog.reset(sp);
        } else {
            auto *mgup = new frmEditMGUP;
            mgup->setGroupPeriod(50);
            EXPECT_EQ(mgup->windowTitle(), "Mínimo periódo de actualización");
            dialog.reset(mgup);
        }
        dialog->show();
        QLineEdit *field = child<QLineEdit>(*dialog, c.sample ? "txtSamplePeriod" : "txtGroupPeriod");
        EXPECT_EQ(field->text(), c.sample ? "1000" : "50");
        field->setText(c.typed);
        const size_t asked = dialogs.requests().size();
        QTest::keyClick(field, Qt::Key_Return); // OK is the default button
        EXPECT_EQ(dialog->isVisible(), c.kept == 0);
        EXPECT_EQ(dialog->value(), c.kept ? c.kept : (c.sample ? 1000 : 50));
        if (c.kept)
            continue;
        ASSERT_EQ(dialogs.requests().size(), asked + 1);
        const Dialogs::Request &r = dialogs.requests().back();
        EXPECT_EQ(r.text, c.sample ? "Entrar un valor entre 100 y 60000." : "Entrar un valor entre 10 y 60000.");
        EXPECT_EQ(r.title, "Valor fuera de rango");
        EXPECT_EQ(r.icon, 2);
        EXPECT_EQ(r.buttons, QStringList{"&OK"});
        EXPECT_EQ(field->text(), c.typed); // the text stays as typed
    }
}

TEST_F(UiTest, CancelLeavesThePeriodAsItWas)
{
    frmEditSP dialog;
    dialog.setSamplePeriod(1000);
    dialog.show();
    child<QLineEdit>(dialog, "txtSamplePeriod")->setText("2000");
    QTest::mouseClick(child<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.SamplePeriod(), 1000);
}

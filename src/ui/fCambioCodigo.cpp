#include "ui/fCambioCodigo.h"
#include "common/AppInfo.h"
#include "dialogs/MsgBox.h"
#include "lang/LangText.h"
#include "session/PasswordStore.h"
#include "ui/PasswordBox.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

fCambioCodigo::fCambioCodigo(PasswordStore &passwords, QWidget *parent) : QDialog(parent), passwords_(passwords)
{
    setObjectName(QStringLiteral("fCambioCodigo"));
    setModal(true);
    setWindowTitle(LangTextOr(QStringLiteral("CambiarPassword"), QStringLiteral("Change Password")));
    auto *grid = new QGridLayout(this);
    const char *const rows[][3] = {{"txtPassword", "PasswordActual", "Actual Password"},
                                   {"txtPasswordNuevo", "PasswordNuevo", "New Password"},
                                   {"txtPasswordNuevoRep", "RepetirPasswordNuevo", "Repeat New Password"}};
    QLineEdit *boxes[3];
    for (int i = 0; i < 3; ++i) {
        auto *label =
            new QLabel(LangTextOr(QLatin1String(rows[i][1]), QLatin1String(rows[i][2])) + QLatin1Char(':'), this);
        label->setObjectName(QStringLiteral("lblPassword(%1)").arg(i));
        boxes[i] = PasswordBox::make(QLatin1String(rows[i][0]), this);
        label->setBuddy(boxes[i]);
        grid->addWidget(label, i, 0);
        grid->addWidget(boxes[i], i, 1);
    }
    txtPassword_ = boxes[0];
    txtPasswordNuevo_ = boxes[1];
    txtPasswordNuevoRep_ = boxes[2];
    grid->addLayout(PasswordBox::buttons(this, [this] { cmdAceptar_Click(); }), 3, 0, 1, 2);
    // Enter walks down the boxes; in the last one it accepts.
    connect(txtPassword_, &QLineEdit::returnPressed, this, [this] { txtPasswordNuevo_->setFocus(); });
    connect(txtPasswordNuevo_, &QLineEdit::returnPressed, this, [this] { txtPasswordNuevoRep_->setFocus(); });
    connect(txtPasswordNuevoRep_, &QLineEdit::returnPressed, this, &fCambioCodigo::cmdAceptar_Click);
    txtPassword_->setFocus();
}

void fCambioCodigo::cmdAceptar_Click()
{
    const QString title = LangTextOr(QStringLiteral("CambiarPassword"), QStringLiteral("Change Password"));
    const QString ok = LangTextOr(QStringLiteral("&Aceptar"), QStringLiteral("&Aceptar"));
    switch (passwords_.Change(txtPassword_->text(), txtPasswordNuevo_->text(), txtPasswordNuevoRep_->text())) {
    case PasswordStore::ChangeOutcome::WrongCurrent:
        reject();
        ShowMessage(LangTextOr(QStringLiteral("PasswordIncorrecto"), QStringLiteral("Wrong password")), title,
                    fMsgBox::Alert, 1, 1, ok);
        return;
    case PasswordStore::ChangeOutcome::NewEmpty: txtPasswordNuevo_->setFocus(); return;
    case PasswordStore::ChangeOutcome::RepeatEmpty: txtPasswordNuevoRep_->setFocus(); return;
    case PasswordStore::ChangeOutcome::RepeatDiffers:
        txtPasswordNuevoRep_->clear();
        txtPasswordNuevoRep_->setFocus();
        return;
    case PasswordStore::ChangeOutcome::NotUsable:
        ShowMessage(LangTextOr(QStringLiteral("PasswordNoValido"),
                               QStringLiteral("The new password takes 1 to 10 Western European characters.")),
                    title, fMsgBox::Exclamation, 1, 1, ok);
        txtPasswordNuevo_->setFocus();
        return;
    case PasswordStore::ChangeOutcome::Changed: accept(); return;
    }
}

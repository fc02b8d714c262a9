#include "ui/fCodigo.h"
#include "lang/LangText.h"
#include "ui/PasswordBox.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

fCodigo::fCodigo(const PasswordStore &passwords, OperatorSession &session, QWidget *parent)
    : QDialog(parent), passwords_(passwords), session_(session)
{
    setObjectName(QStringLiteral("fCodigo"));
    setModal(true);
    setWindowTitle(LangTextOr(QStringLiteral("IniciarSesion"), QStringLiteral("Init Session")));
    auto *grid = new QGridLayout(this);
    auto *label = new QLabel(QStringLiteral("Password:"), this);
    label->setObjectName(QStringLiteral("lblPassword"));
    txtPassword_ = PasswordBox::make(QStringLiteral("txtPassword"), this);
    label->setBuddy(txtPassword_);
    grid->addWidget(label, 0, 0);
    grid->addWidget(txtPassword_, 0, 1);
    grid->addLayout(PasswordBox::buttons(this, [this] { cmdAceptar_Click(); }), 1, 0, 1, 2);
    connect(txtPassword_, &QLineEdit::returnPressed, this, &fCodigo::cmdAceptar_Click);
    txtPassword_->setFocus();
}

void fCodigo::cmdAceptar_Click()
{
    switch (session_.Login(txtPassword_->text(), passwords_)) {
    case OperatorSession::LoginOutcome::EmptyEntry: txtPassword_->setFocus(); return;
    case OperatorSession::LoginOutcome::Opened: accept(); return;
    case OperatorSession::LoginOutcome::Refused: reject(); return;
    }
}

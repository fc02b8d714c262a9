#pragma once
#include "session/OperatorSession.h"

#include <QDialog>

class PasswordStore;
class QLineEdit;

// The login dialog: the operator password opens a session.
class fCodigo : public QDialog {
    Q_OBJECT
public:
    fCodigo(const PasswordStore &passwords, OperatorSession &session, QWidget *parent = nullptr);

    void cmdAceptar_Click();

private:
    const PasswordStore &passwords_;
    OperatorSession &session_;
    QLineEdit *txtPassword_;
};

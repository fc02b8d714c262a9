#pragma once
#include <QDialog>

class PasswordStore;
class QLineEdit;

// The change-password dialog: the current password, the new one twice.
class fCambioCodigo : public QDialog {
    Q_OBJECT
public:
    explicit fCambioCodigo(PasswordStore &passwords, QWidget *parent = nullptr);

    void cmdAceptar_Click();

private:
    PasswordStore &passwords_;
    QLineEdit *txtPassword_;
    QLineEdit *txtPasswordNuevo_;
    QLineEdit *txtPasswordNuevoRep_;
};

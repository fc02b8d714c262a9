#pragma once
#include <QString>
#include <functional>

class QDialog;
class QHBoxLayout;
class QLineEdit;

// What the two password dialogs share.
namespace PasswordBox {

// A password box: "*" for each character, at most the password's length.
QLineEdit *make(const QString &name, QDialog *dialog);
// The row of cmdAceptar and cmdCancelar. Neither is pressed by Enter: Enter
// belongs to the boxes. Cancel (and Escape) closes the dialog.
QHBoxLayout *buttons(QDialog *dialog, std::function<void()> accept);

} // namespace PasswordBox

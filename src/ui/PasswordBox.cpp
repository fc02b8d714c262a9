#include "ui/PasswordBox.h"
#include "lang/LangText.h"
#include "session/PasswordFile.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace PasswordBox {

QLineEdit *make(const QString &name, QDialog *dialog)
{
    auto *box = new QLineEdit(dialog);
    box->setObjectName(name);
    box->setEchoMode(QLineEdit::Password);
    box->setMaxLength(PasswordFile::MaxLength);
    return box;
}

QHBoxLayout *buttons(QDialog *dialog, std::function<void()> accept)
{
    auto *row = new QHBoxLayout;
    row->addStretch();
    auto add = [&](const char *name, const char *key) {
        auto *button = new QPushButton(LangTextOr(QLatin1String(key), QLatin1String(key)), dialog);
        button->setObjectName(QLatin1String(name));
        button->setAutoDefault(false);
        row->addWidget(button);
        return button;
    };
    QObject::connect(add("cmdAceptar", "&Aceptar"), &QPushButton::clicked, dialog, std::move(accept));
    QObject::connect(add("cmdCancelar", "&Cancelar"), &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}

} // namespace PasswordBox

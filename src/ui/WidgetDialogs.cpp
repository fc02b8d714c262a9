#include "ui/WidgetDialogs.h"
#include "dialogs/MsgBox.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// Button i closes with code ButtonBase + i, so the close box (reject, 0) stays
// distinguishable from every button, the Escape button included.
constexpr int ButtonBase = 100;

class SeamDialog : public QDialog {
public:
    SeamDialog(const Dialogs::Request &request, QWidget *parent) : QDialog(parent), request_(request)
    {
        setWindowTitle(request.title);
        setModal(true);
    }

    // Adds the request's buttons centred in a row.
    QHBoxLayout *addButtons()
    {
        auto *row = new QHBoxLayout;
        row->addStretch();
        QStringList captions = request_.buttons;
        if (captions.isEmpty())
            captions << QStringLiteral("OK");
        for (int i = 0; i < captions.size(); ++i) {
            auto *button = new QPushButton(captions[i], this);
            button->setObjectName(QStringLiteral("cmd%1").arg(i));
            button->setAutoDefault(false);
            button->setDefault(i == request_.defaultButton);
            connect(button, &QPushButton::clicked, this, [this, i] { done(ButtonBase + i); });
            row->addWidget(button);
        }
        row->addStretch();
        return row;
    }

    Dialogs::Answer run()
    {
        const int code = exec();
        Dialogs::Answer answer;
        answer.button = code >= ButtonBase ? code - ButtonBase : -1;
        return answer;
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape) {
            if (request_.escapeButton >= 0)
                done(ButtonBase + request_.escapeButton);
            else
                reject();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    Dialogs::Request request_;
};

QPixmap iconFor(int icon, const QStyle *style)
{
    const QStyle::StandardPixmap which = icon == fMsgBox::Alert         ? QStyle::SP_MessageBoxCritical
                                         : icon == fMsgBox::Exclamation ? QStyle::SP_MessageBoxWarning
                                                                        : QStyle::SP_MessageBoxQuestion;
    return style->standardIcon(which).pixmap(32, 32);
}

Dialogs::Answer showMessage(const Dialogs::Request &request, QWidget *parent)
{
    SeamDialog dialog(request, parent);
    dialog.setObjectName(QStringLiteral("fMsgBox"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *top = new QHBoxLayout;
    auto *image = new QLabel(&dialog);
    image->setObjectName(QStringLiteral("imgInterrogacion"));
    image->setPixmap(iconFor(request.icon, dialog.style()));
    image->setAlignment(Qt::AlignTop);
    auto *text = new QLabel(request.text, &dialog);
    text->setObjectName(QStringLiteral("lblMsg"));
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    text->setMinimumWidth(277); // the design's 4155 twips at 96 DPI
    text->setAlignment(fMsgBox::isShortMessage(request.text) ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
    top->addWidget(image);
    top->addWidget(text, 1);
    layout->addLayout(top);
    layout->addLayout(dialog.addButtons());
    return dialog.run();
}

Dialogs::Answer showAbout(const Dialogs::Request &request, QWidget *parent)
{
    SeamDialog dialog(request, parent);
    dialog.setObjectName(QStringLiteral("frmAbout"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *text = new QLabel(request.text, &dialog);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);
    layout->addLayout(dialog.addButtons());
    return dialog.run();
}

Dialogs::Answer showStandard(const Dialogs::Request &request, QWidget *parent)
{
    QMessageBox box(QMessageBox::Critical, request.title, request.text, QMessageBox::NoButton, parent);
    QStringList captions = request.buttons;
    if (captions.isEmpty())
        captions << QStringLiteral("OK");
    std::vector<QAbstractButton *> buttons;
    for (const QString &caption : captions)
        buttons.push_back(box.addButton(caption, QMessageBox::AcceptRole));
    box.exec();
    Dialogs::Answer answer;
    answer.button = -1;
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            answer.button = int(i);
    return answer;
}

} // namespace

namespace WidgetDialogs {

Dialogs::Answer show(const Dialogs::Request &request)
{
    QWidget *parent = QApplication::activeWindow();
    switch (request.kind) {
    case Dialogs::Kind::Message: return showMessage(request, parent);
    case Dialogs::Kind::About: return showAbout(request, parent);
    case Dialogs::Kind::StandardMessage: break;
    }
    return showStandard(request, parent);
}

Dialogs::Handler install() { return Dialogs::setHandler(&WidgetDialogs::show); }

} // namespace WidgetDialogs

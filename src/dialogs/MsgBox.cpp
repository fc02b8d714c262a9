#include "dialogs/MsgBox.h"
#include "common/AppInfo.h"
#include "dialogs/Dialogs.h"
#include "lang/LangText.h"

std::int16_t MsgBoxResult = 0;

fMsgBox::fMsgBox()
{
    captions_[0] = LangTextOr(QStringLiteral("&Aceptar"), QStringLiteral("&Aceptar"));
    captions_[1] = captions_[2] = LangTextOr(QStringLiteral("&Salir"), QStringLiteral("&Salir"));
    MsgBoxResult = 0;
}

void fMsgBox::Msgbox1(const QString &Message, const QString &Title, std::int16_t Icon, std::int16_t DefaultButton,
                      std::int16_t Buttons, const QString &Caption1, const QString &Caption2, const QString &Caption3)
{
    // CR LF pairs, lone CRs and lone LFs are all one break each.
    message_ = Message;
    message_.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    caption_ = Title.isEmpty() ? AppInfo::Title : Title;
    if (Icon == Exclamation || Icon == Alert)
        icon_ = Icon;
    const QString given[3] = {Caption1, Caption2, Caption3};
    for (int i = 0; i < 3; ++i)
        if (!given[i].isEmpty())
            captions_[i] = given[i];
    visible_ = Buttons >= 1 && Buttons <= 3 ? Buttons : 0;
    defaultButton_ = DefaultButton - 1;
}

std::int16_t fMsgBox::showModal()
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::Message;
    request.title = caption_;
    request.text = message_;
    request.icon = icon_;
    for (int i = 0; i < visible_; ++i)
        request.buttons << captions_[i];
    request.defaultButton = defaultButton_ >= 0 && defaultButton_ < visible_ ? defaultButton_ : -1;
    request.escapeButton = visible_ - 1; // the last button shown; none: Escape just closes
    const Dialogs::Answer answer = Dialogs::show(request);
    MsgBoxResult = answer.button >= 0 && answer.button < visible_ ? std::int16_t(answer.button + 1) : std::int16_t(0);
    return MsgBoxResult;
}

std::int16_t ShowMessage(const QString &message, const QString &title, std::int16_t icon, std::int16_t defaultButton,
                         std::int16_t buttons, const QString &caption1, const QString &caption2,
                         const QString &caption3)
{
    fMsgBox box;
    box.Msgbox1(message, title, icon, defaultButton, buttons, caption1, caption2, caption3);
    return box.showModal();
}

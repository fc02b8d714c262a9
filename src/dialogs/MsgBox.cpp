#include "dialogs/MsgBox.h"
#include "common/AppInfo.h"
#include "dialogs/Dialogs.h"
#include "lang/LangText.h"

std::int16_t MsgBoxResult = 0;

QString ReplaceText(const QString &source, const QString &find, const QString &replacement)
{
    if (find.isEmpty())
        return source;
    QString out;
    out.reserve(source.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = source.indexOf(find, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        out += QStringView(source).mid(from, at - from);
        out += replacement;
        from = at + find.size();
    }
    out += QStringView(source).mid(from);
    return out;
}

fMsgBox::fMsgBox()
{
    // A missing caption key makes the lookup show a message, which loads this
    // dialog again: the nested load keeps the designed captions instead of
    // looking them up forever.
    static int loading = 0;
    buttons_[0].caption = QStringLiteral("&Aceptar");
    buttons_[1].caption = buttons_[2].caption = QStringLiteral("&Salir");
    if (loading == 0) {
        ++loading;
        buttons_[0].caption = LangTextOr(QStringLiteral("&Aceptar"), buttons_[0].caption);
        buttons_[1].caption = buttons_[2].caption = LangTextOr(QStringLiteral("&Salir"), buttons_[1].caption);
        --loading;
    }
    MsgBoxResult = 0;
}

void fMsgBox::Msgbox1(const QString &Message, const QString &Title, std::int16_t Icon, std::int16_t DefaultButton,
                      std::int16_t Buttons, const QString &Caption1, const QString &Caption2, const QString &Caption3)
{
    if (isShortMessage(Message)) {
        messageTop_ = MessageTopShort;
        centred_ = true;
    }
    // Every break becomes CR LF: CR LF pairs, lone CRs and lone LFs alike, so a
    // message written with LF only keeps its lines.
    QString breaks = ReplaceText(Message, QStringLiteral("\r\n"), QStringLiteral("\r"));
    breaks = ReplaceText(breaks, QStringLiteral("\n"), QStringLiteral("\r"));
    message_ = ReplaceText(breaks, QStringLiteral("\r"), QStringLiteral("\r\n"));
    caption_ = Title.isEmpty() ? AppInfo::Title : Title;
    if (Icon == Exclamation || Icon == Alert)
        icon_ = Icon;

    const QString captions[3] = {Caption1, Caption2, Caption3};
    for (int i = 0; i < 3; ++i)
        if (!captions[i].isEmpty())
            buttons_[std::size_t(i)].caption = captions[i];

    const int W = ButtonWidth;
    const int F = OuterWidth;
    if (Buttons >= 1 && Buttons <= 3) {
        int left = (F - Buttons * W - (Buttons - 1) * ButtonGap) / 2;
        for (int i = 0; i < Buttons; ++i) {
            buttons_[std::size_t(i)].left = left;
            buttons_[std::size_t(i)].visible = true;
            left += W + ButtonGap;
        }
        cancelButton_ = Buttons - 1;
    }
    defaultButton_ = DefaultButton - 1;
}

std::int16_t fMsgBox::showModal()
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::Message;
    request.title = caption_;
    // The dialog's own text box shows CR LF as one break; the widgets want LF.
    request.text = ReplaceText(message_, QStringLiteral("\r\n"), QStringLiteral("\n"));
    request.icon = icon_;
    int visible = 0;
    for (const Button &b : buttons_)
        if (b.visible)
            request.buttons << b.caption, ++visible;
    // A default that names a hidden button presses nothing.
    request.defaultButton = defaultButton_ >= 0 && defaultButton_ < visible ? defaultButton_ : -1;
    request.escapeButton = cancelButton_;
    const Dialogs::Answer answer = Dialogs::show(request);
    MsgBoxResult = answer.button >= 0 && answer.button < visible ? std::int16_t(answer.button + 1) : std::int16_t(0);
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

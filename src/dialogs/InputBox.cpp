#include "dialogs/InputBox.h"
#include "dialogs/Dialogs.h"
#include "lang/LangText.h"

bool InputBoxOpen = false;

fInputBox::fInputBox()
    : accept_(LangTextOr(QStringLiteral("&Aceptar"), QStringLiteral("&Aceptar"))),
      cancel_(LangTextOr(QStringLiteral("&Cancelar"), QStringLiteral("&Cancelar")))
{
    InputBoxOpen = true;
}

fInputBox::~fInputBox() { InputBoxOpen = false; }

QString fInputBox::showModal()
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::Input;
    request.title = caption;
    request.text = prompt;
    request.defaultInput = text;
    request.buttons = {accept_, cancel_};
    request.defaultButton = 0;
    request.escapeButton = 1;
    const Dialogs::Answer answer = Dialogs::show(request);
    if (answer.button == 0)
        result_ = answer.input;
    else if (answer.button == 1)
        result_.clear();
    return result_;
}

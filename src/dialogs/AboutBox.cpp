#include "dialogs/AboutBox.h"
#include "common/AppInfo.h"
#include "dialogs/Dialogs.h"
#include "lang/LangText.h"

frmAbout::frmAbout()
{
    caption = LangTextOr(QStringLiteral("Acercade"), QStringLiteral("About ")) + AppInfo::Title;
    lblTitle = AppInfo::Title;
    lblVersion =
        LangTextOr(QStringLiteral("Version"), QStringLiteral("Version")) + QLatin1Char(' ') + AppInfo::versionText();
    lblDescription = AppInfo::fileDescription() + QStringLiteral("\r\r") + AppInfo::companyName();
    lblDisclaimer = LangTextOr(QStringLiteral("Disclaimer"), QString());
    cmdOK = LangTextOr(QStringLiteral("&Aceptar"), QStringLiteral("&Aceptar"));
}

void frmAbout::showModal()
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::About;
    request.title = caption;
    QString description = lblDescription;
    description.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    request.text = lblTitle + QLatin1Char('\n') + lblVersion + QStringLiteral("\n\n") + description +
                   QStringLiteral("\n\n") + lblDisclaimer;
    request.buttons = {cmdOK};
    request.defaultButton = 0;
    request.escapeButton = 0;
    Dialogs::show(request);
}

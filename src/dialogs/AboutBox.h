#pragma once
#include <QString>

// The about box: the program's title, version, description, company and the
// disclaimer, in the operator's language.
class frmAbout {
public:
    frmAbout(); // load: every text looked up

    QString caption, lblTitle, lblVersion, lblDescription, lblDisclaimer, cmdOK;

    // Shows the box modally.
    void showModal();
};

#pragma once
#include "log/Log.h"
#include <QString>
#include <QStringList>
#include <functional>

// Every dialog the program shows opens through this one seam, so a test answers
// it instead of a person and nothing ever blocks on a modal window.
namespace Dialogs {

enum class Kind {
    StandardMessage, // the platform's standard message box (INI write failure, language file errors)
    Message,         // the program's own message dialog fMsgBox
    About,           // the about box
};

struct Request {
    Kind kind = Kind::Message;
    QString title;
    QString text;
    QStringList buttons;   // captions, in order; empty means a single OK
    int icon = 0;          // fMsgBox icon: 2 exclamation, 3 alert, anything else the question mark
    int defaultButton = 0; // index of the button Enter presses; -1 or out of range: none
    int escapeButton = -1; // index of the button Escape presses; -1: Escape closes (answer -1)
};

struct Answer {
    int button = 0; // index into Request::buttons; -1 when cancelled/closed
};

using Handler = std::function<Answer(const Request &)>;

// Installs the handler that shows (or, in tests, answers) every dialog; returns
// the previous one. Without a handler, each request is written to standard error
// and answered with its first button, so a headless server never waits.
Handler setHandler(Handler handler);
Answer show(const Request &request);

// The dialog that shows an operator notice: the platform's message box or the
// program's own message with the alert icon.
Request forNotice(const Log::Notice &notice);

} // namespace Dialogs

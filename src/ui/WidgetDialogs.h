#pragma once
#include "dialogs/Dialogs.h"

// The dialog seam's handler for a screen: each request becomes a real modal
// window (QMessageBox for the platform's standard message, QDialogs for the
// program's own message and about boxes) and the answer is the button
// the operator pressed.
namespace WidgetDialogs {

Dialogs::Answer show(const Dialogs::Request &request);

// Makes `show` the handler of the seam; returns the previous handler.
Dialogs::Handler install();

} // namespace WidgetDialogs

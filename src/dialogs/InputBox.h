#pragma once
#include <QString>

// True while the input dialog is loaded.
extern bool InputBoxOpen;

// The small text-entry dialog. Constructing it is its load; destroying it, its
// unload. Accept gives the text typed, Cancel the empty text, and the close box
// leaves the result as it was.
class fInputBox {
public:
    fInputBox();
    ~fInputBox();
    fInputBox(const fInputBox &) = delete;
    fInputBox &operator=(const fInputBox &) = delete;

    QString caption;
    QString prompt; // lblDesc
    QString text;   // txtDato, the text offered

    // Shows the dialog modally; returns the result text.
    QString showModal();
    const QString &result() const { return result_; }
    const QString &acceptCaption() const { return accept_; }
    const QString &cancelCaption() const { return cancel_; }

private:
    QString accept_, cancel_, result_;
};

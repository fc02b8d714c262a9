#pragma once
#include <QString>
#include <cstdint>

// Number (1 to 3) of the button that closed the message dialog; 0 when it was
// closed otherwise. Reset each time the dialog loads.
extern std::int16_t MsgBoxResult;

// The program's own message dialog. Constructing it is its load: button captions
// from the language texts, MsgBoxResult cleared. Msgbox1 prepares it; showModal
// opens it through the dialog seam and records the pressed button.
class fMsgBox {
public:
    enum Icon { Question = 1, Exclamation = 2, Alert = 3 };

    fMsgBox();

    // Buttons: how many of the three show (1 to 3; any other count shows none).
    // DefaultButton: 1-based; one that names a hidden button presses nothing.
    // Empty captions keep the language's "&Aceptar" / "&Salir".
    void Msgbox1(const QString &Message, const QString &Title, std::int16_t Icon, std::int16_t DefaultButton,
                 std::int16_t Buttons, const QString &Caption1, const QString &Caption2, const QString &Caption3);

    // Shows the prepared dialog modally; returns MsgBoxResult.
    std::int16_t showModal();

    // A short message is shown centred.
    static bool isShortMessage(const QString &message) { return message.size() < 55; }

private:
    QString caption_;
    QString message_;
    int icon_ = Question;
    QString captions_[3];
    int visible_ = 0;
    int defaultButton_ = 0; // 0-based
};

// Prepares and shows one message in a fresh dialog; returns MsgBoxResult.
std::int16_t ShowMessage(const QString &message, const QString &title, std::int16_t icon, std::int16_t defaultButton,
                         std::int16_t buttons, const QString &caption1 = {}, const QString &caption2 = {},
                         const QString &caption3 = {});

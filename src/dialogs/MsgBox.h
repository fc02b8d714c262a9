#pragma once
#include <QString>
#include <array>
#include <cstdint>

// Number (1 to 3) of the button that closed the message dialog; 0 when it was
// closed otherwise. Reset each time the dialog loads.
extern std::int16_t MsgBoxResult;

// The source with every occurrence of `find` replaced, left to right, without
// overlaps, case-sensitive; replaced text is not searched again. An empty `find`
// gives the source unchanged.
QString ReplaceText(const QString &source, const QString &find, const QString &replacement);

// The program's own message dialog. Constructing it is its load: button captions
// from the language texts, MsgBoxResult cleared. Msgbox1 prepares it; showModal
// opens it through the dialog seam and records the pressed button.
class fMsgBox {
public:
    // Design values, twips.
    static constexpr int InnerWidth = 5205;
    static constexpr int OuterWidth = 5295; // inner width plus the fixed dialog border
    static constexpr int ButtonWidth = 1245;
    static constexpr int ButtonGap = 250;
    static constexpr int MessageTopShort = 450;
    static constexpr int MessageTopLong = 180;
    static constexpr int ShortMessageLength = 55;

    enum Icon { Question = 1, Exclamation = 2, Alert = 3 };

    struct Button {
        QString caption;
        bool visible = false;
        int left = 0;
    };

    fMsgBox();

    void Msgbox1(const QString &Message, const QString &Title, std::int16_t Icon, std::int16_t DefaultButton,
                 std::int16_t Buttons, const QString &Caption1, const QString &Caption2, const QString &Caption3);

    // Shows the prepared dialog modally; returns MsgBoxResult.
    std::int16_t showModal();

    // What the dialog shows, for the window and for tests.
    const QString &caption() const { return caption_; }
    const QString &message() const { return message_; }
    int messageTop() const { return messageTop_; }
    bool messageCentred() const { return centred_; }
    int icon() const { return icon_; }
    const std::array<Button, 3> &buttons() const { return buttons_; }
    int defaultButton() const { return defaultButton_; } // 0-based, may name a hidden button
    int cancelButton() const { return cancelButton_; }   // 0-based, -1 none

    // The message of a short message is centred and lowered.
    static bool isShortMessage(const QString &message) { return message.size() < ShortMessageLength; }

private:
    QString caption_;
    QString message_;
    int messageTop_ = MessageTopLong;
    bool centred_ = false;
    int icon_ = Question;
    std::array<Button, 3> buttons_;
    int defaultButton_ = 0;
    int cancelButton_ = -1;
};

// Prepares and shows one message in a fresh dialog; returns MsgBoxResult.
std::int16_t ShowMessage(const QString &message, const QString &title, std::int16_t icon, std::int16_t defaultButton,
                         std::int16_t buttons, const QString &caption1 = {}, const QString &caption2 = {},
                         const QString &caption3 = {});

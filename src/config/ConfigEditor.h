#pragma once
#include <QString>
#include <QStringList>
#include <array>

// The configuration editor's logic (the window fConfTarvolin): the 16 slots of
// the protocol file with their in-use marks, ports and names, the communication
// time-out and the automatic session. It checks the table and writes it; the
// running connections keep theirs until the next start.
class ConfigEditor {
public:
    static constexpr int Slots = 16;
    static constexpr int MinTimeout = 100;
    static constexpr int MaxTimeout = 200;

    struct Slot {
        bool inUse = false;
        QString port; // SlotPort: the port number as text
        QString name; // SlotName
    };

    // Fills the editor from the protocol file (defaults without one), selects the
    // first slot and clears Dirty.
    void LoadEditor();

    // The operator's edits; each one sets Dirty, selecting a slot included.
    void selectSlot(int slot);
    void setInUse(int slot, bool inUse);
    // The port box: entry i is "COM " & i + 1.
    void choosePort(int entry);
    void editName(const QString &text);
    // Leaving the name box: the name loses the blanks around it.
    void leaveName();
    void editTimeout(const QString &text);
    // Leaving the time-out box: below 100 gives 100, above 200 gives 200, and a
    // value in range is written as the whole number the server will read.
    void leaveTimeout();
    void setAutoSession(bool on);

    struct Problem {
        enum Kind { None, NoSlotInUse, PortTwice, NameDoesNotFit } kind = None;
        int slot = 0;    // the slot now selected to correct it
        QString message; // for the message dialog
    };
    // The accept button's checks, first failure wins: some slot in use; no port
    // used by two slots in use (the later one is selected); every name fits the
    // file (one the file would cut or change is never saved).
    Problem CheckBeforeSave();

    // Writes every key into the protocol file at once, other lines kept byte for
    // byte. False (reported, file untouched) when it could not; Dirty then stays.
    bool SaveEditor();

    bool needsLeaveConfirmation(bool exitForced) const { return Dirty && !exitForced; }

    // "Panel n (COM p)".
    QString entryText(int slot) const;
    static QStringList portEntries();
    // The port box entry of the current slot's port, -1 when it has none.
    int portEntry() const;

    const Slot &slot(int n) const { return slots_[std::size_t(n - 1)]; }
    int CurrentSlot() const { return current_; }
    const QString &timeoutText() const { return timeout_; }
    bool autoSession() const { return autoSession_; }
    bool Dirty = false;

    // True when the protocol file holds `value` exactly as given.
    static bool fitsFile(const QString &value);

private:
    Slot &current() { return slots_[std::size_t(current_ - 1)]; }

    std::array<Slot, Slots> slots_{};
    int current_ = 1;
    QString timeout_;
    bool autoSession_ = false;
};

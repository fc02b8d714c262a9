#pragma once
#include <QString>

// The operator password in force (StoredPassword), kept in the password file.
class PasswordStore {
public:
    // Loads the password from the file: the default password on a first start
    // without a file; none at all (locked: no entry is ever accepted) when the
    // file is damaged, which the operator is told. The start-up step, and the
    // read-back after each change.
    void ReadPasswordFile();

    // Makes `password` (in entry form) the one in force and writes the file. A
    // failed write is reported; the new password then holds until the process ends.
    bool Graba_Password(const QString &password);

    // True when the typed text, as an entry, is the password in force.
    bool accepts(const QString &typed) const;

    enum class ChangeOutcome {
        WrongCurrent,  // the dialog closes with the "wrong password" message
        NewEmpty,      // the dialog stays, focus on the new password
        RepeatEmpty,   // the dialog stays, focus on the repeat
        RepeatDiffers, // the dialog stays, repeat cleared and focused
        NotUsable,     // the dialog stays: the file could not hold it or nobody could type it
        Changed,       // stored and written (a failed write has been reported)
    };
    // The change-password dialog's accept button, first check that fails wins.
    ChangeOutcome Change(const QString &current, const QString &newPassword, const QString &repeat);

    const QString &StoredPassword() const { return stored_; }
    bool locked() const { return locked_; }

private:
    QString stored_;
    bool locked_ = true; // until the file has been read
};

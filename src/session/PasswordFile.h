#pragma once
#include <QByteArray>
#include <QString>

// The operator password file "PUSER.DAT" of the application folder: one line
// ended by CR LF holding the password scrambled byte by byte (the Windows-1252
// code of character i, counted from 1, XOR i). The layout is fixed: the files
// installed sites already hold must stay readable, and ours readable by them.
namespace PasswordFile {

inline const QString FileName = QStringLiteral("PUSER.DAT");
// The password boxes take at most this many characters.
constexpr int MaxLength = 10;
// In force while no file exists (a first start).
inline const QString DefaultPassword = QStringLiteral("ZUQ");

QString path();

// Scrambles or unscrambles: the operation is its own inverse.
QByteArray scramble(QByteArrayView bytes);

struct Contents {
    enum class Status { Missing, Sound, Damaged };
    Status status = Status::Missing;
    QString password; // when Sound
    QString problem;  // when Damaged, for the trace
};
// Never throws. Damaged covers a file that exists but cannot be read, has no
// line end, or holds a password no operator could type back.
Contents read(const QString &path);

// Replaces the file atomically, readable and writable by its owner only
// whatever the umask. False when it could not; the old file is then untouched.
bool write(const QString &path, const QString &password);

// An entry as it is compared: blanks around it dropped, upper-cased where the
// upper case exists in Windows-1252, as the ANSI upper-casing of the first
// releases did.
QString normalizeEntry(const QString &typed);
// True when the file can hold the password and an operator can type it again:
// 1 to MaxLength printable Windows-1252 characters, already in entry form.
bool isUsable(const QString &password);

} // namespace PasswordFile

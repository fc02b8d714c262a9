#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

// The INI engine behind the profile calls, with the rules of the Windows profile
// functions that the configuration files were made with:
// - "[name]" opens a section; "key=value" holds a value; blanks around names and
//   values are not part of them; a line starting with ";" is a comment.
// - Section and key names match without regard to letter case; the first section
//   and the first key of a name win.
// - A value in matching single or double quotes is read without them; a read gives
//   at most 254 characters (a buffer of 255 with its NUL).
// - Integer reads follow GetPrivateProfileInt: an empty or missing value gives the
//   default, otherwise the leading integer (blanks, sign, "0x"/"0o"/"0b" prefixes),
//   0 when there is none; beyond the 32-bit range the result saturates.
// - A write creates file, section and key as needed and replaces a value in place;
//   every other byte of the file stays as it was. Text is Windows-1252 and new
//   lines end with CR LF. The file is replaced atomically.
namespace Profile {

// Size of the caller's buffer in the profile calls, NUL included.
constexpr int BufferSize = 255;

// The text of an INI file, parsed into line positions; the bytes are never
// re-formatted, so anything the engine does not change survives byte for byte.
class ProfileText {
public:
    ProfileText() = default;
    explicit ProfileText(QByteArray bytes);

    const QByteArray &bytes() const { return bytes_; }

    // The value as stored (trimmed, quotes kept, not cut); none when the section or
    // the key is missing.
    std::optional<QString> rawValue(const QString &section, const QString &key) const;
    // GetPrivateProfileString with a buffer of bufferSize characters.
    QString getString(const QString &section, const QString &key, const QString &defaultValue,
                      int bufferSize = BufferSize) const;
    // GetPrivateProfileInt.
    std::int32_t getInt(const QString &section, const QString &key, std::int32_t defaultValue) const;
    // WritePrivateProfileString: sets the value, adding section and key if needed.
    void setString(const QString &section, const QString &key, const QString &value);

    // Section names in file order, duplicates included; keys of the first section
    // of that name, in file order.
    QStringList sections() const;
    QStringList keys(const QString &section) const;

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        qsizetype start = 0; // first byte of the line
        qsizetype end = 0;   // end of its content (before CR LF / LF)
        qsizetype next = 0;  // first byte of the next line
        Kind kind = Kind::Other;
        QString name;             // section or key name, trimmed
        qsizetype valueStart = 0; // key lines: the value's bytes, trimmed
        qsizetype valueEnd = 0;
        qsizetype section = -1; // index of the section line that holds this line
    };
    void parse();
    qsizetype findSection(const QString &section) const;
    qsizetype findKey(qsizetype sectionLine, const QString &key) const;

    QByteArray bytes_;
    std::vector<Line> lines_;
};

// The leading integer of a text as GetPrivateProfileInt reads it.
std::int32_t parseProfileInt(const QString &text);

// The file operations: each call sees the file as it is now (a parsed copy is reused
// only while the file is provably unchanged).
QString readString(const QString &path, const QString &section, const QString &key, const QString &defaultValue);
std::int32_t readInt(const QString &path, const QString &section, const QString &key, std::int32_t defaultValue);
// False when the file could not be read or replaced; the file is then as before.
bool writeString(const QString &path, const QString &section, const QString &key, const QString &value);
// Several values in one replacement of the file: all of them or none.
struct Entry {
    QString section, key, value;
};
bool writeStrings(const QString &path, const std::vector<Entry> &entries);

} // namespace Profile

#pragma once
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>

// The operator's language texts, from the language file of the application folder.
namespace Language {

enum class LoadResult {
    Ok,      // from the language file or its fallback file
    Shipped, // neither was usable (reported once): the texts built into the program
    Fatal,   // not even those: a build without its texts
};

// Reads the language file, rebuilding the language list and the texts of the
// language with that index (the application INI file's "Language").
LoadResult LoadLanguageFile(std::int16_t languageIndex);

std::int16_t LanguageIndex();
const QStringList &Languages();

// A language file as read, before anything is shown to the operator.
struct ParsedFile {
    bool valid = false;             // the header declares at least one language
    QStringList languages;          // at most 2
    std::int16_t languageIndex = 0; // the language whose column was read
    QHash<QString, QString> texts;  // by case-folded key
    QStringList duplicateKeys;      // keys met again, in file order, as written there
};

// Parses the bytes of a language file (Windows-1252, lines ended by CR LF, LF or
// CR), reading the texts of the requested language; a file without that language
// gives the texts of its first one. Any bytes at all are accepted.
ParsedFile parseLanguageFile(QByteArrayView bytes, int languageIndex);

// Full paths of the language file and of its fallback.
QString languageFilePath();
QString fallbackLanguageFilePath();

} // namespace Language

// The text of a key in the current language; a missing key shows a message and
// gives "???".
QString GetLangText(const QString &key);

#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>

// The operator's language texts, from the language file of the application folder.
namespace Language {

enum class LoadResult { Ok, Fatal };

// Reads "Language" from the application INI file and the language file, rebuilding
// the language list and the texts. Fatal when neither file can be read or the
// header declares no language (the message has then been shown; the caller ends
// the process).
LoadResult LoadLanguageFile();

std::int16_t LanguageIndex();
const QStringList &Languages();

} // namespace Language

// The text of a key in the current language; a missing key shows a message and
// gives "???".
QString GetLangText(const QString &key);

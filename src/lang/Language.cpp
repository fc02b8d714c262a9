#include "lang/Language.h"
#include "common/AppInfo.h"
#include "common/Cp1252.h"
#include "common/FileRead.h"
#include "log/Log.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct State {
    std::int16_t languageIndex = 0;
    QStringList languages;
    QHash<QString, QString> texts;
};

State &state()
{
    static State s;
    return s;
}

const QString kMissingText = QStringLiteral("???");

// Lines end at CR LF, LF or a lone CR, so a file saved by any editor reads alike.
std::vector<QByteArrayView> splitLines(QByteArrayView bytes)
{
    std::vector<QByteArrayView> lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.push_back(bytes.sliced(start, i - start));
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.push_back(bytes.sliced(start));
    return lines;
}

bool onlySpaces(const QString &line)
{
    return std::all_of(line.begin(), line.end(), [](QChar c) { return c == u' '; });
}

// Language names are trimmed of spaces only, tabs being the separators.
QString trimSpaces(const QString &text)
{
    qsizetype s = 0, e = text.size();
    while (s < e && text[s] == u' ')
        ++s;
    while (e > s && text[e - 1] == u' ')
        --e;
    return text.mid(s, e - s);
}

// A language file that cannot be used is told once, on standard error and in the
// trace, not in a dialog: the program serves on with other texts, and the same
// file is read again whenever the language is applied.
// A repaired file clears it, so a new problem is told again.
void reportFileProblem(const QString &text)
{
    static QString lastReported;
    if (text == lastReported)
        return;
    lastReported = text;
    if (text.isEmpty())
        return;
    Log::LogTraceMessage(text);
    std::fprintf(stderr, "%s: %s\n", qPrintable(AppInfo::Title), qPrintable(text));
    std::fflush(stderr);
}

void showMessage(const QString &text) { Log::NotifyOperator({Log::Notice::Kind::Message, QString(), text}); }

} // namespace

namespace Language {

QString languageFilePath()
{
    return AppInfo::applicationFolder() + QLatin1Char('/') + AppInfo::Title + QStringLiteral(".LNG");
}

QString fallbackLanguageFilePath() { return AppInfo::applicationFolder() + QStringLiteral("/RESOURCES.LNG"); }

const QString shippedLanguageFilePath = QStringLiteral(":/lang/OPC-KV7.LNG");

ParsedFile parseLanguageFile(QByteArrayView bytes, int languageIndex)
{
    ParsedFile parsed;
    const std::vector<QByteArrayView> lines = splitLines(bytes);
    if (lines.empty())
        return parsed;
    const QString header = Cp1252::decode(lines.front());
    if (onlySpaces(header))
        return parsed;

    // The heading column is skipped; a name counts only when a TAB follows it, and
    // the list stops at "Software" or at the second name.
    const QStringList fields = header.split(QLatin1Char('\t'));
    for (qsizetype i = 1; i + 1 < fields.size() && parsed.languages.size() < 2; ++i) {
        const QString name = trimSpaces(fields[i]);
        if (name == QLatin1String("Software"))
            break;
        parsed.languages << name;
    }
    if (parsed.languages.isEmpty())
        return parsed;
    parsed.valid = true;

    // An index that names no language of the file would leave every text "???";
    // the first language is read instead.
    if (languageIndex >= 0 && languageIndex < parsed.languages.size())
        parsed.languageIndex = std::int16_t(languageIndex);
    const qsizetype column = parsed.languageIndex + 1; // 0-based: the key is column 0

    for (std::size_t l = 1; l < lines.size(); ++l) {
        const QByteArrayView raw = lines[l];
        if (!raw.isEmpty() && raw.front() == '*')
            continue;
        const QString line = Cp1252::decode(raw);
        if (onlySpaces(line))
            continue;
        const QStringList record = line.split(QLatin1Char('\t'));
        // A record without this language's field has no text in it: "???", as for
        // an empty field.
        QString text = column < record.size() ? record[column] : QString();
        if (text.isEmpty())
            text = kMissingText;
        const QString folded = record.front().toCaseFolded();
        if (parsed.texts.contains(folded))
            parsed.duplicateKeys << record.front();
        else
            parsed.texts.insert(folded, text);
    }
    return parsed;
}

LoadResult LoadLanguageFile(std::int16_t languageIndex)
{
    State &s = state();
    s.languages.clear();
    s.texts.clear();
    s.languageIndex = languageIndex;

    // The title's file, else the fallback file, else the texts the program was
    // built with: the operator never faces "???" captions for want of a file.
    const QString mainPath = languageFilePath();
    QString path = mainPath;
    QByteArray bytes;
    QString problem;
    if (!readWholeFile(path, bytes)) {
        problem = QStringLiteral("Language file %1 not found").arg(mainPath);
        path = fallbackLanguageFilePath();
        if (!readWholeFile(path, bytes))
            path.clear();
    }
    ParsedFile parsed;
    if (!path.isEmpty()) {
        parsed = parseLanguageFile(bytes, s.languageIndex);
        if (!parsed.valid)
            problem = QStringLiteral("Language file %1 is damaged: its first line names no language").arg(path);
    }
    LoadResult result = LoadResult::Ok;
    if (!parsed.valid) {
        path = shippedLanguageFilePath;
        if (!readWholeFile(path, bytes))
            return LoadResult::Fatal; // a build without its texts: nothing else to serve
        parsed = parseLanguageFile(bytes, s.languageIndex);
        problem += QStringLiteral("; using the texts built into the program");
        result = LoadResult::Shipped;
    } else if (path != mainPath) {
        problem += QStringLiteral("; using ") + path;
    }
    reportFileProblem(problem);
    s.languages = parsed.languages;
    s.languageIndex = parsed.languageIndex;
    s.texts = std::move(parsed.texts);
    for (const QString &key : parsed.duplicateKeys)
        showMessage(QStringLiteral("Duplicated register in ") + path + QLatin1Char('\r') + key);
    return result;
}

std::int16_t LanguageIndex() { return state().languageIndex; }

const QStringList &Languages() { return state().languages; }

} // namespace Language

QString GetLangText(const QString &key)
{
    const auto &texts = state().texts;
    const auto it = texts.constFind(key.toCaseFolded());
    if (it != texts.constEnd())
        return *it;
    showMessage(QStringLiteral("No text found for Key: ") + key);
    return kMissingText;
}

#include "config/ProfileFile.h"
#include "common/Cp1252.h"
#include "common/FileRead.h"
#include "common/FileStamp.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <limits>
#include <sys/stat.h>

namespace {

// The blanks the profile functions trim around names and values (Ctrl-Z included:
// old editors ended files with it).
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1A'; }

bool sameName(const QString &a, const QString &b) { return QString::compare(a, b, Qt::CaseInsensitive) == 0; }

// A name or value must stay on its line: a line break in it would add lines of its
// own to the file (a value could forge a key or a section).
QByteArray lineSafe(const QString &text)
{
    QByteArray bytes = Cp1252::encode(text);
    for (char &c : bytes)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return bytes;
}

QString stripQuotes(const QString &value)
{
    if (value.size() >= 2) {
        const QChar q = value.front();
        if ((q == u'"' || q == u'\'') && value.back() == q)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// What a caller's buffer of bufferSize characters receives: up to the first NUL,
// at most bufferSize - 1 characters.
QString fitBuffer(QString text, int bufferSize)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    text.truncate(std::max(bufferSize - 1, 0));
    return text;
}

bool readFile(const QString &path, QByteArray &bytes, bool &exists)
{
    exists = QFileInfo::exists(path);
    if (!exists)
        return true; // a missing file reads as an empty one
    return readWholeFile(path, bytes);
}

} // namespace

namespace Profile {

ProfileText::ProfileText(QByteArray bytes) : bytes_(std::move(bytes)) { parse(); }

void ProfileText::parse()
{
    lines_.clear();
    const char *d = bytes_.constData();
    const qsizetype size = bytes_.size();
    qsizetype currentSection = -1;
    qsizetype pos = 0;
    // A UTF-8 byte order mark left by an editor is not part of the first line's text.
    if (bytes_.startsWith("\xEF\xBB\xBF"))
        pos = 3;
    while (pos < size) {
        Line line;
        line.start = pos;
        qsizetype nl = bytes_.indexOf('\n', pos);
        if (nl < 0) {
            line.end = line.next = size;
        } else {
            line.end = (nl > pos && d[nl - 1] == '\r') ? nl - 1 : nl;
            line.next = nl + 1;
        }
        qsizetype s = line.start, e = line.end;
        while (s < e && isBlank(d[s]))
            ++s;
        while (e > s && isBlank(d[e - 1]))
            --e;
        line.section = currentSection;
        if (s < e && d[s] == '[') {
            qsizetype close = e - 1;
            while (close > s && d[close] != ']')
                --close;
            if (close > s) {
                qsizetype ns = s + 1, ne = close;
                while (ns < ne && isBlank(d[ns]))
                    ++ns;
                while (ne > ns && isBlank(d[ne - 1]))
                    --ne;
                line.kind = Kind::Section;
                line.name = Cp1252::decode(QByteArrayView(d + ns, ne - ns));
                currentSection = qsizetype(lines_.size());
                line.section = currentSection;
            }
        }
        if (line.kind == Kind::Other && s < e && d[s] != ';') {
            qsizetype eq = s;
            while (eq < e && d[eq] != '=')
                ++eq;
            if (eq < e) {
                qsizetype ke = eq;
                while (ke > s && isBlank(d[ke - 1]))
                    --ke;
                qsizetype vs = eq + 1, ve = line.end;
                while (vs < ve && isBlank(d[vs]))
                    ++vs;
                while (ve > vs && isBlank(d[ve - 1]))
                    --ve;
                line.kind = Kind::Key;
                line.name = Cp1252::decode(QByteArrayView(d + s, ke - s));
                line.valueStart = vs;
                line.valueEnd = ve;
            }
        }
        lines_.push_back(std::move(line));
        pos = lines_.back().next;
    }
}

qsizetype ProfileText::findSection(const QString &section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Kind::Section && sameName(lines_[i].name, section))
            return qsizetype(i);
    return -1;
}

qsizetype ProfileText::findKey(qsizetype sectionLine, const QString &key) const
{
    for (std::size_t i = std::size_t(sectionLine) + 1; i < lines_.size(); ++i) {
        const Line &line = lines_[i];
        if (line.kind == Kind::Section)
            break;
        if (line.kind == Kind::Key && sameName(line.name, key))
            return qsizetype(i);
    }
    return -1;
}

std::optional<QString> ProfileText::rawValue(const QString &section, const QString &key) const
{
    const qsizetype s = findSection(section);
    if (s < 0)
        return std::nullopt;
    const qsizetype k = findKey(s, key);
    if (k < 0)
        return std::nullopt;
    const Line &line = lines_[std::size_t(k)];
    return Cp1252::decode(QByteArrayView(bytes_.constData() + line.valueStart, line.valueEnd - line.valueStart));
}

QString ProfileText::getString(const QString &section, const QString &key, const QString &defaultValue,
                               int bufferSize) const
{
    if (const auto raw = rawValue(section, key))
        return fitBuffer(stripQuotes(*raw), bufferSize);
    // The default loses its trailing blanks, as the profile call does.
    qsizetype n = defaultValue.size();
    while (n > 0 && defaultValue[n - 1] == u' ')
        --n;
    return fitBuffer(defaultValue.left(n), bufferSize);
}

std::int32_t ProfileText::getInt(const QString &section, const QString &key, std::int32_t defaultValue) const
{
    const QString text = getString(section, key, QString());
    return text.isEmpty() ? defaultValue : parseProfileInt(text);
}

void ProfileText::setString(const QString &section, const QString &key, const QString &value)
{
    const QByteArray keyBytes = lineSafe(key);
    const QByteArray valueBytes = lineSafe(value);
    const qsizetype s = findSection(section);
    if (s >= 0) {
        const qsizetype k = findKey(s, key);
        if (k >= 0) {
            const Line &line = lines_[std::size_t(k)];
            bytes_.replace(line.valueStart, line.valueEnd - line.valueStart, valueBytes);
        } else {
            // After the section's last non-blank line, so blank lines that part it
            // from the next section stay where they are.
            std::size_t last = std::size_t(s);
            for (std::size_t i = std::size_t(s) + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
                const Line &line = lines_[i];
                bool blank = true;
                for (qsizetype p = line.start; p < line.end && blank; ++p)
                    blank = isBlank(bytes_[p]);
                if (!blank)
                    last = i;
            }
            const Line &after = lines_[last];
            QByteArray insert;
            if (after.next == after.end) // the file's last line has no line break yet
                insert += "\r\n";
            insert += keyBytes + '=' + valueBytes + "\r\n";
            bytes_.insert(after.next, insert);
        }
    } else {
        if (!bytes_.isEmpty() && !bytes_.endsWith('\n'))
            bytes_ += "\r\n";
        bytes_ += '[' + lineSafe(section) + "]\r\n" + keyBytes + '=' + valueBytes + "\r\n";
    }
    parse();
}

QStringList ProfileText::sections() const
{
    QStringList names;
    for (const Line &line : lines_)
        if (line.kind == Kind::Section)
            names << line.name;
    return names;
}

QStringList ProfileText::keys(const QString &section) const
{
    QStringList names;
    const qsizetype s = findSection(section);
    if (s < 0)
        return names;
    for (std::size_t i = std::size_t(s) + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i)
        if (lines_[i].kind == Kind::Key)
            names << lines_[i].name;
    return names;
}

std::int32_t parseProfileInt(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].unicode() <= u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i + 1 < n && text[i] == u'0') {
        const char16_t p = text[i + 1].unicode();
        base = p == u'x' ? 16 : p == u'o' ? 8 : p == u'b' ? 2 : 10;
        if (base != 10)
            i += 2;
    }
    // Saturate instead of wrapping round as the original call did: a huge port or
    // flag must not come back as some unrelated small number, or as 0.
    constexpr std::uint64_t limit = std::uint64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    std::uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'z')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'Z')
            digit = c - u'A' + 10;
        if (digit < 0 || digit >= base)
            break;
        magnitude = std::min(magnitude * std::uint64_t(base) + std::uint64_t(digit), limit);
    }
    if (negative)
        return magnitude >= limit ? std::numeric_limits<std::int32_t>::min() : -std::int32_t(magnitude);
    return magnitude >= limit ? std::numeric_limits<std::int32_t>::max() : std::int32_t(magnitude);
}

namespace {

struct ParsedFile {
    FileStamp stamp;
    ProfileText text;
};

// A start reads the same two files a hundred times, one key at a time; each read
// still sees the file as it is on disk.
const ProfileText &currentText(const QString &path)
{
    static QHash<QString, ParsedFile> parsed;
    static const ProfileText empty;
    const FileStamp stamp = FileStamp::of(path);
    const auto found = parsed.constFind(path);
    if (found != parsed.cend() && found->stamp.settled && found->stamp == stamp)
        return found->text;
    QByteArray bytes;
    // A missing or unreadable file reads as an empty one: the default. The stamp has
    // told whether there is anything at the path; no second look is needed.
    if (!stamp.exists || !readWholeFile(path, bytes)) {
        parsed.remove(path);
        return empty;
    }
    return parsed.insert(path, ParsedFile{stamp, ProfileText(std::move(bytes))})->text;
}

} // namespace

QString readString(const QString &path, const QString &section, const QString &key, const QString &defaultValue)
{
    return currentText(path).getString(section, key, defaultValue);
}

std::int32_t readInt(const QString &path, const QString &section, const QString &key, std::int32_t defaultValue)
{
    return currentText(path).getInt(section, key, defaultValue);
}

bool writeString(const QString &path, const QString &section, const QString &key, const QString &value)
{
    return writeStrings(path, {{section, key, value}});
}

bool writeStrings(const QString &path, const std::vector<Entry> &entries)
{
    QByteArray bytes;
    bool exists = false;
    // A file that exists but cannot be read is left alone: writing only the new key
    // would throw its other contents away.
    if (!readFile(path, bytes, exists))
        return false;
    ProfileText text(std::move(bytes));
    for (const Entry &e : entries)
        text.setString(e.section, e.key, e.value);
    // Temporary file beside the target, then rename: a crash or a full disk leaves
    // either the old file or the new one, never half of one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // A new file is 0644 whatever the umask (QSaveFile would leave it to the umask); a
    // file that exists keeps its own mode, which QSaveFile carries over.
    if (!exists && ::fchmod(file.handle(), S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) != 0) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    // The explicit flush matters: commit() does not notice a buffered write that
    // fails when the file is closed (a full disk), and would put the cut-short
    // temporary file in place of the good one.
    if (file.write(text.bytes()) != text.bytes().size() || !file.flush()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

} // namespace Profile

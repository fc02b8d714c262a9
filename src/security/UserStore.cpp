#include "security/UserStore.h"
#include "common/AppInfo.h"
#include "common/SecureFiles.h"
#include "security/Crypto.h"

#include <QFile>

namespace Security {

namespace {

const QByteArray Scheme = "pbkdf2-sha256";
constexpr int SaltLength = 16;
constexpr int HashLength = 32;
constexpr int MaxIterations = 100000000;

const QByteArray NewFileHeader = "# OPC-KV7 users of OPC UA UserName logins, one a line:\n"
                                 "#   name:pbkdf2-sha256:iterations:salt:hash   (salt and hash in base64)\n"
                                 "# Change them with opc-kv7 --user-add NAME and opc-kv7 --user-remove NAME.\n";

bool isComment(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    return trimmed.isEmpty() || trimmed.startsWith('#');
}

QString nameOf(const QByteArray &line) { return QString::fromUtf8(line.left(line.indexOf(':'))); }

QByteArray strictBase64(const QByteArray &text)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded : QByteArray();
}

QList<QByteArray> linesOf(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

} // namespace

QString usersFilePath(const QString &applicationFolder)
{
    return applicationFolder + QLatin1Char('/') + AppInfo::Title + QStringLiteral(".users");
}

UserStore::UserStore(QString path) : path_(std::move(path)) {}

void UserStore::refresh()
{
    const FileStamp stamp = FileStamp::of(path_);
    if (stamp_.settled && stamp_ == stamp)
        return;
    stamp_ = stamp;
    users_.clear();
    problems_.clear();
    readable_ = true;
    if (!stamp.exists)
        return;
    QByteArray bytes;
    if (const QString error = Files::readFile(path_, bytes); !error.isEmpty()) {
        readable_ = false;
        problems_ << error;
        return;
    }
    const QList<QByteArray> lines = linesOf(bytes);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isComment(lines[i]))
            continue;
        const QList<QByteArray> fields = lines[i].split(':');
        const QString name = QString::fromUtf8(fields[0]);
        bool numeric = false;
        Entry entry{0, {}, {}};
        if (fields.size() == 5 && fields[1] == Scheme && nameProblem(name).isEmpty())
            entry = {fields[2].toInt(&numeric), strictBase64(fields[3]), strictBase64(fields[4])};
        if (!numeric || entry.iterations < 1 || entry.iterations > MaxIterations || entry.salt.isEmpty() ||
            entry.hash.size() != HashLength) {
            problems_ << QStringLiteral("Line %1 of %2 is damaged and is ignored").arg(i + 1).arg(path_);
            continue;
        }
        users_.emplace(name, std::move(entry)); // the first line of a name counts
    }
}

UserStore::Check UserStore::verify(const QString &name, QByteArrayView password)
{
    refresh();
    if (!readable_)
        return Check::Unreadable;
    const auto found = users_.find(name);
    if (found == users_.end()) {
        // The same work as for a known name, so that the time taken does not tell
        // which names exist.
        Crypto::pbkdf2Sha256(password, QByteArray(SaltLength, '\0'), DefaultIterations, HashLength);
        return Check::UnknownUser;
    }
    const Entry &entry = found->second;
    const QByteArray hash = Crypto::pbkdf2Sha256(password, entry.salt, entry.iterations, HashLength);
    return Crypto::constantTimeEquals(hash, entry.hash) ? Check::Accepted : Check::WrongPassword;
}

bool UserStore::contains(const QString &name)
{
    refresh();
    return users_.count(name) > 0;
}

QString UserStore::setPassword(const QString &name, QByteArrayView password, int iterations)
{
    if (const QString problem = nameProblem(name); !problem.isEmpty())
        return problem;
    if (password.isEmpty())
        return QStringLiteral("The password is empty.");
    if (iterations < 1 || iterations > MaxIterations)
        return QStringLiteral("The iteration count %1 is out of range.").arg(iterations);
    const QByteArray salt = Crypto::randomBytes(SaltLength);
    const QByteArray hash =
        salt.isEmpty() ? QByteArray() : Crypto::pbkdf2Sha256(password, salt, iterations, HashLength);
    if (hash.isEmpty())
        return QStringLiteral("Cannot compute the password hash.");
    return rewrite(name, name.toUtf8() + ':' + Scheme + ':' + QByteArray::number(iterations) + ':' + salt.toBase64() +
                             ':' + hash.toBase64());
}

QString UserStore::remove(const QString &name) { return rewrite(name, {}); }

QString UserStore::rewrite(const QString &name, const QByteArray &newLine)
{
    QByteArray bytes = NewFileHeader;
    if (FileStamp::of(path_).exists)
        if (const QString error = Files::readFile(path_, bytes); !error.isEmpty())
            return error;
    QList<QByteArray> lines = linesOf(bytes);
    qsizetype at = -1;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (!isComment(lines[i]) && nameOf(lines[i]) == name) {
            lines.removeAt(i);
            at = i;
        }
    }
    if (at < 0 && newLine.isEmpty())
        return QStringLiteral("No user \"%1\" in %2.").arg(name, path_);
    if (!newLine.isEmpty())
        lines.insert(at < 0 ? lines.size() : at, newLine);
    return Files::writeFileAtomically(path_, lines.join('\n') + '\n', 0600);
}

QString UserStore::nameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("The user name is empty.");
    if (name.size() > MaxNameLength)
        return QStringLiteral("A user name has at most %1 characters.").arg(MaxNameLength);
    for (const QChar c : name)
        if (c == QLatin1Char(':') || c.category() == QChar::Other_Control)
            return QStringLiteral("A user name cannot contain ':' or control characters.");
    if (name.startsWith(QLatin1Char('#')) || name.front().isSpace() || name.back().isSpace())
        return QStringLiteral("A user name cannot start with '#' nor start or end with a space.");
    return {};
}

} // namespace Security

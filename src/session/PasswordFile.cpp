#include "session/PasswordFile.h"
#include "common/AppInfo.h"
#include "common/Cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <sys/stat.h>

namespace PasswordFile {

QString path() { return AppInfo::applicationFolder() + QLatin1Char('/') + FileName; }

QByteArray scramble(QByteArrayView bytes)
{
    QByteArray out(bytes.data(), bytes.size());
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = char(quint8(out[i]) ^ quint8(i + 1));
    return out;
}

Contents read(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    auto damaged = [](const char *why) {
        return Contents{Contents::Status::Damaged, QString(), QString::fromLatin1(why)};
    };
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return damaged("cannot be read");
    // A sound file is at most 12 bytes; what lies beyond the first line is not ours.
    const QByteArray head = file.read(64);
    qsizetype end = 0;
    while (end < head.size() && head[end] != '\r' && head[end] != '\n')
        ++end;
    if (end == head.size())
        return damaged("no complete line (truncated)");
    const QString password = Cp1252::decode(scramble(QByteArrayView(head).first(end)));
    if (!isUsable(password))
        return damaged("the line holds no password an operator can type");
    return {Contents::Status::Sound, password, QString()};
}

bool write(const QString &path, const QString &password)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray line = scramble(Cp1252::encode(password)) + "\r\n";
    // The temporary file is made private before the password is in it.
    const bool ok = ::fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0 && file.write(line) == line.size() && file.flush();
    if (!ok) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

QString normalizeEntry(const QString &typed)
{
    QString entry = typed.trimmed();
    for (QChar &c : entry) {
        const QChar upper = c.toUpper();
        if (Cp1252::encode(QStringView(&upper, 1)) != "?")
            c = upper;
    }
    return entry;
}

bool isUsable(const QString &password)
{
    if (password.isEmpty() || password.size() > MaxLength || normalizeEntry(password) != password)
        return false;
    for (const QChar c : password)
        if (!c.isPrint())
            return false;
    return Cp1252::decode(Cp1252::encode(password)) == password;
}

} // namespace PasswordFile

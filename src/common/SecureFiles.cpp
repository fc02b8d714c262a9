#include "common/SecureFiles.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {

namespace {

QString problem(const char *what, const QString &path, int error)
{
    return QStringLiteral("%1 %2: %3").arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        done += n > 0 ? n : 0;
    }
    return true;
}

} // namespace

QString readFile(const QString &path, QByteArray &bytes)
{
    // Non-blocking, so that a FIFO in the way cannot stall the server.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return problem("Cannot read", path, errno);
    struct stat info {};
    int error = ::fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    QByteArray content;
    char buffer[65536];
    while (!error) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            content.append(buffer, n);
    }
    ::close(fd);
    if (error)
        return problem("Cannot read", path, error);
    bytes = content;
    return {};
}

QString makeFolder(const QString &path, mode_t mode)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    QString sofar;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        sofar += (i ? QStringLiteral("/") : QString()) + parts[i];
        if (parts[i].isEmpty())
            continue;
        const QByteArray name = QFile::encodeName(sofar);
        if (::mkdir(name.constData(), mode) == 0) {
            if (::chmod(name.constData(), mode) != 0)
                return problem("Cannot create folder", sofar, errno);
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (error != EEXIST)
            return problem("Cannot create folder", sofar, error);
        if (::stat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            return problem("Cannot create folder", sofar, ENOTDIR);
    }
    return {};
}

QString writeFileAtomically(const QString &path, const QByteArray &bytes, mode_t mode)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // created 0600: nobody else reads it meanwhile
    if (fd < 0)
        return problem("Cannot write", path, errno);
    int error = 0;
    if (!writeAll(fd, bytes) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return problem("Cannot write", path, error);
    }
    return {};
}

} // namespace Files

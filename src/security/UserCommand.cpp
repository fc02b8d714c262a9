#include "security/UserCommand.h"
#include "security/UserStore.h"

#include <cerrno>
#include <termios.h>
#include <unistd.h>

namespace Security {

namespace {

const QString AddOption = QStringLiteral("--user-add");
const QString RemoveOption = QStringLiteral("--user-remove");
constexpr qsizetype MaxPasswordLength = 4096;

// Echo stays off while the object lives; the line end still shows, so that the
// next prompt starts on a line of its own. Typed-ahead input is dropped, as it was
// echoed before.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd), active_(::tcgetattr(fd, &saved_) == 0)
    {
        termios quiet = saved_;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = active_ && ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (active_)
            ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_;
};

// One line without its line end; nothing when the input failed, ended before any
// byte came, or the line is too long for a password.
std::optional<QByteArray> readLine(int fd)
{
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n == 0 && line.isEmpty()) || line.size() > MaxPasswordLength)
            return std::nullopt;
        if (n == 0 || c == '\n')
            break;
        line += c;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

std::optional<QByteArray> askTerminal(int fd, const QByteArray &prompt)
{
    const EchoOff quiet(fd);
    if (::write(fd, prompt.constData(), size_t(prompt.size())) != prompt.size())
        return std::nullopt;
    return readLine(fd);
}

int addUser(UserStore &store, const QString &name, int inputFd, QTextStream &out, QTextStream &err)
{
    if (const QString problem = UserStore::nameProblem(name); !problem.isEmpty()) {
        err << problem << Qt::endl;
        return 2;
    }
    std::optional<QByteArray> password;
    if (::isatty(inputFd)) {
        password = askTerminal(inputFd, "Password for " + name.toUtf8() + ": ");
        const std::optional<QByteArray> again = password ? askTerminal(inputFd, "Repeat the password: ") : password;
        if (password && again != password) {
            err << "The passwords do not match; nothing changed." << Qt::endl;
            return 1;
        }
    } else {
        password = readLine(inputFd);
    }
    if (!password || password->isEmpty()) {
        err << "No password given; nothing changed." << Qt::endl;
        return 1;
    }
    const bool existed = store.contains(name);
    if (const QString error = store.setPassword(name, *password); !error.isEmpty()) {
        err << error << Qt::endl;
        return 1;
    }
    if (existed)
        out << QStringLiteral("Password of user \"%1\" changed in %2.").arg(name, store.path()) << Qt::endl;
    else
        out << QStringLiteral("User \"%1\" added to %2.").arg(name, store.path()) << Qt::endl;
    return 0;
}

} // namespace

std::optional<int> runUserCommand(const QStringList &arguments, const QString &usersFile, int inputFd, QTextStream &out,
                                  QTextStream &err)
{
    const qsizetype add = arguments.indexOf(AddOption, 1);
    const qsizetype remove = arguments.indexOf(RemoveOption, 1);
    if (add < 0 && remove < 0)
        return std::nullopt;
    const qsizetype at = add >= 0 ? add : remove;
    if (add >= 0 && remove >= 0) {
        err << AddOption << " and " << RemoveOption << " cannot be given together." << Qt::endl;
        return 2;
    }
    if (at + 1 >= arguments.size()) {
        err << arguments[at] << " needs a user name." << Qt::endl;
        return 2;
    }
    const QString name = arguments[at + 1];
    UserStore store(usersFile);
    if (add >= 0)
        return addUser(store, name, inputFd, out, err);
    if (const QString error = store.remove(name); !error.isEmpty()) {
        err << error << Qt::endl;
        return 1;
    }
    out << QStringLiteral("User \"%1\" removed from %2.").arg(name, store.path()) << Qt::endl;
    return 0;
}

} // namespace Security

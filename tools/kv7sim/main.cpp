// kv7sim: plays gas-detection panels on pseudo-terminals or serial devices.
#include "Options.h"
#include "PanelLine.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

termios rawLine()
{
    termios t{};
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B4800);
    cfsetospeed(&t, B4800);
    return t;
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "kv7sim: %s\n", message.toLocal8Bit().constData());
    if (code == 2)
        std::fprintf(stderr, "Try 'kv7sim --help'.\n");
    return code;
}

bool readScript(const QString &path, QList<QByteArray> &lines, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read script %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray all = file.readAll();
    if (all.endsWith('\n'))
        all.chop(1);
    if (all.isEmpty())
        return true;
    for (QByteArray line : all.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines << line;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString error;
    const std::optional<Options> options = parseOptions(app.arguments().mid(1), error);
    if (!options)
        return fail(error, 2);
    if (options->help) {
        std::fputs(usageText().toLocal8Bit().constData(), stdout);
        return 0;
    }

    QList<QByteArray> script;
    if (!options->scriptFile.isEmpty() && !readScript(options->scriptFile, script, error))
        return fail(error, 1);

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(QStringLiteral("cannot create a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))), 1);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier stopper(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    PanelLine::Setup setup;
    setup.rate = options->rate;
    setup.silentAfter = options->silentAfter;
    setup.script = options->scriptFile.isEmpty() ? nullptr : &script;
    setup.loop = options->loop;

    std::vector<std::unique_ptr<PanelLine>> lines;
    int panel = 1;
    for (int i = 0; i < options->ptyCount; ++i, ++panel) {
        int master = -1, slave = -1;
        char name[256] = {};
        termios t = rawLine();
        if (openpty(&master, &slave, name, &t, nullptr) != 0)
            return fail(
                QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno))),
                1);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        setNonBlocking(master);
        // The slave stays open here too, so the line never hangs up while the
        // server closes and reopens it.
        lines.push_back(std::make_unique<PanelLine>(master, slave, panel, options->seed + unsigned(i), setup));
        std::printf("%s\n", name);
    }
    std::fflush(stdout);

    for (const QString &path : options->devices) {
        const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return fail(QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))),
                        1);
        if (isatty(fd)) {
            termios t = rawLine();
            if (tcsetattr(fd, TCSANOW, &t) != 0) {
                ::close(fd);
                return fail(QStringLiteral("cannot set 4800,n,8,1 on %1: %2")
                                .arg(path, QString::fromLocal8Bit(std::strerror(errno))),
                            1);
            }
        }
        lines.push_back(std::make_unique<PanelLine>(fd, -1, panel++, options->seed + unsigned(lines.size()), setup));
    }

    for (auto &line : lines)
        line->start();
    app.exec();

    std::uint64_t sent = 0, dropped = 0;
    for (const auto &line : lines) {
        sent += line->framesSent();
        dropped += line->framesDropped();
    }
    std::fprintf(stderr, "kv7sim: %llu frames sent, %llu dropped on %zu lines\n", (unsigned long long)sent,
                 (unsigned long long)dropped, lines.size());
    return 0;
}

#include "TestSupport.h"
#include "common/Error.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTimer>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

TempAppFolder::TempAppFolder()
{
    for (auto &[name, old] : saved_)
        if (qEnvironmentVariableIsSet(name))
            old = qgetenv(name);
    QDir(dir_.path()).mkpath(".config");
    qputenv("OPC_KV7_HOME", dir_.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", file(".config").toLocal8Bit());
}

TempAppFolder::~TempAppFolder()
{
    for (const auto &[name, old] : saved_)
        old ? qputenv(name, *old) : qunsetenv(name);
}

void TempAppFolder::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

QByteArray TempAppFolder::read(const QString &name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TempAppFolder::installLanguageFile() const
{
    QFile f(sourceFile("data/OPC-KV7.LNG"));
    if (f.open(QIODevice::ReadOnly))
        write("OPC-KV7.LNG", f.readAll());
}

DialogRecorder::DialogRecorder(std::function<Dialogs::Answer(const Dialogs::Request &)> answer)
{
    previous_ = Dialogs::setHandler([this, answer](const Dialogs::Request &r) {
        requests_.push_back(r);
        return answer ? answer(r) : Dialogs::Answer{};
    });
    previousNotices_ =
        Log::setNoticeListener([this](const Log::Notice &n) { requests_.push_back(Dialogs::forNotice(n)); });
}

DialogRecorder::~DialogRecorder()
{
    Dialogs::setHandler(std::move(previous_));
    Log::setNoticeListener(std::move(previousNotices_));
}

QStringList DialogRecorder::texts() const
{
    QStringList list;
    for (const auto &r : requests_)
        list << r.text;
    return list;
}

bool waitFor(const std::function<bool()> &pred, int timeoutMs)
{
    // A ticking timer wakes the blocked loop, so conditions that raise no event of
    // their own (a child process's output, a kernel buffer) are looked at too.
    QTimer tick;
    tick.start(10);
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void settle()
{
    for (int round = 0; round < 20; ++round)
        QCoreApplication::processEvents();
}

int errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RuntimeError &e) {
        return e.number();
    }
    return 0;
}

QString binDir()
{
    const QString dir = qEnvironmentVariable("KV7_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../bin" : dir;
}

QString sourceFile(const QString &relative)
{
    const QString dir = qEnvironmentVariable("KV7_SOURCE_DIR"); // else run by hand: this file's tree
    return (dir.isEmpty() ? QFileInfo(__FILE__).absolutePath() + "/../.." : dir) + '/' + relative;
}

QJsonObject sourceJson(const QString &relative)
{
    QFile file(sourceFile(relative));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll(), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError)
        << relative.toStdString() << ": " << error.errorString().toStdString();
    return root;
}

PtyPair::PtyPair()
{
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B4800);
    cfsetospeed(&raw, B4800);
    char name[256] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    ::close(master_);
    ::close(slave_);
}

bool PtyPair::write(const QByteArray &bytes)
{
    return ::write(master_, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
}

int PtyPair::waitingOnSlave() const
{
    int n = 0;
    return ::ioctl(slave_, FIONREAD, &n) == 0 ? n : 0;
}

QByteArray PtyPair::readMaster()
{
    QByteArray out;
    char buf[512];
    for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;)
        out.append(buf, n);
    return out;
}

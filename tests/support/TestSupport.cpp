#include "TestSupport.h"
#include "common/Error.h"
#include "log/Log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

TempAppFolder::TempAppFolder()
{
    hadHome_ = qEnvironmentVariableIsSet("OPC_KV7_HOME");
    hadXdg_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    oldHome_ = qgetenv("OPC_KV7_HOME");
    oldXdg_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("OPC_KV7_HOME", dir_.path().toLocal8Bit());
    QDir(dir_.path()).mkpath(QStringLiteral(".config"));
    qputenv("XDG_CONFIG_HOME", (dir_.path() + QStringLiteral("/.config")).toLocal8Bit());
}

TempAppFolder::~TempAppFolder()
{
    if (hadHome_)
        qputenv("OPC_KV7_HOME", oldHome_);
    else
        qunsetenv("OPC_KV7_HOME");
    if (hadXdg_)
        qputenv("XDG_CONFIG_HOME", oldXdg_);
    else
        qunsetenv("XDG_CONFIG_HOME");
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

DialogRecorder::DialogRecorder(std::function<Dialogs::Answer(const Dialogs::Request &)> answer)
    : answer_(std::move(answer))
{
    previous_ = Dialogs::setHandler([this](const Dialogs::Request &r) {
        requests_.push_back(r);
        return answer_ ? answer_(r) : Dialogs::Answer{};
    });
    // Notices the code under test raises are recorded as the dialogs they become.
    previousNotices_ =
        Log::setNoticeListener([this](const Log::Notice &n) { requests_.push_back(Dialogs::forNotice(n)); });
}

DialogRecorder::~DialogRecorder()
{
    Dialogs::setHandler(std::move(previous_));
    Log::setNoticeListener(std::move(previousNotices_));
}

bool waitFor(const std::function<bool()> &pred, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QString binDir()
{
    const QString dir = qEnvironmentVariable("KV7_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../bin") : dir;
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

#include "monitor/FrameLog.h"
#include "common/AppInfo.h"
#include "common/Clock.h"
#include "lang/LangText.h"
#include "log/Log.h"

#include <QDateTime>

FrameLog::FrameLog(const Clock &clock, QString path, qint64 limit)
    : clock_(clock), path_(std::move(path)), limit_(limit), file_(path_)
{
}

QString FrameLog::defaultPath()
{
    return AppInfo::applicationFolder() + QLatin1Char('/') + AppInfo::Protocol.name + QStringLiteral(".log");
}

QString FrameLog::timeStamp(const QDateTime &local) { return local.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss ")); }

bool FrameLog::open()
{
    reported_ = false;
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    report(file_.errorString());
    return false;
}

void FrameLog::close() { file_.close(); }

void FrameLog::write(const QString &entry)
{
    if (!file_.isOpen())
        return;
    // Frames are bytes, one character each: they go back to the file as they came.
    const QByteArray line = (timeStamp(clock_.now().toLocalTime()) + entry).toLatin1() + "\r\n";
    if (file_.size() > 0 && file_.size() + line.size() > limit_ && !rotate())
        return;
    if (file_.write(line) != line.size())
        report(file_.errorString());
}

bool FrameLog::rotate()
{
    file_.close();
    const QString old = path_ + QStringLiteral(".1");
    QFile::remove(old);
    if (!QFile::rename(path_, old) || !file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        // Going on in the full file would let it grow without bound: logging stops.
        file_.close();
        report(QStringLiteral("cannot move it to ") + old);
        return false;
    }
    return true;
}

void FrameLog::report(const QString &what)
{
    if (reported_)
        return;
    reported_ = true;
    Log::NotifyOperator(
        {Log::Notice::Kind::Message, AppInfo::Title,
         LangTextOr(QStringLiteral("NoSePuedeGrabarLog"), QStringLiteral("Cannot write the frame log ")) + path_ +
             QStringLiteral(" (") + what + QLatin1Char(')')});
}

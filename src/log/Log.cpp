#include "log/Log.h"

#include <cstdio>

namespace {
Log::Listener &listener()
{
    static Log::Listener l;
    return l;
}

Log::NoticeListener &noticeListener()
{
    static Log::NoticeListener l;
    return l;
}

Log::Format &standardErrorFormat()
{
    static Log::Format f;
    return f;
}

bool traceRequested()
{
    // Read once: the environment of a running server does not change.
    static const bool enabled = qEnvironmentVariable("OPC_KV7_TRACE") == QLatin1String("1");
    return enabled;
}
} // namespace

namespace Log {

void LogDebugMessage(const QString &message) { LogTraceMessage(QLatin1Char('(') + message + QLatin1Char(')')); }

void ReportEvent(const QString &prompt, const QString &title)
{
    LogDebugMessage(title + QStringLiteral(": ") + prompt);
}

void LogTraceMessage(const QString &message)
{
    if (traceOnStandardError()) {
        const QByteArray line = (standardErrorFormat() ? standardErrorFormat()(message) : message).toUtf8();
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
    }
    if (listener())
        listener()(message);
}

Format setStandardErrorFormat(Format format)
{
    Format previous = std::move(standardErrorFormat());
    standardErrorFormat() = std::move(format);
    return previous;
}

bool traceOnStandardError() { return standardErrorFormat() || traceRequested(); }

Listener setListener(Listener l)
{
    Listener previous = std::move(listener());
    listener() = std::move(l);
    return previous;
}

void NotifyOperator(const Notice &notice)
{
    QString line = notice.text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    LogDebugMessage(notice.title.isEmpty() ? line : notice.title + QStringLiteral(": ") + line);
    if (noticeListener()) {
        noticeListener()(notice);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(notice.title), qPrintable(line));
    std::fflush(stderr);
}

NoticeListener setNoticeListener(NoticeListener l)
{
    NoticeListener previous = std::move(noticeListener());
    noticeListener() = std::move(l);
    return previous;
}

} // namespace Log

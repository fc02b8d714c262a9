#include "ui/Log.h"

#include <cstdio>

namespace {
Log::Listener &listener()
{
    static Log::Listener l;
    return l;
}

bool traceToStandardError()
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
    if (traceToStandardError()) {
        const QByteArray line = message.toUtf8();
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
    }
    if (listener())
        listener()(message);
}

Listener setListener(Listener l)
{
    Listener previous = std::move(listener());
    listener() = std::move(l);
    return previous;
}

} // namespace Log

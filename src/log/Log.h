#pragma once
#include <QString>
#include <functional>

// The program's log calls. They form a chain that ends in LogTraceMessage, the one
// sink of all trace text.
namespace Log {

// Passes "(" + message + ")" to LogTraceMessage.
void LogDebugMessage(const QString &message);
// Passes title + ": " + prompt to LogDebugMessage.
void ReportEvent(const QString &prompt, const QString &title);
// The sink: drops the line, writes it to standard error when OPC_KV7_TRACE is 1 or
// a format is set, and hands it to the listener (the main window's trace pane)
// when one is set.
void LogTraceMessage(const QString &message);

// Every line also goes to standard error, as `format` makes it (a service gives
// each its journal priority); an empty format restores the default. Returns the
// previous one.
using Format = std::function<QString(const QString &line)>;
Format setStandardErrorFormat(Format format);
// True while every line reaches standard error: a caller that would write a
// message there itself leaves it to the trace, so the journal gets it once.
bool traceOnStandardError();

// The listener that receives every line reaching the sink; returns the previous one.
using Listener = std::function<void(const QString &line)>;
Listener setListener(Listener listener);

// A message for the operator from code that must not open a window itself (it
// runs inside a handler, deep in a call): the text goes to the trace at once and
// to the notice listener, which the shell sets to show it once the current event
// is done. Without a listener it is written to standard error.
struct Notice {
    enum class Kind { Standard, Message }; // the platform's message box, or the program's own
    Kind kind = Kind::Message;
    QString title;
    QString text;
};
void NotifyOperator(const Notice &notice);
using NoticeListener = std::function<void(const Notice &notice)>;
NoticeListener setNoticeListener(NoticeListener listener);

} // namespace Log

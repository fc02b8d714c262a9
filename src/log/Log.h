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
// The sink: drops the line, writes it to standard error when OPC_KV7_TRACE is 1,
// and hands it to the listener (the main window's trace pane) when one is set.
void LogTraceMessage(const QString &message);

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

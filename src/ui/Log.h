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

} // namespace Log

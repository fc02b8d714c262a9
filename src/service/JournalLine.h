#pragma once
#include <QString>

// Trace lines on a service's standard error reach the journal; a "<N>" prefix
// gives each its syslog priority, so `journalctl -p warning` shows what an
// operator must act on and the chatter stays at debug.
enum class JournalPriority { Error = 3, Warning = 4, Info = 6, Debug = 7 };

// The priority of one of the program's trace lines:
// - Error: a failed action reported under its "... Error" title; an item that
//   could not be created.
// - Warning: a panel port that does not open or went away; a setting, the
//   language file or an INI write that failed, so a default is used; a client
//   connection broken off for a protocol error.
// - Info: the server's state, operator sessions, OPC UA clients, connections,
//   channels and sessions.
// - Debug: everything else (requests, subscriptions, item traffic).
JournalPriority journalPriority(const QString &traceLine);

// "<N>" and the line, its line breaks turned into blanks so the journal keeps
// it as one entry with that priority.
QString journalLine(const QString &traceLine);

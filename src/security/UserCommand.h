#pragma once
#include <QStringList>
#include <QTextStream>
#include <optional>

namespace Security {

// The command lines that manage the users file, and end the run:
//   opc-kv7 --user-add NAME      sets NAME's password, adding the user if new: read
//                                twice without echo from a terminal, else one line
//                                of the input
//   opc-kv7 --user-remove NAME   removes the user
// Returns the exit status (0 done, 1 refused or failed, 2 a malformed command
// line), with one message on out or err; nothing when the arguments hold neither
// command. Safe while a server uses the same file: it is replaced atomically.
std::optional<int> runUserCommand(const QStringList &arguments, const QString &usersFile, int inputFd, QTextStream &out,
                                  QTextStream &err);

} // namespace Security

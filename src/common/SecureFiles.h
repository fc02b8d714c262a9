#pragma once
#include <QByteArray>
#include <QString>
#include <sys/types.h>

// File access with explicit modes, for keys, certificates, the users file and every
// other file or folder the server creates. Each returns an empty
// string on success, else one message that names the path, for the caller to show.
namespace Files {

// Reads a whole regular file.
QString readFile(const QString &path, QByteArray &bytes);
// Creates the folder and any missing parents with exactly this mode, whatever the
// umask. A folder that exists keeps its mode.
QString makeFolder(const QString &path, mode_t mode);
// Replaces a file through a temporary file in the same folder and a rename: a
// reader (another process included) sees the old file or the new one, never half
// of either. The new file has exactly this mode.
QString writeFileAtomically(const QString &path, const QByteArray &bytes, mode_t mode);

} // namespace Files

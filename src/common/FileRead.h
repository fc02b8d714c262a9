#pragma once
#include <QByteArray>
#include <QString>

// Reads a whole regular file. False when the path is not a regular file or the
// read fails part way, so a caller never mistakes half a file for all of it.
bool readWholeFile(const QString &path, QByteArray &bytes);

#include "common/FileRead.h"

#include <QFile>
#include <QFileInfo>

bool readWholeFile(const QString &path, QByteArray &bytes)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}

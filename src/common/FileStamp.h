#pragma once
#include <QString>
#include <QtGlobal>

// One state of a file on disk. A write, an atomic replacement or a change of mode
// gives another stamp, so a copy read earlier still holds while the stamp is the same;
// but only if the file had settled when it was stamped:
// file times are kept at the kernel's tick (a few milliseconds), and a replacement may
// get the inode another one just freed, so two changes within a tick can leave equal
// stamps. A file whose last change is older than that cannot change again without its
// change time moving.
struct FileStamp {
    bool exists = false; // anything at the path, a folder included
    qint64 device = 0, inode = 0, size = 0, modified = 0, changed = 0;
    bool settled = false; // the last change was well past when the stamp was taken

    static FileStamp of(const QString &path);
    // The same state of the same file; whether it settled is not part of it.
    bool operator==(const FileStamp &o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified == o.modified && changed == o.changed;
    }
};

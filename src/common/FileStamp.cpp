#include "common/FileStamp.h"

#include <QFile>
#include <algorithm>
#include <sys/stat.h>
#include <time.h>

namespace {

// Well past a kernel tick, and past the granularity of any file system we meet.
constexpr qint64 SettledNs = 100'000'000;

qint64 nanoseconds(const timespec &t) { return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

} // namespace

FileStamp FileStamp::of(const QString &path)
{
    // The clock is read first: a change after it cannot carry an older time.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    FileStamp s{true,
                qint64(info.st_dev),
                qint64(info.st_ino),
                qint64(info.st_size),
                nanoseconds(info.st_mtim),
                nanoseconds(info.st_ctim),
                false};
    s.settled = std::max(s.modified, s.changed) <= nanoseconds(now) - SettledNs;
    return s;
}

#pragma once
#include <QFile>
#include <QString>

class Clock;
class QDateTime;

// The frame log "KV7.log" of the application folder: one entry a line, the local
// time stamp "yyyy/mm/dd hh:nn:ss " and the entry's text, ended by CR LF. It is
// appended to and never truncated, but bounded: a line that would take it past
// the limit first moves it to "KV7.log.1" (replacing an older one). A failure to
// open, write or move it is reported once per logging period.
class FrameLog {
public:
    static constexpr qint64 DefaultLimit = 10 * 1024 * 1024;

    FrameLog(const Clock &clock, QString path, qint64 limit = DefaultLimit);
    static QString defaultPath();

    // Opens for appending; false (reported) when it cannot.
    bool open();
    void close();
    bool isOpen() const { return file_.isOpen(); }
    // One entry, stamped now. Written through at once, so a crash loses nothing.
    void write(const QString &entry);

    static QString timeStamp(const QDateTime &local);
    const QString &path() const { return path_; }

private:
    bool rotate();
    void report(const QString &what);

    const Clock &clock_;
    QString path_;
    qint64 limit_;
    QFile file_;
    bool reported_ = false;
};

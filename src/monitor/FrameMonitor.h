#pragma once
#include "common/Clock.h"
#include "monitor/FrameLog.h"

#include <QAbstractListModel>
#include <QByteArrayView>
#include <deque>

// The communications monitor: the frames received from every panel line, the
// last MaxLines of them as a list model, and the frame log. The window fBus
// shows it; the monitor also runs hidden (a debug start collects frames before
// anyone opens the window). BusMonitorOn decides whether frames are taken at all.
class FrameMonitor : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int MaxLines = 500;
    // Directions of VerTramas; any other value shows the text without a prefix.
    enum Direction { Sent = 0, Received = 1, Marker = 2 };
    static const QString StartRegister;
    static const QString StopRegister;

    explicit FrameMonitor(const Clock &clock = Clock::system(), const QString &logPath = FrameLog::defaultPath(),
                          qint64 logLimit = FrameLog::DefaultLimit, QObject *parent = nullptr);

    bool BusMonitorOn() const { return busMonitorOn_; }
    // chkBus, and the debug start.
    void setBusMonitorOn(bool on) { busMonitorOn_ = on; }

    // The window's load (also when the first frame arrives for a hidden monitor):
    // frames are taken and the newest line followed.
    void load();
    // The window's unload and the server's shutdown: frames are no longer taken,
    // logging stops, and the next load starts afresh.
    void unload();
    bool isLoaded() const { return loaded_; }

    // One entry: listed, followed when FollowLast, logged when logging.
    void VerTramas(const QString &trama, int Tipo);
    // A complete line from a panel engine (Latin-1 bytes, CR included).
    void frameReceived(QByteArrayView line) { VerTramas(QString::fromLatin1(line), Received); }

    bool FollowLast() const { return followLast_; }
    void setFollowLast(bool on) { followLast_ = on; }
    // chkLog: opens the log and writes the START REGISTER line, or writes the
    // STOP REGISTER line and closes it.
    void setLogging(bool on);
    bool logging() const { return log_.isOpen(); }
    void clear();

    // For the clipboard: every line followed by CR LF; one line.
    QString allLinesText() const;
    QString lineText(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

signals:
    // The line just listed should be selected and shown (FollowLast).
    void followLine(int row);

private:
    FrameLog log_;
    std::deque<QString> lines_;
    bool busMonitorOn_ = false;
    bool followLast_ = true;
    bool loaded_ = false;
};

#pragma once
#include "common/Clock.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QTimer>
#include <vector>

// The figures the statistics list shows, from whoever holds them: the panel
// lines (the shell) and the OPC UA server. Counters are totals since start; the
// list turns them into rates.
class StatisticsSource {
public:
    struct Line {
        QString name;            // how the list names the line
        quint64 frames = 0;      // complete lines received
        quint64 dropped = 0;     // partial lines discarded as noise
        qint64 lastFrameMs = -1; // Clock::monotonicMs of the last frame, -1 before the first
        bool commError = false;
    };
    struct Server {
        int sessions = 0;
        int subscriptions = 0;
        int monitoredItems = 0;
        quint64 notifications = 0; // sent to clients
    };
    virtual ~StatisticsSource() = default;
    virtual std::vector<Line> lines() const = 0;
    virtual Server server() const = 0;
};

// The statistics list lvStats ("Statistic", "Value"): per panel line its frames
// per second, frames dropped, seconds since the last frame and communication
// error; for the OPC UA server its sessions, subscriptions, monitored items and
// notifications per second. Sampled every StatisticsPeriod.
class StatisticsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Shown for a figure not known yet (a rate before the second sample).
    static const QString Unknown;

    StatisticsModel(const StatisticsSource &source, const Clock &clock = Clock::system(), QObject *parent = nullptr);

    // The sampling period in ms (the toolkit's StatisticsPeriod).
    void setPeriod(int ms) { timer_.setInterval(ms); }
    int period() const { return timer_.interval(); }
    // Samples now and then every period, until stop().
    void start();
    void stop() { timer_.stop(); }
    // One sample: what each tick of the period does.
    void sample();
    // Looks the captions up again in the operator's language.
    void applyLanguage();

    // The figure of a statistic by its caption, for the shell and for tests.
    QString value(const QString &statistic) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        QString statistic, value;
    };
    enum Caption {
        FramesPerSecond,
        FramesDropped,
        SinceLastFrame,
        CommError,
        Sessions,
        Subscriptions,
        MonitoredItems,
        NotificationsPerSecond,
        Yes,
        No,
        StatisticColumn,
        ValueColumn,
        CaptionCount
    };
    QString rate(quint64 count, const quint64 *before, qint64 elapsedMs) const;

    const StatisticsSource &source_;
    const Clock &clock_;
    QTimer timer_;
    std::vector<Row> rows_;
    QString captions_[CaptionCount];
    // The previous sample, for the rates.
    bool sampled_ = false;
    qint64 sampledAtMs_ = 0;
    QHash<QString, quint64> framesBefore_;
    quint64 notificationsBefore_ = 0;
};

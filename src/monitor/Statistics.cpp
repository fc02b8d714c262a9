#include "monitor/Statistics.h"
#include "lang/LangText.h"

#include <QLocale>

const QString StatisticsModel::Unknown = QStringLiteral("-");

StatisticsModel::StatisticsModel(const StatisticsSource &source, const Clock &clock, QObject *parent)
    : QAbstractTableModel(parent), source_(source), clock_(clock)
{
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &StatisticsModel::sample);
    applyLanguage();
}

void StatisticsModel::applyLanguage()
{
    // Looked up here, not at every sample: a key missing from an older language
    // file shows its message once, not once a second.
    static const char *const keys[CaptionCount][2] = {
        {"StatTramasSeg", "Frames per second"},
        {"StatTramasDescartadas", "Frames dropped"},
        {"StatUltimaTrama", "Seconds since the last frame"},
        {"StatErrorCom", "Communication error"},
        {"StatSesiones", "OPC UA sessions"},
        {"StatSuscripciones", "Subscriptions"},
        {"StatElementos", "Monitored items"},
        {"StatNotificacionesSeg", "Notifications per second"},
        {"Si", "Yes"},
        {"No", "No"},
        {"lvStatsEstadistica", "Statistic"},
        {"lvStatsValor", "Value"},
    };
    for (int i = 0; i < CaptionCount; ++i)
        captions_[i] = LangTextOr(QLatin1String(keys[i][0]), QLatin1String(keys[i][1]));
    emit headerDataChanged(Qt::Horizontal, 0, 1);
}

void StatisticsModel::start()
{
    sample();
    timer_.start();
}

QString StatisticsModel::rate(quint64 count, const quint64 *before, qint64 elapsedMs) const
{
    // A counter that went back was restarted: no rate until the next sample.
    if (!before || elapsedMs <= 0 || count < *before)
        return Unknown;
    return QLocale::system().toString(double(count - *before) * 1000.0 / double(elapsedMs), 'f', 1);
}

void StatisticsModel::sample()
{
    const qint64 now = clock_.monotonicMs();
    const qint64 elapsed = now - sampledAtMs_;
    const QLocale locale = QLocale::system();
    std::vector<Row> rows;
    QHash<QString, quint64> frames;

    for (const StatisticsSource::Line &line : source_.lines()) {
        const QString prefix = line.name + QStringLiteral(": ");
        const auto before = framesBefore_.constFind(line.name);
        rows.push_back({prefix + captions_[FramesPerSecond],
                        rate(line.frames, sampled_ && before != framesBefore_.cend() ? &*before : nullptr, elapsed)});
        rows.push_back({prefix + captions_[FramesDropped], locale.toString(line.dropped)});
        rows.push_back(
            {prefix + captions_[SinceLastFrame],
             line.lastFrameMs < 0 ? Unknown : locale.toString(double(now - line.lastFrameMs) / 1000.0, 'f', 1)});
        rows.push_back({prefix + captions_[CommError], captions_[line.commError ? Yes : No]});
        frames.insert(line.name, line.frames);
    }
    const StatisticsSource::Server server = source_.server();
    rows.push_back({captions_[Sessions], locale.toString(server.sessions)});
    rows.push_back({captions_[Subscriptions], locale.toString(server.subscriptions)});
    rows.push_back({captions_[MonitoredItems], locale.toString(server.monitoredItems)});
    rows.push_back({captions_[NotificationsPerSecond],
                    rate(server.notifications, sampled_ ? &notificationsBefore_ : nullptr, elapsed)});

    if (rows.size() == rows_.size()) {
        rows_ = std::move(rows);
        if (!rows_.empty())
            emit dataChanged(index(0, 0), index(int(rows_.size()) - 1, 1));
    } else {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    sampled_ = true;
    sampledAtMs_ = now;
    framesBefore_ = std::move(frames);
    notificationsBefore_ = server.notifications;
}

QString StatisticsModel::value(const QString &statistic) const
{
    for (const Row &row : rows_)
        if (row.statistic == statistic)
            return row.value;
    return {};
}

int StatisticsModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int StatisticsModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 2; }

QVariant StatisticsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || std::size_t(index.row()) >= rows_.size())
        return {};
    const Row &row = rows_[std::size_t(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() == 1)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return index.column() == 0 ? row.statistic : row.value;
}

QVariant StatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 1)
        return {};
    return captions_[section == 0 ? StatisticColumn : ValueColumn];
}

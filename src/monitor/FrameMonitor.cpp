#include "monitor/FrameMonitor.h"

const QString FrameMonitor::StartRegister =
    QStringLiteral("********************* START REGISTER *********************");
const QString FrameMonitor::StopRegister = QStringLiteral("********************* STOP REGISTER *********************");

FrameMonitor::FrameMonitor(const Clock &clock, const QString &logPath, qint64 logLimit, QObject *parent)
    : QAbstractListModel(parent), log_(clock, logPath, logLimit)
{
}

void FrameMonitor::load()
{
    followLast_ = true;
    busMonitorOn_ = true;
    loaded_ = true;
}

void FrameMonitor::unload()
{
    // The STOP REGISTER line goes through VerTramas, so logging stops while
    // frames are still taken.
    setLogging(false);
    busMonitorOn_ = false;
    clear();
    followLast_ = true;
    loaded_ = false;
}

void FrameMonitor::VerTramas(const QString &trama, int Tipo)
{
    if (!busMonitorOn_)
        return;
    if (!loaded_)
        load();
    const QString shown = Tipo == Sent       ? QStringLiteral("TX:>>") + trama
                          : Tipo == Received ? QStringLiteral("RX:<<") + trama
                                             : trama;
    const int row = int(lines_.size());
    beginInsertRows(QModelIndex(), row, row);
    lines_.push_back(shown);
    endInsertRows();
    if (followLast_)
        emit followLine(row);
    if (lines_.size() > std::size_t(MaxLines)) {
        beginRemoveRows(QModelIndex(), 0, 0);
        lines_.pop_front();
        endRemoveRows();
    }
    log_.write(shown);
}

void FrameMonitor::setLogging(bool on)
{
    if (on == log_.isOpen())
        return;
    if (on) {
        if (log_.open())
            VerTramas(StartRegister, Marker);
    } else {
        VerTramas(StopRegister, Marker);
        log_.close();
    }
}

void FrameMonitor::clear()
{
    beginResetModel();
    lines_.clear();
    endResetModel();
}

QString FrameMonitor::allLinesText() const
{
    QString text;
    for (const QString &line : lines_)
        text += line + QStringLiteral("\r\n");
    return text;
}

QString FrameMonitor::lineText(int row) const
{
    return row >= 0 && std::size_t(row) < lines_.size() ? lines_[std::size_t(row)] : QString();
}

int FrameMonitor::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(lines_.size()); }

QVariant FrameMonitor::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return lineText(index.row());
}

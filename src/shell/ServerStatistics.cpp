#include "shell/ServerStatistics.h"
#include "protocol/cTarvolin.h"
#include "shell/PanelConnections.h"
#include "ua/UaServer.h"
#include "ua/UaServerCore.h"

void ServerStatistics::frameReceived(int connection)
{
    if (connection < 0)
        return;
    if (std::size_t(connection) >= counts_.size())
        counts_.resize(std::size_t(connection) + 1);
    Counts &c = counts_[std::size_t(connection)];
    ++c.frames;
    c.lastFrameMs = clock_.monotonicMs();
}

std::vector<StatisticsSource::Line> ServerStatistics::lines() const
{
    std::vector<Line> lines;
    const ConnectionTable &table = connections_.table();
    for (int i = 1; i <= table.ConnectionCount; ++i) {
        const ConnectionRecord &record = table.Connections[std::size_t(i)];
        Line line;
        // Two slots may carry one name; the slot number keeps their rows apart.
        line.name = record.Name.trimmed().isEmpty() ? QStringLiteral("Panel %1").arg(record.Slot)
                                                    : QStringLiteral("%1 (%2)").arg(record.Name).arg(record.Slot);
        if (std::size_t(i) < counts_.size()) {
            line.frames = counts_[std::size_t(i)].frames;
            line.lastFrameMs = counts_[std::size_t(i)].lastFrameMs;
        }
        if (record.Engine) {
            line.dropped = record.Engine->discardedLines();
            line.commError = record.Engine->CommError() != 0;
        }
        lines.push_back(line);
    }
    return lines;
}

StatisticsSource::Server ServerStatistics::server() const
{
    Server s;
    const Ua::ServerCore *core = uaServer_ ? uaServer_->core() : nullptr;
    if (!core)
        return s;
    s.sessions = int(core->sessionCount());
    s.subscriptions = int(core->subscriptionCount());
    s.monitoredItems = int(core->monitoredItemCount());
    s.notifications = core->notificationsSent();
    return s;
}

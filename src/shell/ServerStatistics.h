#pragma once
#include "common/Clock.h"
#include "monitor/Statistics.h"

#include <vector>

class PanelConnections;
class UaServer;

// The statistics list's figures from the running server: the frames and the
// last-frame time of each panel line (counted here, as the lines deliver them),
// each engine's discarded lines and link state, and the OPC UA server's counts.
class ServerStatistics : public StatisticsSource {
public:
    ServerStatistics(const PanelConnections &connections, const Clock &clock = Clock::system())
        : connections_(connections), clock_(clock)
    {
    }

    // The OPC UA server once it exists; none before.
    void setUaServer(const UaServer *server) { uaServer_ = server; }
    // A complete line from panel connection `connection`.
    void frameReceived(int connection);

    std::vector<Line> lines() const override;
    Server server() const override;

private:
    struct Counts {
        quint64 frames = 0;
        qint64 lastFrameMs = -1;
    };
    const PanelConnections &connections_;
    const Clock &clock_;
    const UaServer *uaServer_ = nullptr;
    std::vector<Counts> counts_; // by connection index
};

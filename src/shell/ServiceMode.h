#pragma once
#include "shell/StandInView.h"
#include "shell/MainOPC.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

class ServiceNotifier;

// The server as a Linux service (`--service`): MainOPC on a core application, no
// window. systemd hears READY=1 once the OPC UA listener is up, a STATUS= line
// when the lines in error or the clients change, the watchdog pings and
// STOPPING=1; every trace line goes to standard error with its journal priority,
// and a status line of the last minute is traced every minute.
class ServiceMode : public QObject {
    Q_OBJECT
public:
    static constexpr int StatusLineIntervalMs = 60000;

    ServiceMode();
    ~ServiceMode() override;

    // The start-up, then READY=1 and the status timers once it is serving.
    MainOPC::LoadResult start(const QStringList &arguments);
    // The whole run on the running QCoreApplication; the process's exit status.
    int run(const QStringList &arguments);
    MainOPC &server() { return *server_; }

    // "Service status: ..." of the frames each line received since the last one,
    // the lines in communication error, the OPC UA sessions and subscriptions.
    QString statusLine();

private:
    void notifyStatus();
    // STOPPING=1, once, as the close begins (a signal) or ends (any other close).
    void stop();
    int linesInError();

    StandInView view_;
    std::unique_ptr<MainOPC> server_;
    std::unique_ptr<ServiceNotifier> notifier_;
    QTimer statusTimer_;
    QTimer statusLineTimer_;
    bool stopping_ = false;
    std::vector<std::uint64_t> framesBefore_; // per connection, at the last status line
};

// True when the command line asks for the service mode.
bool serviceRequested(int argc, char **argv);

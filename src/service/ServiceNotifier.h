#pragma once
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

// What the server tells systemd when it runs as a Type=notify service: that it is
// ready, a one-line status for `systemctl status`, and the watchdog pings. The
// pings come from a timer on the event loop, so a loop that hangs stops them and
// systemd restarts the service. Without NOTIFY_SOCKET (not started by systemd)
// every call does nothing.
class ServiceNotifier : public QObject {
    Q_OBJECT
public:
    explicit ServiceNotifier(QObject *parent = nullptr);

    // READY=1: the caller sends it once the OPC UA listener is up.
    void ready();
    // STATUS=: the panel lines, how many are in communication error, and the
    // clients connected. Sent only when the text changes, so a caller may report
    // on every tick.
    void setStatus(int panelLines, int linesInError, int clients);
    // STOPPING=1: the close has begun.
    void stopping();

    // Half the interval systemd asked for; zero when it asked for no watchdog.
    std::chrono::milliseconds watchdogInterval() const;

private:
    QTimer watchdog_;
    QString status_;
};

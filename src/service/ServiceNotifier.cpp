#include "service/ServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>

namespace {

void notify(const QByteArray &state)
{
    // The environment stays set: the server notifies for as long as it runs.
    sd_notify(0, state.constData());
}

QString count(int n, const char *one, const char *many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

QString statusText(int panelLines, int linesInError, int clients)
{
    return count(panelLines, "panel line", "panel lines") + QStringLiteral(", ") + QString::number(linesInError) +
           QStringLiteral(" in communication error, ") + count(clients, "client", "clients") +
           QStringLiteral(" connected");
}

} // namespace

ServiceNotifier::ServiceNotifier(QObject *parent) : QObject(parent)
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    // Two pings per interval: one late event does not cost a restart.
    const auto half = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(usec / 2));
    watchdog_.setInterval(std::max(half, std::chrono::milliseconds(1)));
    connect(&watchdog_, &QTimer::timeout, this, [] { notify("WATCHDOG=1"); });
    watchdog_.start();
}

void ServiceNotifier::ready() { notify("READY=1"); }

void ServiceNotifier::stopping() { notify("STOPPING=1"); }

void ServiceNotifier::setStatus(int panelLines, int linesInError, int clients)
{
    const QString text = statusText(panelLines, linesInError, clients);
    if (text == status_)
        return;
    status_ = text;
    notify("STATUS=" + text.toUtf8());
}

std::chrono::milliseconds ServiceNotifier::watchdogInterval() const
{
    return watchdog_.isActive() ? watchdog_.intervalAsDuration() : std::chrono::milliseconds(0);
}

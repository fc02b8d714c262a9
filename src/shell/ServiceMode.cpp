#include "shell/ServiceMode.h"
#include "common/AppInfo.h"
#include "dialogs/Dialogs.h"
#include "log/Log.h"
#include "protocol/cTarvolin.h"
#include "service/JournalLine.h"
#include "service/ServiceNotifier.h"
#include "shell/PanelConnections.h"
#include "shell/SignalClose.h"
#include "shell/TerminationSignals.h"
#include "ua/UaServer.h"
#include "ua/UaServerCore.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

ServiceMode::ServiceMode()
{
    Log::setStandardErrorFormat(journalLine);
    // Nobody could answer a dialog: its text is a warning in the journal.
    Dialogs::setHandler([](const Dialogs::Request &request) {
        QString text = request.title + QStringLiteral(": ") + request.text;
        text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        std::fprintf(stderr, "<%d>%s\n", int(JournalPriority::Warning), qPrintable(text));
        std::fflush(stderr);
        return Dialogs::Answer{};
    });
    server_ = std::make_unique<MainOPC>(view_);
    notifier_ = std::make_unique<ServiceNotifier>();
    statusTimer_.setInterval(1000);
    connect(&statusTimer_, &QTimer::timeout, this, &ServiceMode::notifyStatus);
    statusLineTimer_.setInterval(StatusLineIntervalMs);
    connect(&statusLineTimer_, &QTimer::timeout, this, [this] { Log::LogDebugMessage(statusLine()); });
}

ServiceMode::~ServiceMode()
{
    server_.reset();
    Dialogs::setHandler(nullptr);
    Log::setStandardErrorFormat(nullptr);
}

MainOPC::LoadResult ServiceMode::start(const QStringList &arguments)
{
    connect(
        server_.get(), &MainOPC::unloaded, this,
        [this] {
            stop();
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
    const MainOPC::LoadResult result = server_->Form_Load(arguments);
    if (result != MainOPC::LoadResult::Running)
        return result;
    // Form_Load has bound the listener: clients can connect from now on.
    notifier_->ready();
    notifyStatus();
    statusTimer_.start();
    statusLineTimer_.start();
    return result;
}

int ServiceMode::run(const QStringList &arguments)
{
    switch (start(arguments)) {
    case MainOPC::LoadResult::SecondInstance:
    case MainOPC::LoadResult::Registered: return 0;
    case MainOPC::LoadResult::Failed: return 1; // the trace has the reason
    case MainOPC::LoadResult::Running: break;
    }
    TerminationSignals terminations;
    closeOnSignals(terminations, *server_, [this] { stop(); });
    if (const OPCFrontEnd *frontEnd = server_->server().frontEnd()) {
        std::printf("Serving OPC UA at %s\n", qPrintable(frontEnd->endpointUrl()));
        std::fflush(stdout);
    }
    return QCoreApplication::exec();
}

void ServiceMode::stop()
{
    if (stopping_)
        return;
    stopping_ = true;
    statusTimer_.stop();
    statusLineTimer_.stop();
    notifier_->stopping();
}

int ServiceMode::linesInError()
{
    const ConnectionTable &table = server_->connections().table();
    int n = 0;
    for (int i = 1; i <= table.ConnectionCount; ++i) {
        const cTarvolin *engine = table.Connections[std::size_t(i)].Engine;
        if (engine && engine->CommError() != 0)
            ++n;
    }
    return n;
}

void ServiceMode::notifyStatus()
{
    notifier_->setStatus(server_->connections().table().ConnectionCount, linesInError(), server_->ClientCount);
}

QString ServiceMode::statusLine()
{
    const ConnectionTable &table = server_->connections().table();
    framesBefore_.resize(std::size_t(table.ConnectionCount) + 1, 0);
    QStringList frames;
    for (int i = 1; i <= table.ConnectionCount; ++i) {
        const cTarvolin *engine = table.Connections[std::size_t(i)].Engine;
        const std::uint64_t now = engine ? engine->frames() : 0;
        frames << QStringLiteral("C%1 %2").arg(i, 2, 10, QLatin1Char('0')).arg(now - framesBefore_[std::size_t(i)]);
        framesBefore_[std::size_t(i)] = now;
    }
    const Ua::ServerCore *core = server_->uaServer() ? server_->uaServer()->core() : nullptr;
    return QStringLiteral("Service status: frames %1; %2 in communication error; %3 sessions, %4 subscriptions")
        .arg(frames.isEmpty() ? QStringLiteral("none") : frames.join(QStringLiteral(", ")))
        .arg(linesInError())
        .arg(core ? core->sessionCount() : 0)
        .arg(core ? core->subscriptionCount() : 0);
}

bool serviceRequested(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--service") == 0)
            return true;
    return false;
}

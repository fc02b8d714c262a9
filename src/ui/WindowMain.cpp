// The server with its main window: the entry of the window module, which main()
// loads unless the server runs as a service, so a service maps no widget library.
#include "common/AppInfo.h"
#include "common/EpollEventDispatcher.h"
#include "log/Log.h"
#include "shell/MainOPC.h"
#include "shell/SignalClose.h"
#include "shell/TerminationSignals.h"
#include "ui/WidgetDialogs.h"
#include "ui/WindowedServer.h"

#include <QApplication>
#include <cstdio>
#include <qpa/qwindowsysteminterface.h>

namespace {

// Without a display the server runs just the same on the offscreen platform.
bool chooseHeadlessPlatform()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    return false;
}

// Headless, the window runs on the service's event loop: Qt's own polls every serial
// line and socket on each of the hundreds of wake-ups a second that the panels bring.
// A display keeps Qt's, which also reads the display connection (xcb does that in its
// own dispatcher). The offscreen platform queues its few window events (expose,
// activation) like any other and needs them delivered each turn, as Qt's does.
void useServiceEventLoop()
{
    if (EpollEventDispatcher *dispatcher = EpollEventDispatcher::create()) {
        dispatcher->setEachTurn(&QWindowSystemInterface::sendWindowSystemEvents);
        QCoreApplication::setEventDispatcher(dispatcher);
    }
}

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform's notes about what it cannot do (raise a window, hint
// a size) and the runtime folder notice say nothing to a service's operator.
void headlessMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtCriticalMsg && type != QtFatalMsg &&
        (message.startsWith(QLatin1String("This plugin does not support")) ||
         message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))))
        return;
    defaultHandler(type, context, message);
}

} // namespace

extern "C" int opcKv7WindowMain(int argc, char **argv)
{
    const bool headless = chooseHeadlessPlatform();
    if (headless) {
        defaultHandler = qInstallMessageHandler(headlessMessages);
        useServiceEventLoop();
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::Title);
    QApplication::setApplicationVersion(AppInfo::versionText());
    // The window may stay hidden (a server launched for a client): the process
    // ends when the shutdown is complete, not when a window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    // On a screen every dialog is a real window; headless, nobody could answer
    // one, so the seam writes each message to standard error instead.
    if (!headless)
        WidgetDialogs::install();

    WindowedServer windowed;
    MainOPC &server = windowed.logic();
    QObject::connect(
        &server, &MainOPC::unloaded, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

    switch (server.Form_Load(QApplication::arguments())) {
    case MainOPC::LoadResult::SecondInstance:
    case MainOPC::LoadResult::Registered: return 0;
    case MainOPC::LoadResult::Failed: {
        const QString line = QStringLiteral("Startup Error: ") + server.startupError();
        if (!Log::traceOnStandardError())
            std::fprintf(stderr, "%s: %s\n", qPrintable(AppInfo::Title), qPrintable(line));
        if (!headless) {
            Dialogs::Request request;
            request.kind = Dialogs::Kind::StandardMessage;
            request.title = AppInfo::Title;
            request.text = line;
            Dialogs::show(request);
        }
        return 1;
    }
    case MainOPC::LoadResult::Running: break;
    }
    // Read only now: a signal that came during start-up waits in the descriptor
    // and closes the server as soon as the loop runs.
    TerminationSignals terminations;
    closeOnSignals(terminations, server);
    if (const OPCFrontEnd *frontEnd = server.server().frontEnd()) {
        std::printf("Serving OPC UA at %s\n", qPrintable(frontEnd->endpointUrl()));
        std::fflush(stdout);
    }
    return app.exec();
}

// OPC-KV7: the OPC server for gas-detection panels on serial lines.
#include "common/AppInfo.h"
#include "security/UserCommand.h"
#include "security/UserStore.h"
#include "shell/MainOPC.h"
#include "shell/TerminationSignals.h"
#include "ui/WidgetDialogs.h"
#include "ui/fMainOPC.h"

#include <QApplication>
#include <cstdio>
#include <optional>
#include <unistd.h>

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

// opc-kv7 --user-add NAME / --user-remove NAME change the users file and end: no
// window, no server, so they also work beside a running server.
std::optional<int> userCommand(int argc, char **argv)
{
    QStringList arguments;
    for (int k = 0; k < argc; ++k)
        arguments << QString::fromLocal8Bit(argv[k]);
    if (!arguments.contains(QLatin1String("--user-add")) && !arguments.contains(QLatin1String("--user-remove")))
        return std::nullopt;
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    return Security::runUserCommand(QCoreApplication::arguments(),
                                    Security::usersFilePath(AppInfo::applicationFolder()), STDIN_FILENO, out, err);
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> status = userCommand(argc, argv))
        return *status;
    TerminationSignals::block();
    const bool headless = chooseHeadlessPlatform();
    if (headless)
        defaultHandler = qInstallMessageHandler(headlessMessages);
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

    fMainOPC window;
    MainOPC &server = window.logic();
    QObject::connect(
        &server, &MainOPC::unloaded, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

    switch (server.Form_Load(QApplication::arguments())) {
    case MainOPC::LoadResult::SecondInstance:
    case MainOPC::LoadResult::Registered: return 0;
    case MainOPC::LoadResult::Failed: {
        const QString line = QStringLiteral("Startup Error: ") + server.startupError();
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
    QObject::connect(&terminations, &TerminationSignals::received, &server,
                     [&server](int) { server.requestClose(MainOPC::UnloadMode::SystemSession); });
    if (const OPCFrontEnd *frontEnd = server.server().frontEnd()) {
        std::printf("Serving OPC UA at %s\n", qPrintable(frontEnd->endpointUrl()));
        std::fflush(stdout);
    }
    return app.exec();
}

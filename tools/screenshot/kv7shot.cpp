// kv7shot: a picture of the server's windows serving simulated panels, taken on
// the offscreen platform. Usage: kv7shot OUTPUT.png [SOURCE_DIR] [WINDOW], where
// WINDOW is main (the default), monitor, config or login.
#include "config/Ini.h"
#include "shell/MainOPC.h"
#include "ui/fCodigo.h"
#include "ui/fConfTarvolin.h"
#include "ui/WindowedServer.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "kv7shot: %s\n", qPrintable(message));
    return 1;
}

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window to grab, opened as its menu item opens it.
QWidget *openWindow(fMainOPC &window, const QString &name)
{
    if (name == QLatin1String("main"))
        return &window;
    if (name == QLatin1String("monitor")) {
        window.mnuVBus_Click();
        return window.monitorWindow();
    }
    if (name == QLatin1String("config")) {
        window.mnuEditConfiguracion_Click();
        return window.findChild<fConfTarvolin *>();
    }
    if (name == QLatin1String("login")) {
        window.mnuAInicioSesion_Click();
        return window.findChild<fCodigo *>();
    }
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2)
        return fail(QStringLiteral("usage: kv7shot OUTPUT.png [SOURCE_DIR] [main|monitor|config|login]"));
    const QString output = QFileInfo(args[1]).absoluteFilePath();
    const QString source = args.size() > 2 ? args[2] : QDir::currentPath();
    const QString shown = args.size() > 3 ? args[3] : QStringLiteral("main");

    QTemporaryDir folder;
    if (!folder.isValid())
        return fail(QStringLiteral("no temporary folder"));
    for (const char *name : {"data/demo/OPC-KV7.ini", "data/demo/KV7.ini", "data/OPC-KV7.LNG"}) {
        const QString from = source + QLatin1Char('/') + QLatin1String(name);
        if (!QFile::copy(from, folder.filePath(QFileInfo(from).fileName())))
            return fail(QStringLiteral("cannot copy %1").arg(from));
    }
    qputenv("OPC_KV7_HOME", folder.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral(".config")).toLocal8Bit());

    // The panels: the simulator on three pseudo-terminals.
    QProcess sim;
    sim.start(QApplication::applicationDirPath() + QStringLiteral("/kv7sim"),
              {QStringLiteral("--pty"), QStringLiteral("3")});
    QStringList ptys;
    for (int i = 0; i < 50 && ptys.size() < 3 && sim.state() != QProcess::NotRunning; ++i) {
        sim.waitForReadyRead(100);
        while (sim.canReadLine())
            ptys << QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    if (ptys.size() < 3)
        return fail(QStringLiteral("kv7sim gave no pseudo-terminals"));
    for (int i = 0; i < 3; ++i)
        Ini::IniPutString(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(i + 1), ptys[i]);
    Ini::IniPutString(QStringLiteral("OPC-KV7"), QStringLiteral("UaPort"), QStringLiteral("0"));
    Ini::IniPutString(QStringLiteral("Configuracion"), QStringLiteral("Language"), QStringLiteral("1"));

    int status = 0;
    {
        WindowedServer server;
        if (server.logic().Form_Load({QStringLiteral("opc-kv7")}) != MainOPC::LoadResult::Running) {
            status = fail(QStringLiteral("start-up failed: ") + server.logic().startupError());
        } else {
            server.logic().tmrMain_Timer(); // the first tick makes and shows the window
            fMainOPC &window = *server.window();
            window.resize(880, 560);
            runEventsFor(4000); // let the panels report
            window.selectNode(QStringLiteral("C01.Z1.D01.Value"));
            window.tree()->scrollTo(window.tree()->currentIndex());
            QWidget *grabbed = openWindow(window, shown);
            if (grabbed && grabbed != &window)
                grabbed->resize(grabbed->sizeHint().expandedTo(QSize(shown == QLatin1String("login") ? 320 : 560, 0)));
            runEventsFor(grabbed && grabbed != &window ? 2000 : 300); // the monitor fills
            if (!grabbed)
                status = fail(QStringLiteral("no window \"%1\"").arg(shown));
            else if (!grabbed->grab().save(output, "PNG"))
                status = fail(QStringLiteral("cannot write ") + output);
            server.logic().mnuFileForceExit_Click();
        }
    }
    sim.terminate();
    sim.waitForFinished(5000);
    if (status == 0)
        std::printf("kv7shot: %s\n", qPrintable(output));
    return status;
}

// OPC-KV7: the OPC server for gas-detection panels on serial lines. As a service
// (`--service`) it runs on a core application and never loads a widget library;
// otherwise it loads its window module and runs there, as before.
#include "common/AppInfo.h"
#include "common/EpollEventDispatcher.h"
#include "security/UserCommand.h"
#include "security/UserStore.h"
#include "shell/ServiceMode.h"
#include "shell/TerminationSignals.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <dlfcn.h>
#include <malloc.h>
#include <optional>
#include <unistd.h>

namespace {

// Beside the program in the build tree, else in the installed private folder.
int runWindow(int argc, char **argv)
{
    const QString beside = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QStringList candidates{QFileInfo(beside).absolutePath() + QStringLiteral("/" KV7_WINDOW_MODULE),
                                 QStringLiteral(KV7_MODULE_DIR "/" KV7_WINDOW_MODULE)};
    QString tried;
    for (const QString &path : candidates) {
        void *module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            tried += QStringLiteral("\n  ") + QString::fromLocal8Bit(::dlerror());
            continue;
        }
        using Entry = int (*)(int, char **);
        if (auto entry = reinterpret_cast<Entry>(::dlsym(module, "opcKv7WindowMain")))
            return entry(argc, argv);
        tried += QStringLiteral("\n  ") + path + QStringLiteral(": no window entry");
    }
    std::fprintf(stderr, "%s: cannot load the window module (run with --service for no window):%s\n",
                 qPrintable(AppInfo::Title), qPrintable(tried));
    return 1;
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
    // A Read of all values makes and frees about 2 MiB of arrays. By default glibc hands
    // such blocks back to the system when they are freed and faults them in again for the
    // next request, which on a virtual machine cost three times the Read itself; the
    // server keeps that much free heap for its next requests instead.
    ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 16 << 20);
    if (const std::optional<int> status = userCommand(argc, argv))
        return *status;
    TerminationSignals::block();
    if (!serviceRequested(argc, argv))
        return runWindow(argc, argv);
    if (EpollEventDispatcher *dispatcher = EpollEventDispatcher::create())
        QCoreApplication::setEventDispatcher(dispatcher);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(AppInfo::Title);
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    ServiceMode service;
    return service.run(QCoreApplication::arguments());
}

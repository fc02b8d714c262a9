// OPC-KV7: the OPC server for gas-detection panels on serial lines. As a service
// (`--service`) it runs on a core application and never loads a widget library;
// otherwise it loads its window module and runs there, as before.
#include "common/AppInfo.h"
#include "shell/ServiceMode.h"
#include "shell/TerminationSignals.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <dlfcn.h>

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

} // namespace

int main(int argc, char **argv)
{
    TerminationSignals::block();
    if (!serviceRequested(argc, argv))
        return runWindow(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(AppInfo::Title);
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    ServiceMode service;
    return service.run(QCoreApplication::arguments());
}

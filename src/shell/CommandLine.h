#pragma once
#include <QString>
#include <QStringList>

// What the command line asks for. The words are found as substrings in any
// case, so "/UnRegServer" or "-regserver" both count.
struct CommandLine {
    bool unregisterServer = false; // "unregserver" wins over "regserver", which it contains
    bool registerServer = false;
    bool debugMode = false;        // the debug word, only without (un)registration
    bool launchedByClient = false; // "embedding": a service manager started us for a client

    static CommandLine parse(const QString &text);
    // The whole text after the program name.
    static QString join(const QStringList &arguments);
};

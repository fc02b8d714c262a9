#include "shell/CommandLine.h"

CommandLine CommandLine::parse(const QString &text)
{
    CommandLine c;
    auto has = [&](const char *word) { return text.contains(QLatin1String(word), Qt::CaseInsensitive); };
    if (has("unregserver"))
        c.unregisterServer = true;
    else if (has("regserver"))
        c.registerServer = true;
    else if (has("VORTELMAX"))
        c.debugMode = true;
    c.launchedByClient = has("embedding");
    return c;
}

QString CommandLine::join(const QStringList &arguments) { return arguments.mid(1).join(QLatin1Char(' ')); }

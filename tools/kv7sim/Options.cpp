#include "Options.h"

QString usageText()
{
    return QStringLiteral("Usage: kv7sim (--pty N | --device PATH)... [options]\n"
                          "Plays gas-detection panels on serial lines: zone reports and group/detector\n"
                          "reports for every zone, group and detector, lines ended by CR.\n"
                          "\n"
                          "  --pty N            create N pseudo-terminals (1-64) and print each slave\n"
                          "                     path on its own line on standard output\n"
                          "  --device PATH      send on an existing serial device at 4800,n,8,1\n"
                          "                     (repeatable)\n"
                          "  --rate F           frames per second on each line (default: what a\n"
                          "                     4800-baud line carries, about 12)\n"
                          "  --silent-after S   stop sending on every line after S seconds\n"
                          "  --script FILE      send the lines of FILE (CR appended to each) instead\n"
                          "                     of simulated traffic, once\n"
                          "  --loop             with --script, start again at the end\n"
                          "  --seed N           seed of the simulated traffic (default 1)\n"
                          "  --help             show this text\n"
                          "\n"
                          "Stops cleanly on SIGINT or SIGTERM.\n");
}

std::optional<Options> parseOptions(const QStringList &args, QString &error)
{
    Options o;
    auto value = [&](int &i, const QString &name) -> std::optional<QString> {
        if (i + 1 >= args.size()) {
            error = name + QStringLiteral(" needs a value");
            return std::nullopt;
        }
        return args[++i];
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        bool ok = false;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--pty")) {
            auto v = value(i, a);
            if (!v)
                return std::nullopt;
            const int n = v->toInt(&ok);
            if (!ok || n < 1 || n > 64) {
                error = QStringLiteral("--pty wants a count from 1 to 64, not \"%1\"").arg(*v);
                return std::nullopt;
            }
            o.ptyCount += n;
        } else if (a == QLatin1String("--device")) {
            auto v = value(i, a);
            if (!v)
                return std::nullopt;
            if (v->isEmpty()) {
                error = QStringLiteral("--device wants a path");
                return std::nullopt;
            }
            o.devices << *v;
        } else if (a == QLatin1String("--rate")) {
            auto v = value(i, a);
            if (!v)
                return std::nullopt;
            o.rate = v->toDouble(&ok);
            if (!ok || !(o.rate > 0.0) || o.rate > 100000.0) {
                error = QStringLiteral("--rate wants frames per second above 0 and up to 100000, not \"%1\"").arg(*v);
                return std::nullopt;
            }
        } else if (a == QLatin1String("--silent-after")) {
            auto v = value(i, a);
            if (!v)
                return std::nullopt;
            o.silentAfter = v->toDouble(&ok);
            if (!ok || !(o.silentAfter >= 0.0) || o.silentAfter > 1e7) {
                error = QStringLiteral("--silent-after wants seconds (0 or more), not \"%1\"").arg(*v);
                return std::nullopt;
            }
        } else if (a == QLatin1String("--script")) {
            auto v = value(i, a);
            if (!v)
                return std::nullopt;
            o.scriptFile = *v;
        } else if (a == QLatin1String("--loop")) {
            o.loop = true;
        } else if (a == QLatin1String("--seed")) {
            auto v = value(i, a);
            if (!v)
                return std::nullopt;
            o.seed = v->toUInt(&ok);
            if (!ok) {
                error = QStringLiteral("--seed wants a whole number, not \"%1\"").arg(*v);
                return std::nullopt;
            }
        } else {
            error = QStringLiteral("unknown argument \"%1\"").arg(a);
            return std::nullopt;
        }
    }
    if (!o.help && o.ptyCount == 0 && o.devices.isEmpty()) {
        error = QStringLiteral("nothing to play on: give --pty N or --device PATH");
        return std::nullopt;
    }
    if (o.ptyCount + o.devices.size() > 64) {
        error = QStringLiteral("at most 64 lines at once");
        return std::nullopt;
    }
    if (o.loop && o.scriptFile.isEmpty()) {
        error = QStringLiteral("--loop goes with --script");
        return std::nullopt;
    }
    return o;
}

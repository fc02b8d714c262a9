#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// The simulator's command line.
struct Options {
    int ptyCount = 0;
    QStringList devices;
    double rate = 0.0;         // frames per second per line; 0: as fast as 4800 baud allows
    double silentAfter = -1.0; // seconds; negative: never
    QString scriptFile;
    bool loop = false;
    unsigned seed = 1;
    bool help = false;
};

// Parses arguments (without the program name). On error returns nothing and sets
// `error` to a message for the user.
std::optional<Options> parseOptions(const QStringList &args, QString &error);

QString usageText();

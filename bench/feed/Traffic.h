#pragma once
#include <QByteArray>
#include <QString>
#include <vector>

// The traffic of the live benchmark, made before it is played: simulated panels on
// every line, each frame at the moment its CR leaves a 4800-baud line, and the item
// changes that frame makes, as OPC-KV7's own engines decode it. OPC-KV7 gets the
// frames; the peers, which have no serial side, get the changes.
namespace feed {

constexpr double CharactersPerSecond = 480.0; // 4800 baud, 8N1: 10 bits a character

struct Frame {
    double at = 0.0;    // seconds after the start
    int line = 0;       // 1-based
    QByteArray bytes;   // the frame with its CR
    QByteArray changes; // "<ItemID>\t<value>\n" for every item whose value changed
    int changeCount = 0;
};

struct Traffic {
    std::vector<Frame> frames; // in time order
    // The items the engines created: "<ItemID>\t<type>\t<initial>\t<description>\n".
    QByteArray items;
};

// Traffic for `lines` lines over `seconds`, the same for the same seed.
Traffic makeTraffic(int lines, double seconds, unsigned seed);

} // namespace feed

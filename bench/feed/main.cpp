// kv7feed: plays the live benchmark's panel traffic at line rate, either as frames on
// pseudo-terminals (OPC-KV7's serial ports) or as item changes on a loopback socket
// (a peer server's feed), and logs the moment each change left.
//
//   kv7feed --lines N --seconds S [--seed K] (--pty | --connect PORT)
//           [--items FILE] [--log FILE]
//
// Prints the pseudo-terminals' slave paths (with --pty), then "READY"; plays when a
// line arrives on standard input; then prints "DONE <frames> <changes> <latest ms>"
// (how far the latest write came after its moment), writes the log and keeps the
// lines open until standard input closes. Log: "<CLOCK_MONOTONIC ns>\t<ItemID>\t<value>"
// per change, stamped as its frame's write began, on the clock Node's process.hrtime reads.
#include "Traffic.h"
#include "protocol/cTarvolin.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// The engines drop fault and programming flags 100 seconds after their last report,
// on their own timer; the traffic's changes know nothing of that, so a run ends first.
constexpr double maxSeconds = double(cTarvolin::FlagHoldTicks) * cTarvolin::TickPeriodMs / 1000.0 - 1.0;

std::int64_t nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntil(std::int64_t ns)
{
    timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool writeFile(const char *path, const std::string &text)
{
    FILE *f = std::fopen(path, "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

int connectLoopback(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::perror("kv7feed: connect");
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int usage(const char *why)
{
    std::fprintf(stderr,
                 "kv7feed: %s\nusage: kv7feed --lines N --seconds S [--seed K] (--pty | --connect PORT) "
                 "[--items FILE] [--log FILE]\n",
                 why);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int lines = 16, port = 0;
    double seconds = 0.0;
    unsigned seed = 1;
    bool pty = false;
    const char *itemsFile = nullptr, *logFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--pty") {
            pty = true;
            continue;
        }
        if (!v)
            return usage("an option without its value");
        ++i;
        if (a == "--lines")
            lines = std::atoi(v);
        else if (a == "--seconds")
            seconds = std::atof(v);
        else if (a == "--seed")
            seed = unsigned(std::strtoul(v, nullptr, 10));
        else if (a == "--connect")
            port = std::atoi(v);
        else if (a == "--items")
            itemsFile = v;
        else if (a == "--log")
            logFile = v;
        else
            return usage("unknown option");
    }
    if (lines < 1 || lines > 16)
        return usage("--lines wants 1 to 16");
    if (!(seconds > 0.0 && seconds <= maxSeconds))
        return usage("--seconds wants more than 0 and less than the engines' 100-second holds");
    if (pty == (port > 0))
        return usage("give either --pty or --connect PORT");

    const feed::Traffic traffic = feed::makeTraffic(lines, seconds, seed);
    if (itemsFile && !writeFile(itemsFile, traffic.items.toStdString())) {
        std::perror(itemsFile);
        return 1;
    }

    // Where each line's bytes go: a pty master per line, or one socket for all.
    std::vector<int> out(std::size_t(lines) + 1, -1);
    std::vector<int> slaves;
    if (pty) {
        for (int l = 1; l <= lines; ++l) {
            int master = -1, slave = -1;
            char name[256];
            if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
                std::perror("kv7feed: openpty");
                return 1;
            }
            // Raw until the server sets its own modes: no echo, no line editing.
            termios t;
            tcgetattr(slave, &t);
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
            out[std::size_t(l)] = master;
            slaves.push_back(slave); // held, so the line stays up while the server reopens it
            std::printf("%s\n", name);
        }
    } else {
        const int fd = connectLoopback(port);
        if (fd < 0)
            return 1;
        std::fill(out.begin() + 1, out.end(), fd);
    }
    std::printf("READY\n");
    std::fflush(stdout);

    char go[64];
    if (!std::fgets(go, sizeof go, stdin))
        return 0;

    std::vector<std::int64_t> sent(traffic.frames.size(), 0);
    const std::int64_t start = nowNs();
    std::int64_t latest = 0;
    std::size_t changes = 0;
    for (std::size_t i = 0; i < traffic.frames.size(); ++i) {
        const feed::Frame &f = traffic.frames[i];
        const std::int64_t due = start + std::int64_t(f.at * 1e9);
        sleepUntil(due);
        const QByteArray &bytes = pty ? f.bytes : f.changes;
        // Stamped before the write: a feed held up after it (a busy machine) would
        // otherwise see notifications arrive before their changes were sent.
        sent[i] = nowNs();
        if (!bytes.isEmpty() && !writeAll(out[std::size_t(f.line)], bytes.constData(), std::size_t(bytes.size()))) {
            std::perror("kv7feed: write");
            return 1;
        }
        latest = std::max(latest, sent[i] - due);
        changes += std::size_t(f.changeCount);
    }
    std::printf("DONE %zu %zu %.3f\n", traffic.frames.size(), changes, double(latest) / 1e6);
    std::fflush(stdout);

    if (logFile) {
        std::string log;
        log.reserve(changes * 40);
        for (std::size_t i = 0; i < traffic.frames.size(); ++i) {
            const QByteArray &c = traffic.frames[i].changes;
            const std::string stamp = std::to_string(sent[i]) + '\t';
            for (qsizetype from = 0; from < c.size();) {
                const qsizetype end = c.indexOf('\n', from) + 1;
                log += stamp;
                log.append(c.constData() + from, std::size_t(end - from));
                from = end;
            }
        }
        if (!writeFile(logFile, log)) {
            std::perror(logFile);
            return 1;
        }
    }
    // The server keeps its ports until the harness is done with it.
    while (std::fgets(go, sizeof go, stdin)) {
    }
    return 0;
}

#pragma once
#include "PanelModel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdint>

// One serial line the simulator plays a panel on. Writes never block: while the
// other end does not read (a pseudo-terminal nobody opened yet), up to
// MaxPending bytes wait and further frames are dropped and counted.
class PanelLine : public QObject {
public:
    static constexpr int MaxPending = 4096;
    static constexpr double BaudBytesPerSecond = 480.0; // 4800 baud, 10 bits a character

    struct Setup {
        double rate = 0.0;         // frames per second; 0: paced by the baud rate
        double silentAfter = -1.0; // seconds
        const QList<QByteArray> *script = nullptr;
        bool loop = false;
    };

    // Takes ownership of fd (written) and keepOpen (held open, may be -1).
    PanelLine(int fd, int keepOpen, int panelNumber, std::uint32_t seed, Setup setup, QObject *parent = nullptr);
    ~PanelLine() override;

    void start();
    std::uint64_t framesSent() const { return sent_; }
    std::uint64_t framesDropped() const { return dropped_; }

private:
    void pump();
    bool nextFrame(QByteArray &frame);
    void flush();

    int fd_;
    int keepOpen_;
    kv7sim::PanelModel model_;
    Setup setup_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastMs_ = 0;
    double credit_ = 0.0;
    qsizetype scriptPos_ = 0;
    bool finished_ = false;
    QByteArray pending_;
    std::uint64_t sent_ = 0, dropped_ = 0;
};

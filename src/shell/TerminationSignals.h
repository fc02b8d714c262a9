#pragma once
#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT as an event of the main loop: the signals are blocked and
// read from a signalfd, so no work ever runs inside a signal handler.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Blocks the signals for this thread and the threads it starts later: call it
    // first thing in main.
    static void block();

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    bool isValid() const { return fd_ >= 0; }

signals:
    void received(int signalNumber);

private:
    void readSignals();
    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
};

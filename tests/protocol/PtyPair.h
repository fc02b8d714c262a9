#pragma once
#include <QByteArray>
#include <QString>

// A pseudo-terminal in raw mode: the test writes on the master side what a panel
// would send; the code under test opens the slave path as its serial device.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return master_ >= 0; }
    const QString &slavePath() const { return slavePath_; }
    int slaveFd() const { return slave_; }
    // Writes every byte (bounded retries while the line is full); true when all went.
    bool write(const QByteArray &bytes);
    // Characters in the slave's input queue, not yet read by anyone.
    int waitingOnSlave() const;
    // Waits (bounded) until at least n characters are queued on the slave.
    bool waitQueued(int n) const;
    // Reads what the slave side sent to the master, waiting up to timeoutMs for it.
    QByteArray readMaster(int bytes, int timeoutMs);

private:
    int master_ = -1;
    int slave_ = -1; // held open so the line never hangs up between openings
    QString slavePath_;
};

#pragma once
#include <QDateTime>
#include <QtGlobal>

// Where the program reads the time. Objects that read it take a Clock, so that a
// test moves time with a ManualClock instead of sleeping against a time-out.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; never goes back.
    virtual qint64 monotonicMs() const = 0;
    // The wall clock, UTC.
    virtual QDateTime now() const = 0;

    // The system's clocks.
    static const Clock &system();
};

// A clock that stands still until a test moves it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC)) : start_(start) {}
    qint64 monotonicMs() const override { return elapsedMs_; }
    QDateTime now() const override { return start_.addMSecs(elapsedMs_); }
    void advance(qint64 ms) { elapsedMs_ += ms; }

private:
    QDateTime start_;
    qint64 elapsedMs_ = 0;
};

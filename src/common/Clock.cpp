#include "common/Clock.h"

#include <QElapsedTimer>

namespace {
class SystemClock final : public Clock {
public:
    SystemClock() { started_.start(); }
    qint64 monotonicMs() const override { return started_.elapsed(); }
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }

private:
    QElapsedTimer started_;
};
} // namespace

const Clock &Clock::system()
{
    static const SystemClock clock;
    return clock;
}

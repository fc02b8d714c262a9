// The epoll event loop of the headless server on a thread of its own: timers, zero timers and posted events, a
// notifier on a pipe up to its hang-up, a timer stopped by another in the same turn, wake-ups from another thread,
// a deferred descriptor.
#include "common/EpollEventDispatcher.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(EpollEventDispatcher, RunsTimersNotifiersAndPostedEventsOnItsThread)
{
    QThread thread;
    EpollEventDispatcher *dispatcher = EpollEventDispatcher::create();
    ASSERT_NE(dispatcher, nullptr);
    thread.setEventDispatcher(dispatcher);
    thread.start();
    QObject context;
    context.moveToThread(&thread);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    QTimer *ticker = nullptr;
    QSocketNotifier *reader = nullptr;
    const auto inThread = [&](const std::function<void()> &f) {
        QMetaObject::invokeMethod(&context, f, Qt::BlockingQueuedConnection);
    };
    // What the thread's handlers saw, touched on that thread only; each line counts one event.
    QStringList lines;
    QSemaphore events;
    const auto log = [&](const QString &line) {
        lines << line;
        events.release();
    };
    const auto take = [&] {
        QStringList taken;
        inThread([&] { taken = std::exchange(lines, {}); });
        return taken;
    };

    inThread([&] {
        // Started in this order in one turn: the first stops the second, which must not fire.
        auto *first = new QTimer(&context), *second = new QTimer(&context);
        first->setSingleShot(true);
        second->setSingleShot(true);
        QObject::connect(first, &QTimer::timeout, [&, second] {
            log("first");
            second->stop();
        });
        QObject::connect(second, &QTimer::timeout, [&] { log("second"); });
        first->start(0);
        second->start(0);
        QMetaObject::invokeMethod(
            &context, [&] { log("posted"); }, Qt::QueuedConnection);
        ticker = new QTimer(&context);
        QObject::connect(ticker, &QTimer::timeout, [&] { log("tick"); });
        ticker->start(5);
        reader = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, &context);
        QObject::connect(reader, &QSocketNotifier::activated, [&] {
            char buffer[16];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0)
                reader->setEnabled(false); // a hang-up stays readable
            log(n > 0 ? "read " + QString::fromLatin1(buffer, n) : QStringLiteral("hang-up"));
        });
    });
    ASSERT_TRUE(events.tryAcquire(5, 5000)); // posted, first, three ticks
    const QStringList started = take();
    EXPECT_EQ(started.mid(0, 2), (QStringList{"posted", "first"}));
    EXPECT_EQ(started.count("tick"), started.size() - 2); // and never "second"

    inThread([&] {
        ticker->stop();
        ticker->start(60000);
        const auto timers = dispatcher->registeredTimers(ticker);
        ASSERT_EQ(timers.size(), 1);
        const int left = dispatcher->remainingTime(ticker->timerId());
        EXPECT_TRUE(timers[0].interval == 60000 && left > 59000 && left <= 60000) << left;
    });
    events.tryAcquire(events.available());
    take();

    // The thread now waits with no timer due soon: data on the pipe and a call from this thread must each wake it.
    ASSERT_EQ(::write(pipeFds[1], "abc", 3), 3);
    ASSERT_TRUE(events.tryAcquire(1, 5000));
    QMetaObject::invokeMethod(
        &context, [&] { log("called"); }, Qt::QueuedConnection);
    ASSERT_TRUE(events.tryAcquire(1, 5000));
    ::close(pipeFds[1]);
    ASSERT_TRUE(events.tryAcquire(1, 5000));
    EXPECT_EQ(take(), (QStringList{"read abc", "called", "hang-up"}));

    // A deferred descriptor waits for the loop's next turn, which comes within the check period even when nothing
    // else wakes it. Written from a timer, after the turn's check: served a period later, not at once.
    int deferredFds[2];
    ASSERT_EQ(::pipe(deferredFds), 0);
    QElapsedTimer written;
    inThread([&] {
        auto *deferred = new QSocketNotifier(deferredFds[0], QSocketNotifier::Read, &context);
        QObject::connect(deferred, &QSocketNotifier::activated, [&] {
            char c;
            log(::read(deferredFds[0], &c, 1) == 1 && written.elapsed() >= EpollEventDispatcher::DeferredCheckMs - 2
                    ? QStringLiteral("deferred")
                    : QStringLiteral("served after %1 ms").arg(written.elapsed()));
        });
        EpollEventDispatcher::deferReading(deferredFds[0]);
        QTimer::singleShot(1, &context, [&] {
            written.start();
            [[maybe_unused]] const ssize_t n = ::write(deferredFds[1], "x", 1);
        });
    });
    ASSERT_TRUE(events.tryAcquire(1, 5000));
    EXPECT_EQ(take(), QStringList{"deferred"});

    inThread([&] { qDeleteAll(context.children()); });
    thread.quit();
    EXPECT_TRUE(thread.wait(5000));
    for (const int fd : {pipeFds[0], deferredFds[0], deferredFds[1]})
        ::close(fd);
}

} // namespace

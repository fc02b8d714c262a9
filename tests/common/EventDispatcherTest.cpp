// The epoll event loop of the headless server, run on a thread of its own: timers,
// zero timers and posted events, a notifier on a pipe up to its hang-up, a timer
// stopped by another in the same turn, wake-ups from another thread, and quitting.
#include "common/EpollEventDispatcher.h"

#include <QAbstractEventDispatcher>
#include <QMutex>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct Log {
    QMutex mutex;
    QStringList lines;
    QSemaphore events;
    void add(const QString &line)
    {
        {
            QMutexLocker lock(&mutex);
            lines << line;
        }
        events.release();
    }
    QStringList take()
    {
        QMutexLocker lock(&mutex);
        return std::exchange(lines, {});
    }
};

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
    Log log;
    QTimer *ticker = nullptr;
    QSocketNotifier *reader = nullptr;
    const auto inThread = [&](const std::function<void()> &f) {
        QMetaObject::invokeMethod(&context, f, Qt::BlockingQueuedConnection);
    };

    inThread([&] {
        EXPECT_EQ(QAbstractEventDispatcher::instance(), dispatcher);
        // Started in this order in one turn: the first stops the second, which must not fire.
        auto *first = new QTimer(&context), *second = new QTimer(&context);
        first->setSingleShot(true);
        second->setSingleShot(true);
        QObject::connect(first, &QTimer::timeout, [&, second] {
            log.add("first");
            second->stop();
        });
        QObject::connect(second, &QTimer::timeout, [&] { log.add("second"); });
        first->start(0);
        second->start(0);
        QMetaObject::invokeMethod(
            &context, [&] { log.add("posted"); }, Qt::QueuedConnection);
        ticker = new QTimer(&context);
        QObject::connect(ticker, &QTimer::timeout, [&] { log.add("tick"); });
        ticker->start(5);
        reader = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, &context);
        QObject::connect(reader, &QSocketNotifier::activated, [&] {
            char buffer[16];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0)
                reader->setEnabled(false); // a hang-up stays readable
            log.add(n > 0 ? "read " + QString::fromLatin1(buffer, n) : QStringLiteral("hang-up"));
        });
    });
    ASSERT_TRUE(log.events.tryAcquire(5, 5000)); // posted, first, three ticks
    {
        const QStringList lines = log.take();
        EXPECT_EQ(lines.mid(0, 2), (QStringList{"posted", "first"}));
        EXPECT_FALSE(lines.contains("second"));
        EXPECT_EQ(lines.count("tick"), lines.size() - 2);
    }

    inThread([&] {
        ticker->stop();
        ticker->start(60000);
        const int left = dispatcher->remainingTime(ticker->timerId());
        EXPECT_TRUE(left > 59000 && left <= 60000) << left;
        const auto timers = dispatcher->registeredTimers(ticker);
        ASSERT_EQ(timers.size(), 1);
        EXPECT_EQ(timers[0].interval, 60000);
    });
    log.events.tryAcquire(log.events.available());
    log.take();

    // The thread now waits with no timer due soon: data on the pipe and a call from
    // this thread must each wake it.
    ASSERT_EQ(::write(pipeFds[1], "abc", 3), 3);
    ASSERT_TRUE(log.events.tryAcquire(1, 5000));
    QMetaObject::invokeMethod(
        &context, [&] { log.add("called"); }, Qt::QueuedConnection);
    ASSERT_TRUE(log.events.tryAcquire(1, 5000));
    ::close(pipeFds[1]);
    ASSERT_TRUE(log.events.tryAcquire(1, 5000));
    EXPECT_EQ(log.take(), (QStringList{"read abc", "called", "hang-up"}));

    inThread([&] { qDeleteAll(context.children()); });
    thread.quit();
    EXPECT_TRUE(thread.wait(5000));
    ::close(pipeFds[0]);
}

} // namespace

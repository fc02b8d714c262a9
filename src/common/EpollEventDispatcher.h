#pragma once
#include <QAbstractEventDispatcher>

#include <atomic>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

// The event loop of the headless server, with or without its window, on Linux epoll.
// Qt's own dispatchers poll() every descriptor on every turn; with sixteen serial lines
// and the clients' sockets that scan, and glib's wake-up on every notifier toggled,
// cost more than the work a panel frame brings. Here a descriptor is registered once
// and a turn touches only those that are ready. Timers keep Qt's rules: each fires at
// most once per turn, at its interval after the previous due time, never in the turn
// that started it.
class EpollEventDispatcher final : public QAbstractEventDispatcher {
public:
    // nullptr when the system refuses an epoll or eventfd descriptor: Qt's default then.
    static EpollEventDispatcher *create();
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;

    // A descriptor whose notifiers need not wake the loop: they are served whenever the
    // loop is awake, before its timers, and at least every DeferredCheckMs. Serial lines
    // bring hundreds of short frames a second, each of which woke the server on its own;
    // a frame waits at most this long, and never misses the publishing cycle it reached.
    // Applies to a descriptor with notifiers on this thread's dispatcher, if it is one,
    // until its last notifier goes.
    static void deferReading(qintptr fd);
    static constexpr int DeferredCheckMs = 20;

    // Work a platform adds to the end of every turn, as Qt's own platform dispatchers
    // deliver the window system's queued events there; returns whether it did any.
    void setEachTurn(std::function<bool(QEventLoop::ProcessEventsFlags)> work) { eachTurn_ = std::move(work); }

private:
    EpollEventDispatcher(int epoll, int deferred, int wake);
    struct Watch {
        QSocketNotifier *read = nullptr, *write = nullptr, *exception = nullptr;
    };
    struct Timer {
        int id;
        qint64 intervalMs;
        Qt::TimerType type;
        QObject *object;
        qint64 dueNs;
        std::uint64_t turn; // the turn it was started in
    };
    void updateWatch(int fd);
    QSocketNotifier *&slot(Watch &watch, const QSocketNotifier *notifier) const;
    int waitMs(qint64 nowNs) const;
    int activateNotifiers(int fd, std::uint32_t events);
    int activateReady(int epoll, bool notifiers, int timeoutMs);
    int activateTimers();
    Timer *findTimer(int timerId);

    const int epoll_;
    const int deferred_; // epoll of the deferred descriptors, itself in no set
    const int wake_;     // eventfd: wake-ups from other threads
    std::vector<int> deferredFds_;
    std::unordered_map<int, Watch> watches_;
    std::vector<int> alwaysReady_; // regular files, which epoll refuses and poll() calls ready
    std::vector<Timer> timers_;
    std::function<bool(QEventLoop::ProcessEventsFlags)> eachTurn_;
    std::uint64_t turn_ = 0;
    bool wakeUpPending_ = false;             // a wake-up from this thread: do not block
    std::atomic<bool> wakeUpWritten_{false}; // the eventfd holds a wake-up not yet read
    std::atomic<bool> interrupted_{false};
};

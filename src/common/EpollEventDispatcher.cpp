#include "EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

qint64 nowNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

constexpr qint64 NsPerMs = 1000000;

} // namespace

EpollEventDispatcher *EpollEventDispatcher::create()
{
    const int fds[] = {::epoll_create1(EPOLL_CLOEXEC), ::epoll_create1(EPOLL_CLOEXEC),
                       ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fds[2];
    if (std::ranges::any_of(fds, [](int fd) { return fd < 0; }) ||
        ::epoll_ctl(fds[0], EPOLL_CTL_ADD, fds[2], &event) != 0) {
        for (const int fd : fds)
            if (fd >= 0)
                ::close(fd);
        return nullptr;
    }
    return new EpollEventDispatcher(fds[0], fds[1], fds[2]);
}

EpollEventDispatcher::EpollEventDispatcher(int epoll, int deferred, int wake)
    : epoll_(epoll), deferred_(deferred), wake_(wake)
{
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    ::close(wake_);
    ::close(deferred_);
    ::close(epoll_);
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted_.store(false);
    ++turn_;
    emit awake();
    QCoreApplication::sendPostedEvents();
    const bool wait = (flags & QEventLoop::WaitForMoreEvents) && !wakeUpPending_ && !interrupted_.load();
    if (wait)
        emit aboutToBlock();
    if (interrupted_.load())
        return false;
    wakeUpPending_ = false;

    const bool notifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    int handled = activateReady(epoll_, notifiers, wait ? waitMs(nowNs()) : 0);
    if (!deferredFds_.empty()) // before the timers: a frame read now makes this publishing cycle
        handled += activateReady(deferred_, notifiers, 0);
    if (notifiers)
        for (const int fd : std::vector<int>(alwaysReady_))
            handled += activateNotifiers(fd, EPOLLIN | EPOLLOUT);
    handled += activateTimers();
    if (eachTurn_ && eachTurn_(flags))
        ++handled;
    return handled > 0;
}

int EpollEventDispatcher::activateReady(int epoll, bool notifiers, int timeoutMs)
{
    epoll_event events[64];
    const int ready = ::epoll_wait(epoll, events, 64, timeoutMs);
    int handled = 0;
    for (int k = 0; k < ready; ++k) { // none on EINTR: a signal; the loop comes round again
        const int fd = events[k].data.fd;
        if (fd == wake_) {
            wakeUpWritten_.store(false);
            std::uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
            ++handled;
        } else if (notifiers) {
            handled += activateNotifiers(fd, events[k].events);
        }
    }
    return handled;
}

// --- Socket notifiers ------------------------------------------------------------------

QSocketNotifier *&EpollEventDispatcher::slot(Watch &watch, const QSocketNotifier *notifier) const
{
    switch (notifier->type()) {
    case QSocketNotifier::Read: return watch.read;
    case QSocketNotifier::Write: return watch.write;
    default: return watch.exception;
    }
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    slot(watches_[fd], notifier) = notifier;
    updateWatch(fd);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    const auto it = watches_.find(fd);
    if (it == watches_.end())
        return;
    QSocketNotifier *&s = slot(it->second, notifier);
    if (s == notifier)
        s = nullptr;
    updateWatch(fd);
}

void EpollEventDispatcher::updateWatch(int fd)
{
    const auto it = watches_.find(fd);
    const Watch &w = it->second;
    epoll_event event{};
    event.events = (w.read ? std::uint32_t(EPOLLIN) : 0u) | (w.write ? std::uint32_t(EPOLLOUT) : 0u) |
                   (w.exception ? std::uint32_t(EPOLLPRI) : 0u);
    event.data.fd = fd;
    std::erase(alwaysReady_, fd);
    const bool deferred = std::ranges::find(deferredFds_, fd) != deferredFds_.end();
    const int set = deferred ? deferred_ : epoll_;
    if (!event.events) {
        // The descriptor may be closed already, which took it out of the epoll set.
        ::epoll_ctl(set, EPOLL_CTL_DEL, fd, nullptr);
        watches_.erase(it);
        std::erase(deferredFds_, fd); // its number may come back as another descriptor
        return;
    }
    // A descriptor closed and opened again under the same number left the set on
    // its own, so a change may need an addition and an addition a change.
    if (::epoll_ctl(set, EPOLL_CTL_MOD, fd, &event) == 0)
        return;
    if (errno == ENOENT && ::epoll_ctl(set, EPOLL_CTL_ADD, fd, &event) == 0)
        return;
    // Regular files cannot be watched: poll() calls them always ready, and so do we.
    if (errno == EPERM)
        alwaysReady_.push_back(fd);
    else
        qWarning("Event loop: descriptor %d cannot be watched (%s)", fd, strerror(errno));
}

void EpollEventDispatcher::deferReading(qintptr fd)
{
    auto *self = dynamic_cast<EpollEventDispatcher *>(QAbstractEventDispatcher::instance());
    if (!self || !self->watches_.contains(int(fd)) ||
        std::ranges::find(self->deferredFds_, int(fd)) != self->deferredFds_.end())
        return;
    ::epoll_ctl(self->epoll_, EPOLL_CTL_DEL, int(fd), nullptr);
    self->deferredFds_.push_back(int(fd));
    self->updateWatch(int(fd));
}

int EpollEventDispatcher::activateNotifiers(int fd, std::uint32_t events)
{
    // Each notifier is looked up again: the one before may have removed it.
    int handled = 0;
    const auto fire = [&](QSocketNotifier *Watch::*member, bool due) {
        const auto it = watches_.find(fd);
        if (!due || it == watches_.end() || !(it->second.*member))
            return;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(it->second.*member, &event);
        ++handled;
    };
    // As Qt's poll dispatcher maps them: a hang-up or error reaches the reader.
    fire(&Watch::read, events & (EPOLLIN | EPOLLHUP | EPOLLERR));
    fire(&Watch::write, events & (EPOLLOUT | EPOLLERR));
    fire(&Watch::exception, events & EPOLLPRI);
    return handled;
}

// --- Timers ----------------------------------------------------------------------------

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object)
{
    timers_.push_back({timerId, std::max<qint64>(interval, 0), timerType, object,
                       nowNs() + std::max<qint64>(interval, 0) * NsPerMs, turn_});
}

EpollEventDispatcher::Timer *EpollEventDispatcher::findTimer(int timerId)
{
    const auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer &t) { return t.id == timerId; });
    return it == timers_.end() ? nullptr : &*it;
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    return std::erase_if(timers_, [&](const Timer &t) { return t.id == timerId; }) > 0;
}

bool EpollEventDispatcher::unregisterTimers(QObject *object)
{
    return std::erase_if(timers_, [&](const Timer &t) { return t.object == object; }) > 0;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> list;
    for (const Timer &t : timers_)
        if (t.object == object)
            list.append(TimerInfo(t.id, int(t.intervalMs), t.type));
    return list;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    const Timer *t = findTimer(timerId);
    if (!t)
        return -1;
    return int(std::max<qint64>(0, (t->dueNs - nowNs() + NsPerMs - 1) / NsPerMs));
}

int EpollEventDispatcher::waitMs(qint64 now) const
{
    if (!alwaysReady_.empty())
        return 0;
    qint64 next = deferredFds_.empty() ? -1 : now + DeferredCheckMs * NsPerMs;
    for (const Timer &t : timers_)
        if (next < 0 || t.dueNs < next)
            next = t.dueNs;
    if (next < 0)
        return -1;
    // Rounded up, so that a timer is due when the wait ends.
    return int(std::clamp<qint64>((next - now + NsPerMs - 1) / NsPerMs, 0, 24 * 3600 * 1000));
}

int EpollEventDispatcher::activateTimers()
{
    const qint64 now = nowNs();
    std::vector<std::pair<qint64, int>> due;
    for (const Timer &t : timers_)
        if (t.dueNs <= now && t.turn != turn_)
            due.emplace_back(t.dueNs, t.id);
    std::sort(due.begin(), due.end());
    int fired = 0;
    for (const auto &[dueNs, id] : due) {
        // A timer killed by an earlier one is gone; its id may already serve a new one.
        Timer *t = findTimer(id);
        if (!t || t->turn == turn_)
            continue;
        t->dueNs += t->intervalMs * NsPerMs;
        if (t->dueNs < now) // a late loop skips what it missed
            t->dueNs = now + t->intervalMs * NsPerMs;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(t->object, &event);
        ++fired;
    }
    return fired;
}

// --- Wake-ups --------------------------------------------------------------------------

void EpollEventDispatcher::wakeUp()
{
    // From this thread the loop is not blocked: it only must not block next.
    if (QThread::currentThread() == thread()) {
        wakeUpPending_ = true;
        return;
    }
    if (!wakeUpWritten_.exchange(true)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
}

void EpollEventDispatcher::interrupt()
{
    interrupted_.store(true);
    wakeUp();
}

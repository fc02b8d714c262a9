#include "PanelLine.h"

#include <cerrno>
#include <unistd.h>

PanelLine::PanelLine(int fd, int keepOpen, int panelNumber, std::uint32_t seed, Setup setup, QObject *parent)
    : QObject(parent), fd_(fd), keepOpen_(keepOpen), model_(panelNumber, seed), setup_(setup)
{
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, &PanelLine::pump);
}

PanelLine::~PanelLine()
{
    ::close(fd_);
    if (keepOpen_ >= 0)
        ::close(keepOpen_);
}

void PanelLine::start()
{
    clock_.start();
    lastMs_ = 0;
    timer_.start();
    pump();
}

bool PanelLine::nextFrame(QByteArray &frame)
{
    if (setup_.script) {
        const QList<QByteArray> &lines = *setup_.script;
        if (scriptPos_ >= lines.size()) {
            if (!setup_.loop || lines.isEmpty())
                return false;
            scriptPos_ = 0;
        }
        frame = lines[scriptPos_++];
    } else {
        frame = QByteArray::fromStdString(model_.nextFrame());
    }
    frame.append('\r');
    return true;
}

void PanelLine::pump()
{
    const qint64 now = clock_.elapsed();
    if (setup_.silentAfter >= 0.0 && now >= qint64(setup_.silentAfter * 1000.0))
        finished_ = true;
    if (!finished_) {
        const double seconds = double(now - lastMs_) / 1000.0;
        const double perSecond = setup_.rate > 0.0 ? setup_.rate : BaudBytesPerSecond;
        // A stalled loop does not make up for lost time with a burst.
        credit_ = std::min(credit_ + seconds * perSecond, std::max(perSecond, 1.0));
        QByteArray frame;
        while (credit_ >= 1.0 || (setup_.rate <= 0.0 && credit_ > 0.0)) {
            if (!nextFrame(frame)) {
                finished_ = true;
                break;
            }
            // Paced by the baud rate, a frame costs its characters.
            credit_ -= setup_.rate > 0.0 ? 1.0 : double(frame.size());
            if (pending_.size() + frame.size() > MaxPending) {
                ++dropped_;
                continue;
            }
            pending_.append(frame);
            ++sent_;
        }
    }
    lastMs_ = now;
    flush();
    if (finished_ && pending_.isEmpty())
        timer_.stop();
}

void PanelLine::flush()
{
    while (!pending_.isEmpty()) {
        const ssize_t n = ::write(fd_, pending_.constData(), std::size_t(pending_.size()));
        if (n > 0) {
            pending_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The line is gone (a device unplugged): what waits is lost.
            pending_.clear();
        }
        return;
    }
}

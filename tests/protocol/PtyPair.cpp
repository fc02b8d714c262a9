#include "PtyPair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

PtyPair::PtyPair()
{
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B4800);
    cfsetospeed(&raw, B4800);
    char name[256] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

bool PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    for (int attempt = 0; attempt < 200 && done < bytes.size(); ++attempt) {
        const ssize_t n = ::write(master_, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done == bytes.size();
}

int PtyPair::waitingOnSlave() const
{
    int n = 0;
    return ::ioctl(slave_, FIONREAD, &n) == 0 ? n : 0;
}

bool PtyPair::waitQueued(int n) const
{
    for (int attempt = 0; attempt < 2000; ++attempt) {
        if (waitingOnSlave() >= n)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

QByteArray PtyPair::readMaster(int bytes, int timeoutMs)
{
    QByteArray out;
    for (int waited = 0; out.size() < bytes && waited < timeoutMs; waited += 10) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0)
            out.append(buf, n);
    }
    return out;
}

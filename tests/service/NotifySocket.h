#pragma once
#include <QByteArray>
#include <QStringList>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Stands in for systemd: a datagram socket in the abstract namespace that
// NOTIFY_SOCKET names while the test runs, and the watchdog variables it asks for.
class NotifySocket {
public:
    explicit NotifySocket(const char *watchdogUsec = nullptr)
    {
        const QByteArray name = "kv7-notify-test-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(++n_);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(name.begin(), name.end(), address.sun_path + 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr *>(&address),
                         socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
                  0);
        qputenv("NOTIFY_SOCKET", '@' + name);
        if (watchdogUsec)
            qputenv("WATCHDOG_USEC", watchdogUsec);
    }
    ~NotifySocket()
    {
        for (const char *name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
            qunsetenv(name);
        ::close(fd_);
    }
    // Every message received so far, in order.
    QStringList messages()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) >= 0;)
            received_ << QString::fromUtf8(buffer, n);
        return received_;
    }

private:
    int fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    QStringList received_;
    static inline int n_ = 0;
};

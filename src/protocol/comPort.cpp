#include "protocol/comPort.h"
#include "common/EpollEventDispatcher.h"
#include "common/Error.h"
#include "config/Ini.h"
#include "log/Log.h"

#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Error numbers of the serial control.
constexpr int InvalidPropertyValue = 380;
constexpr int InvalidPortNumber = 8002;
constexpr int PortAlreadyOpen = 8005;
constexpr int PortUnavailable = 8010;
constexpr int PortOpenFailed = 8015;

struct LineSettings {
    qint32 baud;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};

bool parseSettings(const QString &text, LineSettings &out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    out.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || out.baud <= 0)
        return false;
    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        out.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        out.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        out.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        out.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        out.parity = QSerialPort::SpaceParity;
    else
        return false;
    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return false;
    out.dataBits = QSerialPort::DataBits(bits);
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        out.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        out.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        out.stopBits = QSerialPort::TwoStop;
    else
        return false;
    return true;
}

} // namespace

comPort::comPort(int index, QObject *parent) : QObject(parent), index_(index)
{
    connect(&port_, &QSerialPort::readyRead, this, &comPort::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &comPort::onError);
}

comPort::~comPort()
{
    if (port_.isOpen())
        port_.close();
}

QString comPort::devicePathFor(std::int16_t port)
{
    const QString fallback = QStringLiteral("/dev/ttyS") + QString::number(int(port) - 1);
    const QString path =
        Ini::IniGetString(QStringLiteral("Ports"), QStringLiteral("COM") + QString::number(port), fallback);
    return path.trimmed().isEmpty() ? fallback : path.trimmed();
}

void comPort::setSettings(const QString &settings)
{
    LineSettings parsed{};
    if (!parseSettings(settings, parsed))
        throw RuntimeError(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    port_.setBaudRate(parsed.baud);
    port_.setParity(parsed.parity);
    port_.setDataBits(parsed.dataBits);
    port_.setStopBits(parsed.stopBits);
    port_.clearError();
}

void comPort::setCommPort(std::int16_t port)
{
    if (port_.isOpen())
        throw RuntimeError(PortAlreadyOpen, QStringLiteral("Port already open"));
    commPort_ = port;
}

void comPort::setHandshaking(std::int32_t handshaking)
{
    if (handshaking < 0 || handshaking > 3)
        throw RuntimeError(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    port_.setFlowControl(handshaking == 0   ? QSerialPort::NoFlowControl
                         : handshaking == 1 ? QSerialPort::SoftwareControl
                                            : QSerialPort::HardwareControl);
    port_.clearError();
}

bool comPort::PortOpen() const { return port_.isOpen(); }

void comPort::setPortOpen(bool open)
{
    if (!open) {
        if (port_.isOpen())
            port_.close();
        return;
    }
    if (port_.isOpen())
        throw RuntimeError(PortAlreadyOpen, QStringLiteral("Port already open"));
    if (commPort_ < 1)
        throw RuntimeError(InvalidPortNumber, QStringLiteral("Invalid port number"));
    const QString device = devicePathFor(commPort_);
    device_ = device;
    // A stable name (/dev/serial/by-id/...) is a link that may point at another
    // device after a replug: it is followed afresh at every opening, and the
    // device itself is opened, so its lock is the one other programs see.
    const QString target = QFileInfo(device).canonicalFilePath();
    port_.setPortName(target.isEmpty() ? device : target);
    port_.clearError();
    if (!port_.open(QIODevice::ReadOnly)) {
        const QSerialPort::SerialPortError error = port_.error();
        const QString reason = device + QStringLiteral(": ") + port_.errorString();
        port_.clearError();
        if (error == QSerialPort::DeviceNotFoundError)
            throw RuntimeError(InvalidPortNumber, QStringLiteral("Invalid port number (") + reason + QLatin1Char(')'));
        if (error == QSerialPort::PermissionError || error == QSerialPort::OpenError)
            throw RuntimeError(PortUnavailable,
                               QStringLiteral("The port is not available (") + reason + QLatin1Char(')'));
        throw RuntimeError(PortOpenFailed,
                           QStringLiteral("The port could not be opened (") + reason + QLatin1Char(')'));
    }
    commEvent_ = 0;
    applyModemLines();
    EpollEventDispatcher::deferReading(port_.handle());
}

void comPort::setDTREnable(bool enable)
{
    dtr_ = enable;
    applyModemLines();
}

void comPort::setRTSEnable(bool enable)
{
    rts_ = enable;
    applyModemLines();
}

// Modem lines are set only while open; a port without them (a pseudo-terminal)
// refuses, which is harmless for a port that only receives.
void comPort::applyModemLines()
{
    if (!port_.isOpen())
        return;
    port_.setDataTerminalReady(dtr_);
    if (port_.flowControl() != QSerialPort::HardwareControl)
        port_.setRequestToSend(rts_);
    port_.clearError();
}

// Characters the system holds that QSerialPort has not fetched yet: they arrived
// while the receive handler ran, and the handler takes them in the same call.
int comPort::waitingInSystem() const
{
    int n = 0;
    if (!port_.isOpen() || port_.handle() < 0 || ::ioctl(port_.handle(), FIONREAD, &n) != 0)
        return 0;
    return n > 0 ? n : 0;
}

QByteArray comPort::InputBytes()
{
    if (!port_.isOpen())
        return {};
    // What QSerialPort fetched on this notification is taken alone: characters that came
    // after it are seen by InBufferCount, and the next call takes them from the system.
    // One question to the system per frame instead of two.
    if (port_.bytesAvailable() > 0)
        return port_.readAll();
    const int waiting = waitingInSystem();
    if (waiting <= 0)
        return {};
    QByteArray data(waiting, Qt::Uninitialized);
    ssize_t n;
    do
        n = ::read(port_.handle(), data.data(), std::size_t(waiting));
    while (n < 0 && errno == EINTR);
    data.resize(n > 0 ? n : 0);
    return data;
}

int comPort::InBufferCount() const { return port_.isOpen() ? int(port_.bytesAvailable()) + waitingInSystem() : 0; }

void comPort::onReadyRead()
{
    commEvent_ = comEvReceive;
    emit OnComm(index_);
}

bool comPort::hungUp() const
{
    if (!port_.isOpen() || port_.handle() < 0)
        return false;
    pollfd p{int(port_.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void comPort::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    // A device that went away (an unplugged adapter, a closed pseudo-terminal master)
    // reports a read failure on every turn of the event loop: the port is closed.
    // Any other read failure is a notification for characters Input already took.
    if (error == QSerialPort::ReadError && !hungUp()) {
        port_.clearError();
        return;
    }
    if (closing_)
        return;
    closing_ = true;
    // Closed once the serial code has returned from its notification.
    QMetaObject::invokeMethod(
        this,
        [this] {
            closing_ = false;
            if (!port_.isOpen())
                return;
            port_.close();
            Log::LogDebugMessage(QStringLiteral("COM%1 %2 closed: the device went away").arg(commPort_).arg(device_));
            emit deviceLost(index_);
        },
        Qt::QueuedConnection);
}

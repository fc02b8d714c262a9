#pragma once
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <cstdint>

// One element of the serial port control array: a receive-only port over
// QSerialPort. Port number n is the device named by key "COM"&n of section "Ports"
// of the application INI file, else /dev/ttyS(n-1). Raising DTR or RTS may fail (a
// pseudo-terminal has no modem lines); that is not an open failure.
//
// Receive path: when characters arrive, CommEvent becomes comEvReceive and OnComm
// is emitted with the element's index; the handler then repeats
// Receive(InputBytes()) while InBufferCount() >= 1. A device that goes away while
// open closes the port (PortOpen reads False) with a line in the debug log, and
// deviceLost is emitted; the owner decides when to open it again.
class comPort : public QObject {
    Q_OBJECT
public:
    static constexpr std::int16_t comEvReceive = 2;

    explicit comPort(int index = 0, QObject *parent = nullptr);
    ~comPort() override;

    // "baud,parity,data,stop", as "4800,n,8,1". An invalid text raises
    // RuntimeError 380 and leaves the port as it was.
    void setSettings(const QString &settings);
    // Raises RuntimeError 8005 while the port is open.
    void setCommPort(std::int16_t port);
    // 0 none, 1 XOn/XOff, 2 RTS/CTS, 3 both (RTS/CTS here).
    void setHandshaking(std::int32_t handshaking);

    bool PortOpen() const;
    // True opens (RuntimeError with the reason when it cannot), False closes.
    void setPortOpen(bool open);
    void setDTREnable(bool enable);
    void setRTSEnable(bool enable);

    std::int16_t CommEvent() const { return commEvent_; }
    // Everything waiting, removed from the receive buffer: one byte a character.
    QByteArray InputBytes();
    int InBufferCount() const;

    // The device a port number names, as configured.
    static QString devicePathFor(std::int16_t port);
    // The path last opened or tried, as configured.
    const QString &devicePath() const { return device_; }

signals:
    void OnComm(int index);
    // The port was closed because its device went away (unplugged, hung up).
    void deviceLost(int index);

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void applyModemLines();
    int waitingInSystem() const;
    bool hungUp() const;

    int index_;
    QSerialPort port_;
    std::int16_t commPort_ = 1;
    bool dtr_ = false;
    bool rts_ = false;
    std::int16_t commEvent_ = 0;
    bool closing_ = false;
    QString device_; // the path last opened
};

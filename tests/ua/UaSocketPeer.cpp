// The test client over a loopback socket; the event loop runs while it waits, so the
// server in the same thread is served.
#include "TestSupport.h"
#include "UaTestClient.h"

using namespace Ua;

SocketPeer::SocketPeer(quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    waitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 3000);
}

void SocketPeer::sendBytes(const QByteArray &bytes)
{
    socket.write(bytes);
    socket.flush();
}

QByteArray SocketPeer::nextFrame()
{
    waitFor(
        [this] {
            input_ += socket.readAll();
            return completeFrame(input_) > 0 || socket.state() != QAbstractSocket::ConnectedState;
        },
        3000);
    input_ += socket.readAll();
    const qsizetype size = completeFrame(input_);
    const QByteArray frame = input_.left(size);
    input_.remove(0, size);
    return frame;
}

bool SocketPeer::closedByServer()
{
    return waitFor(
        [this] {
            input_ += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
}

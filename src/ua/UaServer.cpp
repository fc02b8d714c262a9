#include "ua/UaServer.h"
#include "common/AppInfo.h"
#include "common/Error.h"

#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>
#include <sys/socket.h>

namespace {
// Time-outs are checked this often.
constexpr int TickIntervalMs = 250;

// Most answers fit in the socket's kernel buffer. Written at once, an answer costs one
// system call; QTcpSocket's buffered write instead waits a turn of the event loop for
// the socket to be writable, switching that notification on and off around it. Only
// what the kernel does not take, or what would pass bytes still queued, goes through
// QTcpSocket.
void sendNow(QTcpSocket *socket, const QByteArray &bytes)
{
    qsizetype done = 0;
    if (socket->bytesToWrite() == 0 && socket->state() == QAbstractSocket::ConnectedState) {
        const int fd = int(socket->socketDescriptor());
        while (done < bytes.size()) {
            const ssize_t n =
                ::send(fd, bytes.constData() + done, std::size_t(bytes.size() - done), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                done += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break; // full, or failed: QTcpSocket reports a failure as it would its own
        }
    }
    if (done < bytes.size())
        socket->write(bytes.constData() + done, bytes.size() - done);
}
} // namespace

UaServer::UaServer(OPCServer &server, QString host, quint16 port, Ua::DescriptionFn describe, QObject *parent,
                   const Clock &clock)
    : QObject(parent), server_(server), host_(std::move(host)), port_(port), describe_(std::move(describe)),
      clock_(clock)
{
    connect(&timer_, &QTimer::timeout, this, &UaServer::onTick);
}

UaServer::~UaServer()
{
    stop();
    if (server_.frontEnd() == this)
        server_.setFrontEnd(nullptr);
}

bool UaServer::isListening() const { return listener_ && listener_->isListening(); }

quint16 UaServer::port() const { return isListening() ? listener_->serverPort() : port_; }

QString UaServer::endpointUrl() const
{
    QString host = host_;
    if (host.isEmpty() || host == QLatin1String("0.0.0.0") || host == QLatin1String("::"))
        host = QHostInfo::localHostName();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("opc.tcp://%1:%2").arg(host).arg(port());
}

QString UaServer::applicationUri() const
{
    if (!config_.applicationUri.isEmpty())
        return config_.applicationUri;
    const QString progId = server_.ProgID.isEmpty() ? AppInfo::ProgID : server_.ProgID;
    return QStringLiteral("urn:%1:%2").arg(QHostInfo::localHostName(), progId);
}

void UaServer::start()
{
    if (isListening())
        return;
    QHostAddress address(QHostAddress::Any);
    if (!host_.isEmpty() && !address.setAddress(host_)) {
        const QHostInfo info = QHostInfo::fromName(host_);
        if (info.addresses().isEmpty())
            throw RuntimeError(
                ErrorNumber::ToolkitError,
                QStringLiteral("OPC UA server: cannot resolve host %1: %2").arg(host_, info.errorString()));
        address = info.addresses().first();
    }
    auto *listener = new QTcpServer(this);
    if (!listener->listen(address, port_)) {
        const QString why = listener->errorString();
        delete listener;
        throw RuntimeError(ErrorNumber::ToolkitError, QStringLiteral("OPC UA server: cannot listen on %1:%2: %3")
                                                          .arg(host_.isEmpty() ? QStringLiteral("*") : host_)
                                                          .arg(port_)
                                                          .arg(why));
    }
    listener_ = listener;
    connect(listener_, &QTcpServer::newConnection, this, &UaServer::onNewConnection);

    const QString progId = server_.ProgID.isEmpty() ? AppInfo::ProgID : server_.ProgID;
    Ua::ServerConfig config = config_;
    config.endpointUrl = endpointUrl();
    config.applicationUri = applicationUri();
    if (config.productUri.isEmpty())
        config.productUri = QStringLiteral("urn:%1:%2").arg(AppInfo::companyName(), AppInfo::Title);
    if (config.namespaceUri.isEmpty())
        config.namespaceUri = QStringLiteral("urn:") + progId;
    core_ = std::make_unique<Ua::ServerCore>(server_, config, describe_, clock_);
    core_->start();
    timer_.start(TickIntervalMs);
}

void UaServer::stop()
{
    timer_.stop();
    if (listener_) {
        listener_->close();
        listener_->deleteLater();
        listener_ = nullptr;
    }
    if (!core_)
        return;
    core_->stop(); // tells every client, which marks them all dead
    for (Client &client : clients_)
        dropClient(client);
    clients_.clear();
    core_.reset();
}

void UaServer::announceShutdown(int seconds)
{
    if (core_)
        core_->announceShutdown(seconds);
}

void UaServer::requestDisconnect(const QString &reason)
{
    // Only clients connected now are asked; a later start begins without the notice.
    if (core_)
        core_->requestDisconnect(reason);
}

UaServer::Client *UaServer::find(QTcpSocket *socket)
{
    for (auto &c : clients_)
        if (c.socket == socket)
            return &c;
    return nullptr;
}

void UaServer::onNewConnection()
{
    while (listener_ && listener_->hasPendingConnections()) {
        QTcpSocket *socket = listener_->nextPendingConnection();
        const QString peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (!core_ || !core_->admitConnection(peer)) {
            // Say why before closing, as a Hello would be answered.
            QByteArray err;
            Ua::Encoder e(err);
            e.raw("ERRF", 4);
            e.u32(0);
            e.u32(Ua::Status::BadTcpServerTooBusy);
            e.string(QStringLiteral("Too many connections"));
            e.patchU32(4, std::uint32_t(err.size()));
            socket->write(err);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        auto connection = std::make_unique<Ua::Connection>(*core_, core_->config().transport, peer);
        connection->onSend = [this, socket](const QByteArray &bytes) {
            const Client *client = find(socket);
            if (!client || client->dead)
                return;
            if (overBudget(*client, bytes.size())) {
                cutOff(socket);
                return;
            }
            sendNow(socket, bytes);
        };
        connection->onClose = [this, socket] {
            markDead(socket);
            socket->flush();
            socket->disconnectFromHost();
        };
        clients_.push_back({socket, connection.get(), false});
        core_->addChannel(std::move(connection));
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setReadBufferSize(Ua::Budget::ReadAheadBytes);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        // A client paused for its unread answers is read again once they are gone.
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            if (socket->bytesToWrite() < Ua::Budget::UnsentBytesBeforePause && socket->bytesAvailable() > 0)
                onReadyRead(socket);
        });
        // Queued: the socket may report its end from inside a call of its connection.
        connect(
            socket, &QTcpSocket::disconnected, socket,
            [this, socket] {
                markDead(socket);
                dropDeadClients();
            },
            Qt::QueuedConnection);
    }
}

void UaServer::markDead(QTcpSocket *socket)
{
    if (Client *c = find(socket))
        c->dead = true;
}

void UaServer::onReadyRead(QTcpSocket *socket)
{
    Client *client = find(socket);
    if (!client || client->dead || socket->bytesToWrite() >= Ua::Budget::UnsentBytesBeforePause)
        return;
    client->connection->receive(socket->readAll());
    if (!client->dead && overBudget(*client, 0))
        cutOff(socket);
    dropDeadClients();
}

bool UaServer::overBudget(const Client &client, qint64 adding) const
{
    return client.connection->bufferedBytes() + client.socket->bytesToWrite() + adding > Ua::Budget::ConnectionBytes;
}

void UaServer::cutOff(QTcpSocket *socket)
{
    markDead(socket);
    socket->abort();
}

void UaServer::onTick()
{
    if (!core_)
        return;
    core_->tick();
    dropDeadClients();
}

void UaServer::dropDeadClients()
{
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (!it->dead) {
            ++it;
            continue;
        }
        dropClient(*it);
        it = clients_.erase(it);
    }
}

void UaServer::dropClient(Client &client)
{
    QTcpSocket *socket = client.socket;
    client.connection->onSend = nullptr;
    client.connection->onClose = nullptr;
    core_->removeChannel(*client.connection);
    socket->disconnect();
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->disconnectFromHost();
    socket->deleteLater();
}

#pragma once
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

// The toolkit's network side: an opc.tcp server on QTcpServer in the main thread.
// The shell creates it with the bind host and port (keys "UaHost" and "UaPort" of
// the application INI file's section named after the application title) and the
// description lookup of the item table, and hands it to OPCServer::setFrontEnd.
class UaServer : public QObject, public OPCFrontEnd {
    Q_OBJECT
public:
    // host: address or name to bind, empty for every interface; port 0 picks a free one.
    UaServer(OPCServer &server, QString host, quint16 port, Ua::DescriptionFn describe = {}, QObject *parent = nullptr,
             const Clock &clock = Clock::system());
    ~UaServer() override;

    // Limits and time-outs; changes take effect at the next start().
    Ua::ServerConfig &config() { return config_; }

    // OPCFrontEnd.
    void start() override; // raises RuntimeError when the port cannot be bound
    void stop() override;
    void requestDisconnect(const QString &reason) override;
    QString endpointUrl() const override;

    quint16 port() const; // the bound port once started
    bool isListening() const;
    Ua::ServerCore *core() const { return core_.get(); }
    std::size_t connectionCount() const { return clients_.size(); }

private:
    // A socket and its connection, which the core owns. A client found dead inside a
    // callback of its own connection is dropped once that callback has returned.
    struct Client {
        QTcpSocket *socket;
        Ua::Connection *connection;
        bool dead;
    };
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void onTick();
    void markDead(QTcpSocket *socket);
    void dropDeadClients();
    void dropClient(Client &client);
    Client *find(QTcpSocket *socket);

    OPCServer &server_;
    QString host_;
    quint16 port_;
    Ua::DescriptionFn describe_;
    const Clock &clock_;
    Ua::ServerConfig config_;
    QTcpServer *listener_ = nullptr;
    QTimer timer_;
    std::unique_ptr<Ua::ServerCore> core_;
    std::vector<Client> clients_;
};

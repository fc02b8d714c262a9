#pragma once
#include "config/Settings.h"
#include <utility>

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class OPCServer;
class ItemTable;
class ItemValues;
class comPort;
class cTarvolin;

// The panel lines: the connection table, one serial port element and one
// protocol engine per connection, opening and closing, and the receive path
// from each port to its engine. A port that cannot be opened, or whose device
// goes away, is tried again every ReopenIntervalMs until its device is back
// (a replugged adapter); its engine keeps running meanwhile, so the line's
// communication error rises and clears on the engine's own timing.
class PanelConnections : public QObject {
    Q_OBJECT
public:
    static constexpr int ReopenIntervalMs = 5000;

    PanelConnections(OPCServer &server, ItemTable &items, ItemValues &values, QObject *parent = nullptr);
    ~PanelConnections() override;

    // Rebuilds every connection from the configuration: stop and release the old
    // ones, read the table, create ports and engines (with their items), then open
    // the lines, one per turn of the event loop (see openingTimer()).
    void Carga_General();

    // Opens the port and starts the engine of connection `index`, or of all (0).
    void Ports_Conectar(int index = 0);
    // Stops the engine and closes the port of connection `index`, or of all (0).
    void Ports_Desconectar(int index = 0);
    void Ports_Crear();
    void Protocolos_Crear();
    void Conexiones_Liberar();

    // The receive handler of port element k.
    void comPort_OnComm(int k);

    ConnectionTable &table() { return table_; }
    const ConnectionTable &table() const { return table_; }
    comPort *port(int k) const;
    int portCount() const { return int(ports_.size()); }
    // The first element of the engine collection (one engine per protocol key).
    cTarvolin *firstEngine() const { return engineCollection_.isEmpty() ? nullptr : engineCollection_.first(); }

    // The connections whose port waits for its device, and the timer that retries them.
    const QSet<int> &waitingForDevice() const { return waiting_; }
    QTimer &reopenTimer() { return reopen_; }
    // Opening a line takes its lock file, which the system writes through to disk. The
    // lines open one per turn of the event loop once it runs, so the server already
    // serves and a client that comes meanwhile waits for one opening, not sixteen.
    QTimer &openingTimer() { return opening_; }

    // Each line of a port that cannot be opened, as logged (for a clear message).
    std::function<void(const QString &line)> onPortError;
    // Each complete line received by any engine (the communications monitor).
    std::function<void(int connection, QByteArrayView line)> onFrame;

private:
    // First and last connection an index names: one connection, or all for 0 or less.
    std::pair<int, int> connectionRange(int index) const;
    void portError(int i, const QString &description);
    QString openedBy(int i) const;
    void openPort(comPort &p);
    void deviceLost(int k);
    void reopenWaiting();
    void openNext();
    void wait(int i);

    OPCServer &server_;
    ItemTable &items_;
    ItemValues &values_;
    ConnectionTable table_;
    std::vector<std::unique_ptr<comPort>> ports_;     // element 0 always exists
    std::vector<std::unique_ptr<cTarvolin>> engines_; // owned here, referenced by the records
    QMap<QString, cTarvolin *> engineCollection_;
    QSet<int> waiting_; // connections whose device is missing
    QTimer reopen_;
    QTimer opening_;
    int nextToOpen_ = 0;
};

#include "shell/PanelConnections.h"
#include "common/AppInfo.h"
#include "common/Error.h"
#include "lang/Language.h"
#include "log/Log.h"
#include "opc/ItemTable.h"
#include "opc/ItemValues.h"
#include "opc/OPCServer.h"
#include "protocol/cTarvolin.h"
#include "protocol/comPort.h"

PanelConnections::PanelConnections(OPCServer &server, ItemTable &items, ItemValues &values, QObject *parent)
    : QObject(parent), server_(server), items_(items), values_(values)
{
    ports_.push_back(std::make_unique<comPort>(0));
    connect(ports_[0].get(), &comPort::OnComm, this, &PanelConnections::comPort_OnComm);
    connect(ports_[0].get(), &comPort::deviceLost, this, &PanelConnections::deviceLost);
    reopen_.setInterval(ReopenIntervalMs);
    connect(&reopen_, &QTimer::timeout, this, &PanelConnections::reopenWaiting);
    opening_.setSingleShot(true);
    opening_.setInterval(0);
    connect(&opening_, &QTimer::timeout, this, &PanelConnections::openNext);
}

PanelConnections::~PanelConnections()
{
    // Ports close before the engines they feed go away.
    for (auto &p : ports_)
        p->disconnect(this);
    ports_.clear();
    engines_.clear();
}

comPort *PanelConnections::port(int k) const
{
    return k >= 0 && k < int(ports_.size()) ? ports_[std::size_t(k)].get() : nullptr;
}

void PanelConnections::Carga_General()
{
    Ports_Desconectar();
    if (table_.ConnectionCount > 0)
        Conexiones_Liberar();
    LoadConnectionTable(table_);
    Ports_Crear();
    Protocolos_Crear();
    nextToOpen_ = 1;
    opening_.start();
}

void PanelConnections::openNext()
{
    if (nextToOpen_ < 1 || nextToOpen_ > table_.ConnectionCount)
        return;
    Ports_Conectar(nextToOpen_++);
    if (nextToOpen_ <= table_.ConnectionCount)
        opening_.start();
}

void PanelConnections::Ports_Crear()
{
    ports_.resize(1);
    int k = 0;
    for (int i = 1; i <= table_.ConnectionCount; ++i) {
        ConnectionRecord &c = table_[i];
        if (c.Enabled == 0)
            continue;
        if (k > 0) {
            ports_.push_back(std::make_unique<comPort>(k));
            connect(ports_.back().get(), &comPort::OnComm, this, &PanelConnections::comPort_OnComm);
            connect(ports_.back().get(), &comPort::deviceLost, this, &PanelConnections::deviceLost);
        }
        c.PortIndex = std::int16_t(k);
        comPort &p = *ports_[std::size_t(k)];
        try {
            if (p.PortOpen())
                p.setPortOpen(false);
            p.setSettings(c.Settings);
            p.setCommPort(c.ComPort);
            p.setHandshaking(c.Handshaking);
        } catch (const RuntimeError &e) {
            // A setting the port refuses keeps its previous value; opening will tell.
            Log::LogDebugMessage(e.description());
        }
        ++k;
    }
}

void PanelConnections::Protocolos_Crear()
{
    int engines = 0;
    for (int i = 1; i <= table_.ConnectionCount; ++i)
        engines += table_[i].Enabled != 0 && table_[i].Protocol != 0;
    items_.reserve(engines * cTarvolin::ItemsPerConnection);
    server_.Tags().reserve(engines * cTarvolin::ItemsPerConnection);
    for (int i = 1; i <= table_.ConnectionCount; ++i) {
        ConnectionRecord &c = table_[i];
        c.Engine = nullptr;
        if (c.Enabled == 0)
            continue;
        try {
            auto engine = std::make_unique<cTarvolin>();
            cTarvolin *e = engine.get();
            engines_.push_back(std::move(engine));
            e->setClaveProtocol(c.ProtocolKey);
            c.Engine = e;
            // One engine per key: the first stays filed, the others are not added.
            if (!engineCollection_.contains(e->ClaveProtocol()))
                engineCollection_.insert(e->ClaveProtocol(), e);
            e->setIndex(std::int16_t(i));
            e->setValueWriter([this](OPCItem *item, const Variant &value, std::int16_t quality) {
                values_.PasaDatoValue(item, value, quality);
            });
            e->frameObserver = [this, i](QByteArrayView line) {
                if (onFrame)
                    onFrame(i, line);
            };
            if (c.Protocol != 0)
                e->InitialUpdate(server_, items_);
        } catch (const RuntimeError &err) {
            Log::LogTraceMessage(err.description());
        }
    }
}

QString PanelConnections::openedBy(int i) const
{
    // Two connections on one port would read each other's bytes in turn; the
    // second one is refused instead, so each line keeps one reader.
    const ConnectionRecord &c = table_.Connections[std::size_t(i)];
    for (int j = 1; j <= table_.ConnectionCount; ++j) {
        const ConnectionRecord &o = table_.Connections[std::size_t(j)];
        if (j != i && o.Enabled != 0 && o.IsOpen && o.ComPort == c.ComPort && o.ComPort >= 1)
            return QStringLiteral("Port already used by connection %1").arg(j);
    }
    return {};
}

void PanelConnections::portError(int i, const QString &description)
{
    const ConnectionRecord &c = table_[i];
    const QString protocolName = c.Protocol == AppInfo::Protocol.number ? AppInfo::Protocol.name : QString();
    const QString line = GetLangText(QStringLiteral("NoSePuedeAbrirCOM")) + QString::number(c.ComPort) +
                         QStringLiteral(". ") + GetLangText(QStringLiteral("Protocolo")) + QLatin1Char(':') +
                         protocolName + QStringLiteral("  Error: ") + description;
    Log::LogDebugMessage(line);
    if (onPortError)
        onPortError(line);
}

std::pair<int, int> PanelConnections::connectionRange(int index) const
{
    if (index > 0)
        return {index, std::min<int>(index, table_.ConnectionCount)};
    return {1, table_.ConnectionCount};
}

void PanelConnections::Ports_Conectar(int index)
{
    const auto [first, last] = connectionRange(index);
    for (int i = first; i <= last; ++i) {
        ConnectionRecord &c = table_[i];
        if (c.Enabled == 0)
            continue;
        try {
            if (c.ComPort < 1) {
                c.IsOpen = true;
                if (c.Engine)
                    c.Engine->ProtocolStart();
                continue;
            }
            comPort *p = port(c.PortIndex);
            if (!p)
                continue;
            QString failure = openedBy(i);
            if (failure.isEmpty()) {
                try {
                    if (p->PortOpen())
                        p->setPortOpen(false);
                    openPort(*p);
                } catch (const RuntimeError &e) {
                    failure = e.description();
                    // A missing device may come later; a port another line holds stays refused.
                    wait(i);
                }
            }
            if (failure.isEmpty()) {
                p->setRTSEnable(true);
                c.IsOpen = true;
                if (c.Engine)
                    c.Engine->ProtocolStart();
            } else {
                portError(i, failure);
                c.IsOpen = false;
                if (c.Engine) {
                    c.Engine->ProtocolStop();
                    c.Engine->ProtocolStart();
                }
            }
        } catch (const RuntimeError &) {
            // The next connection still gets its chance.
        }
    }
}

void PanelConnections::Ports_Desconectar(int index)
{
    if (index <= 0) {
        opening_.stop(); // a line still to open stays closed
        nextToOpen_ = 0;
    }
    const auto [first, last] = connectionRange(index);
    for (int i = first; i <= last; ++i) {
        ConnectionRecord &c = table_[i];
        if (c.Enabled == 0)
            continue;
        // Input still queued for a stopped engine is dropped by the engine itself,
        // so nothing needs to run between the steps.
        try {
            if (c.Engine)
                c.Engine->ProtocolStop();
        } catch (const RuntimeError &) {
        }
        c.IsOpen = false;
        waiting_.remove(i);
        if (c.ComPort < 1)
            continue;
        try {
            if (comPort *p = port(c.PortIndex)) {
                if (p->PortOpen())
                    p->setPortOpen(false);
                p->setDTREnable(false);
            }
        } catch (const RuntimeError &) {
        }
    }
}

void PanelConnections::openPort(comPort &p)
{
    p.setDTREnable(true);
    p.setRTSEnable(true);
    p.setPortOpen(true);
}

void PanelConnections::wait(int i)
{
    waiting_.insert(i);
    if (!reopen_.isActive())
        reopen_.start();
}

void PanelConnections::deviceLost(int k)
{
    // The port has logged its loss; the line's engine keeps watching its silence.
    for (int i = 1; i <= table_.ConnectionCount; ++i)
        if (table_[i].Enabled != 0 && table_[i].IsOpen && table_[i].ComPort >= 1 && table_[i].PortIndex == k)
            wait(i);
}

void PanelConnections::reopenWaiting()
{
    // Each try is silent: only the loss and the return reach the trace.
    for (int i : QSet<int>(waiting_)) {
        ConnectionRecord &c = table_[i];
        comPort *p = port(c.PortIndex);
        if (!p) {
            waiting_.remove(i);
            continue;
        }
        if (!openedBy(i).isEmpty())
            continue;
        try {
            openPort(*p);
        } catch (const RuntimeError &) {
            continue;
        }
        waiting_.remove(i);
        c.IsOpen = true;
        p->setRTSEnable(true);
        Log::LogDebugMessage(QStringLiteral("COM%1 %2 open again").arg(c.ComPort).arg(p->devicePath()));
    }
    if (waiting_.isEmpty())
        reopen_.stop();
}

void PanelConnections::Conexiones_Liberar()
{
    waiting_.clear();
    reopen_.stop();
    engineCollection_.clear();
    for (int i = 1; i <= table_.ConnectionCount; ++i)
        table_[i].Engine = nullptr;
    engines_.clear();
    table_.Connections.assign(1, ConnectionRecord{});
    table_.ConnectionCount = 0;
}

void PanelConnections::comPort_OnComm(int k)
{
    comPort *p = port(k);
    if (!p || p->CommEvent() != comPort::comEvReceive)
        return;
    cTarvolin *engine = nullptr;
    for (int i = 1; i <= table_.ConnectionCount; ++i)
        if (table_[i].Enabled != 0 && table_[i].PortIndex == k)
            engine = table_[i].Engine;
    if (!engine)
        return;
    do {
        const QByteArray input = p->InputBytes();
        engine->Receive(QByteArrayView(input));
    } while (p->InBufferCount() >= 1);
}

#include "opc/OPCServer.h"
#include "common/Error.h"
#include "common/SecureFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>

OPCServer::OPCServer() : tags_(this) {}

OPCServer::~OPCServer()
{
    if (frontEnd_ && serving_)
        frontEnd_->stop();
}

void OPCServer::setServerState(std::int32_t state)
{
    if (state == serverState_)
        return;
    serverState_ = state;
    for (const auto &o : std::vector<Observer>(observers_))
        if (o.state)
            o.state(state);
}

void OPCServer::itemChanged(OPCItem &item)
{
    for (const auto &o : observers_)
        if (o.item && (!o.only || o.only == &item))
            o.item(item);
}

int OPCServer::addItemObserver(ItemObserver observer)
{
    observers_.push_back({nextObserverId_, std::move(observer), {}});
    return nextObserverId_++;
}

int OPCServer::addItemObserver(const OPCItem &item, ItemObserver observer)
{
    observers_.push_back({nextObserverId_, std::move(observer), {}, &item});
    return nextObserverId_++;
}

int OPCServer::addStateObserver(StateObserver observer)
{
    observers_.push_back({nextObserverId_, {}, std::move(observer)});
    return nextObserverId_++;
}

void OPCServer::removeObserver(int id)
{
    std::erase_if(observers_, [id](const Observer &o) { return o.id == id; });
}

QString OPCServer::registrationFile() const
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/opc/servers/") + ProgID + QStringLiteral(".ini");
}

void OPCServer::RegisterServer()
{
    if (ProgID.isEmpty())
        throw RuntimeError(ErrorNumber::ToolkitError, QStringLiteral("No ProgID to register"));
    const QString path = registrationFile();
    // Explicit modes, whatever the umask: nobody else may change where clients
    // find the server.
    if (const QString error = Files::makeFolder(QFileInfo(path).absolutePath(), 0755); !error.isEmpty())
        throw RuntimeError(ErrorNumber::PathNotFound, error);
    const QString executable = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    const QString endpoint = frontEnd_ ? frontEnd_->endpointUrl() : QString();
    QByteArray text = "[Server]\n";
    auto line = [&](const char *key, const QString &value) {
        text += key;
        text += '=';
        text += value.toUtf8();
        text += '\n';
    };
    line("ProgID", ProgID);
    line("CLSID", RegistrationGuid1);
    line("AppID", RegistrationGuid2);
    line("Name", ServerName);
    line("Description", ServerDescription);
    line("Vendor", VendorName);
    line("Executable", executable);
    line("Endpoint", endpoint);
    if (const QString error = Files::writeFileAtomically(path, text, 0644); !error.isEmpty())
        throw RuntimeError(ErrorNumber::ToolkitError, QStringLiteral("Cannot write registration: ") + error);
}

void OPCServer::UnregisterServer()
{
    const QString path = registrationFile();
    if (QFileInfo(path).isFile() && !QFile::remove(path))
        throw RuntimeError(ErrorNumber::ToolkitError, QStringLiteral("Cannot remove registration ") + path);
}

void OPCServer::StartServer()
{
    if (serving_)
        return;
    if (frontEnd_)
        frontEnd_->start();
    serving_ = true;
}

void OPCServer::StopServer()
{
    if (!serving_)
        return;
    serving_ = false;
    if (frontEnd_)
        frontEnd_->stop();
}

void OPCServer::SetTraceLevel(std::int32_t &level, std::int32_t)
{
    traceLevel_ = std::clamp(level, 0, 4);
    level = traceLevel_;
}

void OPCServer::RequestDisconnect(const QString &reason)
{
    if (frontEnd_)
        frontEnd_->requestDisconnect(reason);
}

bool OPCServer::clientConnecting()
{
    bool accept = true;
    if (OnClientConnect)
        OnClientConnect(clientCount_, accept);
    if (accept)
        ++clientCount_;
    trace(1, accept ? QStringLiteral("Client connected; clients: %1").arg(clientCount_)
                    : QStringLiteral("Client refused; clients: %1").arg(clientCount_));
    return accept;
}

void OPCServer::clientDisconnected()
{
    if (clientCount_ > 0)
        --clientCount_;
    trace(1, QStringLiteral("Client disconnected; clients: %1").arg(clientCount_));
    if (OnClientDisconnect)
        OnClientDisconnect(clientCount_);
}

std::int32_t OPCServer::clientRead(const std::vector<OPCItem *> &items, std::vector<std::int32_t> &errors)
{
    errors.assign(items.size(), S_OK_);
    std::int32_t result = S_OK_;
    if (OnRead)
        OnRead(std::int32_t(items.size()), items, errors, result);
    errors.resize(items.size(), S_OK_);
    trace(3, QStringLiteral("Read of %1 items: 0x%2").arg(items.size()).arg(quint32(result), 8, 16, QLatin1Char('0')));
    return result;
}

std::int32_t OPCServer::clientWrite(const std::vector<OPCItem *> &items, const std::vector<Variant> &values,
                                    std::vector<std::int32_t> &errors)
{
    errors.assign(items.size(), S_OK_);
    std::int32_t result = S_OK_;
    if (OnWrite)
        OnWrite(std::int32_t(items.size()), items, values, errors, result);
    errors.resize(items.size(), S_OK_);
    if (result == S_OK_) {
        for (std::size_t i = 0; i < items.size() && i < values.size(); ++i) {
            if (errors[i] != S_OK_)
                continue;
            try {
                items[i]->SetVQT(values[i], items[i]->Quality());
            } catch (const RuntimeError &e) {
                errors[i] = e.number() == ErrorNumber::Overflow ? DISP_E_OVERFLOW_ : DISP_E_TYPEMISMATCH_;
            }
        }
    }
    trace(3, QStringLiteral("Write of %1 items: 0x%2").arg(items.size()).arg(quint32(result), 8, 16, QLatin1Char('0')));
    return result;
}

std::int32_t OPCServer::clientWriteVQT(const std::vector<OPCItem *> &items, const std::vector<Variant> &values,
                                       const std::vector<std::int16_t> &qualities,
                                       const std::vector<QDateTime> &timestamps, std::vector<std::int32_t> &errors)
{
    errors.assign(items.size(), S_OK_);
    std::int32_t result = S_OK_;
    if (OnWriteVQT)
        OnWriteVQT(std::int32_t(items.size()), items, values, qualities, timestamps, errors, result);
    errors.resize(items.size(), S_OK_);
    trace(3,
          QStringLiteral("WriteVQT of %1 items: 0x%2").arg(items.size()).arg(quint32(result), 8, 16, QLatin1Char('0')));
    return result;
}

void OPCServer::trace(std::int32_t level, const QString &line)
{
    if (OnTraceMessage && level <= traceLevel_)
        OnTraceMessage(line + QLatin1Char('\n'));
}

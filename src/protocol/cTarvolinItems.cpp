// InitialUpdate: the link's settings and the 478 items of one connection.
#include "common/AppInfo.h"
#include "common/Error.h"
#include "common/Val.h"
#include "config/Ini.h"
#include "log/Log.h"
#include "opc/ItemTable.h"
#include "opc/OPCServer.h"
#include "protocol/cTarvolin.h"

namespace {

void logFailure(const QString &name, const QString &description)
{
    Log::LogTraceMessage(QStringLiteral("InitialUpdate. Tag:") + name + QStringLiteral(" Err:") + description);
}

QString description(const std::exception &e)
{
    if (const auto *r = dynamic_cast<const RuntimeError *>(&e))
        return r->description();
    return QString::fromUtf8(e.what());
}

// At least two digits, as "00" formats a number.
QString twoDigits(int n)
{
    const QString digits = QString::number(std::abs(n)).rightJustified(2, QLatin1Char('0'));
    return n < 0 ? QLatin1Char('-') + digits : digits;
}

std::int16_t readTimeoutError()
{
    const QString text = Ini::ProtocolIniGetString(AppInfo::Protocol.name, QStringLiteral("TimeoutError"),
                                                   QString::number(cTarvolin::DefaultTimeoutError));
    std::int16_t limit = cTarvolin::DefaultTimeoutError;
    try {
        limit = CInt(Val(text));
    } catch (const RuntimeError &) {
        // Outside the 16-bit range: the default.
    }
    return limit < cTarvolin::DefaultTimeoutError ? cTarvolin::DefaultTimeoutError : limit;
}

} // namespace

void cTarvolin::InitialUpdate(OPCServer &server, ItemTable &items)
{
    items_ = &items;
    try {
        TimeoutError_ = readTimeoutError();
    } catch (const std::exception &e) {
        logFailure(QString(), description(e));
    }
    try {
        mTimeOut2_.setInterval(TickPeriodMs);
    } catch (const std::exception &e) {
        logFailure(QString(), description(e));
    }
    CommError_ = 1;

    const QString P = QLatin1Char('C') + twoDigits(Index_) + QLatin1Char('.');
    const Variant byte0(std::uint8_t(0));
    const Variant text0{QString()};
    const Variant float0(0.0f);

    ErrCommIndex_ = createItem(P + QStringLiteral("Error_Comm"),
                               QStringLiteral("Communication Error with Panel. Connexion:") + QString::number(Index_),
                               Variant(std::uint8_t(1)), server);
    NPanelIndex_ = createItem(P + QStringLiteral("NPanel"), QStringLiteral("Number of the Panel"), byte0, server);

    // The descriptions are literals: 7,648 items share 17 texts instead of each
    // holding a copy.
    struct Row {
        const char *suffix;
        QString description;
        const Variant *initial;
    };
    const Row zoneRows[ZoneFieldCount] = {
        {"State", QStringLiteral("Zone State"), &byte0},
        {"StateStr", QStringLiteral("Zone State String"), &text0},
        {"StsPrgIng", QStringLiteral("Zone in Prog.Ingenier"), &byte0},
        {"StsPrgUsr", QStringLiteral("Zone in Prog.User"), &byte0},
        {"StsFailPower", QStringLiteral("Zone with power fail"), &byte0},
        {"StsFailBat", QStringLiteral("Zone with battery fail"), &byte0},
        {"StsFailGroup", QStringLiteral("Zone with group fail"), &byte0},
    };
    const Row groupRows[GroupFieldCount] = {
        {".State", QStringLiteral("Group State"), &byte0},
        {".StateStr", QStringLiteral("Group State String"), &text0},
        {".Gas", QStringLiteral("Group Gas"), &byte0},
        {".GasStr", QStringLiteral("Group Gas String"), &text0},
    };
    const Row detectorRows[DetectorFieldCount] = {
        {".Group", QStringLiteral("Group associated to Detector"), &byte0},
        {".Value", QStringLiteral("Detector value of mesure"), &float0},
        {".State", QStringLiteral("Detector State"), &byte0},
        {".StateStr", QStringLiteral("Detector State String"), &text0},
        {".Gas", QStringLiteral("Detector Gas"), &byte0},
        {".GasStr", QStringLiteral("Detector Gas String"), &text0},
    };

    // Each item's table index, by zone, group and detector, for the decoder's writes.
    auto make = [&](const QString &name, const Row &row, int &slot) {
        slot = createItem(name, row.description, *row.initial, server);
    };

    for (int z = 1; z <= Zones; ++z) {
        const QString Z = P + QLatin1Char('Z') + QString::number(z) + QLatin1Char('.');
        for (int f = 0; f < ZoneFieldCount; ++f)
            make(Z + QLatin1String(zoneRows[f].suffix), zoneRows[f], zoneIndex_[std::size_t(z)][std::size_t(f)]);
        for (int g = 1; g <= Groups; ++g) {
            const QString G = Z + QLatin1Char('G') + QString::number(g);
            for (int f = 0; f < GroupFieldCount; ++f)
                make(G + QLatin1String(groupRows[f].suffix), groupRows[f],
                     groupIndex_[std::size_t(z)][std::size_t(g)][std::size_t(f)]);
        }
        for (int d = 1; d <= Detectors; ++d) {
            const QString D = Z + QLatin1Char('D') + twoDigits(d);
            for (int f = 0; f < DetectorFieldCount; ++f)
                make(D + QLatin1String(detectorRows[f].suffix), detectorRows[f],
                     detectorIndex_[std::size_t(z)][std::size_t(d)][std::size_t(f)]);
        }
    }
}

// One entry of the table and one toolkit item. The entry stays even when the
// toolkit refuses the item; writes to it then reach no client.
int cTarvolin::createItem(const QString &name, const QString &text, const Variant &initial, OPCServer &server)
{
    ItemRecord record;
    record.Description = text;
    const int index = items_->add(std::move(record));
    try {
        OPCItem *item = server.Tags().Add(name, AccessRights::Read, initial, Quality::Good);
        (*items_)[index].Tag = item;
        item->setUserIndex(index);
    } catch (const std::exception &e) {
        logFailure(name, description(e));
    }
    return index;
}

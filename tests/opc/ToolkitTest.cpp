#include "TestSupport.h"
#include "common/Error.h"
#include "log/Log.h"
#include "opc/CodeText.h"
#include "opc/ItemValues.h"
#include "opc/OPCServer.h"

#include <QFile>
#include <gtest/gtest.h>

TEST(Toolkit, ItemsKeepCreationOrderAndIdsAreUnique)
{
    OPCServer server;
    for (const char *id : {"C01.Z2", "C01.Z1", "A"})
        server.Tags().Add(id, AccessRights::Read, Variant(std::int16_t(0)), Quality::Good);
    QStringList ids;
    for (OPCItem *item : server.Tags())
        ids << item->ItemID();
    EXPECT_EQ(ids, QStringList({"C01.Z2", "C01.Z1", "A"}));
    EXPECT_EQ(server.Tags().at(1)->handle(), 1);
    EXPECT_EQ(server.Tags().Item("A"), server.Tags().at(2));

    EXPECT_EQ(errorOf([&] { server.Tags().Add("C01.Z1", AccessRights::Read, Variant(1.0), Quality::Good); }),
              ErrorNumber::ToolkitError);
    EXPECT_EQ(errorOf([&] { server.Tags().Add("", AccessRights::Read, Variant(1.0), Quality::Good); }),
              ErrorNumber::ToolkitError);
    EXPECT_EQ(errorOf([&] { server.Tags().Add("R", 4, Variant(1.0), Quality::Good); }), ErrorNumber::ToolkitError);
    EXPECT_EQ(errorOf([&] { server.Tags().Item("a"); }), ErrorNumber::ToolkitError); // IDs match exactly
    EXPECT_EQ(server.Tags().find("nope"), nullptr);
    EXPECT_EQ(server.Tags().Count(), 3);
}

TEST(Toolkit, SetVQTKeepsTheTypeAndAQualityOnlyChangeKeepsTheValue)
{
    OPCServer server;
    OPCItem *item = server.Tags().Add("I", AccessRights::ReadWrite, Variant(std::int16_t(5)), Quality::Good);
    ASSERT_EQ(item->DataType(), VarType::Integer);
    int changes = 0;
    const int observer = server.addItemObserver([&](OPCItem &changed) {
        EXPECT_EQ(&changed, item);
        ++changes;
    });

    const QDateTime stamp(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
    item->SetVQT(std::nullopt, Quality::BadOutOfService, stamp);
    EXPECT_EQ(item->Value(), Variant(std::int16_t(5)));
    EXPECT_EQ(item->Quality(), Quality::BadOutOfService);
    EXPECT_EQ(item->Timestamp(), stamp);

    item->SetVQT(Variant(3.6), Quality::Good);
    EXPECT_EQ(item->Value(), Variant(std::int16_t(4)));
    EXPECT_GT(item->Timestamp(), stamp); // no timestamp: now

    // A value the type cannot take changes nothing and tells nobody.
    EXPECT_EQ(errorOf([&] { item->SetVQT(Variant("abc"), Quality::Bad); }), ErrorNumber::TypeMismatch);
    EXPECT_EQ(errorOf([&] { item->SetVQT(Variant(1e6), Quality::Bad); }), ErrorNumber::Overflow);
    EXPECT_EQ(item->Value(), Variant(std::int16_t(4)));
    EXPECT_EQ(item->Quality(), Quality::Good);
    EXPECT_EQ(changes, 2);

    server.removeObserver(observer);
    item->SetVQT(Variant(std::int16_t(1)), Quality::Good);
    EXPECT_EQ(changes, 2);
}

TEST(Toolkit, StateObserversSeeEveryChangeOnce)
{
    OPCServer server;
    std::vector<std::int32_t> seen;
    server.addStateObserver([&](std::int32_t s) { seen.push_back(s); });
    server.setServerState(ServerStates::Running);
    server.setServerState(ServerStates::Running);
    server.setServerState(ServerStates::Failed);
    EXPECT_EQ(seen, (std::vector<std::int32_t>{ServerStates::Running, ServerStates::Failed}));
    EXPECT_EQ(server.ServerState(), ServerStates::Failed);
}

TEST(Toolkit, RegistrationFileComesAndGoes)
{
    TempAppFolder folder;
    OPCServer server;
    EXPECT_EQ(errorOf([&] { server.RegisterServer(); }), ErrorNumber::ToolkitError); // no ProgID yet
    server.ProgID = "QUARLEN.KV7.1";
    server.ServerName = "OPC-KV7";
    server.VendorName = "QUARLEN";
    server.ServerDescription = "OPC Server for Gas Panels";
    server.RegistrationGuid1 = "{11111111-2222-3333-4444-555555555555}";
    server.RegistrationGuid2 = "{66666666-7777-8888-9999-000000000000}";
    const QString file = folder.path() + "/.config/opc/servers/QUARLEN.KV7.1.ini";
    EXPECT_EQ(server.registrationFile(), file);
    server.RegisterServer();
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    EXPECT_EQ(lines.value(0), "[Server]");
    for (const char *line : {"ProgID=QUARLEN.KV7.1", "CLSID={11111111-2222-3333-4444-555555555555}",
                             "AppID={66666666-7777-8888-9999-000000000000}", "Name=OPC-KV7",
                             "Description=OPC Server for Gas Panels", "Vendor=QUARLEN"})
        EXPECT_TRUE(lines.contains(line)) << line;
    for (const char *key : {"Executable=", "Endpoint="})
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QByteArray &l) { return l.startsWith(key); }))
            << key;
    server.UnregisterServer();
    EXPECT_FALSE(QFile::exists(file));
    server.UnregisterServer(); // nothing to remove is no error
}

TEST(ItemValuesTest, RequestsAreGatedByTheServerState)
{
    OPCServer server;
    ItemValues values(server);
    OPCItem *item = server.Tags().Add("W", AccessRights::ReadWrite, Variant(std::int16_t(1)), Quality::Good);
    std::vector<std::int32_t> errors;

    const std::vector<std::pair<std::int32_t, bool>> states = {{ServerStates::Running, true},
                                                               {ServerStates::Test, true},
                                                               {ServerStates::Suspended, false},
                                                               {ServerStates::Failed, false},
                                                               {ServerStates::NoConfiguration, false}};
    std::int16_t next = 10;
    for (const auto &[state, allowed] : states) {
        server.setServerState(state);
        EXPECT_EQ(server.clientRead({item}, errors), allowed ? S_OK_ : E_FAIL_) << state;
        const Variant before = item->Value();
        EXPECT_EQ(server.clientWrite({item}, {Variant(std::int32_t(next))}, errors), allowed ? S_OK_ : E_FAIL_);
        // A write that was accepted is what later reads see; a refused one leaves the value.
        EXPECT_EQ(item->Value(), allowed ? Variant(next) : before) << state;
        ++next;
    }

    server.setServerState(ServerStates::Running);
    EXPECT_EQ(server.clientWrite({item, item}, {Variant("12abc"), Variant(1e9)}, errors), S_OK_);
    EXPECT_EQ(errors, (std::vector<std::int32_t>{DISP_E_TYPEMISMATCH_, DISP_E_OVERFLOW_}));
    EXPECT_EQ(item->Value(), Variant(std::int16_t(11)));

    const QDateTime stamp(QDate(2020, 5, 6), QTime(7, 8, 9), Qt::UTC);
    EXPECT_EQ(server.clientWriteVQT({item}, {Variant(std::int16_t(3))}, {Quality::BadDeviceFailure}, {stamp}, errors),
              S_OK_);
    EXPECT_EQ(item->Value(), Variant(std::int16_t(3)));
    EXPECT_EQ(item->Quality(), Quality::BadDeviceFailure);
    EXPECT_EQ(item->Timestamp(), stamp);
    server.setServerState(ServerStates::Suspended);
    EXPECT_EQ(server.clientWriteVQT({item}, {Variant(std::int16_t(4))}, {Quality::Good}, {stamp}, errors), E_FAIL_);
    EXPECT_EQ(item->Value(), Variant(std::int16_t(3)));
}

TEST(ItemValuesTest, PasaDatoValueSetsTheItemAndRefreshesTheDetailShowingIt)
{
    OPCServer server;
    ItemValues values(server);
    OPCItem *shown = server.Tags().Add("C01.Z1.State", AccessRights::Read, Variant(std::uint8_t(0)), Quality::Bad);
    OPCItem *other = server.Tags().Add("C01.Z2.State", AccessRights::Read, Variant(std::uint8_t(0)), Quality::Bad);
    int refreshes = 0;
    values.detailItemId = [] { return QStringLiteral("C01.Z1.State"); };
    values.refreshDetail = [&] { ++refreshes; };
    values.PasaDatoValue(other, Variant(std::int16_t(2)), Quality::Good);
    EXPECT_EQ(refreshes, 0);
    EXPECT_EQ(other->Value(), Variant(std::uint8_t(2)));
    values.PasaDatoValueTagName("C01.Z1.State", Variant(std::int16_t(7)));
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(shown->Value(), Variant(std::uint8_t(7)));
    EXPECT_EQ(shown->Quality(), Quality::Good);
    values.PasaDatoValue(shown, Variant(std::int16_t(300)), 12); // too big for a byte: dropped
    EXPECT_EQ(shown->Value(), Variant(std::uint8_t(7)));
    values.PasaDatoValue(nullptr, Variant(1.0), Quality::Good);
    values.PasaDatoValueTagName("nope", Variant(1.0));
}

TEST(ItemValuesTest, TraceLinesReachTheLogWithoutTheirLineBreak)
{
    OPCServer server;
    ItemValues values(server);
    QStringList lines;
    auto previous = Log::setListener([&](const QString &line) { lines << line; });
    std::int32_t level = 9;
    server.SetTraceLevel(level);
    EXPECT_EQ(level, 4);
    server.trace(1, "connect");
    level = 0;
    server.SetTraceLevel(level);
    server.trace(1, "hidden");
    Log::setListener(std::move(previous));
    EXPECT_EQ(lines, QStringList({"connect"}));
}

TEST(ItemValuesTest, ConvertValueNeverFails)
{
    EXPECT_EQ(ConvertValue(17, "300"), Variant(std::uint8_t(255)));
    EXPECT_EQ(ConvertValue(17, "-5"), Variant(std::uint8_t(0)));
    EXPECT_EQ(ConvertValue(2, "2.5"), Variant(std::int16_t(2)));
    EXPECT_EQ(ConvertValue(2, "3.5"), Variant(std::int16_t(4)));
    EXPECT_EQ(ConvertValue(2, "12abc"), Variant(std::int16_t(12)));
    EXPECT_EQ(ConvertValue(2, "99999"), Variant(std::int16_t(32767)));
    EXPECT_EQ(ConvertValue(3, "-1e12"), Variant(std::int32_t(-2147483647 - 1)));
    EXPECT_EQ(ConvertValue(5, "abc"), Variant(std::int16_t(0)));
    EXPECT_EQ(ConvertValue(5, "2"), Variant(2.0));
    EXPECT_EQ(ConvertValue(11, "0"), Variant(false));
    EXPECT_EQ(ConvertValue(11, "-1"), Variant(true));
    EXPECT_EQ(ConvertValue(8, " text "), Variant(" text "));
    EXPECT_EQ(ConvertValue(8194, "x"), Variant("x"));
    EXPECT_EQ(ConvertValue(4, "1e39"), Variant(std::int16_t(0)));
}

TEST(CodeText, QualityTypeRightsAndStatusTexts)
{
    EXPECT_EQ(QualityText(0), "Bad, Non-specific ");
    EXPECT_EQ(QualityText(86), "Uncertain, Engineering Units Exceeded High Limited");
    EXPECT_EQ(QualityText(192), "Good, Non-specific ");
    EXPECT_EQ(QualityText(0x1C), "Bad, Out Of Service ");
    EXPECT_EQ(QualityText(0xD8 | 3), "Good, Local Override Fixed");
    EXPECT_EQ(QualityText(0x41), "Uncertain, Non-specific Low Limited");
    EXPECT_EQ(QualityText(0xA0), "Bad, Unknown Status! ");
    EXPECT_EQ(DataTypeText(8194), "Array of Integer");
    EXPECT_EQ(DataTypeText(3), "Long Integer");
    EXPECT_EQ(DataTypeText(9), "UNKNOWN!");
    EXPECT_EQ(AccessRightsText(3), "Read-Write");
    EXPECT_EQ(AccessRightsText(0), "UNKNOWN!");
    EXPECT_EQ(ServerStatusText(5), "Test");
    EXPECT_EQ(ServerStatusText(0), "UNKNOWN!");
}

// The toolkit stand-in, the answers to clients, the code-to-text tables, the
// namespace tree and the item detail.
#include "common/Clock.h"
#include "common/Error.h"
#include "opc/CodeText.h"
#include "opc/ItemTable.h"
#include "opc/ItemValues.h"
#include "opc/NamespaceView.h"
#include "opc/OPCServer.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>

namespace {

struct Toolkit : ::testing::Test {
    ManualClock clock;
    OPCServer server;
    ItemTable items;
    void SetUp() override { server.setClock(clock); }
    OPCItem *add(const QString &id, const Variant &value, std::uint8_t rights = AccessRights::Read)
    {
        OPCItem *item = server.Tags().Add(id, rights, value, Quality::Good);
        item->setUserIndex(items.add(ItemRecord{item, id + " described"}));
        return item;
    }
};

TEST_F(Toolkit, ItemsKeepCreationOrderTheirTypeAndUniqueIds)
{
    for (const char *id : {"C01.Z2", "C01.Z1", "A"})
        add(id, Variant(std::int16_t(5)), AccessRights::ReadWrite);
    QStringList ids;
    for (OPCItem *item : server.Tags())
        ids << item->ItemID();
    EXPECT_EQ(ids, QStringList({"C01.Z2", "C01.Z1", "A"}));
    EXPECT_EQ(server.Tags().at(1)->handle(), 1);
    EXPECT_EQ(server.Tags().Item("A"), server.Tags().at(2));
    EXPECT_EQ(server.Tags().at(0)->Timestamp(), clock.now());
    const std::function<void()> refused[] = {
        [&] { server.Tags().Add("C01.Z1", AccessRights::Read, Variant(1.0), Quality::Good); },
        [&] { server.Tags().Add("", AccessRights::Read, Variant(1.0), Quality::Good); },
        [&] { server.Tags().Add("R", 4, Variant(1.0), Quality::Good); },
        [&] { server.Tags().Add("R", 0, Variant(1.0), Quality::Good); },
        [&] { server.Tags().Item("a"); }, // IDs match exactly
    };
    for (const auto &f : refused)
        EXPECT_EQ(errorOf(f), ErrorNumber::ToolkitError);
    EXPECT_EQ(server.Tags().find("nope"), nullptr);
    EXPECT_EQ(server.Tags().Count(), 3);

    OPCItem *item = server.Tags().at(0);
    int all = 0, mine = 0, others = 0;
    const int allId = server.addItemObserver([&](OPCItem &) { ++all; });
    server.addItemObserver(*item, [&](OPCItem &changed) { mine += &changed == item; });
    server.addItemObserver(*server.Tags().at(1), [&](OPCItem &) { ++others; });
    const QDateTime stamp(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
    item->SetVQT(std::nullopt, Quality::BadOutOfService, stamp);
    EXPECT_EQ(std::make_tuple(item->Value(), item->Quality(), item->Timestamp()),
              std::make_tuple(Variant(std::int16_t(5)), Quality::BadOutOfService, stamp));
    clock.advance(1500);
    item->SetVQT(Variant(3.6), Quality::Good); // converted to the item's type, stamped now
    EXPECT_EQ(std::make_tuple(item->Value(), item->Quality(), item->Timestamp()),
              std::make_tuple(Variant(std::int16_t(4)), Quality::Good, clock.now()));
    // A value the type cannot take changes nothing and tells nobody.
    EXPECT_EQ(errorOf([&] { item->SetVQT(Variant("abc"), Quality::Bad); }), ErrorNumber::TypeMismatch);
    EXPECT_EQ(errorOf([&] { item->SetVQT(Variant(1e6), Quality::Bad); }), ErrorNumber::Overflow);
    EXPECT_EQ(std::make_pair(item->Value(), item->Quality()), std::make_pair(Variant(std::int16_t(4)), Quality::Good));
    EXPECT_EQ(std::make_tuple(all, mine, others), std::make_tuple(2, 2, 0));
    server.removeObserver(allId);
    item->SetVQT(Variant(std::int16_t(1)), Quality::Good);
    EXPECT_EQ(std::make_tuple(all, mine, others), std::make_tuple(2, 3, 0));

    std::vector<std::int32_t> states;
    server.addStateObserver([&](std::int32_t s) { states.push_back(s); });
    for (std::int32_t s : {ServerStates::Running, ServerStates::Running, ServerStates::Failed})
        server.setServerState(s);
    EXPECT_EQ(states, (std::vector<std::int32_t>{ServerStates::Running, ServerStates::Failed}));
}

TEST_F(Toolkit, RegistrationFileComesAndGoes)
{
    TempAppFolder folder;
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
    const QByteArray text = f.readAll();
    f.close();
    const QByteArray executable = QCoreApplication::applicationFilePath().toUtf8();
    EXPECT_EQ(text, "[Server]\nProgID=QUARLEN.KV7.1\nCLSID={11111111-2222-3333-4444-555555555555}\n"
                    "AppID={66666666-7777-8888-9999-000000000000}\nName=OPC-KV7\n"
                    "Description=OPC Server for Gas Panels\nVendor=QUARLEN\nExecutable=" +
                        executable + "\nEndpoint=\n");
    server.UnregisterServer();
    EXPECT_FALSE(QFile::exists(file));
    server.UnregisterServer(); // nothing to remove is no error
}

TEST_F(Toolkit, ClientRequestsAreGatedByTheServerState)
{
    ItemValues values(server);
    OPCItem *item = add("W", Variant(std::int16_t(1)), AccessRights::ReadWrite);
    std::vector<std::int32_t> errors;
    const std::pair<std::int32_t, bool> states[] = {{ServerStates::Running, true},
                                                    {ServerStates::Test, true},
                                                    {ServerStates::Suspended, false},
                                                    {ServerStates::Failed, false},
                                                    {ServerStates::NoConfiguration, false}};
    std::int16_t next = 10;
    for (const auto &[state, allowed] : states) {
        server.setServerState(state);
        EXPECT_EQ(server.clientRead({item, item}, errors), allowed ? S_OK_ : E_FAIL_) << state;
        const Variant before = item->Value();
        EXPECT_EQ(server.clientWrite({item}, {Variant(std::int32_t(next))}, errors), allowed ? S_OK_ : E_FAIL_);
        EXPECT_EQ(item->Value(), allowed ? Variant(next) : before) << state;
        const QDateTime stamp = clock.now().addDays(next);
        EXPECT_EQ(
            server.clientWriteVQT({item}, {Variant(std::int16_t(-next))}, {Quality::BadDeviceFailure}, {stamp}, errors),
            allowed ? S_OK_ : E_FAIL_);
        if (allowed)
            EXPECT_EQ(std::make_tuple(item->Value(), item->Quality(), item->Timestamp()),
                      std::make_tuple(Variant(std::int16_t(-next)), Quality::BadDeviceFailure, stamp));
        ++next;
    }
    server.setServerState(ServerStates::Running);
    EXPECT_EQ(server.clientWrite({item, item}, {Variant("12abc"), Variant(1e9)}, errors), S_OK_);
    EXPECT_EQ(errors, (std::vector<std::int32_t>{DISP_E_TYPEMISMATCH_, DISP_E_OVERFLOW_}));
    EXPECT_EQ(item->Value(), Variant(std::int16_t(-11)));

    // The engines' way in: errors are dropped, the item keeps its last good value.
    values.PasaDatoValue(item, Variant(2.0f), Quality::Good);
    values.PasaDatoValue(item, Variant("x"), 12);
    values.PasaDatoValue(nullptr, Variant(1.0), Quality::Good);
    EXPECT_EQ(std::make_pair(item->Value(), item->Quality()), std::make_pair(Variant(std::int16_t(2)), Quality::Good));

    // Toolkit trace lines reach the log without their line break, up to the level.
    TraceRecorder trace;
    std::int32_t level = 9;
    server.SetTraceLevel(level);
    EXPECT_EQ(level, 4);
    server.trace(1, "connect");
    level = 0;
    server.SetTraceLevel(level);
    server.trace(1, "hidden");
    EXPECT_EQ(trace.lines, QStringList({"connect"}));
}

TEST(ItemValuesTest, ConvertValueNeverFails)
{
    const std::tuple<int, const char *, Variant> cases[] = {
        {17, "300", Variant(std::uint8_t(255))},
        {17, "-5", Variant(std::uint8_t(0))},
        {2, "2.5", Variant(std::int16_t(2))},
        {2, "3.5", Variant(std::int16_t(4))},
        {2, "12abc", Variant(std::int16_t(12))},
        {2, "99999", Variant(std::int16_t(32767))},
        {2, "-99999", Variant(std::int16_t(-32768))},
        {3, "-1e12", Variant(std::int32_t(-2147483647 - 1))},
        {3, "2147483647.5", Variant(std::int32_t(2147483647))},
        {5, "abc", Variant(std::int16_t(0))},
        {5, "2", Variant(2.0)},
        {4, "1.5", Variant(1.5f)},
        {4, "1e39", Variant(std::int16_t(0))},
        {6, "1.23456", Variant(Currency{12346})},
        {11, "0", Variant(false)},
        {11, "-1", Variant(true)},
        {11, "x", Variant(false)},
        {8, " text ", Variant(" text ")},
        {8194, "x", Variant("x")},
        {0, "5", Variant()},
        {9, "5", Variant(std::int16_t(0))},
        {7, "someday", Variant(std::int16_t(0))},
        {7, "2024-03-05T14:07:09", Variant(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)))},
    };
    for (const auto &[type, text, expected] : cases)
        EXPECT_EQ(ConvertValue(type, QLatin1String(text)), expected) << type << " " << text;
}

TEST(CodeText, QualityTypeRightsAndStatusTexts)
{
    const std::pair<int, const char *> qualities[] = {
        {0, "Bad, Non-specific "},
        {4, "Bad, Configuration Error "},
        {8, "Bad, Not Connected "},
        {12, "Bad, Device Failure "},
        {16, "Bad, Sensor Failure "},
        {20, "Bad, Last Known Value "},
        {24, "Bad, Communications Failure "},
        {28, "Bad, Out Of Service "},
        {32, "Bad, Waiting For Initial Data "},
        {0x41, "Uncertain, Non-specific Low Limited"},
        {68, "Uncertain, Last Usable Value "},
        {80, "Uncertain, Sensor Not Accurate "},
        {86, "Uncertain, Engineering Units Exceeded High Limited"},
        {88, "Uncertain, Sub-Normal "},
        {192, "Good, Non-specific "},
        {0xD8 | 3, "Good, Local Override Fixed"},
        {0xA0, "Bad, Unknown Status! "},
        {0x80, "Bad, Unknown Status! "},
        {0x1C0, "Good, Non-specific "}, // only the low byte counts
    };
    for (const auto &[quality, text] : qualities)
        EXPECT_EQ(QualityText(quality), QLatin1String(text)) << quality;
    const std::pair<int, const char *> types[] = {
        {0, "EMPTY"},
        {2, "Integer"},
        {3, "Long Integer"},
        {4, "Single"},
        {5, "Double"},
        {6, "Currency"},
        {7, "Date"},
        {8, "String"},
        {11, "Boolean"},
        {17, "Byte"},
        {9, "UNKNOWN!"},
        {8194, "Array of Integer"},
        {8209, "Array of Byte"},
    };
    for (const auto &[type, text] : types)
        EXPECT_EQ(DataTypeText(type), QLatin1String(text)) << type;
    EXPECT_EQ(QStringList({AccessRightsText(1), AccessRightsText(2), AccessRightsText(3), AccessRightsText(0)}),
              QStringList({"Read", "Write", "Read-Write", "UNKNOWN!"}));
    QStringList states;
    for (int s = 0; s <= 6; ++s)
        states << ServerStatusText(s);
    EXPECT_EQ(states,
              QStringList({"UNKNOWN!", "Running", "Failed", "No Configuration", "Suspended", "Test", "UNKNOWN!"}));
}

TEST_F(Toolkit, NamespaceTreeFoldersLeavesKeysAndImages)
{
    for (const char *id : {"C01.Z1.State", "C01.Z1.StateStr", "C01.NPanel", "Alone", "C02.Z1.D01.Value", "C01.Z1"})
        add(id, Variant(std::uint8_t(0)));
    QStringList nodes;
    for (const NamespaceNode &n : BuildNamespaceTree(server))
        nodes << QStringLiteral("%1|%2|%3|%4|%5%6")
                     .arg(n.key, n.text, n.parentKey, n.tag)
                     .arg(n.image)
                     .arg(n.selectedImage);
    EXPECT_EQ(nodes, QStringList({
                         "1-C01-|C01|||12",
                         "1-C01-2-Z1-|Z1|1-C01-||12",
                         "1-C01-2-Z1-3-State-|State|1-C01-2-Z1-|C01.Z1.State|33",
                         "1-C01-2-Z1-3-StateStr-|StateStr|1-C01-2-Z1-|C01.Z1.StateStr|33",
                         "1-C01-2-NPanel-|NPanel|1-C01-|C01.NPanel|33",
                         "1-Alone-|Alone||Alone|12", // no "." : a leaf at the top, with the folder images
                         "1-C02-|C02|||12",
                         "1-C02-2-Z1-|Z1|1-C02-||12",
                         "1-C02-2-Z1-3-D01-|D01|1-C02-2-Z1-||12",
                         "1-C02-2-Z1-3-D01-4-Value-|Value|1-C02-2-Z1-3-D01-|C02.Z1.D01.Value|33",
                         // An ID that is a folder's path gets one more level with an empty segment.
                         "1-C01-2-Z1-3--||1-C01-2-Z1-|C01.Z1|33",
                     }));
}

TEST_F(Toolkit, ItemDetailShowsEveryTypeAndFollowsOnlyItsItem)
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    const std::tuple<const char *, Variant, const char *, const char *> cases[] = {
        {"T.Byte", Variant(std::uint8_t(7)), "Byte", "7"},
        {"T.Int", Variant(std::int16_t(-3)), "Integer", "-3"},
        {"T.Long", Variant(std::int32_t(70000)), "Long Integer", "70000"},
        {"T.Single", Variant(2.5f), "Single", "2.5"},
        {"T.Double", Variant(0.125), "Double", "0.125"},
        {"T.Currency", Variant(Currency{12345}), "Currency", "1.2345"},
        {"T.String", Variant(QStringLiteral("ALARMA")), "String", "ALARMA"},
        {"T.Bool", Variant(true), "Boolean", "True"},
        {"T.Date", Variant(when), "Date", nullptr},
    };
    ItemDetailPane pane(server, items);
    int shown = 0;
    pane.onShow = [&](const ItemDetail &d) {
        EXPECT_EQ(&d, &pane.detail());
        ++shown;
    };
    for (const auto &[id, value, type, text] : cases) {
        add(id, value, AccessRights::ReadWrite);
        pane.showNode(id, id);
        const ItemDetail &d = pane.detail();
        EXPECT_EQ(d.txtTagFQID, id);
        EXPECT_EQ(d.txtTagCanDT, type) << id;
        EXPECT_EQ(d.txtTagAccPerm, "Read-Write");
        EXPECT_EQ(d.txtTagValue, text ? QString(text) : value.toString()) << id;
        EXPECT_EQ(d.txtTagQuality, "Good, Non-specific ");
        EXPECT_EQ(d.txtTagTimestamp, QLocale::system().toString(clock.now(), QLocale::ShortFormat));
        EXPECT_EQ(d.txtTagDesc, QString(id) + " described");
    }
    EXPECT_EQ(shown, 9);

    // Changes of the shown item refresh the detail at once, whoever makes them;
    // changes of others never do.
    ItemValues values(server);
    server.setServerState(ServerStates::Running);
    OPCItem *shownItem = server.Tags().Item("T.Date");
    pane.showNode("T.Byte", "T.Byte");
    OPCItem *byte = server.Tags().Item("T.Byte");
    shown = 0;
    values.PasaDatoValue(shownItem, Variant(when), Quality::Good);
    EXPECT_EQ(shown, 0);
    values.PasaDatoValue(byte, Variant(std::uint8_t(2)), Quality::Bad);
    EXPECT_EQ(std::make_tuple(shown, pane.detail().txtTagValue, pane.detail().txtTagQuality),
              std::make_tuple(1, QString("2"), QString("Bad, Non-specific ")));
    std::vector<std::int32_t> errors;
    server.clientWrite({byte}, {Variant("9")}, errors);
    EXPECT_EQ(std::make_pair(shown, pane.detail().txtTagValue), std::make_pair(2, QString("9")));
    EXPECT_TRUE(TestWrite("T.Byte", "300", server, values));
    EXPECT_EQ(std::make_pair(shown, pane.detail().txtTagValue), std::make_pair(3, QString("255")));
    EXPECT_EQ(byte->Quality(), Quality::Good);
    EXPECT_FALSE(TestWrite("T", "1", server, values));
    EXPECT_FALSE(TestWrite("", "1", server, values));

    // A folder blanks all but its path and watches nothing; a leaf whose item is
    // gone blanks the item's fields and keeps type and access.
    pane.showNode("T", "");
    ItemDetail folder;
    folder.txtTagFQID = "T";
    EXPECT_EQ(pane.detail(), folder);
    values.PasaDatoValue(byte, Variant(std::uint8_t(1)), Quality::Good);
    EXPECT_EQ(shown, 4);
    pane.showNode("T.Byte", "T.Byte");
    pane.showNode("T.Gone", "T.Gone");
    EXPECT_EQ(pane.detail().txtTagFQID, "T.Gone");
    EXPECT_EQ(pane.detail().txtTagCanDT, "Byte");
    EXPECT_EQ(pane.detail().txtTagAccPerm, "Read-Write");
    EXPECT_TRUE(pane.detail().txtTagValue.isEmpty() && pane.detail().txtTagQuality.isEmpty() &&
                pane.detail().txtTagTimestamp.isEmpty() && pane.detail().txtTagDesc.isEmpty());
}

} // namespace

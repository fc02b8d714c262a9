// The toolkit stand-in, the answers to clients, the code-to-text tables, the namespace tree and the item detail.
#include "common/Clock.h"
#include "common/Error.h"
#include "opc/CodeText.h"
#include "opc/ItemTable.h"
#include "opc/ItemValues.h"
#include "opc/NamespaceModel.h"
#include "opc/NamespaceView.h"
#include "opc/OPCServer.h"

#include "TestSupport.h"

#include <QLocale>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct Toolkit : ::testing::Test {
    ManualClock clock;
    OPCServer server;
    ItemTable items;
    void SetUp() override { server.setClock(clock); }
    OPCItem *add(const QString &id, const Variant &value, std::uint8_t rights = AccessRights::ReadWrite)
    {
        OPCItem *item = server.Tags().Add(id, rights, value, Quality::Good);
        item->setUserIndex(items.add(ItemRecord{item, id + " described"}));
        return item;
    }
    // Value, quality and age in ms of an item, as "value q age".
    QString vqt(const OPCItem *item) const
    {
        return QStringLiteral("%1 q%2 %3")
            .arg(item->Value().toString())
            .arg(item->Quality())
            .arg(item->Timestamp().msecsTo(clock.now()));
    }
};

TEST_F(Toolkit, ItemsKeepOrderTypeAndUniqueIdsTellTheirObserversAndServeClientsByTheServerState)
{
    for (const char *id : {"C01.Z2", "C01.Z1", "A"})
        add(id, Variant(std::int16_t(5)));
    EXPECT_EQ(server.Tags().Item("A"), server.Tags().at(2)); // in the order added, as the namespace tree shows too
    EXPECT_EQ(server.Tags().at(1)->handle(), 1);
    for (const std::function<void()> &refused : std::vector<std::function<void()>>{
             [&] { add("C01.Z1", Variant(1.0)); }, [&] { add("", Variant(1.0)); }, [&] { add("R", Variant(1.0), 4); },
             [&] { add("R", Variant(1.0), 0); }, [&] { server.Tags().Item("a"); }}) // IDs match exactly
        EXPECT_EQ(errorOf(refused), ErrorNumber::ToolkitError);
    EXPECT_EQ(server.Tags().find("nope"), nullptr);
    EXPECT_EQ(server.Tags().Count(), 3);

    OPCItem *item = server.Tags().at(0);
    int all = 0, mine = 0, others = 0;
    const int allId = server.addItemObserver([&](OPCItem &) { ++all; });
    server.addItemObserver(*item, [&](OPCItem &changed) { mine += &changed == item; });
    server.addItemObserver(*server.Tags().at(1), [&](OPCItem &) { ++others; });
    clock.advance(1000);
    EXPECT_EQ(vqt(item), "5 q192 1000"); // created "now"
    item->SetVQT(std::nullopt, Quality::BadOutOfService, clock.now().addMSecs(-400));
    EXPECT_EQ(vqt(item), "5 q28 400");
    item->SetVQT(Variant(3.6), Quality::Good); // converted to the item's type, stamped now
    EXPECT_EQ(vqt(item), "4 q192 0");
    // A value the type cannot take changes nothing and tells nobody.
    EXPECT_EQ(errorOf([&] { item->SetVQT(Variant("abc"), Quality::Bad); }), ErrorNumber::TypeMismatch);
    EXPECT_EQ(errorOf([&] { item->SetVQT(Variant(1e6), Quality::Bad); }), ErrorNumber::Overflow);
    EXPECT_EQ(vqt(item), "4 q192 0");
    server.removeObserver(allId);
    item->SetVQT(Variant(std::int16_t(1)), Quality::Good);
    EXPECT_EQ(std::make_tuple(all, mine, others), std::make_tuple(2, 3, 0));
    std::vector<std::int32_t> states;
    server.addStateObserver([&](std::int32_t s) { states.push_back(s); });
    for (std::int32_t s : {ServerStates::Running, ServerStates::Running, ServerStates::Failed})
        server.setServerState(s);
    EXPECT_EQ(states, (std::vector<std::int32_t>{ServerStates::Running, ServerStates::Failed}));

    // Client requests are gated by the server state.
    ItemValues values(server);
    OPCItem *w = add("W", Variant(std::int16_t(1)));
    std::vector<std::int32_t> errors;
    QStringList results;
    for (std::int32_t state : {ServerStates::Running, ServerStates::Test, ServerStates::Suspended, ServerStates::Failed,
                               ServerStates::NoConfiguration}) {
        server.setServerState(state);
        const std::int32_t read = server.clientRead({w, w}, errors);
        const std::int32_t write = server.clientWrite({w}, {Variant(std::int32_t(state))}, errors);
        const QString written = vqt(w);
        const std::int32_t vqtWrite = server.clientWriteVQT({w}, {Variant(std::int16_t(-state))},
                                                            {Quality::BadDeviceFailure}, {clock.now()}, errors);
        results << QStringLiteral("%1 %2 %3 %4 %5").arg(read).arg(write).arg(written).arg(vqtWrite).arg(vqt(w));
    }
    EXPECT_EQ(results, QStringList({"0 0 1 q192 0 0 -1 q12 0", "0 0 5 q12 0 0 -5 q12 0"}) +
                           QStringList(3, "-2147467259 -2147467259 -5 q12 0 -2147467259 -5 q12 0"));
    server.setServerState(ServerStates::Running);
    EXPECT_EQ(server.clientWrite({w, w}, {Variant("12abc"), Variant(1e9)}, errors), S_OK_);
    EXPECT_EQ(errors, (std::vector<std::int32_t>{DISP_E_TYPEMISMATCH_, DISP_E_OVERFLOW_}));
    // The engines' way in: a value the item cannot take is dropped.
    values.PasaDatoValue(w, Variant(2.0f), Quality::Good);
    values.PasaDatoValue(w, Variant("x"), 12);
    values.PasaDatoValue(nullptr, Variant(1.0), Quality::Good);
    EXPECT_EQ(vqt(w), "2 q192 0");

    // Toolkit trace lines reach the log without their line break, up to the level.
    TraceRecorder trace;
    for (std::int32_t level : {9, 0}) {
        server.SetTraceLevel(level);
        server.trace(1, QString::number(level));
    }
    EXPECT_EQ(trace.lines, QStringList({"4"})); // the level is held within 0 to 4
}

TEST_F(Toolkit, NamespaceTreeFoldersLeavesPathsImagesAndLookupsAndTheCodeTexts)
{
    for (const char *id : {"C01.Z1.State", "C01.Z1.StateStr", "C01.NPanel", "Alone", "C02.Z1.D01.Value", "C01.Z1",
                           "Alone.X", "C01.NPanel.Y", "K-2-L", "K.L", "X.Y"})
        add(id, Variant(std::uint8_t(0)));
    NamespaceModel tree;
    tree.setTags(server.Tags());
    // Top down, a node as depth, text, tag, images and full path; each is where its parent says.
    QStringList nodes;
    const std::function<void(const QModelIndex &, int)> walk = [&](const QModelIndex &parent, int depth) {
        for (int row = 0; row < tree.rowCount(parent); ++row) {
            const QModelIndex n = tree.index(row, 0, parent);
            EXPECT_EQ(tree.parent(n), parent);
            EXPECT_EQ(n.row(), row);
            nodes << QStringLiteral("%1%2|%3|%4%5|%6")
                         .arg(QString(depth, '>'), n.data().toString(), tree.tag(n))
                         .arg(n.data(NamespaceModel::ImageRole).toInt())
                         .arg(n.data(NamespaceModel::SelectedImageRole).toInt())
                         .arg(tree.fullPath(n));
            walk(n, depth + 1);
        }
    };
    walk({}, 0);
    // An ID without "." is a leaf at the top, with the folder images; an ID that is a folder's
    // path gets one more level with an empty segment; a key a leaf holds ("1-Alone-",
    // "1-C01-2-NPanel-") makes no folder, and a leaf whose key is taken ("1-K-2-L-") is left out.
    EXPECT_EQ(nodes.join(' '), "C01||12|C01 >Z1||12|C01.Z1 >>State|C01.Z1.State|33|C01.Z1.State "
                               ">>StateStr|C01.Z1.StateStr|33|C01.Z1.StateStr >>|C01.Z1|33|C01.Z1. "
                               ">NPanel|C01.NPanel|33|C01.NPanel >Y|C01.NPanel.Y|33|C01.Y Alone|Alone|12|Alone "
                               "C02||12|C02 >Z1||12|C02.Z1 >>D01||12|C02.Z1.D01 "
                               ">>>Value|C02.Z1.D01.Value|33|C02.Z1.D01.Value X|Alone.X|12|X K-2-L|K-2-L|12|K-2-L "
                               "K||12|K X||12|X >Y|X.Y|33|X.Y");
    // A path finds the first node top down that has it: past the leaf X to the folder X for X.Y.
    QStringList found;
    for (const char *path : {"C02.Z1.D01.Value", "C01.Z1.", "C01.Z1", "C01.Y", "K", "C01.NPanel.Y", "C02.Z1.D01.Value.",
                             "", "Z1", "X", "X.Y"}) {
        const QModelIndex n = tree.find(path);
        found << (n.isValid() ? tree.fullPath(n) + '=' + n.data(NamespaceModel::TagRole).toString() : "-");
    }
    EXPECT_EQ(
        found.join(' '),
        "C02.Z1.D01.Value=C02.Z1.D01.Value C01.Z1.=C01.Z1 C01.Z1= C01.Y=C01.NPanel.Y K= - - - - X=Alone.X X.Y=X.Y");
    const QModelIndex c01 = tree.index(0, 0);
    EXPECT_EQ(QList<QModelIndex>({tree.index(7, 0), tree.index(0, 1), tree.index(3, 0, c01), tree.parent(c01)}),
              QList<QModelIndex>(4));
    EXPECT_EQ(QList<int>({tree.rowCount(tree.find("C01.Z1.State")), tree.rowCount(tree.find("K")), tree.rowCount(c01),
                          tree.columnCount()}),
              QList<int>({0, 0, 3, 1}));

    // ConvertValue never fails; quality, type, rights and status have their texts.
    QStringList texts;
    for (const auto &[type, text] : pairs("17=300|17=-5|2=2.5|2=3.5|2=12abc|2=99999|2=-99999|3=-1e12|3=2147483647.5|"
                                          "5=abc|5=2|4=1.5|4=1e39|6=1.23456|11=0|11=-1|11=x|8= text |8194=x|0=5|9=5|"
                                          "7=someday|7=2024-03-05T14:07:09",
                                          '|')) {
        const Variant v = ConvertValue(type.toInt(), text);
        texts << QString::number(int(v.type())) + ':' + v.toString();
    }
    EXPECT_EQ(texts.join('|'), "17:255|17:0|2:2|2:4|2:12|2:32767|2:-32768|3:-2147483648|3:2147483647|2:0|5:2|4:1.5|"
                               "2:0|6:1.2346|11:False|11:True|11:False|8: text |8:x|0:|2:0|2:0|7:2024-03-05T14:07:09");
    texts.clear();
    for (int q : {0, 4, 8, 12, 16, 20, 24, 28, 32, 0x41, 68, 80, 86, 88, 192, 0xD8 | 3, 0xA0, 0x80, 0x1C0})
        texts << QualityText(q);
    EXPECT_EQ(texts.join('|'),
              "Bad, Non-specific |Bad, Configuration Error |Bad, Not Connected |Bad, Device Failure |"
              "Bad, Sensor Failure |Bad, Last Known Value |Bad, Communications Failure |Bad, Out Of Service |"
              "Bad, Waiting For Initial Data |Uncertain, Non-specific Low Limited|Uncertain, Last Usable Value |"
              "Uncertain, Sensor Not Accurate |Uncertain, Engineering Units Exceeded High Limited|"
              "Uncertain, Sub-Normal |Good, Non-specific |Good, Local Override Fixed|Bad, Unknown Status! |"
              "Bad, Unknown Status! |Good, Non-specific ");
    texts.clear();
    for (int type : {0, 2, 3, 4, 5, 6, 7, 8, 11, 17, 9, 8194, 8209})
        texts << DataTypeText(type);
    for (int n = 0; n <= 3; ++n)
        texts << AccessRightsText(n);
    for (int s = 0; s <= 6; ++s)
        texts << ServerStatusText(s);
    EXPECT_EQ(texts.join('|'), "EMPTY|Integer|Long Integer|Single|Double|Currency|Date|String|Boolean|Byte|UNKNOWN!|"
                               "Array of Integer|Array of Byte|UNKNOWN!|Read|Write|Read-Write|UNKNOWN!|Running|Failed|"
                               "No Configuration|Suspended|Test|UNKNOWN!");
}

TEST_F(Toolkit, ItemDetailShowsItsItemFollowsOnlyThatOneAndStampsItsRegionalTextAndTheRegistrationItsModes)
{
    ItemDetailPane pane(server, items);
    int shown = 0;
    pane.onShow = [&](const ItemDetail &d) { shown += &d == &pane.detail(); };
    auto seen = [&] {
        const ItemDetail &d = pane.detail();
        return QStringList({QString::number(shown), d.txtTagFQID, d.txtTagCanDT, d.txtTagAccPerm, d.txtTagValue,
                            d.txtTagQuality, d.txtTagTimestamp, d.txtTagDesc})
            .join('|');
    };
    const QString now = GeneralDateText(clock.now(), QLocale::system());
    add("T.Date", Variant(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))));
    OPCItem *byte = add("T.Byte", Variant(std::uint8_t(7)), AccessRights::Read);
    pane.showNode("T.Date", "T.Date");
    EXPECT_EQ(seen(), "1|T.Date|Date|Read-Write|2024-03-05T14:07:09|Good, Non-specific |" + now + "|T.Date described");
    pane.showNode("T.Byte", "T.Byte");
    EXPECT_EQ(seen(), "2|T.Byte|Byte|Read|7|Good, Non-specific |" + now + "|T.Byte described");
    // Changes of the shown item refresh the detail at once.
    ItemValues values(server);
    server.setServerState(ServerStates::Running);
    values.PasaDatoValue(byte, Variant(std::uint8_t(2)), Quality::Bad);
    EXPECT_TRUE(seen().startsWith("3|T.Byte|Byte|Read|2|Bad, Non-specific |"));
    EXPECT_FALSE(TestWrite("T", "1", server, values) || TestWrite("", "1", server, values));
    // A folder blanks all but its path and watches nothing; a leaf whose item is
    // gone blanks the item's fields and keeps type and access.
    pane.showNode("T", "");
    values.PasaDatoValue(byte, Variant(std::uint8_t(1)), Quality::Good);
    EXPECT_EQ(seen(), "4|T||||||");
    pane.showNode("T.Byte", "T.Byte");
    pane.showNode("T.Gone", "T.Gone");
    EXPECT_EQ(seen(), "6|T.Gone|Byte|Read||||");

    // The registration: file and folders get their modes whatever the umask.
    TempAppFolder folder;
    server.ProgID = QStringLiteral("QUARLEN.KV7.1");
    const mode_t umask = ::umask(0);
    server.RegisterServer();
    ::umask(umask);
    std::vector<std::filesystem::perms> modes;
    for (const char *path : {".config/opc/servers/QUARLEN.KV7.1.ini", ".config/opc/servers", ".config/opc"})
        modes.push_back(std::filesystem::status(folder.file(path).toStdString()).permissions());
    EXPECT_EQ(modes,
              (std::vector{std::filesystem::perms(0644), std::filesystem::perms(0755), std::filesystem::perms(0755)}));

    // Item time stamps show the regional date and time to the second.
    const QDateTime stamp = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::UTC);
    const QString local = stamp.toLocalTime().time().toString("mm:ss");
    for (const char *region : {"C", "en_US", "de_DE", "fr_FR", "ja_JP"}) {
        const QLocale locale(QString::fromLatin1(region));
        const QString text = GeneralDateText(stamp, locale);
        const QString date = locale.toString(stamp.toLocalTime().date(), QLocale::ShortFormat);
        EXPECT_TRUE(text.startsWith(date + " ") && text.contains(local)) << region << ": " << text.toStdString();
    }
}

} // namespace

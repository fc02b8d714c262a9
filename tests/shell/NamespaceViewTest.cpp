#include "opc/NamespaceView.h"
#include "ShellFixture.h"
#include "opc/ItemTable.h"
#include "opc/ItemValues.h"
#include "opc/OPCServer.h"

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

const NamespaceNode *findKey(const std::vector<NamespaceNode> &nodes, const QString &key)
{
    for (const NamespaceNode &n : nodes)
        if (n.key == key)
            return &n;
    return nullptr;
}

TEST(NamespaceTree, FoldersLeavesKeysAndImages)
{
    OPCServer server;
    for (const char *id : {"C01.Z1.State", "C01.Z1.StateStr", "C01.NPanel", "Alone", "C02.Z1.D01.Value"})
        server.Tags().Add(QLatin1String(id), AccessRights::Read, Variant(std::uint8_t(0)), Quality::Good);
    const std::vector<NamespaceNode> nodes = BuildNamespaceTree(server);

    // C01 holds Z1 (two leaves) and NPanel; one folder per distinct prefix.
    const NamespaceNode *c01 = findKey(nodes, QStringLiteral("1-C01-"));
    const NamespaceNode *z1 = findKey(nodes, QStringLiteral("1-C01-2-Z1-"));
    const NamespaceNode *state = findKey(nodes, QStringLiteral("1-C01-2-Z1-3-State-"));
    const NamespaceNode *stateStr = findKey(nodes, QStringLiteral("1-C01-2-Z1-3-StateStr-"));
    ASSERT_TRUE(c01 && z1 && state && stateStr);
    EXPECT_TRUE(c01->parentKey.isEmpty());
    EXPECT_EQ(z1->parentKey, c01->key);
    EXPECT_EQ(state->parentKey, z1->key);
    EXPECT_EQ(stateStr->parentKey, z1->key);
    EXPECT_EQ(state->text, QStringLiteral("State"));
    EXPECT_EQ(state->tag, QStringLiteral("C01.Z1.State"));
    EXPECT_TRUE(c01->tag.isEmpty() && z1->tag.isEmpty());
    EXPECT_EQ(std::make_pair(c01->image, c01->selectedImage), std::make_pair(1, 2));
    EXPECT_EQ(std::make_pair(state->image, state->selectedImage), std::make_pair(3, 3));
    int folders = 0;
    for (const NamespaceNode &n : nodes)
        folders += n.tag.isEmpty();
    EXPECT_EQ(folders, 5); // C01, Z1, C02, C02.Z1, C02.Z1.D01
    EXPECT_EQ(nodes.size(), 10u);

    // An ID without "." is a leaf at the top with the folder images.
    const NamespaceNode *alone = findKey(nodes, QStringLiteral("1-Alone-"));
    ASSERT_TRUE(alone);
    EXPECT_TRUE(alone->parentKey.isEmpty());
    EXPECT_EQ(std::make_pair(alone->image, alone->selectedImage), std::make_pair(1, 2));
    EXPECT_EQ(alone->tag, QStringLiteral("Alone"));
}

TEST(NamespaceTree, IdEqualToAFolderPathGetsAnEmptyLastSegment)
{
    OPCServer server;
    server.Tags().Add(QStringLiteral("C01.Z1.State"), AccessRights::Read, Variant(std::uint8_t(0)), Quality::Good);
    server.Tags().Add(QStringLiteral("C01.Z1"), AccessRights::Read, Variant(std::uint8_t(0)), Quality::Good);
    const std::vector<NamespaceNode> nodes = BuildNamespaceTree(server);
    const NamespaceNode *leaf = findKey(nodes, QStringLiteral("1-C01-2-Z1-3--"));
    ASSERT_TRUE(leaf);
    EXPECT_EQ(leaf->text, QString());
    EXPECT_EQ(leaf->parentKey, QStringLiteral("1-C01-2-Z1-"));
    EXPECT_EQ(leaf->tag, QStringLiteral("C01.Z1"));
}

struct DetailTest : ::testing::Test {
    OPCServer server;
    ItemTable items;
    OPCItem *add(const QString &id, const Variant &value, std::int16_t quality,
                 std::uint8_t rights = AccessRights::Read)
    {
        OPCItem *item = server.Tags().Add(id, rights, value, quality);
        item->setUserIndex(items.add(ItemRecord{item, value, quality, id + QStringLiteral(" described")}));
        return item;
    }
};

TEST_F(DetailTest, TextsForEachDataTypeAndQuality)
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    struct Case {
        const char *id;
        Variant value;
        const char *type, *text;
    };
    const Case cases[] = {
        {"T.Byte", Variant(std::uint8_t(7)), "Byte", "7"},
        {"T.Int", Variant(std::int16_t(-3)), "Integer", "-3"},
        {"T.Long", Variant(std::int32_t(70000)), "Long Integer", "70000"},
        {"T.Single", Variant(2.5f), "Single", "2.5"},
        {"T.Double", Variant(0.125), "Double", "0.125"},
        {"T.Currency", Variant(Currency{12345}), "Currency", nullptr},
        {"T.Date", Variant(when), "Date", nullptr},
        {"T.String", Variant(QStringLiteral("ALARMA")), "String", "ALARMA"},
        {"T.Bool", Variant(true), "Boolean", "True"},
    };
    for (const Case &c : cases) {
        add(QLatin1String(c.id), c.value, Quality::Good, AccessRights::ReadWrite);
        ItemDetail d;
        ShowNodeDetail(d, QLatin1String(c.id), QLatin1String(c.id), server, items);
        EXPECT_EQ(d.txtTagFQID, QLatin1String(c.id));
        EXPECT_EQ(d.txtTagCanDT, QLatin1String(c.type)) << c.id;
        EXPECT_EQ(d.txtTagAccPerm, QStringLiteral("Read-Write"));
        EXPECT_EQ(d.txtTagValue, c.text ? QLatin1String(c.text) : c.value.toString()) << c.id;
        EXPECT_EQ(d.txtTagQuality, QStringLiteral("Good, Non-specific "));
        EXPECT_FALSE(d.txtTagTimestamp.isEmpty());
        EXPECT_EQ(d.txtTagDesc, QLatin1String(c.id) + QStringLiteral(" described"));
    }
    const std::pair<std::int16_t, const char *> qualities[] = {
        {0, "Bad, Non-specific "},
        {4, "Bad, Configuration Error "},
        {0x0C, "Bad, Device Failure "},
        {0x1C, "Bad, Out Of Service "},
        {86, "Uncertain, Engineering Units Exceeded High Limited"},
        {0xD8, "Good, Local Override "},
    };
    OPCItem *q = add(QStringLiteral("Q.Item"), Variant(std::uint8_t(1)), Quality::Good, AccessRights::Read);
    for (const auto &[quality, text] : qualities) {
        q->SetVQT(std::nullopt, quality);
        ItemDetail d;
        ShowNodeDetail(d, QStringLiteral("Q.Item"), QStringLiteral("Q.Item"), server, items);
        EXPECT_EQ(d.txtTagQuality, QLatin1String(text)) << quality;
        EXPECT_EQ(d.txtTagAccPerm, QStringLiteral("Read"));
    }
}

TEST_F(DetailTest, FolderBlanksAndMissingItemKeepsTypeAndAccess)
{
    add(QStringLiteral("C01.Z1.State"), Variant(std::uint8_t(2)), Quality::Good);
    ItemDetail d;
    ShowNodeDetail(d, QStringLiteral("C01.Z1.State"), QStringLiteral("C01.Z1.State"), server, items);
    ASSERT_EQ(d.txtTagCanDT, QStringLiteral("Byte"));

    ItemDetail gone = d;
    ShowNodeDetail(gone, QStringLiteral("C01.Z1.Gone"), QStringLiteral("C01.Z1.Gone"), server, items);
    EXPECT_EQ(gone.txtTagFQID, QStringLiteral("C01.Z1.Gone"));
    EXPECT_EQ(gone.txtTagCanDT, QStringLiteral("Byte"));
    EXPECT_EQ(gone.txtTagAccPerm, QStringLiteral("Read"));
    EXPECT_TRUE(gone.txtTagValue.isEmpty() && gone.txtTagQuality.isEmpty() && gone.txtTagTimestamp.isEmpty() &&
                gone.txtTagDesc.isEmpty());

    ShowNodeDetail(d, QStringLiteral("C01.Z1"), QString(), server, items);
    ItemDetail folder;
    folder.txtTagFQID = QStringLiteral("C01.Z1");
    EXPECT_EQ(d, folder);
}

// The window: a click shows the detail, Enter in the value writes in a session.
TEST(NamespaceWindow, ClickShowsDetailAndEnterWritesOnlyInASession)
{
    TempAppFolder folder;
    DialogRecorder dialogs;
    installLanguageFile(folder);
    folder.write(QStringLiteral("KV7.ini"), crlf(QStringLiteral("[KV7]\nC1-On=1\nC1-Com=0\n")));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    fMainOPC &w = *s.window;
    ASSERT_EQ(w.tree()->topLevelItemCount(), 1);
    EXPECT_EQ(w.tree()->topLevelItem(0)->text(0), QStringLiteral("C01"));

    ASSERT_TRUE(w.selectNode(QStringLiteral("C01.Z1")));
    EXPECT_EQ(w.detailField(QStringLiteral("txtTagFQID"))->text(), QStringLiteral("C01.Z1"));
    EXPECT_TRUE(w.detailField(QStringLiteral("txtTagCanDT"))->text().isEmpty());

    ASSERT_TRUE(w.selectNode(QStringLiteral("C01.Z1.State")));
    QLineEdit *value = w.detailField(QStringLiteral("txtTagValue"));
    EXPECT_EQ(w.detailField(QStringLiteral("txtTagDesc"))->text(), QStringLiteral("Zone State"));
    EXPECT_EQ(w.detailField(QStringLiteral("txtTagCanDT"))->text(), QStringLiteral("Byte"));
    EXPECT_EQ(value->text(), QStringLiteral("0"));

    // Locked without a session: typing does nothing and Enter writes nothing.
    QTest::keyClicks(value, QStringLiteral("5"));
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value(QStringLiteral("C01.Z1.State")), Variant(std::uint8_t(0)));

    s.logic().Sesion_Iniciar(true);
    value->setText(QStringLiteral("1"));
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value(QStringLiteral("C01.Z1.State")), Variant(std::uint8_t(1)));
    EXPECT_EQ(value->text(), QStringLiteral("1")); // the detail was refreshed from the item

    value->setText(QStringLiteral("300"));
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value(QStringLiteral("C01.Z1.State")), Variant(std::uint8_t(255)));

    // A value update of the shown item refreshes the detail; others leave it alone.
    OPCItem *shown = s.opc().Tags().find(QStringLiteral("C01.Z1.State"));
    s.logic().values().PasaDatoValue(shown, Variant(std::uint8_t(2)), Quality::Good);
    EXPECT_EQ(value->text(), QStringLiteral("2"));
    OPCItem *other = s.opc().Tags().find(QStringLiteral("C01.Z2.State"));
    s.logic().values().PasaDatoValue(other, Variant(std::uint8_t(1)), Quality::Good);
    EXPECT_EQ(value->text(), QStringLiteral("2"));

    // Enter on a folder writes nothing.
    ASSERT_TRUE(w.selectNode(QStringLiteral("C01.Z1")));
    value->setText(QStringLiteral("7"));
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value(QStringLiteral("C01.Z1.State")), Variant(std::uint8_t(2)));
    EXPECT_TRUE(dialogs.requests().empty());
}

} // namespace

// The item namespace of a connection: names, keys, order, indexes, initial values.
#include "ProtocolFixture.h"

#include <QStringList>

namespace {

using Items = EngineFixture;

// The names of one connection in creation order, built independently of the engine.
QStringList expectedNames(const QString &P)
{
    QStringList names{P + "Error_Comm", P + "NPanel"};
    for (int z = 1; z <= 4; ++z) {
        const QString Z = P + "Z" + QString::number(z) + ".";
        for (const char *s :
             {"State", "StateStr", "StsPrgIng", "StsPrgUsr", "StsFailPower", "StsFailBat", "StsFailGroup"})
            names << Z + s;
        for (int g = 1; g <= 4; ++g)
            for (const char *s : {".State", ".StateStr", ".Gas", ".GasStr"})
                names << Z + "G" + QString::number(g) + s;
        for (int d = 1; d <= 16; ++d)
            for (const char *s : {".Group", ".Value", ".State", ".StateStr", ".Gas", ".GasStr"})
                names << Z + "D" + QString::asprintf("%02d", d) + s;
    }
    return names;
}

TEST_F(Items, ConnectionCreatesItsItemsInOrderWithConsecutiveIndexes)
{
    const QStringList expected = expectedNames("C01.");
    ASSERT_EQ(expected.size(), 478);
    ASSERT_EQ(table.ItemCount(), 478);
    ASSERT_EQ(server.Tags().Count(), 478);
    int index = 1;
    for (OPCItem *i : server.Tags()) {
        EXPECT_EQ(i->ItemID(), expected[index - 1]);
        EXPECT_EQ(i->UserIndex(), index);
        EXPECT_EQ(table[index].Tag, i);
        EXPECT_EQ(i->AccessRights(), 1);
        ++index;
    }
    EXPECT_EQ(engine->ErrCommIndex(), 1);
    EXPECT_EQ(engine->NPanelIndex(), 2);
}

TEST_F(Items, InternalKeysPointAtTheirItems)
{
    const struct {
        const char *key;
        const char *name;
    } cases[] = {
        {"Z2D5", "C01.Z2.D05.State"},   {"Z1", "C01.Z1.State"},           {"Z4fg", "C01.Z4.StsFailGroup"},
        {"Z3G2gs", "C01.Z3.G2.GasStr"}, {"Z1D16Gr", "C01.Z1.D16.Group"},  {"Z4D10v", "C01.Z4.D10.Value"},
        {"Z2s", "C01.Z2.StateStr"},     {"Z1D1s", "C01.Z1.D01.StateStr"}, {"Z4G4", "C01.Z4.G4.State"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(engine->keyIndex(c.key), item(c.name)->UserIndex()) << c.key;
    // Connection items have no key; names with leading zeros are not keys.
    EXPECT_EQ(engine->keyIndex("Z2D05"), 0);
    EXPECT_EQ(engine->keyIndex("Error_Comm"), 0);
    EXPECT_EQ(engine->keyIndex("Z5"), 0);
}

TEST_F(Items, DescriptionsAndInitialValues)
{
    EXPECT_EQ(record("C01.Error_Comm").Description, QStringLiteral("Communication Error with Panel. Connexion:1"));
    EXPECT_EQ(record("C01.NPanel").Description, QStringLiteral("Number of the Panel"));
    EXPECT_EQ(record("C01.Z3.StsPrgIng").Description, QStringLiteral("Zone in Prog.Ingenier"));
    EXPECT_EQ(record("C01.Z1.G2.GasStr").Description, QStringLiteral("Group Gas String"));
    EXPECT_EQ(record("C01.Z4.D16.Value").Description, QStringLiteral("Detector value of mesure"));
    EXPECT_EQ(record("C01.Z4.D16.Group").Description, QStringLiteral("Group associated to Detector"));

    EXPECT_EQ(value("C01.Error_Comm"), Variant(std::uint8_t(1)));
    for (OPCItem *i : server.Tags()) {
        EXPECT_EQ(i->Quality(), 192) << i->ItemID().toStdString();
        // Values stay in the toolkit until first written; the table holds none yet.
        EXPECT_TRUE(table[i->UserIndex()].Value.isEmpty());
        EXPECT_EQ(table[i->UserIndex()].Quality, 0);
        if (i->ItemID() == "C01.Error_Comm")
            continue;
        const QString id = i->ItemID();
        if (id.endsWith("Str"))
            EXPECT_EQ(i->Value(), Variant(QString())) << id.toStdString();
        else if (id.endsWith(".Value"))
            EXPECT_EQ(i->Value(), Variant(0.0f)) << id.toStdString();
        else
            EXPECT_EQ(i->Value(), Variant(std::uint8_t(0))) << id.toStdString();
    }
    EXPECT_EQ(engine->CommError(), 1);
}

TEST_F(Items, ConnectionNumbersFormTheirPrefix)
{
    auto seventh = makeEngine(7);
    auto big = makeEngine(123);
    EXPECT_NE(item("C07.Error_Comm"), nullptr);
    EXPECT_NE(item("C07.Z2.D05.State"), nullptr);
    EXPECT_NE(item("C123.Z4.D16.GasStr"), nullptr);
    EXPECT_EQ(record("C123.Error_Comm").Description, QStringLiteral("Communication Error with Panel. Connexion:123"));
    EXPECT_EQ(seventh->keyIndex("Z2D5"), item("C07.Z2.D05.State")->UserIndex());
}

TEST_F(Items, ConnectionsFollowEachOtherInTheTable)
{
    const int before = table.ItemCount();
    auto second = makeEngine(2);
    auto third = makeEngine(3);
    EXPECT_EQ(table.ItemCount(), before + 956);
    EXPECT_EQ(third->ErrCommIndex(), second->ErrCommIndex() + 478);
    EXPECT_EQ(second->ErrCommIndex(), engine->ErrCommIndex() + 478);
    EXPECT_EQ(table[third->ErrCommIndex()].Tag->ItemID(), QStringLiteral("C03.Error_Comm"));

    // Each engine writes only its own items.
    second->ProtocolStart();
    second->Receive(QByteArrayView("W02 1OF\r"));
    EXPECT_EQ(value("C02.Z1.State"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C03.Z1.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C02.Error_Comm"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Error_Comm"), Variant(std::uint8_t(1)));
}

} // namespace

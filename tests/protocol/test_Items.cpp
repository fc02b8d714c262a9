// The item namespace of a connection: names, keys, order, entries, initial values.
#include "ProtocolFixture.h"

#include <QStringList>

namespace {

using Items = EngineFixture;

TEST_F(Items, ConnectionCreatesItsItemsInOrderWithTheirEntries)
{
    // The names, built here independently of the engine.
    QStringList expected{"C01.Error_Comm", "C01.NPanel"};
    for (int z = 1; z <= 4; ++z) {
        const QString Z = QStringLiteral("C01.Z%1.").arg(z);
        for (const char *s :
             {"State", "StateStr", "StsPrgIng", "StsPrgUsr", "StsFailPower", "StsFailBat", "StsFailGroup"})
            expected << Z + s;
        for (int g = 1; g <= 4; ++g)
            for (const char *s : {".State", ".StateStr", ".Gas", ".GasStr"})
                expected << Z + "G" + QString::number(g) + s;
        for (int d = 1; d <= 16; ++d)
            for (const char *s : {".Group", ".Value", ".State", ".StateStr", ".Gas", ".GasStr"})
                expected << Z + "D" + QString::asprintf("%02d", d) + s;
    }
    QStringList names;
    for (OPCItem *i : server.Tags()) {
        names << i->ItemID();
        EXPECT_EQ(i->UserIndex(), names.size());
        EXPECT_EQ(table[i->UserIndex()].Tag, i);
        EXPECT_EQ(std::make_pair(i->AccessRights(), i->Quality()), std::make_pair(AccessRights::Read, Quality::Good));
        const QString &id = i->ItemID();
        const Variant initial = id == "C01.Error_Comm"  ? Variant(std::uint8_t(1))
                                : id.endsWith("Str")    ? Variant(QString())
                                : id.endsWith(".Value") ? Variant(0.0f)
                                                        : Variant(std::uint8_t(0));
        EXPECT_EQ(i->Value(), initial) << qPrintable(id);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(table.ItemCount(), 478);
    EXPECT_EQ(std::make_pair(engine->ErrCommIndex(), engine->NPanelIndex()), std::make_pair(1, 2));
    EXPECT_EQ(engine->CommError(), 1);

    const char *descriptions =
        "Error_Comm=Communication Error with Panel. Connexion:1|NPanel=Number of the Panel|Z3.State=Zone State|"
        "Z3.StateStr=Zone State String|Z3.StsPrgIng=Zone in Prog.Ingenier|Z3.StsPrgUsr=Zone in Prog.User|"
        "Z3.StsFailPower=Zone with power fail|Z3.StsFailBat=Zone with battery fail|"
        "Z3.StsFailGroup=Zone with group fail|Z1.G2.State=Group State|Z1.G2.StateStr=Group State String|"
        "Z1.G2.Gas=Group Gas|Z1.G2.GasStr=Group Gas String|Z4.D16.Group=Group associated to Detector|"
        "Z4.D16.Value=Detector value of mesure|Z4.D16.State=Detector State|Z4.D16.StateStr=Detector State String|"
        "Z4.D16.Gas=Detector Gas|Z4.D16.GasStr=Detector Gas String";
    for (const QString &pair : QString::fromLatin1(descriptions).split('|')) {
        const QString id = "C01." + pair.section('=', 0, 0);
        EXPECT_EQ(table[item(id)->UserIndex()].Description, pair.section('=', 1)) << qPrintable(id);
    }
}

TEST_F(Items, InternalKeysPointAtTheirItems)
{
    const char *keys = "Z2D5=Z2.D05.State Z1=Z1.State Z4fg=Z4.StsFailGroup Z3G2gs=Z3.G2.GasStr Z1D16Gr=Z1.D16.Group "
                       "Z4D10v=Z4.D10.Value Z2s=Z2.StateStr Z1D1s=Z1.D01.StateStr Z4G4=Z4.G4.State Z3pu=Z3.StsPrgUsr "
                       "Z2G1g=Z2.G1.Gas Z1D7gs=Z1.D07.GasStr Z3G3s=Z3.G3.StateStr Z2D9g=Z2.D09.Gas Z1pi=Z1.StsPrgIng "
                       "Z2fr=Z2.StsFailPower Z3fb=Z3.StsFailBat";
    for (const QString &pair : QString::fromLatin1(keys).split(' '))
        EXPECT_EQ(engine->keyIndex(pair.section('=', 0, 0)), item("C01." + pair.section('=', 1))->UserIndex())
            << qPrintable(pair);
    // Connection items have no key; names with leading zeros are not keys.
    for (const char *none : {"Z2D05", "Error_Comm", "Z5", "NPanel", "Z1G5", "Z1D17"})
        EXPECT_EQ(engine->keyIndex(none), 0) << none;
}

TEST_F(Items, ConnectionsFollowEachOtherAndWriteOnlyTheirOwnItems)
{
    auto second = makeEngine(7);
    auto third = makeEngine(123);
    EXPECT_EQ(table.ItemCount(), 3 * 478);
    EXPECT_EQ(second->ErrCommIndex(), engine->ErrCommIndex() + 478);
    EXPECT_EQ(third->ErrCommIndex(), second->ErrCommIndex() + 478);
    EXPECT_EQ(table[second->ErrCommIndex()].Tag->ItemID(), "C07.Error_Comm");
    EXPECT_EQ(table[third->ErrCommIndex() + 477].Tag->ItemID(), "C123.Z4.D16.GasStr");
    EXPECT_EQ(table[third->ErrCommIndex()].Description, "Communication Error with Panel. Connexion:123");
    EXPECT_EQ(second->keyIndex("Z2D5"), item("C07.Z2.D05.State")->UserIndex());
    second->ProtocolStart();
    second->Receive("W02 1OF\r");
    for (const auto &[id, expected] :
         {std::pair{"C07.Z1.State", 1}, std::pair{"C07.Error_Comm", 0}, std::pair{"C01.Z1.State", 0},
          std::pair{"C01.Error_Comm", 1}, std::pair{"C123.Z1.State", 0}})
        EXPECT_EQ(value(id), Variant(std::uint8_t(expected))) << id;
}

} // namespace

// Decoding of "W" lines into item values: every frame shape and the awkward fields.
#include "ProtocolFixture.h"
#include "protocol/PanelTexts.h"

#include <map>

namespace {

class Decode : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        engine->setValueWriter([this](OPCItem *item, const Variant &v, std::int16_t q) {
            if (item) {
                ++writes[item->ItemID()];
                item->SetVQT(v, q);
            }
        });
        engine->ProtocolStart();
    }
    int writesTo(const QString &id) const
    {
        auto it = writes.find(id);
        return it == writes.end() ? 0 : it->second;
    }
    std::map<QString, int> writes;
};

TEST_F(Decode, GroupReportWritesEveryFieldWithItsType)
{
    line(grLine(2, 3, "CO2", "Manu", 5, " 12.5 ", "Alarma", 7));

    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(7)));
    EXPECT_EQ(value("C01.Z2.G3.State"), Variant(std::uint8_t(3)));
    EXPECT_EQ(value("C01.Z2.G3.StateStr"), Variant(QStringLiteral("MANU")));
    EXPECT_EQ(value("C01.Z2.G3.Gas"), Variant(std::uint8_t(2)));
    EXPECT_EQ(value("C01.Z2.G3.GasStr"), Variant(QStringLiteral("CO2")));
    EXPECT_EQ(value("C01.Z2.D05.Gas"), Variant(std::uint8_t(2)));
    EXPECT_EQ(value("C01.Z2.D05.GasStr"), Variant(QStringLiteral("CO2")));
    EXPECT_EQ(value("C01.Z2.D05.Group"), Variant(std::uint8_t(3)));
    EXPECT_EQ(value("C01.Z2.D05.Value"), Variant(12.5f));
    EXPECT_EQ(value("C01.Z2.D05.State"), Variant(std::uint8_t(4)));
    EXPECT_EQ(value("C01.Z2.D05.StateStr"), Variant(QStringLiteral("ALARMA")));
    EXPECT_EQ(value("C01.Z2.State"), Variant(std::uint8_t(2)));
    EXPECT_EQ(value("C01.Z2.StateStr"), Variant(QStringLiteral("ON")));
    EXPECT_EQ(engine->zone(2).State, 2);

    // The table keeps the value as written, with its written type, and quality Good.
    const ItemRecord &measure = record("C01.Z2.D05.Value");
    EXPECT_TRUE(measure.Value.holds<float>());
    EXPECT_EQ(measure.Quality, 192);
    EXPECT_TRUE(record("C01.NPanel").Value.holds<std::uint8_t>());
    EXPECT_EQ(item("C01.Z2.D05.State")->Quality(), 192);
}

TEST_F(Decode, PublishedTextsAreTrimmedAndStatesUpperCased)
{
    line(grLine(1, 1, "CO ", "Stop", 1, "  3   ", "Warn. "));
    EXPECT_EQ(value("C01.Z1.G1.GasStr"), Variant(QStringLiteral("CO")));
    EXPECT_EQ(value("C01.Z1.G1.Gas"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z1.G1.StateStr"), Variant(QStringLiteral("STOP")));
    EXPECT_EQ(value("C01.Z1.D01.StateStr"), Variant(QStringLiteral("WARN.")));
    EXPECT_EQ(value("C01.Z1.D01.State"), Variant(std::uint8_t(7)));

    // Only blanks are trimmed, gas keeps its case, bytes above 127 are Latin-1.
    line(grLine(1, 2, "\tco", "\xe9t\xe9 ", 2, "1     ",
                "\xfd"
                "bc   "));
    EXPECT_EQ(value("C01.Z1.G2.GasStr"), Variant(QStringLiteral("\tco")));
    EXPECT_EQ(value("C01.Z1.G2.Gas"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z1.G2.StateStr"), Variant(QString::fromLatin1("\xc9T\xc9")));
    EXPECT_EQ(value("C01.Z1.G2.State"), Variant(std::uint8_t(255)));
    EXPECT_EQ(value("C01.Z1.D02.StateStr"), Variant(QString::fromLatin1("\xdd"
                                                                        "BC")));
    EXPECT_EQ(value("C01.Z1.D02.State"), Variant(std::uint8_t(1)));
}

TEST_F(Decode, SaturatedMeasureOverridesTheDetectorState)
{
    line(grLine(1, 1, "EXP", "Auto", 4, "satura", "Aviso "));
    EXPECT_EQ(value("C01.Z1.D04.Value"), Variant(99999.0f));
    EXPECT_EQ(value("C01.Z1.D04.StateStr"), Variant(QStringLiteral("SATURA")));
    EXPECT_EQ(value("C01.Z1.D04.State"), Variant(std::uint8_t(9)));
    EXPECT_TRUE(engine->Saturated());

    line(grLine(1, 1, "EXP", "Auto", 4, "  40  ", "Aviso "));
    EXPECT_FALSE(engine->Saturated());
    EXPECT_EQ(value("C01.Z1.D04.State"), Variant(std::uint8_t(7)));
}

TEST_F(Decode, MeasureFieldsReadAsTheNumberParseReadsThem)
{
    const struct {
        const char *field;
        float expected;
    } cases[] = {
        {" 12.5%", 12.5f}, {"12,5  ", 12.0f},  {"  -3.2", -3.2f}, {"1 2 3 ", 123.0f}, {"      ", 0.0f},
        {"abc   ", 0.0f},  {"1e2   ", 100.0f}, {"%%5   ", 0.0f},  {"0.1   ", 0.1f},   {"+7    ", 7.0f},
    };
    for (const auto &c : cases) {
        line(grLine(3, 1, "O2 ", "Auto", 9, c.field, "      "));
        EXPECT_EQ(value("C01.Z3.D09.Value"), Variant(c.expected)) << c.field;
    }
}

TEST_F(Decode, MeasureBeyondTheFloatRangeIsNotWritten)
{
    line(grLine(1, 1, "CO ", "Auto", 1, "  42  ", "      "));
    line(grLine(1, 1, "CO ", "Auto", 1, "9E99  ", "Alarma"));
    EXPECT_EQ(value("C01.Z1.D01.Value"), Variant(42.0f));
    // The rest of the line still counts.
    EXPECT_EQ(value("C01.Z1.D01.State"), Variant(std::uint8_t(4)));
}

TEST_F(Decode, GroupAndDetectorNumbersWithoutItemsWriteNothingOfTheirOwn)
{
    line(grLine(1, 2, "NO ", "Ven1", 17, "  5   ", "Preala"));
    EXPECT_EQ(value("C01.Z1.G2.State"), Variant(std::uint8_t(4)));
    EXPECT_EQ(value("C01.Z1.G2.GasStr"), Variant(QStringLiteral("NO")));
    for (int d = 1; d <= 16; ++d)
        EXPECT_EQ(writesTo(QStringLiteral("C01.Z1.D%1.State").arg(d, 2, 10, QLatin1Char('0'))), 0);
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(2)));

    // Group 5 has no items; the detector still records it as its group.
    line(grLine(1, 5, "NO ", "Ven1", 3, "  5   ", "Preala"));
    EXPECT_EQ(value("C01.Z1.D03.Group"), Variant(std::uint8_t(5)));
    EXPECT_EQ(writesTo("C01.Z1.G1.State"), 0);

    // A detector field that does not fit a byte reads 0: no detector.
    QByteArray bad = grLine(1, 1, "NO ", "Ven1", 3, "  5   ", "Preala");
    bad.replace(21, 2, "-1");
    const int before = writesTo("C01.Z1.D03.State");
    line(bad);
    EXPECT_EQ(writesTo("C01.Z1.D03.State"), before);
    EXPECT_EQ(value("C01.Z1.G1.State"), Variant(std::uint8_t(4)));
}

TEST_F(Decode, ShortLinesUpdateOnlyWhatTheyHold)
{
    // 36 characters of a group report: panel and zone silence only.
    QByteArray shortGr = grLine(2, 1, "CO ", "Auto", 1, "  9   ", "Alarma").left(36);
    line(shortGr);
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(1)));
    EXPECT_EQ(engine->zone(2).ZoneSilence, 100);
    EXPECT_EQ(engine->zone(2).State, 0);
    EXPECT_EQ(writesTo("C01.Z2.State"), 0);
    EXPECT_EQ(writesTo("C01.Z2.G1.State"), 0);

    // Below 7 characters nothing is decoded, yet the line is alive.
    line("W01 1O");
    EXPECT_EQ(engine->CommError(), 0);
    EXPECT_EQ(writesTo("C01.Z1.State"), 0);
}

TEST_F(Decode, ZoneOutsideOneToFourChangesOnlyTheSupervision)
{
    for (const char *l : {"W05 5OF", "W05 0OF", "W05 xOF", "W05 \xb9OF", "W05 -OF"}) {
        line(l);
        EXPECT_EQ(engine->CommError(), 0) << l;
    }
    EXPECT_EQ(writesTo("C01.NPanel"), 0);
    for (int z = 1; z <= 4; ++z)
        EXPECT_EQ(writesTo(QStringLiteral("C01.Z%1.State").arg(z)), 0);
}

TEST_F(Decode, PanelNumberThatDoesNotFitAByteReadsZero)
{
    line("W99 1OF");
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(99)));
    line("W-1 1OF");
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(0)));
    line("W 7 1OF");
    EXPECT_EQ(value("C01.NPanel"), Variant(std::uint8_t(7)));
}

TEST_F(Decode, ZoneOffClearsGroupsAndDetectorsOnlyWhenItSwitches)
{
    line(grLine(1, 4, "H2S", "Auto", 16, " 33.0 ", "Alarm "));
    ASSERT_EQ(value("C01.Z1.D16.Value"), Variant(33.0f));

    line("W01 1OF");
    EXPECT_EQ(value("C01.Z1.State"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z1.StateStr"), Variant(QStringLiteral("OFF")));
    EXPECT_EQ(value("C01.Z1.D16.Value"), Variant(0.0f));
    EXPECT_EQ(value("C01.Z1.D16.StateStr"), Variant(QString()));
    EXPECT_EQ(value("C01.Z1.G4.GasStr"), Variant(QString()));
    // The measure is reset with a 16-bit 0, which the float item converts.
    EXPECT_TRUE(record("C01.Z1.D16.Value").Value.holds<std::int16_t>());
    EXPECT_EQ(writesTo("C01.Z1.D01.Gas"), 1);
    // Other zones are untouched.
    EXPECT_EQ(writesTo("C01.Z2.D01.Gas"), 0);

    // Already OFF: the zone items are written again, the detail is not.
    line("W01 1OF");
    EXPECT_EQ(writesTo("C01.Z1.State"), 3);
    EXPECT_EQ(writesTo("C01.Z1.D01.Gas"), 1);
}

TEST_F(Decode, ProgrammingAndFaultFlags)
{
    line("W01 2PI");
    EXPECT_EQ(value("C01.Z2.StsPrgIng"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z2.State"), Variant(std::uint8_t(1)));
    EXPECT_EQ(engine->zone(2).PrgIng, 100);
    line("W01 2PU");
    EXPECT_EQ(value("C01.Z2.StsPrgUsr"), Variant(std::uint8_t(1)));
    EXPECT_EQ(engine->zone(2).PrgUsr, 1);
    line("W01 2FR");
    line("W01 2FB");
    line("W01 2FG");
    EXPECT_EQ(value("C01.Z2.StsFailPower"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z2.StsFailBat"), Variant(std::uint8_t(1)));
    EXPECT_EQ(value("C01.Z2.StsFailGroup"), Variant(std::uint8_t(1)));
    // Fault frames leave the zone state alone.
    EXPECT_EQ(engine->zone(2).State, 1);

    // Turning ON clears every flag at once.
    line(grLine(2, 1, "CO ", "Auto", 1, "  1   ", "      "));
    for (const char *flag : {"StsPrgIng", "StsPrgUsr", "StsFailPower", "StsFailBat", "StsFailGroup"})
        EXPECT_EQ(value(QStringLiteral("C01.Z2.") + QLatin1String(flag)), Variant(std::uint8_t(0))) << flag;
    EXPECT_EQ(engine->zone(2).PrgUsr, 0);
    EXPECT_EQ(engine->zone(2).FailBat, 0);
}

TEST_F(Decode, UnknownTypeSetsStateUnknownWithoutClearingAnything)
{
    line(grLine(3, 1, "CO ", "Auto", 2, "  8   ", "Alarma"));
    line("W01 3FG");
    line("W01 3XX");
    EXPECT_EQ(value("C01.Z3.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(value("C01.Z3.StateStr"), Variant(QString()));
    EXPECT_EQ(value("C01.Z3.D02.Value"), Variant(8.0f));
    EXPECT_EQ(value("C01.Z3.StsFailGroup"), Variant(std::uint8_t(1)));
    EXPECT_EQ(engine->zone(3).State, 0);
    // Type letters are case-sensitive.
    line("W01 4of");
    EXPECT_EQ(value("C01.Z4.State"), Variant(std::uint8_t(0)));
    EXPECT_EQ(writesTo("C01.Z4.State"), 1);
}

TEST(PanelTexts, CodesMatchWholeFieldsCaseSensitively)
{
    using namespace PanelTexts;
    EXPECT_EQ(GroupStateCode("Stop"), 1);
    EXPECT_EQ(GroupStateCode("stop"), 255);
    EXPECT_EQ(GroupStateCode("V CI"), 7);
    EXPECT_EQ(GroupStateCode("Goff"), 6);
    EXPECT_EQ(GroupStateCode("Sto"), 255);
    EXPECT_EQ(GasCode("CO "), 1);
    EXPECT_EQ(GasCode("CO"), 0);
    EXPECT_EQ(GasCode("CO2"), 2);
    EXPECT_EQ(GasCode("co2"), 0);
    EXPECT_EQ(GasCode("O2 "), 9);
    EXPECT_EQ(GasCode("NH3"), 11);
    EXPECT_EQ(DetectorStateCode("Alarm "), 4);
    EXPECT_EQ(DetectorStateCode("Alarma"), 4);
    EXPECT_EQ(DetectorStateCode("Alarm!"), 1);
    EXPECT_EQ(DetectorStateCode("L.Ven2"), 3);
    EXPECT_EQ(DetectorStateCode("DetFau"), 6);
    EXPECT_EQ(DetectorStateCode("Satura"), 9);
    EXPECT_EQ(DetectorStateCode("SATURA"), 1);
    EXPECT_EQ(DetectorStateCode(""), 1);
}

} // namespace

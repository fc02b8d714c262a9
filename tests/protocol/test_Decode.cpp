// Decoding of "W" lines into item values: every field, every message type and the
// awkward fields.
#include "ProtocolFixture.h"
#include "protocol/PanelTexts.h"

namespace {

class Decode : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        engine->ProtocolStart();
    }
};

TEST_F(Decode, EveryFieldOfAGroupReport)
{
    const std::pair<QByteArray, const char *> cases[] = {
        {grLine(2, 3, "CO2", "Manu", 5, " 12.5 ", "Alarma", 7),
         "NPanel=7 Z2.G3.State=3 Z2.G3.StateStr=MANU Z2.G3.Gas=2 Z2.G3.GasStr=CO2 Z2.D05.Gas=2 Z2.D05.GasStr=CO2 "
         "Z2.D05.Group=3 Z2.D05.Value=12.5 Z2.D05.State=4 Z2.D05.StateStr=ALARMA Z2.State=2 Z2.StateStr=ON"},
        // Texts lose their blanks only, states are upper-cased, gas is kept as sent.
        {grLine(1, 1, "CO ", "Stop", 1, "  3   ", "Warn. "),
         "Z1.G1.GasStr=CO Z1.G1.Gas=1 Z1.G1.StateStr=STOP Z1.G1.State=1 Z1.D01.StateStr=WARN. Z1.D01.State=7"},
        // Bytes above 127 are Latin-1 characters; unknown texts get their codes.
        {grLine(1, 2, "\tco", "\xe9t\xe9 ", 2, "1     ",
                "\xfd"
                "bc   "),
         "Z1.G2.GasStr=\tco Z1.G2.Gas=0 Z1.G2.StateStr=\xc9T\xc9 Z1.G2.State=255 Z1.D02.StateStr=\xdd"
         "BC Z1.D02.State=1"},
        // A saturated measure overrides the detector state; the next reading clears it.
        {grLine(1, 1, "EXP", "Auto", 4, "satura", "Aviso "),
         "Z1.D04.Value=99999 Z1.D04.StateStr=SATURA Z1.D04.State=9"},
        {grLine(1, 1, "EXP", "Auto", 4, "  40  ", "Aviso "), "Z1.D04.Value=40 Z1.D04.StateStr=AVISO Z1.D04.State=7"},
        // A measure beyond the float range is not written; the rest of the line is.
        {grLine(1, 1, "EXP", "Auto", 4, "9E99  ", "Alarma"), "Z1.D04.Value=40 Z1.D04.State=4"},
    };
    for (const auto &[frame, expected] : cases) {
        line(frame);
        EXPECT_ITEMS(expected);
    }
    EXPECT_FALSE(engine->Saturated());
    EXPECT_EQ(written["C01.Z1.D04.Value"].type(), VarType::Single);
    EXPECT_EQ(written["C01.Z2.D05.Group"].type(), VarType::Byte);
    for (OPCItem *i : server.Tags())
        ASSERT_EQ(i->Quality(), Quality::Good);
    // Panel numbers that do not fit a byte read 0.
    for (const auto &[frame, panel] :
         {std::pair{"W99 1OF", "99"}, std::pair{"W-1 1OF", "0"}, std::pair{"W 7 1OF", "7"}}) {
        line(frame);
        EXPECT_EQ(value("C01.NPanel").toString(), panel) << frame;
    }
}

TEST_F(Decode, MeasureFieldsReadAsTheNumberParseReadsThem)
{
    const std::pair<const char *, float> cases[] = {{" 12.5%", 12.5f},  {"12,5  ", 12.0f},   {"  -3.2", -3.2f},
                                                    {"1 2 3 ", 123.0f}, {"      ", 0.0f},    {"abc   ", 0.0f},
                                                    {"1e2   ", 100.0f}, {"%%5   ", 0.0f},    {"0.1   ", 0.1f},
                                                    {"+7    ", 7.0f},   {"SATURA", 99999.0f}};
    for (const auto &[field, expected] : cases) {
        line(grLine(3, 1, "O2 ", "Auto", 9, field, "      "));
        EXPECT_EQ(value("C01.Z3.D09.Value"), Variant(expected)) << field;
    }
}

TEST_F(Decode, NumbersWithoutItemsWriteNothingOfTheirOwn)
{
    line(grLine(1, 2, "NO ", "Ven1", 17, "  5   ", "Preala")); // no detector 17
    line(grLine(1, 5, "NO ", "Ven1", 3, "  5   ", "Preala"));  // no group 5; the detector still records it
    QByteArray noDetector = grLine(1, 1, "NO ", "Ven1", 3, "  5   ", "Preala");
    line(noDetector.replace(21, 2, "-1")); // a number that does not fit a byte is 0: none
    // A group report one character short writes the panel and the zone's silence only.
    line(grLine(2, 1, "CO ", "Auto", 1, "  9   ", "Alarma").left(36));
    EXPECT_EQ(engine->zone(2).ZoneSilence, 100);
    // Zones outside 1 to 4, and lines below 7 characters, only prove the line alive.
    for (const char *l : {"W05 5OF", "W05 0OF", "W05 xOF", "W05 \xb9OF", "W05 -OF", "W01 1O"})
        line(l);
    EXPECT_ITEMS("Z1.G2.State=4 Z1.D03.Group=5 Z1.G1.State=4 Z1.State=2");
    std::map<QString, int> expected = {{"C01.Error_Comm", 1},  {"C01.NPanel", 4},      {"C01.Z1.State", 3},
                                       {"C01.Z1.StateStr", 3}, {"C01.Z1.G2.State", 1}, {"C01.Z1.G1.State", 1}};
    for (int d = 1; d <= 16; ++d)
        expected[QStringLiteral("C01.Z1.D%1.State").arg(d, 2, 10, QLatin1Char('0'))] = d == 3;
    for (const char *none : {"C01.Z2.State", "C01.Z2.G1.State", "C01.Z2.D01.State"})
        expected[none] = 0;
    for (const auto &[id, count] : expected)
        EXPECT_EQ(writesTo(id), count) << qPrintable(id);
}

TEST_F(Decode, ZoneStatesAndTheirFlags)
{
    line(grLine(1, 4, "H2S", "Auto", 16, " 33.0 ", "Alarm "));
    // Switching OFF clears that zone's groups and detectors, with 16-bit zeros.
    line("W01 1OF");
    EXPECT_ITEMS("Z1.State=1 Z1.StateStr=OFF Z1.D16.Value=0 Z1.D16.StateStr= Z1.G4.GasStr= Z1.G4.State=0");
    EXPECT_EQ(written["C01.Z1.D16.Value"], Variant(std::int16_t(0)));
    EXPECT_EQ(writesTo("C01.Z2.D01.Gas"), 0);
    // Already OFF: the zone items are written again, the detail is not.
    line("W01 1OF");
    EXPECT_EQ(writesTo("C01.Z1.State"), 3);
    EXPECT_EQ(writesTo("C01.Z1.D01.Gas"), 1);

    // Programming and fault frames set their flags and holds; only programming
    // frames turn the zone OFF.
    const std::tuple<const char *, const char *, std::int16_t cTarvolin::ZoneStatus::*, int> flags[] = {
        {"W01 2PI", "C01.Z2.StsPrgIng", &cTarvolin::ZoneStatus::PrgIng, 100},
        {"W01 2PU", "C01.Z2.StsPrgUsr", &cTarvolin::ZoneStatus::PrgUsr, 1},
        {"W01 2FR", "C01.Z2.StsFailPower", &cTarvolin::ZoneStatus::FailPower, 100},
        {"W01 2FB", "C01.Z2.StsFailBat", &cTarvolin::ZoneStatus::FailBat, 100},
        {"W01 2FG", "C01.Z2.StsFailGroup", &cTarvolin::ZoneStatus::FailGroup, 100}};
    for (const auto &[frame, id, hold, ticks] : flags) {
        line(frame);
        EXPECT_EQ(written[id], Variant(std::int16_t(1))) << frame;
        EXPECT_EQ(std::make_pair(int(engine->zone(2).*hold), int(engine->zone(2).State)), std::make_pair(ticks, 1))
            << frame;
    }
    EXPECT_EQ(writesTo("C01.Z2.State"), 2);
    // Turning ON clears every flag at once.
    line(grLine(2, 1, "CO ", "Auto", 1, "  1   ", "      "));
    EXPECT_ITEMS("Z2.StsPrgIng=0 Z2.StsPrgUsr=0 Z2.StsFailPower=0 Z2.StsFailBat=0 Z2.StsFailGroup=0");
    for (const auto &[frame, id, hold, ticks] : flags)
        EXPECT_EQ(engine->zone(2).*hold, 0) << id;

    // An unknown type makes the zone unknown without clearing anything; type
    // letters are case-sensitive.
    line("W01 2FG");
    line("W01 2XX");
    line("W01 4of");
    EXPECT_ITEMS("Z2.State=0 Z2.StateStr= Z2.D01.Value=1 Z2.StsFailGroup=1 Z4.StateStr=");
    EXPECT_EQ(engine->zone(2).State, 0);
    EXPECT_EQ(writesTo("C01.Z4.State"), 1);
}

TEST(PanelTexts, CodesMatchWholeFieldsCaseSensitively)
{
    auto check = [](std::uint8_t (*code)(QByteArrayView), const char *spec) {
        for (const QByteArray &pair : QByteArray(spec).split('|'))
            EXPECT_EQ(code(pair.left(pair.lastIndexOf('='))), pair.mid(pair.lastIndexOf('=') + 1).toInt())
                << pair.constData();
    };
    check(PanelTexts::GroupStateCode, "Stop=1|Auto=2|Manu=3|Ven1=4|Ven2=5|Goff=6|V CI=7|stop=255|Sto=255|=255");
    check(PanelTexts::GasCode, "CO =1|CO2=2|NO =3|NO2=4|H2S=5|SO2=6|CL2=7|HCL=8|O2 =9|EXP=10|NH3=11|CO=0|co2=0|O2=0");
    check(PanelTexts::DetectorStateCode, "N.Ven1=2|L.Ven1=2|N.Ven2=3|L.Ven2=3|Alarma=4|Alarm =4|Error =5|ErrSen=6|"
                                         "DetFau=6|Aviso =7|Warn. =7|Preala=8|Satura=9|SATURA=1|Alarm!=1|Alarm=1|=1");
}

} // namespace

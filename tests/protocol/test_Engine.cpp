// One engine: decoding of "W" lines into items, the connection's item namespace,
// line assembly and the supervision of the link, driven by ticks on demand.
#include "ProtocolFixture.h"
#include "common/Error.h"
#include "protocol/PanelTexts.h"

namespace {

using Decode = EngineFixture;
using Link = EngineFixture;

TEST_F(Decode, NumbersWithoutItemsWriteNothingOfTheirOwnAndGroupReportsEveryFieldAndMeasure)
{
    QByteArray noDetector = grLine(1, 1, "NO ", "Ven1", 3, "  5   ", "Preala");
    noDetector.replace(21, 2, "-1"); // a number that does not fit a byte is 0: none
    // No detector 17; no group 5, which the detector still records; a group report one character short writes the panel
    // and the zone's silence only. Zones outside 1 to 4, and lines below 7 characters, only prove the line alive.
    feed(grLine(1, 2, "NO ", "Ven1", 17, "  5   ", "Preala") + '\r' +
         grLine(1, 5, "NO ", "Ven1", 3, "  5   ", "Preala") + '\r' + noDetector + '\r' +
         grLine(2, 1, "CO ", "Auto", 1, "  9   ", "Alarma").left(36) +
         "\rW05 5OF\rW05 0OF\rW05 xOF\rW05 \xb9OF\rW05 -OF\rW01 1O\r");
    // Written: the four fields of groups 1 and 2 and the six of detector 3, and these.
    EXPECT_ITEMS("Z1.G2.State=4 Z1.D03.Group=5 Z1.G1.State=4 Z1.State=2 @zone2=0/100/0/0/0/0/0 #Z1.G2.State=1 "
                 "#Z1.G1.State=1 #Z1.D03.State=1 #Error_Comm=1 #NPanel=4 #Z1.State=3 #Z1.StateStr=3 @written=18");

    play({{grLine(2, 3, "CO2", "Manu", 5, " 12.5 ", "Alarma", 7), 0,
           "NPanel=7 Z2.G3.State=3 Z2.G3.StateStr=MANU Z2.G3.Gas=2 Z2.G3.GasStr=CO2 Z2.D05.Gas=2 Z2.D05.GasStr=CO2 "
           "Z2.D05.Group=3 %Z2.D05.Group=17 Z2.D05.Value=12.5 %Z2.D05.Value=4 Z2.D05.State=4 Z2.D05.StateStr=ALARMA "
           "Z2.State=2 Z2.StateStr=ON"},
          // Texts lose their blanks only, states are upper-cased, gas is kept as sent.
          {grLine(1, 1, "CO ", "Stop", 1, "  3   ", "Warn. "), 0,
           "Z1.G1.GasStr=CO Z1.G1.Gas=1 Z1.G1.StateStr=STOP Z1.G1.State=1 Z1.D01.StateStr=WARN. Z1.D01.State=7"},
          // Bytes above 127 are Latin-1 characters; unknown texts get their codes.
          {grLine(1, 2, "\tco", "\xe9t\xe9 ", 2, "1     ", "\xfd\x62\x63   "), 0,
           "Z1.G2.GasStr=\tco Z1.G2.Gas=0 Z1.G2.StateStr=\xc9T\xc9 Z1.G2.State=255 Z1.D02.StateStr=\xdd\x42\x43 "
           "Z1.D02.State=1"},
          // A saturated measure overrides the detector state; the next reading clears it.
          {grLine(1, 1, "EXP", "Auto", 4, "satura", "Aviso "), 0,
           "Z1.D04.Value=99999 Z1.D04.StateStr=SATURA Z1.D04.State=9"},
          {grLine(1, 1, "EXP", "Auto", 4, "  40  ", "Aviso "), 0,
           "Z1.D04.Value=40 Z1.D04.StateStr=AVISO Z1.D04.State=7"},
          // A measure beyond the float range is not written; the rest of the line is.
          {grLine(1, 1, "EXP", "Auto", 4, "9E99  ", "Alarma"), 0, "Z1.D04.Value=40 #Z1.D04.Value=2 Z1.D04.State=4"},
          // Panel numbers that do not fit a byte read 0.
          {"W99 1OF", 0, "NPanel=99"},
          {"W-1 1OF", 0, "NPanel=0"},
          {"W 7 1OF", 0, "NPanel=7"}});
    for (OPCItem *i : server.Tags())
        ASSERT_EQ(i->Quality(), Quality::Good);
    // Measures read as the number parse reads them.
    const std::pair<const char *, float> measures[] = {{" 12.5%", 12.5f},  {"12,5  ", 12.0f},   {"  -3.2", -3.2f},
                                                       {"1 2 3 ", 123.0f}, {"      ", 0.0f},    {"abc   ", 0.0f},
                                                       {"1e2   ", 100.0f}, {"%%5   ", 0.0f},    {"0.1   ", 0.1f},
                                                       {"+7    ", 7.0f},   {"SATURA", 99999.0f}};
    for (const auto &[field, expected] : measures) {
        feed(grLine(3, 1, "O2 ", "Auto", 9, field, "      ") + '\r');
        EXPECT_EQ(value("C01.Z3.D09.Value"), Variant(expected)) << field;
    }
}

TEST_F(Decode, ConnectionsCreateTheirItemsInOrderWithTheirEntriesRefuseDuplicatesAndTheZoneStatesAndFlags)
{
    // Every item in order, with its description.
    const auto zone = pairs("State=Zone State|StateStr=Zone State String|StsPrgIng=Zone in Prog.Ingenier|"
                            "StsPrgUsr=Zone in Prog.User|StsFailPower=Zone with power fail|"
                            "StsFailBat=Zone with battery fail|StsFailGroup=Zone with group fail");
    const auto group = pairs("State=Group State|StateStr=Group State String|Gas=Group Gas|GasStr=Group Gas String");
    const auto detector = pairs("Group=Group associated to Detector|Value=Detector value of mesure|"
                                "State=Detector State|StateStr=Detector State String|Gas=Detector Gas|"
                                "GasStr=Detector Gas String");
    QStringList expected{"C01.Error_Comm=Communication Error with Panel. Connexion:1",
                         "C01.NPanel=Number of the Panel"};
    const auto add = [&](const QString &prefix, const auto &fields) {
        for (const auto &[field, text] : fields)
            expected << prefix + field + '=' + text;
    };
    for (int z = 1; z <= 4; ++z) {
        add(QStringLiteral("C01.Z%1.").arg(z), zone);
        for (int g = 1; g <= 4; ++g)
            add(QStringLiteral("C01.Z%1.G%2.").arg(z).arg(g), group);
        for (int d = 1; d <= 16; ++d)
            add(QStringLiteral("C01.Z%1.D%2.").arg(z).arg(d, 2, 10, QChar('0')), detector);
    }
    QStringList listed;
    for (OPCItem *i : server.Tags()) {
        listed << i->ItemID() + '=' + table[i->UserIndex()].Description;
        EXPECT_EQ(table[listed.size()].Tag, i);
        EXPECT_EQ(std::make_pair(i->AccessRights(), i->Quality()), std::make_pair(AccessRights::Read, Quality::Good));
        const QString &id = i->ItemID();
        const Variant initial = id == "C01.Error_Comm"  ? Variant(std::uint8_t(1))
                                : id.endsWith("Str")    ? Variant(QString())
                                : id.endsWith(".Value") ? Variant(0.0f)
                                                        : Variant(std::uint8_t(0));
        EXPECT_EQ(i->Value(), initial) << qPrintable(id);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(std::make_tuple(table.ItemCount(), engine->ErrCommIndex(), engine->NPanelIndex()),
              std::make_tuple(478, 1, 2));

    // Further connections follow in the table, named by their number, and each engine writes only its own items.
    auto seventh = makeEngine(7);
    auto last = makeEngine(123);
    EXPECT_EQ(std::make_pair(seventh->ErrCommIndex(), last->ErrCommIndex()), std::make_pair(479, 957));
    EXPECT_EQ(table[957 + 477].Tag->ItemID(), "C123.Z4.D16.GasStr");
    EXPECT_EQ(table[957].Description, "Communication Error with Panel. Connexion:123");
    seventh->ProtocolStart();
    seventh->Receive("W02 1OF\r");
    EXPECT_EQ(QStringList({value("C07.Z1.State").toString(), value("C07.Error_Comm").toString(),
                           value("C07.Z2.D05.State").toString(), value("C123.Z1.State").toString()}),
              QStringList({"1", "0", "0", "0"}));

    // The same names again: the toolkit refuses every one, and the engine writes nothing.
    TraceRecorder trace;
    cTarvolin twin;
    twin.setIndex(1);
    twin.InitialUpdate(server, table);
    EXPECT_EQ(std::make_pair(table.ItemCount(), server.Tags().Count()), std::make_pair(4 * 478, 3 * 478));
    ASSERT_EQ(trace.lines.size(), 478);
    EXPECT_TRUE(trace.lines.first().startsWith("InitialUpdate. Tag:C01.Error_Comm Err:Duplicate item ID"));
    EXPECT_TRUE(trace.lines.last().startsWith("InitialUpdate. Tag:C01.Z4.D16.GasStr Err:"));
    EXPECT_EQ(table[3 * 478 + 4].Tag, nullptr);
    twin.ProtocolStart();
    twin.Receive("W05 1OF\r");
    EXPECT_ITEMS("Z1.State=0 Error_Comm=1 NPanel=0");
    // Without InitialUpdate an engine runs harmlessly, and keeps ticking.
    cTarvolin bare;
    bare.ProtocolStart();
    bare.Receive("W01 1OF\r" + grLine(2, 1, "CO ", "Auto", 1, "  1   ", "Alarma") + "\r");
    timers.fire(XTimerAccess::TimerID(bare.timer()), 250);
    EXPECT_EQ(std::make_pair(int(bare.zone(2).State), int(bare.CommError())), std::make_pair(0, 1));
    EXPECT_TRUE(timers.running.count(XTimerAccess::TimerID(bare.timer())));

    // Zone states and their flags, on the first connection, which nothing has written yet.
    play({{grLine(1, 4, "H2S", "Auto", 16, " 33.0 ", "Alarm "), 0, ""},
          // Switching OFF clears that zone's groups and detectors, with 16-bit zeros;
          // already OFF, the zone items are written again and the detail is not.
          {"W01 1OF\rW01 1OF", 0,
           "Z1.State=1 #Z1.State=3 Z1.StateStr=OFF Z1.D16.Value=0 %Z1.D16.Value=2 Z1.D16.StateStr= "
           "Z1.G4.GasStr= Z1.G4.State=0 #Z1.D01.Gas=1 #Z2.D01.Gas=0"},
          // Flag frames set flags (16-bit ones) and holds; PI and PU turn the zone OFF.
          {"W01 2PI\rW01 2PU\rW01 2FR\rW01 2FB\rW01 2FG", 0,
           "Z2.StsPrgIng=1 Z2.StsPrgUsr=1 Z2.StsFailPower=1 Z2.StsFailBat=1 Z2.StsFailGroup=1 %Z2.StsFailBat=2 "
           "@zone2=1/100/100/1/100/100/100 #Z2.State=2"},
          // Turning ON clears them all.
          {grLine(2, 1, "CO ", "Auto", 1, "  1   ", "      "), 0,
           "Z2.StsPrgIng=0 Z2.StsPrgUsr=0 Z2.StsFailPower=0 Z2.StsFailBat=0 Z2.StsFailGroup=0 @zone2=2/100/0/0/0/0/0"},
          // An unknown (or lower-case) type makes the zone unknown, clearing nothing.
          {"W01 2FG\rW01 2XX\rW01 4of", 0,
           "Z2.State=0 Z2.StateStr= Z2.D01.Value=1 Z2.StsFailGroup=1 Z4.StateStr= #Z4.State=1 "
           "@zone2=0/100/0/0/0/0/100"}});

    // The panel texts' codes match whole fields, case-sensitively.
    auto check = [](std::uint8_t (*code)(QByteArrayView), const char *spec) {
        for (const auto &[text, expected] : pairs(spec))
            EXPECT_EQ(code(text.toLatin1()), expected.toInt()) << qPrintable(text);
    };
    check(PanelTexts::GroupStateCode, "Stop=1|Auto=2|Manu=3|Ven1=4|Ven2=5|Goff=6|V CI=7|stop=255|Sto=255|=255");
    check(PanelTexts::GasCode, "CO =1|CO2=2|NO =3|NO2=4|H2S=5|SO2=6|CL2=7|HCL=8|O2 =9|EXP=10|NH3=11|CO=0|co2=0|O2=0");
    check(PanelTexts::DetectorStateCode, "N.Ven1=2|L.Ven1=2|N.Ven2=3|L.Ven2=3|Alarma=4|Alarm =4|Error =5|ErrSen=6|"
                                         "DetFau=6|Aviso =7|Warn. =7|Preala=8|Satura=9|SATURA=1|Alarm!=1|Alarm=1|=1");
}

TEST_F(Link, LinesAreCutAtCarriageReturnsWhateverTheChunks)
{
    engine->ProtocolStop(); // input while stopped is lost
    feed("W01 1OF\r");
    engine->ProtocolStart();
    feed("W\r"); // a lone "W" brings the link up and writes nothing else
    EXPECT_EQ(written, (std::map<QString, Variant>{{"C01.Error_Comm", Variant(std::int16_t(0))}}));
    feed("W03 1OF\rW04 2PI\r"); // two lines in one chunk, in order
    EXPECT_ITEMS("@error=0 NPanel=4 Z1.State=1 Z2.StsPrgIng=1");
    // One line over several chunks: decoded once, when its CR arrives.
    const QByteArray l = grLine(3, 2, "SO2", "Auto", 12, " 77.7 ", "Error ") + '\r';
    for (qsizetype i = 0; i < l.size() - 1; ++i)
        feed(l.mid(i, 1));
    EXPECT_ITEMS("#Z3.D12.Value=0");
    feed("\r");
    EXPECT_ITEMS("#Z3.D12.Value=1 Z3.D12.Value=77.7 @buffer=0");
    // "w", other letters and an LF after a CR start lines that are not frames.
    tick(101);
    feed("\rw01 4OF\rX01 4OF\r");
    EXPECT_ITEMS("@error=1");
    feed("W01 1OF\r\nW01 4OF\r");
    EXPECT_ITEMS("Z1.State=1 Error_Comm=0 #Z4.State=0");
    EXPECT_EQ(observed, (QStringList{"W\r", "W03 1OF\r", "W04 2PI\r", QString::fromLatin1(l), "\r", "w01 4OF\r",
                                     "X01 4OF\r", "W01 1OF\r", "\nW01 4OF\r"}));
}

TEST_F(Link, PartialLineBeyondTheLimitIsDroppedWithItsTail)
{
    // Exactly at the limit a partial line is kept and completes.
    feed("W01 1OF" + QByteArray(cTarvolin::RxBufferLimit - 7, 'x'));
    EXPECT_ITEMS("@buffer=500 @dropped=0");
    feed("\r");
    EXPECT_ITEMS("Z1.State=1");
    // One more and it goes, with the rest of that line, even a tail that looks a frame.
    feed(QByteArray(cTarvolin::RxBufferLimit + 1, 'y'));
    EXPECT_ITEMS("@buffer=0 @dropped=1");
    feed("W01 2OF");
    feed("W01 3OF\rW01 4OF\r");
    EXPECT_ITEMS("Z2.State=0 Z3.State=0 Z4.State=1 @lines=2");
    // A stream without CR never grows the buffer beyond the limit.
    for (int i = 0; i < 100; ++i) {
        feed(QByteArray(97, char('a' + i % 26)));
        ASSERT_LE(engine->rxBufferSize(), cTarvolin::RxBufferLimit);
    }
    EXPECT_GE(engine->discardedLines(), 2u);
    // Complete lines in the same chunk as an over-long tail are still decoded.
    feed("\rW09 1PU\r" + QByteArray(600, 'z'));
    EXPECT_ITEMS("NPanel=9 @buffer=0");
    engine->frameObserver = [](QByteArrayView) { throw RuntimeError(61, "Disk full"); }; // a failing monitor
    EXPECT_NO_THROW(feed("\rW01 2OF\rW01 3O"));
    feed("F\r");
    EXPECT_ITEMS("Z2.State=1 Z3.State=1");
}

TEST_F(Link, SilenceRaisesTheErrorOnTheTickAfterTheLimitFromTheProtocolFileAndStopStartKeepsTheCount)
{
    // A fresh connection is in error until its first frame; ticks do not count then.
    play({{"", 300, "@silence=0 Error_Comm=1"}, {"W01 1OF", 60, ""}});
    engine->ProtocolStop();
    engine->ProtocolStart();
    EXPECT_EQ(timers.running.size(), 1u); // stop and start left one system timer
    play({{"", 0, "@silence=60 Error_Comm=0"},
          {"", 40, "Error_Comm=0"},
          {"", 1, "Error_Comm=1 #Error_Comm=2 %Error_Comm=2"},
          {"", 50, "@silence=101 #Error_Comm=2"},
          {"W", 0, "@silence=0 Error_Comm=0"}});
    // The limit comes from the protocol file, and its largest does not overflow.
    std::int16_t index = 1;
    for (const auto &[setting, limit] : pairs("150=150|50=100|40000=100|abc=100| 2 00 =200|32767=32767")) {
        folder.write("KV7.ini", "[KV7]\r\nTimeoutError=" + setting.toLatin1() + "\r\n");
        engine = makeEngine(++index);
        EXPECT_EQ(engine->TimeoutError(), limit.toInt()) << qPrintable(setting);
    }
    engine->ProtocolStart();
    engine->Receive("W01 1OF\rW01 2OF\r");
    tick(32767);
    EXPECT_EQ(engine->zone(2).State + engine->CommError(), 0);
    tick();
    EXPECT_EQ(engine->CommError(), 1);
}

TEST_F(Link, SilentZonesAreResetAndFlagHoldsFallBack)
{
    const QByteArray on = grLine(1, 1, "CO ", "Auto", 1, "  1   ", "      ");
    play({{grLine(2, 1, "CO ", "Auto", 6, " 10.0 ", "Alarma") + "\rW01 2FG", 0, ""},
          // Power: a second fault restarts the hold; it runs only while the zone is ON.
          {on + "\rW01 1FR\rW01 3FB\rW01 3FR", 60, ""},
          {on + "\rW01 1FR", 39, "Z2.State=2"},
          // Other traffic does not keep zone 2 alive: it is reset on its 100th tick.
          {"", 1, "Z2.State=0 %Z2.State=2 Z2.StateStr= Z2.D06.Value=0 Z2.D06.StateStr= Z2.StsFailGroup=0 Z1.State=2"},
          {"", 10, ""},
          {on, 49, "Z1.StsFailPower=1"},
          // Zone 3 is unknown: its holds stand still.
          {"", 1, "Z1.StsFailPower=0 %Z1.StsFailPower=2 Z3.StsFailBat=1 Z3.StsFailPower=1 @zone3=0/100/0/0/100/100/0"},
          // Group and engineering flags count in any state; the user flag goes with the zone.
          {"W01 4FG\rW01 2PU\rW01 2PI", 50, ""},
          {"W01 2OF", 49, "Z4.StsFailGroup=1 Z2.StsPrgIng=1"},
          {"", 1, "Z4.StsFailGroup=0 Z2.StsPrgIng=0 Z2.StsPrgUsr=1"},
          {"", 50, "Z2.State=0 Z2.StsPrgUsr=0 #Z2.State=6"},
          {"", 200, "#Z2.State=6"}}); // an unknown zone is not reset again
}

} // namespace

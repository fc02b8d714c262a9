// The INI engine with the Windows profile rules, the two INI files, and the settings and connections read from them.
#include "config/Ini.h"
#include "config/ProfileFile.h"
#include "config/Settings.h"
#include "lang/Language.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Profile;

namespace {

TEST(ProfileText, AWriteChangesOnlyItsValueAndReadsFollowTheProfileCallRules)
{
    const QByteArray original = "; settings of the server\r\n[Configuracion]\r\n  TiempoSesion = 900 \r\n"
                                "; a note inside the section\r\nLanguage=0\r\n\r\n[Other]\r\nX=1\r\n";
    auto replaced = [&](const char *from, const char *to) { return QByteArray(original).replace(from, to); };
    const std::tuple<QByteArray, const char *, const char *, const char *, QByteArray> cases[] = {
        {original, "Configuracion", "Language", "1", replaced("Language=0", "Language=1")},
        {original, "configuracion", "TIEMPOSESION", "60", replaced("TiempoSesion = 900 ", "TiempoSesion = 60 ")},
        // A new key follows the section's last line, before the blank line that parts
        // it from the next section; a new section goes at the end.
        {original, "Configuracion", "Nueva", "x", replaced("Language=0\r\n", "Language=0\r\nNueva=x\r\n")},
        {original, "KV7", "C1-On", "1", original + "[KV7]\r\nC1-On=1\r\n"},
        {"[A]\nK=1\nL=2", "A", "K", "9", "[A]\nK=9\nL=2"},
        {"[A]\nK=1\nL=2", "A", "M", "3", "[A]\nK=1\nL=2\r\nM=3\r\n"},
        {"[A]\nK=1\nL=2", "B", "M", "3", "[A]\nK=1\nL=2\r\n[B]\r\nM=3\r\n"},
        {"", "S", "K", "v", "[S]\r\nK=v\r\n"},
        {"[Configuraci\xF3n]\r\nTiempoSesion=900\r\n", "configuraci\xC3\xB3n", "T", "1",
         "[Configuraci\xF3n]\r\nTiempoSesion=900\r\nT=1\r\n"},
        // A value cannot leave its line: it would add keys or sections of its own.
        {"[S]\r\nK=1\r\n", "S", "K", "a\r\n[Forged]\nX=1", "[S]\r\nK=a  [Forged] X=1\r\n"},
        {"[S]\r\nK=1\r\n", "S", "Name\nX", "v", "[S]\r\nK=1\r\nName X=v\r\n"},
    };
    for (const auto &[before, section, key, value, after] : cases) {
        ProfileText text(before);
        text.setString(QString::fromUtf8(section), QLatin1String(key), QString::fromUtf8(value));
        EXPECT_EQ(text.bytes(), after) << before.constData() << " / " << key;
    }

    // Reads follow the profile call's rules.
    static const char raw[] =
        "K0=outside any section\r\n  [ S ]  \r\nEmpty=\r\n  Spaced  =   a b   \r\n"
        "Quoted=\"  q  \"\r\nSingle='x'\r\nMixed=\"x'\r\nLone=\"\r\n;Comment=1\r\nNoEquals\r\n"
        "Dup=first\r\ndup=second\r\nNul=ab\0cd\r\n[s]\r\nDup=third\r\nOther=only in the second\r\n"
        "[\x8A\x8E\x8C\x9F\xC6]\r\n\xD1\xC1=1\r\n";
    const ProfileText text(QByteArray(raw, sizeof raw - 1));
    const std::tuple<QString, QString, QString, QString> reads[] = {
        {"S", "Missing", "900", "900"},    {"S", "Missing", "90  ", "90"}, // the default loses trailing blanks
        {"S", "Empty", "900", ""},         {"S", "Spaced", "", "a b"},
        {"S", "Quoted", "", "  q  "},      {"S", "Single", "", "x"},
        {"S", "Mixed", "", "\"x'"},        {"S", "Lone", "", "\""},
        {"S", ";Comment", "none", "none"}, {"S", "NoEquals", "none", "none"},
        {"", "K0", "none", "none"},        {"S", "DUP", "", "first"}, // first section and key of a name win
        {"S", "Other", "none", "none"},    {"S", "Nul", "", "ab"},    // a caller's buffer ends at a NUL
        {"šžœÿæ", "ñá", "x", "1"},         {"šžœÿæ", "na", "x", "x"}, // the code page's letters pair by case
    };
    for (const auto &[section, key, fallback, expected] : reads)
        EXPECT_EQ(text.getString(section, key, fallback), expected) << qPrintable(section + "/" + key);
    EXPECT_EQ(text.sections(), QStringList({"S", "s", "ŠŽŒŸÆ"}));
    EXPECT_EQ(ProfileText("\xEF\xBB\xBF[S]\r\nK=v\r\n").sections(), QStringList({"S"})); // an editor's byte order mark
    EXPECT_EQ(text.keys("s"),
              QStringList({"Empty", "Spaced", "Quoted", "Single", "Mixed", "Lone", "Dup", "dup", "Nul"}));

    // Reads give at most 254 characters; the file keeps the whole value.
    const QString longValue(300, QLatin1Char('v'));
    ProfileText longText;
    longText.setString("S", "Long", longValue);
    EXPECT_EQ(longText.getString("S", "Long", ""), longValue.left(254));
    EXPECT_EQ(longText.getString("S", "Missing", longValue), longValue.left(254));
    EXPECT_EQ(longText.rawValue("S", "Long"), longValue);

    // Integer reads take the leading number; an empty value gives the default; beyond 32 bits the number saturates.
    for (const auto &[value, expected] :
         pairs("12abc=12|abc=0|=99|-5=-5|+7=7|\" 42\"=42|0x1F=31|0X1F=0|1.9=1|99999999999=2147483647|"
               "-99999999999=-2147483648|2147483647=2147483647|-2147483648=-2147483648|2147483648=2147483647|"
               "0o17=15|0b101=5|0xFFFFFFFF=2147483647|007=7|18446744073709551621=2147483647")) {
        const ProfileText text("[S]\r\nK=" + value.toLatin1() + "\r\n");
        EXPECT_EQ(text.getInt("S", "K", 99), expected.toInt()) << qPrintable(value);
    }
    EXPECT_EQ(text.getInt("S", "Absent", 99), 99);
    EXPECT_EQ(text.getInt("Absent", "K", -3), -3);
}

TEST(ProfileFile, WritesAreByteExactReplaceTheFileWholeOrFailAndLeaveItTheTwoFilesAndTheSettingsReadFromThem)
{
    TempAppFolder folder;
    const QString path = folder.file("KV7.ini");
    EXPECT_EQ(readString(path, "S", "K", "900"), "900"); // no file: the default
    EXPECT_EQ(readInt(path, "S", "K", 4), 4);
    ASSERT_TRUE(writeString(path, QStringLiteral("Configuración"), "C1-Nm", QStringLiteral("Central ñandú €5")));
    EXPECT_EQ(folder.read("KV7.ini"), QByteArray("[Configuraci\xF3n]\r\nC1-Nm=Central \xF1"
                                                 "and\xFA \x80"
                                                 "5\r\n"));
    EXPECT_EQ(readString(path, QStringLiteral("CONFIGURACIÓN"), "c1-nm", ""), QStringLiteral("Central ñandú €5"));
    ASSERT_TRUE(writeString(path, QStringLiteral("Configuración"), "C1-Com", QStringLiteral("Ω7")));
    EXPECT_EQ(readString(path, QStringLiteral("Configuración"), "C1-Com", ""), "?7");
    EXPECT_EQ(readInt(path, QStringLiteral("Configuración"), "C1-Com", 4), 0);

    // A second name for the old file still shows the old bytes: the new text went
    // to a new file that took the name, so no reader ever sees half of one.
    QByteArray before = folder.read("KV7.ini");
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(folder.file("old.ini")).constData()), 0);
    ASSERT_TRUE(writeString(path, "S", "K", "new"));
    EXPECT_EQ(folder.read("old.ini"), before);
    EXPECT_EQ(folder.read("KV7.ini"), before + "[S]\r\nK=new\r\n");

    // Modes do not follow the umask: a new file is 0644, one that exists keeps its own.
    const mode_t umask = ::umask(0);
    const QString fresh = folder.file("fresh.ini");
    const bool written = writeString(fresh, "S", "K", "v");
    ::chmod(QFile::encodeName(path).constData(), 0600);
    const bool rewritten = writeString(path, "S", "K", "again");
    ::umask(umask);
    ASSERT_TRUE(written && rewritten);
    const auto mode = [](const QString &file) { return std::filesystem::status(file.toStdString()).permissions(); };
    EXPECT_EQ(std::make_pair(mode(fresh), mode(path)),
              std::make_pair(std::filesystem::perms(0644), std::filesystem::perms(0600)));

    // A failed write reports failure and leaves the old file.
    before = "[S]\r\n; keep me\r\nK=old\r\n";
    folder.write("plain.ini", before);
    ASSERT_TRUE(QDir(folder.path()).mkdir("dir.ini"));
    for (const char *target : {"dir.ini", "plain.ini/KV7.ini", "missing/KV7.ini"})
        EXPECT_FALSE(writeString(folder.file(target), "S", "K", "v")) << target;

    // A full disk, made by a file size limit below the new file's size.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{64, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool full = writeString(folder.file("plain.ini"), "S", "K", QString(500, QLatin1Char('x')));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(full);
    EXPECT_EQ(folder.read("plain.ini"), before);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files),
              QStringList({"fresh.ini", "KV7.ini", "old.ini", "plain.ini"})); // no temporary
    EXPECT_TRUE(writeString(folder.file("plain.ini"), "S", "K", "new"));
    EXPECT_EQ(folder.read("plain.ini"), QByteArray("[S]\r\n; keep me\r\nK=new\r\n"));

    // The connection table takes the slots in use, in slot order.
    const std::pair<QByteArray, QStringList> cases[] = {
        // Without a port key, the connection's position is its port.
        {"[KV7]\r\nC2-On=1\r\nC2-Nm=Nave 2\r\nC5-On=1\r\nC5-Com=7\r\nC3-Nm=unused\r\n", {"2 1 Nave 2", "5 7 "}},
        // Any non-zero in-use value counts; slots beyond 1..16 are never read.
        {"[kv7]\r\nc3-on=2\r\nC16-On=-1\r\nC16-Com=0\r\nC17-On=1\r\nC0-On=1\r\nC1-On=0\r\n", {"3 1 ", "16 0 "}},
        // A port beyond 16 bits is no port; the rest of the record is still read.
        {"[KV7]\r\nC1-On=1\r\nC1-Com=70000\r\nC1-Nm=Norte\r\n", {"1 0 Norte"}},
        {"[KV7]\r\nC1-On=0\r\nC1-Nm=x\r\nC2-On=abc\r\n", {}},
        {"", {}}};
    for (const auto &[file, expected] : cases) {
        folder.write("KV7.ini", file);
        ConnectionTable table;
        LoadConnectionTable(table);
        ASSERT_EQ(table.Connections.size(), std::size_t(table.ConnectionCount) + 1);
        QStringList records;
        for (int i = 1; i <= table.ConnectionCount; ++i) {
            const ConnectionRecord &r = table[i];
            records << QStringLiteral("%1 %2 %3").arg(r.Slot).arg(r.ComPort).arg(r.Name);
            EXPECT_EQ(r.Settings + QStringLiteral(" %1 %2 %3 ").arg(r.Handshaking).arg(r.Enabled).arg(r.Protocol) +
                          r.ProtocolKey + (r.IsOpen || r.Engine ? " open" : ""),
                      "4800,n,8,1 0 1 67 K67");
        }
        EXPECT_EQ(records, expected) << file.constData();
    }

    // The session timeout is read with Val, rounded and clamped.
    const std::pair<const char *, int> timeouts[] = {{nullptr, 900},     {"120.6", 121},    {"1 80", 180},
                                                     {"32767.4", 32767}, {"100000", 32767}, {"-1e9", -32768}};
    TraceRecorder trace;
    for (const auto &[value, expected] : timeouts) {
        folder.write("OPC-KV7.ini", value ? "[Configuracion]\r\nTiempoSesion=" + QByteArray(value) + "\r\n" : "");
        GeneralSettings settings;
        LoadGeneralSettings(settings);
        EXPECT_EQ(settings.SessionTimeout, expected) << (value ? value : "no key");
    }
    EXPECT_EQ(trace.lines, QStringList({"(Startup Warning: Overflow: TiempoSesion=100000, using 32767)",
                                        "(Startup Warning: Overflow: TiempoSesion=-1e9, using -32768)"}));

    // The two files of the program, and the notice of a failed write.
    folder.write("KV7.ini", "[KV7]\r\nTimeoutError=150 s\r\n");
    EXPECT_EQ(Ini::ProtocolIniGetInt("KV7", "TimeoutError", 100), 150);
    EXPECT_EQ(Ini::ProtocolIniGetString("KV7", "TIMEOUTERROR", "100"), "150 s");
    Ini::ProtocolIniPutString("KV7", "C1-Nm", "Planta baja");
    Ini::ProtocolIniPutString("Other", "K", "v");
    Ini::IniPutString("Configuracion", "Language", "1");
    EXPECT_EQ(folder.read("KV7.ini"), QByteArray("[KV7]\r\nTimeoutError=150 s\r\nC1-Nm=Planta baja\r\n"));
    EXPECT_EQ(folder.read("Other.ini"), QByteArray("[Other]\r\nK=v\r\n"));
    EXPECT_EQ(folder.read("OPC-KV7.ini"), QByteArray("[Configuracion]\r\nTiempoSesion=-1e9\r\nLanguage=1\r\n"));
    EXPECT_EQ(Ini::IniGetInt("configuracion", "LANGUAGE", 0), 1);
    EXPECT_EQ(Ini::IniGetString("Configuracion", "Missing", "x"), "x");

    folder.write("OPC-KV7.LNG", "Clave\tEspañol\tEnglish\tSoftware\r\nErrorAlEscribirEn\tError al escribir en \t-\r\n");
    DialogRecorder dialogs;
    ASSERT_EQ(Language::LoadLanguageFile(0), Language::LoadResult::Ok);
    QFile::remove(folder.file("KV7.ini"));
    ASSERT_TRUE(QDir(folder.path()).mkdir("KV7.ini"));
    Ini::ProtocolIniPutString("KV7", "C1-On", "1");
    EXPECT_EQ(Ini::ProtocolIniGetInt("KV7", "C1-On", 0), 0); // the caller reads on: nothing there
    QFile::remove(folder.file("OPC-KV7.ini"));
    ASSERT_TRUE(QDir(folder.path()).mkdir("OPC-KV7.ini"));
    Ini::IniPutString("Configuracion", "Language", "0");
    ASSERT_EQ(dialogs.texts(), QStringList({"Error al escribir en KV7.ini", "Error al escribir en OPC-KV7.ini"}));
    EXPECT_EQ(std::make_pair(dialogs.requests()[0].kind, dialogs.requests()[0].title),
              std::make_pair(Dialogs::Kind::StandardMessage, QString("OPC-KV7")));
}

// Reads reuse the parsed text of a file that has not changed, and see every change:
// made in place with the same size, or by a replacement that may reuse the inode.
TEST(ProfileFile, EveryReadSeesTheFileAsItIsNow)
{
    TempAppFolder folder;
    const QString path = folder.file("KV7.ini");
    const auto settle = [] { QThread::msleep(150); }; // older than a file time's tick
    folder.write("KV7.ini", "[S]\r\nK=1\r\n");
    settle();
    EXPECT_EQ(readString(path, "S", "K", ""), "1");
    EXPECT_EQ(readString(path, "S", "K", ""), "1");
    QFile inPlace(path);
    ASSERT_TRUE(inPlace.open(QIODevice::ReadWrite) && inPlace.seek(7) && inPlace.write("2") == 1);
    inPlace.close();
    EXPECT_EQ(readInt(path, "S", "K", 0), 2);
    settle();
    EXPECT_EQ(readInt(path, "S", "K", 0), 2);
    for (const char *value : {"3", "4"}) {
        ASSERT_TRUE(writeString(path, "S", "K", value));
        EXPECT_EQ(readString(path, "S", "K", ""), value);
    }
    ASSERT_TRUE(QFile::remove(path) && QDir(folder.path()).mkdir("KV7.ini"));
    EXPECT_EQ(readString(path, "S", "K", "gone"), "gone");
}

} // namespace

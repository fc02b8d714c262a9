#include "config/ProfileFile.h"
#include "TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

using namespace Profile;

namespace {

QByteArray afterWrite(const QByteArray &before, const QString &section, const QString &key, const QString &value)
{
    ProfileText text(before);
    text.setString(section, key, value);
    return text.bytes();
}

} // namespace

TEST(ProfileText, WriteChangesOnlyTheValueAndKeepsEveryOtherByte)
{
    const QByteArray original = "; settings of the server\r\n"
                                "[Configuracion]\r\n"
                                "  TiempoSesion = 900 \r\n"
                                "; a note inside the section\r\n"
                                "Language=0\r\n"
                                "\r\n"
                                "[Other]\r\n"
                                "X=1\r\n";
    QByteArray expected = original;
    expected.replace("Language=0", "Language=1");
    EXPECT_EQ(afterWrite(original, "Configuracion", "Language", "1"), expected);

    expected = original;
    expected.replace("TiempoSesion = 900 ", "TiempoSesion = 60 ");
    EXPECT_EQ(afterWrite(original, "Configuracion", "TiempoSesion", "60"), expected);

    // A new key goes after the section's last line, before the blank line that
    // parts it from the next section.
    expected = original;
    expected.replace("Language=0\r\n", "Language=0\r\nNueva=x\r\n");
    EXPECT_EQ(afterWrite(original, "Configuracion", "Nueva", "x"), expected);

    // A new section goes at the end.
    EXPECT_EQ(afterWrite(original, "KV7", "C1-On", "1"), original + "[KV7]\r\nC1-On=1\r\n");
}

TEST(ProfileText, LinesWithoutCrOrWithoutFinalBreakStayAsTheyAre)
{
    const QByteArray lf = "[A]\nK=1\nL=2";
    EXPECT_EQ(afterWrite(lf, "A", "K", "9"), QByteArray("[A]\nK=9\nL=2"));
    EXPECT_EQ(afterWrite(lf, "A", "M", "3"), QByteArray("[A]\nK=1\nL=2\r\nM=3\r\n"));
    EXPECT_EQ(afterWrite(lf, "B", "M", "3"), QByteArray("[A]\nK=1\nL=2\r\n[B]\r\nM=3\r\n"));
    EXPECT_EQ(afterWrite(QByteArray(), "S", "K", "v"), QByteArray("[S]\r\nK=v\r\n"));
}

TEST(ProfileText, NamesMatchWithoutCaseAndKeepTheFileSpelling)
{
    ProfileText text(QByteArray("[Configuraci\xF3n]\r\nTiempoSesion=900\r\n"));
    EXPECT_EQ(text.getString(QStringLiteral("CONFIGURACIÓN"), "tiemposesion", "x"), "900");
    text.setString(QStringLiteral("configuración"), "TIEMPOSESION", "60");
    EXPECT_EQ(text.bytes(), QByteArray("[Configuraci\xF3n]\r\nTiempoSesion=60\r\n"));
    // Letters of the code page's upper half pair up as well.
    const ProfileText upper(QByteArray("[\x8A\x8E\x8C\x9F\xC6]\r\n\xD1\xC1=1\r\n"));
    EXPECT_EQ(upper.getString(QStringLiteral("šžœÿæ"), QStringLiteral("ñá"), "x"), "1");
    EXPECT_EQ(upper.getString(QStringLiteral("šžœÿæ"), QStringLiteral("na"), "x"), "x");
}

TEST(ProfileText, ReadsFollowTheProfileCallRules)
{
    const ProfileText text(QByteArray("K0=outside any section\r\n"
                                      "  [ S ]  \r\n"
                                      "Empty=\r\n"
                                      "  Spaced  =   a b   \r\n"
                                      "Quoted=\"  q  \"\r\n"
                                      "Single='x'\r\n"
                                      "Mixed=\"x'\r\n"
                                      "Lone=\"\r\n"
                                      ";Comment=1\r\n"
                                      "NoEquals\r\n"
                                      "Dup=first\r\n"
                                      "dup=second\r\n"
                                      "[s]\r\n"
                                      "Dup=third\r\n"
                                      "Other=only in the second\r\n"));
    EXPECT_EQ(text.getString("S", "Missing", "900"), "900");
    EXPECT_EQ(text.getString("S", "Missing", "90  "), "90"); // the default loses trailing blanks
    EXPECT_EQ(text.getString("S", "Empty", "900"), "");      // present and empty: not the default
    EXPECT_EQ(text.getString("S", "Spaced", ""), "a b");
    EXPECT_EQ(text.getString("S", "Quoted", ""), "  q  ");
    EXPECT_EQ(text.getString("S", "Single", ""), "x");
    EXPECT_EQ(text.getString("S", "Mixed", ""), "\"x'");
    EXPECT_EQ(text.getString("S", "Lone", ""), "\"");
    EXPECT_EQ(text.getString("S", ";Comment", "none"), "none");
    EXPECT_EQ(text.getString("S", "NoEquals", "none"), "none");
    EXPECT_EQ(text.getString("", "K0", "none"), "none");
    // The first section and the first key of a name win.
    EXPECT_EQ(text.getString("S", "DUP", ""), "first");
    EXPECT_EQ(text.getString("S", "Other", "none"), "none");
    EXPECT_EQ(text.sections(), QStringList({"S", "s"}));
    EXPECT_EQ(text.keys("s"), QStringList({"Empty", "Spaced", "Quoted", "Single", "Mixed", "Lone", "Dup", "dup"}));
}

TEST(ProfileText, ReadsAreCutTo254Characters)
{
    const QString longValue = QString(300, QLatin1Char('v'));
    ProfileText text;
    text.setString("S", "Long", longValue);
    text.setString("S", "Exact", longValue.left(254));
    EXPECT_EQ(text.getString("S", "Long", ""), longValue.left(254));
    EXPECT_EQ(text.getString("S", "Exact", ""), longValue.left(254));
    EXPECT_EQ(text.rawValue("S", "Long"), longValue); // the file keeps the whole value
    EXPECT_EQ(text.getString("S", "Missing", longValue), longValue.left(254));
    // The caller's buffer ends at a NUL.
    EXPECT_EQ(ProfileText(QByteArray("[S]\r\nK=ab\0cd\r\n", 14)).getString("S", "K", ""), "ab");
}

TEST(ProfileText, IntegerReadsTakeTheLeadingNumber)
{
    const ProfileText text(QByteArray("[S]\r\nA=12abc\r\nB=abc\r\nC=\r\nD=-5\r\nE=+7\r\nF=\" 42\"\r\n"
                                      "G=0x1F\r\nH=0X1F\r\nI=1.9\r\nJ=99999999999\r\nK=-99999999999\r\n"
                                      "L=2147483647\r\nM=-2147483648\r\nN=2147483648\r\nO=0o17\r\nP=0b101\r\n"
                                      "Q=0xFFFFFFFF\r\nR=007\r\n"));
    const std::int32_t max = std::numeric_limits<std::int32_t>::max();
    const std::int32_t min = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(text.getInt("S", "A", 99), 12);
    EXPECT_EQ(text.getInt("S", "B", 99), 0);
    EXPECT_EQ(text.getInt("S", "C", 99), 99); // empty value: the default, as the profile call gives
    EXPECT_EQ(text.getInt("S", "Absent", 99), 99);
    EXPECT_EQ(text.getInt("Absent", "A", -3), -3);
    EXPECT_EQ(text.getInt("S", "D", 99), -5);
    EXPECT_EQ(text.getInt("S", "E", 99), 7);
    EXPECT_EQ(text.getInt("S", "F", 99), 42);
    EXPECT_EQ(text.getInt("S", "G", 99), 31);
    EXPECT_EQ(text.getInt("S", "H", 99), 0); // the prefix is lower case only
    EXPECT_EQ(text.getInt("S", "I", 99), 1);
    // Beyond 32 bits the result saturates rather than wrapping round.
    EXPECT_EQ(text.getInt("S", "J", 99), max);
    EXPECT_EQ(text.getInt("S", "K", 99), min);
    EXPECT_EQ(text.getInt("S", "L", 99), max);
    EXPECT_EQ(text.getInt("S", "M", 99), min);
    EXPECT_EQ(text.getInt("S", "N", 99), max);
    EXPECT_EQ(text.getInt("S", "O", 99), 15);
    EXPECT_EQ(text.getInt("S", "P", 99), 5);
    EXPECT_EQ(text.getInt("S", "Q", 99), max);
    EXPECT_EQ(text.getInt("S", "R", 99), 7);
}

TEST(ProfileText, AWrittenValueStaysOnItsLine)
{
    ProfileText text(QByteArray("[S]\r\nK=1\r\n"));
    text.setString("S", "K", "a\r\n[Forged]\r\nX=1");
    text.setString("S", "Name\nX", "v");
    EXPECT_EQ(text.sections(), QStringList({"S"}));
    EXPECT_EQ(text.getString("S", "K", ""), "a  [Forged]  X=1");
    EXPECT_EQ(text.getString("S", "Name X", ""), "v");
    EXPECT_EQ(text.bytes().count('\n'), 3);
}

TEST(ProfileFile, Windows1252TextIsWrittenAndReadBackByteExact)
{
    TempAppFolder folder;
    const QString path = folder.file("KV7.ini");
    ASSERT_TRUE(writeString(path, QStringLiteral("Configuración"), "C1-Nm", QStringLiteral("Central ñandú €5")));
    EXPECT_EQ(folder.read("KV7.ini"), QByteArray("[Configuraci\xF3n]\r\nC1-Nm=Central \xF1"
                                                 "and\xFA \x80"
                                                 "5\r\n"));
    EXPECT_EQ(readString(path, QStringLiteral("CONFIGURACIÓN"), "c1-nm", ""), QStringLiteral("Central ñandú €5"));
    // A character the code page lacks is stored as '?', as the ANSI call did.
    ASSERT_TRUE(writeString(path, QStringLiteral("Configuración"), "C1-Nm", QStringLiteral("Ω")));
    EXPECT_EQ(readString(path, QStringLiteral("Configuración"), "C1-Nm", ""), "?");
}

TEST(ProfileFile, FirstWriteCreatesTheFileAndReadsOfAMissingFileGiveTheDefault)
{
    TempAppFolder folder;
    const QString path = folder.file("OPC-KV7.ini");
    EXPECT_EQ(readString(path, "Configuracion", "TiempoSesion", "900"), "900");
    EXPECT_EQ(readInt(path, "Configuracion", "Language", 4), 4);
    ASSERT_TRUE(writeString(path, "Configuracion", "Language", "1"));
    EXPECT_EQ(folder.read("OPC-KV7.ini"), QByteArray("[Configuracion]\r\nLanguage=1\r\n"));
    EXPECT_EQ(readInt(path, "Configuracion", "Language", 4), 1);
    // A folder that does not exist is not created.
    EXPECT_FALSE(writeString(folder.file("missing/OPC-KV7.ini"), "S", "K", "v"));
}

TEST(ProfileFile, AFailedWriteReportsFailureAndLeavesTheOldFile)
{
    TempAppFolder folder;
    const QByteArray before = "[S]\r\n; keep me\r\nK=old\r\n";
    folder.write("plain.ini", before);

    // A directory where the file should be.
    ASSERT_TRUE(QDir(folder.path()).mkdir("dir.ini"));
    EXPECT_FALSE(writeString(folder.file("dir.ini"), "S", "K", "v"));
    EXPECT_TRUE(QFileInfo(folder.file("dir.ini")).isDir());
    EXPECT_EQ(readString(folder.file("dir.ini"), "S", "K", "default"), "default");

    // A path through a regular file.
    EXPECT_FALSE(writeString(folder.file("plain.ini/KV7.ini"), "S", "K", "v"));
    EXPECT_EQ(folder.read("plain.ini"), before);

    // A full disk, made by a file size limit below the new file's size.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeString(folder.file("plain.ini"), "S", "K", QString(500, QLatin1Char('x')));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(folder.read("plain.ini"), before);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList({"plain.ini"}));

    // After all that, a normal write still works.
    EXPECT_TRUE(writeString(folder.file("plain.ini"), "S", "K", "new"));
    EXPECT_EQ(folder.read("plain.ini"), QByteArray("[S]\r\n; keep me\r\nK=new\r\n"));
}

TEST(ProfileFile, AWriteReplacesTheFileInsteadOfOverwritingIt)
{
    // A second name for the old file still shows the old bytes after the write: the
    // new text went to a new file that took the name, so no reader ever sees half.
    TempAppFolder folder;
    const QByteArray before = "[S]\r\nK=old\r\n";
    folder.write("KV7.ini", before);
    ASSERT_EQ(::link(QFile::encodeName(folder.file("KV7.ini")).constData(),
                     QFile::encodeName(folder.file("old.ini")).constData()),
              0);
    ASSERT_TRUE(writeString(folder.file("KV7.ini"), "S", "K", "new"));
    EXPECT_EQ(folder.read("KV7.ini"), QByteArray("[S]\r\nK=new\r\n"));
    EXPECT_EQ(folder.read("old.ini"), before);
}

#include "config/Ini.h"
#include "TestSupport.h"
#include "lang/Language.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace Ini;

namespace {

// Every test starts with no protocol file name set, and leaves none behind.
class IniTest : public ::testing::Test {
protected:
    void SetUp() override { ProtocolIniName.clear(); }
    void TearDown() override { ProtocolIniName.clear(); }
    TempAppFolder folder;
};

} // namespace

TEST_F(IniTest, FilesAreNamedAfterTheTitleAndTheProtocol)
{
    EXPECT_EQ(applicationIniPath(), folder.file("OPC-KV7.ini"));
    EXPECT_EQ(protocolIniPath("KV7"), folder.file("KV7.ini"));
    EXPECT_EQ(protocolIniPath("Other"), folder.file("Other.ini"));
    ProtocolIniName = "KV7";
    EXPECT_EQ(protocolIniPath("Other"), folder.file("KV7.ini"));
}

TEST_F(IniTest, TheFirstWriteCreatesTheApplicationFile)
{
    EXPECT_EQ(IniGetString("Configuracion", "TiempoSesion", "900"), "900");
    IniPutString("Configuracion", "Language", "1");
    EXPECT_EQ(folder.read("OPC-KV7.ini"), QByteArray("[Configuracion]\r\nLanguage=1\r\n"));
    EXPECT_EQ(IniGetInt("configuracion", "LANGUAGE", 0), 1);
    EXPECT_EQ(IniGetString("Configuracion", "Language", "x"), "1");
}

TEST_F(IniTest, ProtocolCallsUseTheProtocolFile)
{
    folder.write("KV7.ini", "[KV7]\r\nTimeoutError=150 s\r\nAutoSesion=\r\n");
    EXPECT_EQ(ProtocolIniGetInt("KV7", "TimeoutError", 100), 150);
    EXPECT_EQ(ProtocolIniGetString("KV7", "TimeoutError", "100"), "150 s");
    EXPECT_EQ(ProtocolIniGetString("KV7", "AutoSesion", "0"), "");
    EXPECT_EQ(ProtocolIniGetInt("KV7", "AutoSesion", 7), 7);
    ProtocolIniPutString("KV7", "C1-Nm", "Planta baja");
    EXPECT_EQ(folder.read("KV7.ini"),
              QByteArray("[KV7]\r\nTimeoutError=150 s\r\nAutoSesion=\r\nC1-Nm=Planta baja\r\n"));
    EXPECT_FALSE(QFileInfo::exists(folder.file("OPC-KV7.ini")));
}

TEST_F(IniTest, AFailedWriteShowsTheStandardMessageAndTheCallerGoesOn)
{
    folder.write("OPC-KV7.LNG",
                 "Clave\tEspañol\tEnglish\tSoftware\r\nErrorAlEscribirEn\tError al escribir en \tError writing \r\n");
    {
        DialogRecorder quiet;
        ASSERT_EQ(Language::LoadLanguageFile(0), Language::LoadResult::Ok);
    }
    ASSERT_TRUE(QDir(folder.path()).mkdir("KV7.ini"));
    DialogRecorder dialogs;
    ProtocolIniPutString("KV7", "C1-On", "1");
    ASSERT_EQ(dialogs.requests().size(), 1u);
    const Dialogs::Request &shown = dialogs.requests().front();
    EXPECT_EQ(shown.kind, Dialogs::Kind::StandardMessage);
    EXPECT_EQ(shown.title, "OPC-KV7");
    EXPECT_EQ(shown.text, "Error al escribir en KV7.ini");
    EXPECT_TRUE(shown.buttons.isEmpty());
    // The caller reads on: the key is simply absent.
    EXPECT_EQ(ProtocolIniGetInt("KV7", "C1-On", 0), 0);

    // The file name shown is the protocol file's, not the section's, once it is set.
    ProtocolIniName = "KV7";
    ProtocolIniPutString("Other", "K", "v");
    ASSERT_EQ(dialogs.requests().size(), 2u);
    EXPECT_EQ(dialogs.requests().back().text, "Error al escribir en KV7.ini");

    // The application file: a path through a regular file.
    qputenv("OPC_KV7_HOME", folder.file("OPC-KV7.LNG").toLocal8Bit());
    IniPutString("Configuracion", "Language", "1");
    ASSERT_EQ(dialogs.requests().size(), 3u);
    EXPECT_EQ(dialogs.requests().back().text, "Error al escribir en OPC-KV7.ini");
}

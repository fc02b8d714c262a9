#include "ShellFixture.h"
#include "config/Ini.h"
#include "lang/Language.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <gtest/gtest.h>

namespace {

TEST(LanguageMenu, SwitchingLanguageChangesCaptionsAndIsStored)
{
    TempAppFolder folder;
    DialogRecorder dialogs;
    installLanguageFile(folder);
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);

    fMainOPC &w = *s.window;
    // Spanish first: the file's first language.
    EXPECT_EQ(w.controlText(QStringLiteral("mnuFile")), QStringLiteral("&Archivo"));
    EXPECT_EQ(w.controlText(QStringLiteral("mnuFileExit")), QStringLiteral("&Salir"));
    EXPECT_EQ(w.controlText(QStringLiteral("lblTagValue")), QStringLiteral("Valor actual"));
    EXPECT_EQ(w.controlText(QStringLiteral("txtTagValue")), QStringLiteral("Para probar, edite y pulse Intro"));
    // After the texts apply, the entries show their own texts, not the header's names.
    EXPECT_EQ(w.controlText(QStringLiteral("mnuCISel(0)")), QStringLiteral("&Español"));
    EXPECT_EQ(w.controlText(QStringLiteral("mnuCISel(1)")), QStringLiteral("&Inglés"));
    EXPECT_TRUE(w.action(QStringLiteral("mnuCISel(0)"))->isChecked());
    // Menus the texts do not name keep their design captions.
    EXPECT_EQ(w.controlText(QStringLiteral("mnuTrace")), QStringLiteral("&Trace"));

    s.logic().Sesion_Iniciar(true);
    w.action(QStringLiteral("mnuCISel(1)"))->trigger();
    EXPECT_EQ(Ini::IniGetString(QStringLiteral("Configuracion"), QStringLiteral("Language"), QString()),
              QStringLiteral("1"));
    EXPECT_EQ(w.controlText(QStringLiteral("mnuFile")), QStringLiteral("&File"));
    EXPECT_EQ(w.controlText(QStringLiteral("mnuFileExit")), QStringLiteral("&Exit"));
    EXPECT_EQ(w.controlText(QStringLiteral("mnuEditConfiguracion")), QStringLiteral("&Configuration..."));
    EXPECT_EQ(w.controlText(QStringLiteral("lblTagValue")), QStringLiteral("Current Value"));
    EXPECT_EQ(w.controlText(QStringLiteral("lblTagTimestamp")), QStringLiteral("Timestamp"));
    EXPECT_EQ(w.controlText(QStringLiteral("txtTagValue")), QStringLiteral("To test, edit and press Enter"));
    EXPECT_TRUE(w.action(QStringLiteral("mnuCISel(1)"))->isChecked());
    EXPECT_FALSE(w.action(QStringLiteral("mnuCISel(0)"))->isChecked());
    EXPECT_TRUE(dialogs.requests().empty());
    s.logic().mnuFileForceExit_Click();

    // The next start is in English from the first caption on.
    Server again;
    ASSERT_EQ(again.load(), MainOPC::LoadResult::Running);
    EXPECT_EQ(again.window->controlText(QStringLiteral("mnuFile")), QStringLiteral("&File"));
    EXPECT_TRUE(again.window->action(QStringLiteral("mnuCISel(1)"))->isChecked());
}

TEST(LanguageMenu, EveryKeyTheServerLooksUpIsInTheShippedFile)
{
    TempAppFolder folder;
    installLanguageFile(folder);
    for (int language : {0, 1}) {
        Ini::IniPutString(QStringLiteral("Configuracion"), QStringLiteral("Language"), QString::number(language));
        DialogRecorder dialogs;
        ASSERT_EQ(Language::LoadLanguageFile(0), Language::LoadResult::Ok);
        ASSERT_EQ(Language::Languages(), (QStringList{QStringLiteral("Español"), QStringLiteral("English")}));
        const char *keys[] = {"mnuArchivo",
                              "mnuAInicioSesion",
                              "mnuACerrarSesion",
                              "mnuFileForceExit",
                              "mnuASalir",
                              "mnuEdit",
                              "mnuEditConfiguracion",
                              "mnuCPassword",
                              "mnuCIdioma",
                              "mnuIdioma_0",
                              "mnuIdioma_1",
                              "mnuVer",
                              "mnuVBus",
                              "mnuHelpAbout",
                              "lblTagDesc",
                              "lblTagFQID",
                              "lblTagCanDT",
                              "lblTagAccPerm",
                              "lblTagValue",
                              "lblTagQuality",
                              "lblTagTimestamp",
                              "txtTagValueTT",
                              "ErrorAlEscribirEn",
                              "NoPosClose",
                              "&Aceptar",
                              "&Cancelar",
                              "NoSePuedeAbrirCOM",
                              "Protocolo",
                              "Centrales",
                              "Conexion",
                              "Nombre",
                              "chkAutoSesion",
                              "&Salir",
                              "SelCom",
                              "MarcarDispoAUtilizar",
                              "NombreDescriptivo",
                              "TmError",
                              "chAutSesDes",
                              "AskSave",
                              "EstaSeguroDeSalirSinGrabar",
                              "Si",
                              "No",
                              "ComDup",
                              "SelCen",
                              "IniciarSesion",
                              "CambiarPassword",
                              "PasswordActual",
                              "PasswordNuevo",
                              "RepetirPasswordNuevo",
                              "PasswordIncorrecto",
                              "NoSeHaPodidoGrabarArchivoPassword",
                              "WBus",
                              "chkUltimo",
                              "chkBus",
                              "chkLog",
                              "Acercade",
                              "Version",
                              "Disclaimer"};
        for (const char *key : keys) {
            const QString text = GetLangText(QLatin1String(key));
            EXPECT_FALSE(text.isEmpty() || text == QStringLiteral("???")) << key << " language " << language;
        }
        EXPECT_TRUE(dialogs.requests().empty()) << "language " << language;
    }
}

TEST(LanguageMenu, MissingLanguageFileKeepsTheServerServingWithDesignCaptions)
{
    TempAppFolder folder;
    DialogRecorder dialogs;
    folder.write(QStringLiteral("KV7.ini"), crlf(QStringLiteral("[KV7]\nC1-On=1\nC1-Com=0\n")));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    EXPECT_EQ(s.opc().ServerState(), ServerStates::Running);
    EXPECT_EQ(s.opc().Tags().Count(), 478);
    EXPECT_EQ(s.window->controlText(QStringLiteral("mnuFile")), QStringLiteral("&File"));
    EXPECT_TRUE(s.window->tracePane()->toPlainText().contains(QStringLiteral("No usable language file")));
    // The loader's own message says what is missing; no flood of per-key messages.
    ASSERT_FALSE(dialogs.requests().empty());
    EXPECT_TRUE(dialogs.requests()[0].text.contains(QStringLiteral("OPC-KV7.LNG")));
    EXPECT_LE(dialogs.requests().size(), 4u);
}

TEST(LanguageMenu, DamagedLanguageFileKeepsTheServerServing)
{
    TempAppFolder folder;
    DialogRecorder dialogs;
    // A header that declares no language, then binary noise.
    folder.write(QStringLiteral("OPC-KV7.LNG"), QByteArray("Clave\tSoftware\r\n\x01\xff\t\t\0\0mnuArchivo\r\n", 31));
    folder.write(QStringLiteral("KV7.ini"), crlf(QStringLiteral("[KV7]\nC1-On=1\nC1-Com=0\n")));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    EXPECT_EQ(s.opc().Tags().Count(), 478);
    EXPECT_EQ(s.opc().ServerState(), ServerStates::Running);
    EXPECT_EQ(s.window->controlText(QStringLiteral("lblTagValue")), QStringLiteral("Current Value"));
    ASSERT_FALSE(dialogs.requests().empty());
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::StandardMessage);
    // The operator can still choose a language once the file is repaired.
    installLanguageFile(folder);
    s.logic().Sesion_Iniciar(true);
    s.logic().mnuCISel_Click(1);
    EXPECT_EQ(s.window->controlText(QStringLiteral("lblTagValue")), QStringLiteral("Current Value"));
    EXPECT_EQ(s.window->controlText(QStringLiteral("mnuFile")), QStringLiteral("&File"));
    EXPECT_EQ(s.window->controlText(QStringLiteral("mnuCISel(1)")), QStringLiteral("&English"));
    EXPECT_TRUE(s.window->action(QStringLiteral("mnuCISel(1)"))->isChecked());
    s.logic().mnuCISel_Click(0);
    EXPECT_EQ(s.window->controlText(QStringLiteral("mnuFile")), QStringLiteral("&Archivo"));
}

TEST(LanguageMenu, LanguageBeyondTheFileChecksTheFirstEntry)
{
    TempAppFolder folder;
    DialogRecorder dialogs;
    installLanguageFile(folder);
    folder.write(QStringLiteral("OPC-KV7.ini"), crlf(QStringLiteral("[Configuracion]\nLanguage=5\n")));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    EXPECT_TRUE(s.window->action(QStringLiteral("mnuCISel(0)"))->isChecked());
    EXPECT_EQ(s.window->controlText(QStringLiteral("mnuFile")), QStringLiteral("&Archivo"));
}

} // namespace

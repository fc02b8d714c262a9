#include "lang/Language.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

using Language::LoadResult;

namespace {

// Windows-1252 text of a language file with two languages.
const QByteArray kTwoLanguages = "Clave\tEspa\xF1ol \t English\tSoftware\r\n"
                                 "* comment\twith\ttabs\r\n"
                                 "\r\n"
                                 "   \r\n"
                                 "mnuEdit\t&Edici\xF3n\t&Edit\r\n"
                                 "Acercade\tAcerca de\t\r\n"
                                 "SelCom\tSeleccione el puerto\tSelect the port\r\n"
                                 "selcom\tduplicado\tduplicate\r\n"
                                 " Spaced \t con espacios \t with spaces \r\n"
                                 "OnlyKey\r\n"
                                 "Extra\tuno\tone\tignored\r\n";

LoadResult loadWithIndex(const TempAppFolder &folder, int index)
{
    folder.write("OPC-KV7.ini", "[Configuracion]\r\nLanguage=" + QByteArray::number(index) + "\r\n");
    return Language::LoadLanguageFile(std::int16_t(index));
}

QStringList texts(const DialogRecorder &dialogs)
{
    QStringList list;
    for (const auto &r : dialogs.requests())
        list << r.text;
    return list;
}

} // namespace

TEST(Language, TwoLanguagesAndTheirTexts)
{
    TempAppFolder folder;
    folder.write("OPC-KV7.LNG", kTwoLanguages);
    DialogRecorder dialogs;
    ASSERT_EQ(loadWithIndex(folder, 0), LoadResult::Ok);
    EXPECT_EQ(Language::Languages(), QStringList({QStringLiteral("Español"), "English"}));
    EXPECT_EQ(Language::LanguageIndex(), 0);
    EXPECT_EQ(GetLangText("mnuEdit"), QStringLiteral("&Edición"));
    EXPECT_EQ(GetLangText("MNUEDIT"), QStringLiteral("&Edición"));
    EXPECT_EQ(GetLangText(" Spaced "), " con espacios ");
    EXPECT_EQ(GetLangText("Extra"), "uno");
    EXPECT_EQ(GetLangText("OnlyKey"), "???");
    // The duplicate: one message naming the file and the key, the first text stays.
    EXPECT_EQ(GetLangText("SelCom"), "Seleccione el puerto");
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::Message);
    EXPECT_EQ(dialogs.requests()[0].text, "Duplicated register in " + folder.file("OPC-KV7.LNG") + "\rselcom");

    ASSERT_EQ(loadWithIndex(folder, 1), LoadResult::Ok);
    EXPECT_EQ(Language::LanguageIndex(), 1);
    EXPECT_EQ(GetLangText("mnuedit"), "&Edit");
    EXPECT_EQ(GetLangText("Acercade"), "???"); // empty second-language text
    EXPECT_EQ(GetLangText(" Spaced "), " with spaces ");
    EXPECT_EQ(GetLangText("Extra"), "one");
    // Comments, even with tabs, are never records.
    ASSERT_EQ(dialogs.requests().size(), 2u);
    GetLangText("* comment");
    EXPECT_EQ(dialogs.requests().back().text, "No text found for Key: * comment");
}

TEST(Language, AMissingKeyShowsAMessageAndGivesQuestionMarks)
{
    TempAppFolder folder;
    folder.write("OPC-KV7.LNG", kTwoLanguages);
    DialogRecorder dialogs;
    ASSERT_EQ(loadWithIndex(folder, 0), LoadResult::Ok);
    const std::size_t before = dialogs.requests().size();
    EXPECT_EQ(GetLangText("NoSuchKey"), "???");
    EXPECT_EQ(GetLangText("NoSuchKey"), "???");
    ASSERT_EQ(dialogs.requests().size(), before + 2);
    const Dialogs::Request &shown = dialogs.requests().back();
    EXPECT_EQ(shown.kind, Dialogs::Kind::Message);
    EXPECT_EQ(shown.text, "No text found for Key: NoSuchKey");
    EXPECT_EQ(shown.title, "");
    EXPECT_EQ(shown.icon, 3);
    EXPECT_TRUE(shown.buttons.isEmpty());
}

TEST(Language, HeaderRulesDecideTheLanguages)
{
    TempAppFolder folder;
    auto languagesOf = [](const QByteArray &header) {
        return Language::parseLanguageFile(header + "\r\nK\ta\tb\tc\r\n", 0);
    };
    EXPECT_EQ(languagesOf("H\tuno\tdos\ttres\tSoftware").languages, QStringList({"uno", "dos"}));
    EXPECT_EQ(languagesOf("H\tuno\tSoftware\tdos\t").languages, QStringList({"uno"}));
    EXPECT_EQ(languagesOf("H\tuno\tdos").languages, QStringList({"uno"})); // the last field is never a name
    EXPECT_EQ(languagesOf("H\tuno\tsoftware\t").languages, QStringList({"uno", "software"}));
    EXPECT_FALSE(languagesOf("H\tuno").valid);
    EXPECT_FALSE(languagesOf("H\tSoftware\tuno\t").valid);
    EXPECT_FALSE(languagesOf("H").valid);
    EXPECT_FALSE(languagesOf("   ").valid);
    EXPECT_FALSE(Language::parseLanguageFile(QByteArray(), 0).valid);

    // A language index the file does not have reads the first language.
    const auto parsed = Language::parseLanguageFile("H\tuno\tSoftware\r\nK\ta\tb\r\n", 1);
    EXPECT_EQ(parsed.languageIndex, 0);
    EXPECT_EQ(parsed.texts.value("k"), "a");
    EXPECT_EQ(Language::parseLanguageFile("H\tuno\tdos\t\r\nK\ta\tb\r\n", -3).texts.value("k"), "a");
}

TEST(Language, LineEndingsOfAnyEditorAreAccepted)
{
    for (const QByteArray &eol : {QByteArray("\r\n"), QByteArray("\n"), QByteArray("\r")}) {
        const QByteArray file = "H\tuno\tdos\tSoftware" + eol + "A\ta1\ta2" + eol + "B\tb1\tb2";
        const auto parsed = Language::parseLanguageFile(file, 1);
        ASSERT_TRUE(parsed.valid);
        EXPECT_EQ(parsed.texts.value("a"), "a2");
        EXPECT_EQ(parsed.texts.value("b"), "b2");
        EXPECT_EQ(parsed.texts.size(), 2);
    }
}

TEST(Language, MissingOrMalformedFilesEndFatallyWithTheirMessages)
{
    TempAppFolder folder;
    const QString mainPath = folder.file("OPC-KV7.LNG");
    {
        DialogRecorder dialogs;
        EXPECT_EQ(Language::LoadLanguageFile(0), LoadResult::Fatal);
        EXPECT_EQ(texts(dialogs), QStringList({"File not found. " + mainPath, "Error or File not found. " + mainPath}));
        for (const auto &r : dialogs.requests()) {
            EXPECT_EQ(r.kind, Dialogs::Kind::StandardMessage);
            EXPECT_EQ(r.title, "OPC-KV7");
        }
    }
    {
        // The fallback file serves when the title's file is missing.
        folder.write("RESOURCES.LNG", kTwoLanguages);
        DialogRecorder dialogs;
        EXPECT_EQ(Language::LoadLanguageFile(0), LoadResult::Ok);
        ASSERT_GE(dialogs.requests().size(), 2u);
        EXPECT_EQ(dialogs.requests()[0].text, "File not found. " + mainPath);
        EXPECT_EQ(dialogs.requests()[1].text, "Duplicated register in " + folder.file("RESOURCES.LNG") + "\rselcom");
        EXPECT_EQ(GetLangText("SelCom"), "Seleccione el puerto");
    }
    for (const QByteArray &bad : {QByteArray(""), QByteArray("  \r\nK\ta\tb\r\n"), QByteArray("H\tuno\r\nK\ta\r\n"),
                                  QByteArray("H\tSoftware\tuno\t\r\nK\ta\r\n")}) {
        folder.write("OPC-KV7.LNG", bad);
        DialogRecorder dialogs;
        EXPECT_EQ(Language::LoadLanguageFile(0), LoadResult::Fatal) << bad.constData();
        EXPECT_EQ(texts(dialogs), QStringList({"Error or File not found. " + mainPath}));
    }
}

TEST(Language, ArbitraryBytesNeverCrash)
{
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(char((i * 7919 + i / 13) % 256));
    for (int cut = 0; cut < bytes.size(); cut += 97) {
        const auto parsed = Language::parseLanguageFile(bytes.left(cut), cut % 3);
        EXPECT_LE(parsed.languages.size(), 2);
        for (const QString &text : parsed.texts)
            EXPECT_FALSE(text.isEmpty());
    }
}

TEST(Language, TheShippedFileHasEveryKeyInBothLanguages)
{
    QString source = qEnvironmentVariable("KV7_SOURCE_DIR");
    if (source.isEmpty())
        source = QCoreApplication::applicationDirPath() + "/../..";
    QFile file(source + "/data/OPC-KV7.LNG");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(file.fileName());
    const QByteArray bytes = file.readAll();
    const QStringList keys = {
        // main window
        "mnuArchivo", "mnuAInicioSesion", "mnuACerrarSesion", "mnuFileForceExit", "mnuASalir", "mnuEdit",
        "mnuEditConfiguracion", "mnuCPassword", "mnuCIdioma", "mnuIdioma_0", "mnuIdioma_1", "mnuVer", "mnuVBus",
        "mnuHelpAbout", "lblTagDesc", "lblTagFQID", "lblTagCanDT", "lblTagAccPerm", "lblTagValue", "lblTagQuality",
        "lblTagTimestamp", "txtTagValueTT",
        // INI access, start-up and ports
        "ErrorAlEscribirEn", "NoPosClose", "&Aceptar", "&Cancelar", "&Salir", "NoSePuedeAbrirCOM", "Protocolo",
        // configuration editor
        "Centrales", "Conexion", "Nombre", "chkAutoSesion", "SelCom", "MarcarDispoAUtilizar", "NombreDescriptivo",
        "TmError", "chAutSesDes", "AskSave", "EstaSeguroDeSalirSinGrabar", "Si", "No", "ComDup", "SelCen",
        // sessions and passwords
        "IniciarSesion", "CambiarPassword", "PasswordActual", "PasswordNuevo", "RepetirPasswordNuevo",
        "PasswordIncorrecto", "NoSeHaPodidoGrabarArchivoPassword",
        // monitor and about box
        "WBus", "chkUltimo", "chkBus", "chkLog", "Acercade", "Version", "Disclaimer"};
    for (int index = 0; index < 2; ++index) {
        const auto parsed = Language::parseLanguageFile(bytes, index);
        ASSERT_TRUE(parsed.valid);
        EXPECT_EQ(parsed.languages, QStringList({QStringLiteral("Español"), "English"}));
        EXPECT_EQ(parsed.languageIndex, index);
        EXPECT_TRUE(parsed.duplicateKeys.isEmpty()) << qPrintable(parsed.duplicateKeys.join(", "));
        for (const QString &key : keys) {
            const QString text = parsed.texts.value(key.toCaseFolded());
            EXPECT_FALSE(text.isEmpty() || text == "???") << qPrintable(key) << " in language " << index;
        }
    }
}

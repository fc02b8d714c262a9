// The language file: its header, records, texts, and what the operator is told when the file is missing or damaged.
#include "lang/Language.h"

#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

using Language::LoadResult;

namespace {

// Windows-1252 text of a language file with two languages.
const QByteArray kTwoLanguages = "Clave\tEspa\xF1ol \t English\tSoftware\r\n* comment\twith\ttabs\r\n\r\n   \r\n"
                                 "mnuEdit\t&Edici\xF3n\t&Edit\r\nAcercade\tAcerca de\t\r\n"
                                 "SelCom\tSeleccione el puerto\tSelect the port\r\nselcom\tduplicado\tduplicate\r\n"
                                 " Spaced \t con espacios \t with spaces \r\nOnlyKey\r\nExtra\tuno\tone\tignored\r\n";

TEST(Language, TextsByKeyWithoutCaseTheHeaderAndLineRulesTheShippedFileAndTheFallBackFromAMissingOrDamagedOne)
{
    TempAppFolder folder;
    folder.write("OPC-KV7.LNG", kTwoLanguages);
    DialogRecorder dialogs;
    const std::tuple<const char *, QString, QString> cases[] = {
        {"mnuEdit", QStringLiteral("&Edición"), "&Edit"},
        {"MNUEDIT", QStringLiteral("&Edición"), "&Edit"},
        {" Spaced ", " con espacios ", " with spaces "},
        {"Extra", "uno", "one"},
        {"Acercade", "Acerca de", "???"},                      // an empty text
        {"OnlyKey", "???", "???"},                             // a record without the language's field
        {"SelCom", "Seleccione el puerto", "Select the port"}, // the first of a duplicated key stays
    };
    for (int index : {0, 1}) {
        ASSERT_EQ(Language::LoadLanguageFile(std::int16_t(index)), LoadResult::Ok);
        EXPECT_EQ(Language::Languages(), QStringList({QStringLiteral("Español"), "English"}));
        EXPECT_EQ(Language::LanguageIndex(), index);
        for (const auto &[key, spanish, english] : cases)
            EXPECT_EQ(GetLangText(QLatin1String(key)), index == 0 ? spanish : english) << key;
    }
    // One message per load for the duplicate, naming the file and the key; none for
    // the comment, which is never a record.
    const QString duplicate = "Duplicated register in " + folder.file("OPC-KV7.LNG") + "\rselcom";
    EXPECT_EQ(dialogs.texts(), QStringList({duplicate, duplicate}));
    EXPECT_EQ(GetLangText("* comment"), "???");
    ASSERT_EQ(dialogs.requests().size(), 3u);
    const Dialogs::Request &missing = dialogs.requests().back();
    EXPECT_EQ(std::make_tuple(missing.kind, missing.text, missing.title, missing.icon),
              std::make_tuple(Dialogs::Kind::Message, QString("No text found for Key: * comment"), QString(), 3));

    // The last field is never a name; the list stops at "Software" or after two.
    for (const auto &[header, names] : pairs("H\tuno\tdos\ttres\tSoftware=uno,dos|H\tuno\tSoftware\tdos\t=uno|"
                                             "H\tuno\tdos=uno|H\tuno\tsoftware\t=uno,software|H\tuno=|"
                                             "H\tSoftware\tuno\t=|H=|   =|=")) {
        const auto parsed = Language::parseLanguageFile(header.toLatin1() + "\r\nK\ta\tb\tc\r\n", 0);
        EXPECT_EQ(parsed.languages.join(','), names) << qPrintable(header);
        EXPECT_EQ(parsed.valid, !names.isEmpty()) << qPrintable(header);
    }
    // An index the file does not have reads the first language.
    EXPECT_EQ(Language::parseLanguageFile("H\tuno\tSoftware\r\nK\ta\tb\r\n", 1).texts.value("k"), "a");
    EXPECT_EQ(Language::parseLanguageFile("H\tuno\tdos\t\r\nK\ta\tb\r\n", -3).texts.value("k"), "a");
    // Lines may end as any editor ends them.
    for (const QByteArray &eol : {QByteArray("\r\n"), QByteArray("\n"), QByteArray("\r")}) {
        const auto parsed =
            Language::parseLanguageFile("H\tuno\tdos\tSoftware" + eol + "A\ta1\ta2" + eol + "B\tb1\tb2", 1);
        EXPECT_EQ(parsed.texts, (QHash<QString, QString>{{"a", "a2"}, {"b", "b2"}}));
    }

    // The shipped file has every key the program uses, in both languages: a missing key would show a message at each
    // look-up, an empty text "???".
    QFile file(sourceFile("data/OPC-KV7.LNG"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(file.fileName());
    const QByteArray bytes = file.readAll();
    static const char keys[] =
        "mnuArchivo mnuAInicioSesion mnuACerrarSesion mnuFileForceExit mnuASalir mnuEdit mnuEditConfiguracion "
        "mnuCPassword mnuCIdioma mnuIdioma_0 mnuIdioma_1 mnuVer mnuVBus mnuHelpAbout lblTagDesc lblTagFQID "
        "lblTagCanDT lblTagAccPerm lblTagValue lblTagQuality lblTagTimestamp txtTagValueTT ErrorAlEscribirEn "
        "NoPosClose &Aceptar &Cancelar &Salir NoSePuedeAbrirCOM Protocolo Acercade Version Disclaimer Centrales "
        "Conexion Nombre chkAutoSesion SelCom MarcarDispoAUtilizar NombreDescriptivo TmError chAutSesDes AskSave "
        "EstaSeguroDeSalirSinGrabar Si No ComDup SelCen IniciarSesion CambiarPassword PasswordActual PasswordNuevo "
        "RepetirPasswordNuevo PasswordIncorrecto NoSeHaPodidoGrabarArchivoPassword WBus chkUltimo chkBus chkLog "
        "ArchivoPasswordDanado PasswordNoValido cmdClear lstTramasTT NoSePuedeGrabarLog NombreNoCabe "
        "lvStatsEstadistica lvStatsValor StatTramasSeg StatTramasDescartadas StatUltimaTrama StatErrorCom "
        "StatSesiones StatSuscripciones StatElementos StatNotificacionesSeg";
    for (int index : {0, 1}) {
        const auto parsed = Language::parseLanguageFile(bytes, index);
        EXPECT_TRUE(parsed.duplicateKeys.isEmpty()) << qPrintable(parsed.duplicateKeys.join(", "));
        for (const QString &key : QString(keys).split(' ')) {
            const QString text = parsed.texts.value(key.toCaseFolded());
            EXPECT_FALSE(text.isEmpty() || text == "???") << qPrintable(key) << " in language " << index;
        }
    }

    // A missing or damaged file falls back to the shipped texts, with one message.
    const QString mainPath = folder.file("OPC-KV7.LNG");
    QFile::remove(mainPath);
    const QString shipped = "; using the texts built into the program";
    DialogRecorder notices;
    TraceRecorder trace;
    EXPECT_EQ(Language::LoadLanguageFile(1), LoadResult::Shipped);
    EXPECT_EQ(Language::LoadLanguageFile(1), LoadResult::Shipped); // read again: told once
    EXPECT_EQ(GetLangText("mnuArchivo"), "&File");
    EXPECT_EQ(Language::Languages().size(), 2);
    EXPECT_EQ(trace.lines, QStringList({"Language file " + mainPath + " not found" + shipped}));
    trace.lines.clear();
    // The fallback file serves when the title's file is missing.
    folder.write("RESOURCES.LNG", kTwoLanguages);
    EXPECT_EQ(Language::LoadLanguageFile(0), LoadResult::Ok);
    EXPECT_EQ(GetLangText("SelCom"), "Seleccione el puerto");
    EXPECT_EQ(notices.texts(), QStringList({"Duplicated register in " + folder.file("RESOURCES.LNG") + "\rselcom"}));
    EXPECT_EQ(trace.lines.filter("Language file"),
              QStringList({"Language file " + mainPath + " not found; using " + folder.file("RESOURCES.LNG")}));
    trace.lines.clear();
    for (const QByteArray &bad : {QByteArray(""), QByteArray("  \r\nK\ta\tb\r\n"), QByteArray("H\tuno\r\nK\ta\r\n")}) {
        folder.write("OPC-KV7.LNG", "H\tuno\tdos\r\nK\ta\tb\r\n");
        EXPECT_EQ(Language::LoadLanguageFile(0), LoadResult::Ok); // repaired, then damaged again: told again
        folder.write("OPC-KV7.LNG", bad);
        EXPECT_EQ(Language::LoadLanguageFile(0), LoadResult::Shipped) << bad.constData();
        EXPECT_EQ(GetLangText("mnuArchivo"), "&Archivo");
    }
    EXPECT_EQ(trace.lines.filter("Language file"),
              QStringList(3, "Language file " + mainPath + " is damaged: its first line names no language" + shipped));
    EXPECT_EQ(notices.requests().size(), 1u);
}

} // namespace

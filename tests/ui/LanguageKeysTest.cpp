#include "UiFixture.h"

// Every key these windows look up, in both languages: a missing key shows a
// message at each look-up, an empty text shows "???".
TEST_F(UiTest, EveryTextOfTheseWindowsIsInTheLanguageFileInBothLanguages)
{
    const QStringList keys =
        QStringLiteral(
            "IniciarSesion CambiarPassword PasswordActual PasswordNuevo RepetirPasswordNuevo PasswordIncorrecto "
            "NoSeHaPodidoGrabarArchivoPassword ArchivoPasswordDanado PasswordNoValido WBus chkBus chkUltimo chkLog "
            "cmdClear lstTramasTT NoSePuedeGrabarLog Centrales Conexion Nombre TmError chkAutoSesion "
            "MarcarDispoAUtilizar "
            "SelCom NombreDescriptivo chAutSesDes SelCen ComDup NombreNoCabe AskSave EstaSeguroDeSalirSinGrabar "
            "ErrorAlEscribirEn &Aceptar &Cancelar &Salir Si No lvStatsEstadistica lvStatsValor StatTramasSeg "
            "StatTramasDescartadas StatUltimaTrama StatErrorCom StatSesiones StatSuscripciones StatElementos "
            "StatNotificacionesSeg")
            .split(QLatin1Char(' '));
    for (int language = 0; language < 2; ++language) {
        installLanguage(language);
        for (const QString &key : keys)
            EXPECT_NE(GetLangText(key), "???") << qPrintable(key) << " in language " << language;
    }
    EXPECT_TRUE(dialogs.requests().empty());
}

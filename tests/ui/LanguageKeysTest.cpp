#include "UiFixture.h"
#include "monitor/FrameMonitor.h"
#include "monitor/Statistics.h"
#include "session/OperatorSession.h"
#include "session/PasswordStore.h"
#include "ui/fBus.h"
#include "ui/fCambioCodigo.h"
#include "ui/fCodigo.h"
#include "ui/fConfTarvolin.h"

namespace {

struct Nothing : StatisticsSource, SessionView {
    std::vector<Line> lines() const override { return {}; }
    Server server() const override { return {}; }
    void setControlEnabled(const QString &, bool) override {}
    void setValueLocked(bool) override {}
    void setSessionPanel(const QString &) override {}
};

} // namespace

// A key missing from the language file shows a message at each look-up.
TEST_F(UiTest, EveryTextOfTheseWindowsIsInTheLanguageFileInBothLanguages)
{
    for (int language = 0; language < 2; ++language) {
        installLanguage(language);
        Nothing nothing;
        OperatorSession session(nothing);
        PasswordStore passwords;
        FrameMonitor monitor;
        StatisticsModel statistics(nothing);
        fCodigo login(passwords, session);
        fCambioCodigo change(passwords);
        fBus bus(monitor);
        fConfTarvolin editor;
        for (const char *key : {"ArchivoPasswordDanado", "PasswordNoValido", "NoSePuedeGrabarLog", "NombreNoCabe",
                                "SelCen", "ComDup", "AskSave", "EstaSeguroDeSalirSinGrabar", "PasswordIncorrecto"})
            GetLangText(QLatin1String(key));
        EXPECT_TRUE(dialogs.requests().empty()) << "language " << language;
    }
}

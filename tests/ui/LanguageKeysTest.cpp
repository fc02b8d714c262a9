#include "UiFixture.h"
#include "lang/Language.h"
#include "monitor/FrameMonitor.h"
#include "monitor/Statistics.h"
#include "session/OperatorSession.h"
#include "session/PasswordStore.h"
#include "ui/fBus.h"
#include "ui/fCambioCodigo.h"
#include "ui/fCodigo.h"
#include "ui/fConfTarvolin.h"

namespace {

struct NoSource : StatisticsSource {
    std::vector<Line> lines() const override { return {}; }
    Server server() const override { return {}; }
};

struct NoView : SessionView {
    void setControlEnabled(const QString &, bool) override {}
    void setValueLocked(bool) override {}
    void setSessionPanel(const QString &) override {}
};

} // namespace

// A key missing from the language file shows a message each time it is looked up.
TEST_F(UiTest, EveryTextOfTheseWindowsIsInTheLanguageFileInBothLanguages)
{
    for (int language = 0; language < 2; ++language) {
        installLanguage(language);
        NoView view;
        OperatorSession session(view);
        PasswordStore passwords;
        FrameMonitor monitor;
        NoSource source;
        StatisticsModel statistics(source);
        fCodigo login(passwords, session);
        fCambioCodigo change(passwords);
        fBus bus(monitor);
        fConfTarvolin editor;
        for (const char *key : {"ArchivoPasswordDanado", "PasswordNoValido", "NoSePuedeGrabarLog", "NombreNoCabe",
                                "SelCen", "ComDup", "AskSave", "EstaSeguroDeSalirSinGrabar"})
            EXPECT_NE(GetLangText(QLatin1String(key)), "???") << key;
        EXPECT_TRUE(dialogs.requests().empty()) << "language " << language;
    }
}

// The operator's windows in the running server: the session the password file
// opens, the windows the menus open, the monitor and the statistics list.
#include "ShellFixture.h"
#include "ui/PeriodDialogs.h"
#include "ui/fCambioCodigo.h"
#include "ui/fCodigo.h"
#include "ui/fConfTarvolin.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

namespace {

struct Operator : ShellTest {
    void SetUp() override
    {
        ShellTest::SetUp();
        folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=0\n"));
        folder.write("OPC-KV7.ini", crlf("[Configuracion]\nTiempoSesion=3\nLanguage=1\n"));
    }
    // The dialog of that kind a menu item has just opened.
    template <class Dialog> static Dialog *opened(fMainOPC &w, const QString &menuItem)
    {
        w.action(menuItem)->trigger();
        for (Dialog *d : w.findChildren<Dialog *>())
            if (d->isVisible())
                return d;
        return nullptr;
    }
    static QLineEdit *field(QWidget *dialog, const QString &name) { return dialog->findChild<QLineEdit *>(name); }
    static QString enabled(fMainOPC &w) // those of the menus a session unlocks
    {
        QString names;
        for (const char *menu : {"mnuFileExit", "mnuFileForceExit", "mnuTrace", "mnuEditConfiguracion"})
            names += w.controlEnabled(menu) ? QString(menu) + ' ' : QString();
        return names;
    }
    static void type(QWidget *dialog, const QString &name, const QString &text) { field(dialog, name)->setText(text); }
    // Typed key by key, then Enter.
    static void enter(QWidget *dialog, const QString &name, const QString &text)
    {
        QTest::keyClicks(field(dialog, name), text);
        QTest::keyClick(field(dialog, name), Qt::Key_Return);
    }
};

TEST_F(Operator, ThePasswordFileOpensATimedSessionThatUnlocksTheMenus)
{
    folder.write("PUSER.DAT", "@@@\r\n"); // "ABC": each character XOR its position, then CR LF
    const QString closed = "0 -+login locked []", open = "1 edit+login open []";
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        fMainOPC &w = *s.window;
        EXPECT_EQ(s.session(), closed);
        EXPECT_FALSE(s.logic().requestClose(MainOPC::UnloadMode::CloseBox));
        // An empty entry keeps the login open; a wrong one closes it with only a trace line.
        const std::tuple<const char *, bool, QString> logins[] = {
            {"  ", true, closed}, {"abd", false, closed}, {" abc ", false, open}};
        for (const auto &[typed, stays, session] : logins) {
            fCodigo *d = opened<fCodigo>(w, "mnuAInicioSesion");
            ASSERT_TRUE(d);
            EXPECT_EQ(d->windowTitle(), "Init session");
            enter(d, "txtPassword", typed);
            EXPECT_EQ(d->isVisible() ? d->focusWidget() : nullptr, stays ? field(d, "txtPassword") : nullptr) << typed;
            EXPECT_EQ(s.session(), session) << typed;
            d->reject();
        }
        EXPECT_EQ(s.trace().filter("(Wrong password)").size(), 1);
        EXPECT_TRUE(dialogs.requests().empty());
        EXPECT_EQ(enabled(w), "mnuFileExit mnuFileForceExit mnuTrace mnuEditConfiguracion ");

        // The change of password walks its boxes, clears a repeat that differs, and writes the file.
        fCambioCodigo *change = opened<fCambioCodigo>(w, "mnuCPassword");
        ASSERT_TRUE(change);
        EXPECT_EQ(change->findChild<QLabel *>("lblPassword(2)")->text(), "Repeat the new password:");
        EXPECT_EQ(field(change, "txtPasswordNuevo")->echoMode(), QLineEdit::Password);
        enter(change, "txtPassword", "abc");
        EXPECT_EQ(change->focusWidget(), field(change, "txtPasswordNuevo"));
        enter(change, "txtPasswordNuevo", "zuq");
        enter(change, "txtPasswordNuevoRep", "zuz");
        EXPECT_TRUE(field(change, "txtPasswordNuevoRep")->text().isEmpty());
        EXPECT_EQ(change->focusWidget(), field(change, "txtPasswordNuevoRep"));
        QTest::keyClicks(field(change, "txtPasswordNuevoRep"), "ZUQ");
        QTest::mouseClick(change->findChild<QPushButton *>("cmdAceptar"), Qt::LeftButton);
        EXPECT_FALSE(change->isVisible());
        EXPECT_EQ(folder.read("PUSER.DAT"), "[WR\r\n"); // Z^1 U^2 Q^3
        // The old password is now wrong: the dialog closes with the message.
        change = opened<fCambioCodigo>(w, "mnuCPassword");
        ASSERT_TRUE(change);
        type(change, "txtPassword", "abc");
        type(change, "txtPasswordNuevo", "new");
        enter(change, "txtPasswordNuevoRep", "new");
        EXPECT_FALSE(change->isVisible());
        ASSERT_EQ(dialogs.requests().size(), 1u);
        const Dialogs::Request r = dialogs.requests()[0];
        EXPECT_EQ(QStringList({r.text, r.title, QString::number(r.icon), r.buttons.join(',')}),
                  QStringList({"Wrong password", "Change password", "3", "&OK"}));

        // The main timer counts the session down and closes it after the last second.
        QStringList panels;
        for (int tick = 0; tick < 3; ++tick) {
            s.logic().tmrMain_Timer();
            panels << s.session();
        }
        EXPECT_EQ(panels, QStringList({"2 edit+login open [1]", "3 edit+login open [0]", closed}));
        EXPECT_EQ(enabled(w), "");
        s.logic().mnuFileForceExit_Click();
    }
    // The next start reads the new password.
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    fCodigo *d = opened<fCodigo>(*s.window, "mnuAInicioSesion");
    ASSERT_TRUE(d);
    enter(d, "txtPassword", "zuq");
    EXPECT_EQ(s.session(), open);
}

TEST_F(Operator, TheEditMenuOpensTheEditorAndThePeriodDialogs)
{
    folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=0\nAutoSesion=1\n"));
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    fMainOPC &w = *s.window;
    EXPECT_EQ(s.session(), "1 edit open []");

    fConfTarvolin *editor = opened<fConfTarvolin>(w, "mnuEditConfiguracion");
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->editor().slot(1).inUse && !editor->exitForced());
    s.logic().CloseForced = true; // what a forced close sets: the editor leaves without asking
    EXPECT_TRUE(editor->exitForced());
    s.logic().CloseForced = false;
    editor->reject();
    EXPECT_FALSE(editor->isVisible());

    // Each period dialog shows the toolkit's value; OK stores a value in range in
    // the toolkit (the statistics list samples at the new period); Cancel changes nothing.
    auto period = [&](const char *menu, const char *field, const char *typed, bool ok) {
        auto *d = opened<PeriodDialog>(w, menu);
        if (!d)
            return QString("no dialog");
        const QString shown = d->findChild<QLineEdit *>(field)->text();
        type(d, field, typed);
        ok ? d->cmdOK_Click() : d->reject();
        return QStringList({shown, d->isVisible() ? "stays" : "closed", QString::number(s.opc().StatisticsPeriod),
                            QString::number(s.logic().statistics().period()), QString::number(s.opc().MinUpdatePeriod)})
            .join(' ');
    };
    EXPECT_EQ(period("mnuEditStatPeriod", "txtSamplePeriod", "100", true), "1000 closed 100 100 50");
    EXPECT_EQ(period("mnuEditStatPeriod", "txtSamplePeriod", "60000", false), "100 closed 100 100 50");
    EXPECT_EQ(period("mnuEditGroupMinUpdPer", "txtGroupPeriod", "10", true), "50 closed 100 100 10");
    EXPECT_EQ(period("mnuEditGroupMinUpdPer", "txtGroupPeriod", "60000", false), "10 closed 100 100 10");
    EXPECT_TRUE(dialogs.requests().empty());
}

// Two pseudo-terminals feed a server started with the debug word: the monitor
// takes frames before its window opens, the statistics list counts them, and the
// shutdown closes the monitor and its log.
TEST_F(Operator, ADebugStartShowsTrafficInTheMonitorAndTheStatistics)
{
    PtyPair lines[2];
    folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=1\nC1-Nm=North\nC2-On=1\nC2-Com=2\n"));
    folder.write("OPC-KV7.ini", crlf(QStringLiteral("[Configuracion]\nLanguage=1\n[Ports]\nCOM1=%1\nCOM2=%2\n")
                                         .arg(lines[0].slavePath(), lines[1].slavePath())
                                         .toLatin1()));
    {
        Server s;
        ASSERT_EQ(s.load({"vortelmax"}), MainOPC::LoadResult::Running);
        FrameMonitor &monitor = s.logic().monitor();
        for (int n = 0; n < 10; ++n)
            ASSERT_TRUE(lines[n % 2].write(n % 2 ? "W12 1OF\r" : "W11 1OF\r") &&
                        waitFor([&] { return monitor.rowCount() > n; }));
        EXPECT_TRUE(monitor.lineText(0).startsWith("RX:<<W11 1OF")) << monitor.lineText(0).toStdString();

        StatisticsModel &stats = s.logic().statistics();
        EXPECT_EQ(s.window->statisticsList()->model(), &stats);
        const auto figure = [&](const QString &name) { return stats.value(name); };
        ASSERT_TRUE(waitFor([&] {
            return figure("North (1): Frames per second").toDouble() > 0 &&
                   figure("Panel 2: Frames per second").toDouble() > 0;
        }));
        EXPECT_EQ(stats.rowCount(), 12);
        EXPECT_EQ(QStringList({figure("North (1): Frames dropped"), figure("Panel 2: Communication error"),
                               figure("OPC UA sessions"), figure("Subscriptions"), figure("Notifications per second")}),
                  QStringList({"0", "No", "0", "0", "0.0"}));
        EXPECT_LT(figure("Panel 2: Seconds since the last frame").toDouble(), 5.0);

        // One monitor window, however often the menu item is used.
        s.window->action("mnuVBus")->trigger();
        s.window->action("mnuVBus")->trigger();
        ASSERT_TRUE(s.window->monitorWindow());
        EXPECT_TRUE(s.window->findChildren<fBus *>().size() == 1 && s.window->monitorWindow()->isVisible());
        monitor.setLogging(true);
        s.logic().mnuFileForceExit_Click();
        EXPECT_FALSE(monitor.BusMonitorOn() || monitor.logging());
    }
    const QList<QByteArray> log = folder.read("KV7.log").split('\n');
    ASSERT_GE(log.size(), 3);
    EXPECT_TRUE(log[0].endsWith("START REGISTER *********************\r"));
    EXPECT_TRUE(log[log.size() - 2].endsWith("STOP REGISTER *********************\r"));
}

} // namespace

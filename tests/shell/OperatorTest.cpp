// The operator's windows in the running server: the session the password file opens, the
// item detail and its test write, the windows the menus open, and the language menu.
#include "ShellFixture.h"
#include "opc/NamespaceModel.h"
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
    // The captions, a language's menu item marked * when checked.
    static QString captions(fMainOPC &w)
    {
        QStringList texts;
        for (const char *c : {"mnuFile", "mnuFileExit", "mnuEditConfiguracion", "lblTagValue", "lblTagTimestamp",
                              "txtTagValue", "mnuCISel(0)", "mnuCISel(1)", "mnuTrace"})
            texts << w.controlText(c) + (QString(c).startsWith("mnuCISel") && w.action(c)->isChecked() ? "*" : "");
        return texts.join('|');
    }
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
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    fMainOPC &w = *s.window();
    EXPECT_EQ(s.session(), closed);
    // A click in the tree shows the detail; without a session its value box writes nothing.
    const QAbstractItemModel &tree = *w.tree()->model();
    ASSERT_EQ(tree.rowCount(), 1);
    EXPECT_EQ(tree.index(0, 0).data().toString(), "C01");
    EXPECT_FALSE(w.selectNode("C01.Z9"));
    ASSERT_TRUE(w.selectNode("C01.Z1"));
    EXPECT_EQ(w.detailField("txtTagFQID")->text() + '|' + w.detailField("txtTagCanDT")->text(), "C01.Z1|");
    ASSERT_TRUE(w.selectNode("C01.Z1.State"));
    const QModelIndex state = w.tree()->currentIndex();
    EXPECT_EQ(state.data().toString() + '|' + state.data(NamespaceModel::TagRole).toString(), "State|C01.Z1.State");
    EXPECT_TRUE(w.tree()->isExpanded(state.parent()) && w.tree()->isExpanded(state.parent().parent()));
    QLineEdit *value = w.detailField("txtTagValue");
    EXPECT_EQ(QStringList({w.detailField("txtTagDesc")->text(), w.detailField("txtTagCanDT")->text(), value->text()}),
              QStringList({"Zone State", "Byte", "0"}));
    QTest::keyClicks(value, "5");
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value("C01.Z1.State"), "0");
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
    // In the session Enter writes; the detail follows its item, and only that one.
    for (const auto &[typed, stored] : {std::pair{"1", "1"}, std::pair{"300", "255"}}) {
        value->setText(typed);
        QTest::keyClick(value, Qt::Key_Return);
        EXPECT_EQ(s.value("C01.Z1.State") + '|' + value->text(), QString(stored) + '|' + stored);
    }
    s.opc().Tags().find("C01.Z1.State")->SetVQT(Variant(std::uint8_t(2)), Quality::Good);
    s.opc().Tags().find("C01.Z2.State")->SetVQT(Variant(std::uint8_t(1)), Quality::Good);
    EXPECT_EQ(value->text(), "2");
    ASSERT_TRUE(w.selectNode("C01.Z1")); // Enter on a folder writes nothing
    value->setText("7");
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value("C01.Z1.State"), "2");
    // Collapsing a folder selects it and shows its detail.
    w.tree()->collapse(w.tree()->currentIndex().parent());
    EXPECT_EQ(w.detailField("txtTagFQID")->text() + '|' + w.tree()->currentIndex().data().toString(), "C01|C01");
    EXPECT_TRUE(dialogs.requests().empty());

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
    field(change, "txtPassword")->setText("abc");
    field(change, "txtPasswordNuevo")->setText("new");
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
}

// An automatic session: the language menu, a damaged language file, and the edit menu's windows.
TEST_F(Operator, TheLanguageMenuIsStoredADamagedFileLeavesTheShippedTextsAndTheEditMenuOpensItsDialogs)
{
    folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=0\nAutoSesion=1\n"));
    // A header that declares no language, then binary noise; later the file is mended.
    folder.write("OPC-KV7.LNG", QByteArray("Clave\tSoftware\r\n\x01\xff\t\t\0\0mnuArchivo\r\n", 31));
    Ini::IniPutString("Configuracion", "Language", "5"); // beyond the file's languages
    const QString english = "&File|&Exit|&Configuration...|Current Value|Timestamp|To test, edit and press Enter|"
                            "&Spanish|&English*|&Trace";
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        EXPECT_TRUE(captions(*s.window()).startsWith("&Archivo|&Salir|&Configuración...|Valor actual|"));
        EXPECT_EQ(s.trace().filter("OPC-KV7.LNG is damaged").size(), 1);
        EXPECT_TRUE(s.trace().filter("???").isEmpty());
        folder.installLanguageFile();
        s.logic().mnuCISel_Click(1);
        EXPECT_EQ(captions(*s.window()), english);
        s.logic().mnuFileForceExit_Click();
    }
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    fMainOPC &w = *s.window();
    EXPECT_EQ(captions(w), english);
    EXPECT_TRUE(s.trace().contains("(Auto Session opened)"));
    for (int i = 0; i < 5; ++i) // past "TiempoSesion": an automatic session never expires
        s.logic().tmrMain_Timer();
    EXPECT_EQ(s.session(), "1 edit open []");
    w.action("mnuCISel(0)")->trigger();
    EXPECT_EQ(captions(w), "&Archivo|&Salir|&Configuración...|Valor actual|Fecha y hora|"
                           "Para probar, edite y pulse Intro|&Español*|&Inglés|&Trace");
    EXPECT_EQ(ini("Language"), "0");

    fConfTarvolin *editor = opened<fConfTarvolin>(w, "mnuEditConfiguracion");
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->editor().slot(1).inUse && !editor->exitForced());
    s.logic().CloseForced = true; // what a forced close sets: the editor leaves without asking
    EXPECT_TRUE(editor->exitForced());
    s.logic().CloseForced = false;
    editor->reject();

    // Each period dialog shows the toolkit's value; OK stores a value in range in
    // the toolkit (the statistics list samples at the new period); Cancel changes nothing.
    auto period = [&](const char *menu, const char *field, const char *typed, bool ok) {
        auto *d = opened<PeriodDialog>(w, menu);
        if (!d)
            return QString("no dialog");
        const QString shown = d->findChild<QLineEdit *>(field)->text();
        d->findChild<QLineEdit *>(field)->setText(typed);
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

} // namespace

// The main window: the namespace tree with the item detail and the test write, and
// the language menu.
#include "ShellFixture.h"
#include "lang/Language.h"

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

namespace {

struct Window : ShellTest {
    void SetUp() override
    {
        ShellTest::SetUp();
        folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=0\n"));
    }
    static QStringList captions(fMainOPC &w)
    {
        QStringList texts;
        for (const char *c : {"mnuFile", "mnuFileExit", "mnuEditConfiguracion", "lblTagValue", "lblTagTimestamp",
                              "txtTagValue", "mnuCISel(0)", "mnuCISel(1)", "mnuTrace"})
            texts << w.controlText(c);
        return texts;
    }
};

TEST_F(Window, ClickShowsTheDetailAndEnterWritesOnlyInASession)
{
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    fMainOPC &w = *s.window;
    ASSERT_EQ(w.tree()->topLevelItemCount(), 1);
    EXPECT_EQ(w.tree()->topLevelItem(0)->text(0), "C01");
    ASSERT_TRUE(w.selectNode("C01.Z1"));
    EXPECT_EQ(w.detailField("txtTagFQID")->text() + '|' + w.detailField("txtTagCanDT")->text(), "C01.Z1|");
    ASSERT_TRUE(w.selectNode("C01.Z1.State"));
    QLineEdit *value = w.detailField("txtTagValue");
    EXPECT_EQ(QStringList({w.detailField("txtTagDesc")->text(), w.detailField("txtTagCanDT")->text(), value->text()}),
              QStringList({"Zone State", "Byte", "0"}));
    // Locked without a session: typing does nothing and Enter writes nothing.
    QTest::keyClicks(value, "5");
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value("C01.Z1.State"), "0");
    s.logic().session().Sesion_Iniciar(true);
    for (const auto &[typed, stored] : {std::pair{"1", "1"}, std::pair{"300", "255"}}) {
        value->setText(typed);
        QTest::keyClick(value, Qt::Key_Return);
        EXPECT_EQ(s.value("C01.Z1.State"), stored);
        EXPECT_EQ(value->text(), stored); // the detail followed its item
    }
    // An update of the shown item shows at once; others leave the detail alone.
    s.opc().Tags().find("C01.Z1.State")->SetVQT(Variant(std::uint8_t(2)), Quality::Good);
    s.opc().Tags().find("C01.Z2.State")->SetVQT(Variant(std::uint8_t(1)), Quality::Good);
    EXPECT_EQ(value->text(), "2");
    // Enter on a folder writes nothing.
    ASSERT_TRUE(w.selectNode("C01.Z1"));
    value->setText("7");
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(s.value("C01.Z1.State"), "2");
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(Window, TheLanguageMenuChangesTheCaptionsAndIsStored)
{
    {
        Server s;
        ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
        EXPECT_EQ(captions(*s.window).join('|'), "&Archivo|&Salir|&Configuración...|Valor actual|Fecha y hora|"
                                                 "Para probar, edite y pulse Intro|&Español|&Inglés|&Trace");
        EXPECT_TRUE(s.checked("mnuCISel(0)"));
        s.logic().session().Sesion_Iniciar(true);
        s.window->action("mnuCISel(1)")->trigger();
        EXPECT_EQ(ini("Language"), "1");
        EXPECT_TRUE(s.checked("mnuCISel(1)") && !s.checked("mnuCISel(0)"));
        EXPECT_TRUE(dialogs.requests().empty());
        s.logic().mnuFileForceExit_Click();
    }
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    EXPECT_EQ(captions(*s.window).join('|'), "&File|&Exit|&Configuration...|Current Value|Timestamp|"
                                             "To test, edit and press Enter|&Spanish|&English|&Trace");
    EXPECT_TRUE(s.checked("mnuCISel(1)"));
}

TEST_F(Window, WithoutAUsableLanguageFileTheShippedTextsServe)
{
    // A header that declares no language, then binary noise; later the file is mended.
    folder.write("OPC-KV7.LNG", QByteArray("Clave\tSoftware\r\n\x01\xff\t\t\0\0mnuArchivo\r\n", 31));
    Ini::IniPutString("Configuracion", "Language", "5"); // beyond the file's languages
    Server s;
    ASSERT_EQ(s.load(), MainOPC::LoadResult::Running);
    EXPECT_EQ(s.opc().Tags().Count(), 478);
    EXPECT_EQ(captions(*s.window).mid(0, 4), QStringList({"&Archivo", "&Salir", "&Configuración...", "Valor actual"}));
    EXPECT_EQ(s.trace().filter("OPC-KV7.LNG is damaged").size(), 1);
    EXPECT_TRUE(s.trace().filter("???").isEmpty() && dialogs.requests().empty());
    folder.installLanguageFile();
    s.logic().session().Sesion_Iniciar(true);
    s.logic().mnuCISel_Click(1);
    EXPECT_EQ(captions(*s.window).mid(0, 1), QStringList{"&File"});
    s.logic().mnuCISel_Click(0);
    EXPECT_TRUE(s.checked("mnuCISel(0)") && !s.checked("mnuCISel(1)"));
    EXPECT_EQ(captions(*s.window).value(7), "&Inglés");
}

} // namespace

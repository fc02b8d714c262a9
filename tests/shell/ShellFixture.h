#pragma once
#include "TestSupport.h"
#include "config/Ini.h"
#include "opc/OPCServer.h"
#include "ui/WindowedServer.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <gtest/gtest.h>
#include <memory>

// INI text as the program keeps it on disk: CR LF line ends.
inline QByteArray crlf(QByteArray text) { return text.replace("\n", "\r\n"); }

// The server as the program runs it (the window made when first shown).
struct Server : WindowedServer {
    OPCServer &opc() { return logic().server(); }
    // Tests serve OPC UA on a free port, so they never meet another server's.
    MainOPC::LoadResult start(QStringList arguments = {})
    {
        if (Ini::IniGetString("OPC-KV7", "UaPort", QString()).isEmpty())
            Ini::IniPutString("OPC-KV7", "UaPort", "0");
        return logic().Form_Load(QStringList{"opc-kv7"} + arguments);
    }
    // The start, with the window made at once (the program makes it at the first tick).
    MainOPC::LoadResult load(QStringList arguments = {})
    {
        const MainOPC::LoadResult result = start(std::move(arguments));
        makeWindow();
        settle(); // what start-up queued runs, as once the program's loop starts
        return result;
    }
    QString value(const QString &id) { return opc().Tags().find(id) ? opc().Tags().find(id)->Value().toString() : "-"; }
    QStringList trace() const { return window()->tracePane()->toPlainText().split('\n'); }
    bool checked(const QString &control) const { return window()->action(control)->isChecked(); }
    // The server at a glance: its state, the window, the main timer, the unload.
    QString status()
    {
        return QStringLiteral("state %1, %2, timer %3, %4")
            .arg(opc().ServerState())
            .arg(window()->isVisible() ? "shown" : "hidden")
            .arg(logic().tmrMain().isActive() ? logic().tmrMain().interval() : 0)
            .arg(logic().isUnloaded() ? "unloaded" : "loaded");
    }
    // The session at a glance: seconds, the menus it unlocks (all, some or none), the value box, the panel.
    QString session()
    {
        int unlocked = 0;
        for (const char *menu : {"mnuEdit", "mnuFileExit", "mnuFileForceExit", "mnuTrace", "mnuEditConfiguracion"})
            unlocked += window()->controlEnabled(menu);
        return QStringLiteral("%1 %2%3 %4 [%5]")
            .arg(logic().session().SessionSeconds())
            .arg(unlocked == 5 ? "edit" : QString(unlocked ? "some" : "-"))
            .arg(window()->controlEnabled("mnuAInicioSesion") ? "+login" : "")
            .arg(window()->detailField("txtTagValue")->isReadOnly() ? "locked" : "open", window()->sessionPanel());
    }
};

// An application folder with the language file and one panel line that needs no serial port
// (port 0), so the whole start-up runs; every dialog is answered.
struct ShellTest : ::testing::Test {
    TempAppFolder folder;
    DialogRecorder dialogs;
    void SetUp() override
    {
        folder.installLanguageFile();
        folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=0\n"));
    }
    void TearDown() override { DebugMode = false; } // what a start with the debug word set
    QString ini(const QString &key) const { return Ini::IniGetString("Configuracion", key, "<none>"); }
};

// The operator password file and the operator session that unlocks the menus.
#include "TestSupport.h"
#include "session/OperatorSession.h"
#include "session/PasswordStore.h"

#include <QDir>
#include <QHash>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Outcome = PasswordStore::ChangeOutcome;

// The window as the session sees it (menus, the value lock and the session panel) on a folder
// with no password file.
struct SessionTest : ::testing::Test, SessionView {
    TempAppFolder folder;
    DialogRecorder dialogs;
    PasswordStore passwords;
    QHash<QString, bool> enabled;
    bool locked = false;
    QStringList panels; // what the session panel showed, in order
    void setControlEnabled(const QString &control, bool on) override { enabled[control] = on; }
    void setValueLocked(bool on) override { locked = on; }
    void setSessionPanel(const QString &text) override { panels << text; }
    bool unlocked() const
    {
        for (const char *c :
             {"mnuFileExit", "mnuFileClientDisc", "mnuFileForceExit", "mnuTrace", "mnuEdit", "mnuEditConfiguracion"})
            if (!enabled.value(c))
                return false;
        return !locked;
    }
};

TEST_F(SessionTest, ATimedSessionCountsDownAnAutomaticOneNeverExpiresAndACheckedChangeWritesThePrivateFile)
{
    passwords.ReadPasswordFile(); // no file: the default
    OperatorSession session(*this);
    session.SessionTimeout = 3;
    session.CloseSession();
    EXPECT_TRUE(locked && !unlocked());
    EXPECT_EQ(session.Login("zuq", passwords), OperatorSession::LoginOutcome::Opened);
    EXPECT_TRUE(unlocked());
    session.tick();
    EXPECT_EQ(session.Login("wrong", passwords), OperatorSession::LoginOutcome::Refused);
    session.tick();
    session.Login("ZUQ", passwords);
    for (int i = 0; i < 3; ++i)
        session.tick();
    EXPECT_EQ(panels, QStringList({"", "1", "0", "1", "0", ""}));
    EXPECT_FALSE(session.isOpen() || unlocked());
    EXPECT_TRUE(enabled.value("mnuAInicioSesion", true));

    // An automatic session hides login and logout and never expires (the shell tests run one,
    // and a debug start's, through the window).
    session.openAtStartUp(true);
    for (int i = 0; i < 5; ++i)
        session.tick();
    EXPECT_TRUE(session.isOpen() && unlocked());
    EXPECT_FALSE(enabled.value("mnuAInicioSesion", true) || enabled.value("mnuACerrarSesion", true));
    EXPECT_EQ(panels.size(), 6);

    // The default holds until a checked change writes the private file.
    // "\u0105" is not in the file's code page.
    const std::tuple<const char *, const char *, const char *, Outcome> cases[] = {
        {"zuq1", "new", "new", Outcome::WrongCurrent},
        {"zuq", "  ", "", Outcome::NewEmpty},
        {"zuq", "new", "", Outcome::RepeatEmpty},
        {"zuq", "new", "newer", Outcome::RepeatDiffers},
        {"zuq", "elevenchars", "elevenchars", Outcome::NotUsable},
        {"zuq", "\u0105", "\u0105", Outcome::NotUsable},
        {"zuq", "a\tb", "a\tb", Outcome::NotUsable}};
    for (const auto &[current, fresh, repeat, outcome] : cases)
        EXPECT_EQ(passwords.Change(current, fresh, repeat), outcome) << current << "/" << fresh;
    EXPECT_FALSE(QFileInfo::exists(folder.file("PUSER.DAT")));
    EXPECT_TRUE(passwords.accepts(" zuq "));

    folder.write("PUSER.DAT", "@@@\r\n"); // "ABC": 0x41^1, 0x42^2 and 0x43^3 are all '@'
    passwords.ReadPasswordFile();
    EXPECT_TRUE(passwords.accepts(" abc ") && !passwords.accepts("zuq"));
    const mode_t umask = ::umask(0); // the file stays private whatever the umask
    EXPECT_EQ(passwords.Change("Abc", "zuq2\u00e9", " ZUQ2\u00c9 "), Outcome::Changed);
    ::umask(umask);
    EXPECT_EQ(folder.read("PUSER.DAT"), QByteArray("[WR6\xCC\r\n")); // Z^1 U^2 Q^3 2^4 0xC9^5
    EXPECT_EQ(QFile::permissions(folder.file("PUSER.DAT")),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    PasswordStore nextStart;
    nextStart.ReadPasswordFile();
    EXPECT_TRUE(nextStart.accepts("Zuq2\u00e9") && !nextStart.accepts("abc"));
    folder.write("PUSER.DAT", "\xB4\r\n"); // "µ", which has no upper case in the file's code page
    nextStart.ReadPasswordFile();
    EXPECT_TRUE(nextStart.accepts("\u00b5"));
    EXPECT_TRUE(dialogs.requests().empty());

    // A damaged file is reported and locks the server.
    const QByteArray damaged[] = {"@@" /* truncated */, QByteArray("\x01@\r\n", 4) /* NUL */,
                                  "`@@\r\n" /* lower case */, "@@@@@@@@@@@\r\n" /* 11 characters */};
    for (const QByteArray &bytes : damaged) {
        folder.write("PUSER.DAT", bytes);
        DialogRecorder notices;
        PasswordStore store;
        store.ReadPasswordFile();
        EXPECT_FALSE(store.accepts("zuq")) << bytes.constData();
        EXPECT_EQ(store.Change("", "new", "new"), Outcome::WrongCurrent);
        ASSERT_EQ(notices.requests().size(), 1u);
        EXPECT_TRUE(notices.requests()[0].text.endsWith(folder.file("PUSER.DAT")));
    }

    QFile::remove(folder.file("PUSER.DAT"));
    QDir(folder.path()).mkdir("PUSER.DAT"); // now it cannot be replaced
    EXPECT_EQ(passwords.Change("Zuq2\u00e9", "new", "new"), Outcome::Changed);
    EXPECT_EQ(dialogs.texts(), QStringList{"The password file could not be written"});
    EXPECT_TRUE(passwords.accepts("NEW")); // in force until the process ends
    passwords.ReadPasswordFile();          // present but unreadable is no first start either
    EXPECT_FALSE(passwords.accepts("NEW") || passwords.accepts("zuq"));
    EXPECT_EQ(dialogs.requests().size(), 2u);
}

} // namespace

#include "TestSupport.h"
#include "session/OperatorSession.h"
#include "session/PasswordFile.h"
#include "session/PasswordStore.h"

#include <QDir>
#include <QHash>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Outcome = PasswordStore::ChangeOutcome;

class RecordingView : public SessionView {
public:
    void setControlEnabled(const QString &control, bool enabled) override { enabled_[control] = enabled; }
    void setValueLocked(bool locked) override { locked_ = locked; }
    void setSessionPanel(const QString &text) override { panel_ = text; }
    bool enabled(const char *control) const { return enabled_.value(QLatin1String(control), true); }
    QHash<QString, bool> enabled_;
    bool locked_ = false;
    QString panel_ = QStringLiteral("untouched");
};

struct PasswordTest : ::testing::Test {
    TempAppFolder folder;
    DialogRecorder dialogs;
    PasswordStore passwords;
};

int fileMode(const QString &path)
{
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

TEST_F(PasswordTest, AFirstStartWithoutAFileTakesTheDefaultPasswordInAnyCase)
{
    passwords.ReadPasswordFile();
    EXPECT_TRUE(passwords.accepts(" zuq "));
    EXPECT_FALSE(passwords.accepts("ZU"));
    EXPECT_FALSE(passwords.accepts(""));
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(PasswordTest, AHandWrittenFileIsReadChangedAndReadBack)
{
    // "ABC" scrambled: 0x41^1, 0x42^2 and 0x43^3 are all '@'.
    folder.write("PUSER.DAT", "@@@\r\n");
    passwords.ReadPasswordFile();
    EXPECT_EQ(passwords.StoredPassword(), "ABC");
    EXPECT_TRUE(passwords.accepts("abc"));
    EXPECT_FALSE(passwords.accepts("zuq"));

    const mode_t old = ::umask(0); // the file stays private whatever the umask
    EXPECT_EQ(passwords.Change("Abc", "zuq2\u00e9", " ZUQ2\u00c9 "), Outcome::Changed);
    ::umask(old);
    // Z^1 U^2 Q^3 2^4 and 0xC9^5, upper-cased before scrambling.
    EXPECT_EQ(folder.read("PUSER.DAT"), QByteArray("[WR6\xCC\r\n"));
    EXPECT_EQ(fileMode(folder.file("PUSER.DAT")), 0600);
    EXPECT_FALSE(passwords.accepts("abc"));

    PasswordStore nextStart;
    nextStart.ReadPasswordFile();
    EXPECT_TRUE(nextStart.accepts("Zuq2\u00e9"));
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(PasswordTest, ChangeRefusesAndNamesTheFieldToCorrect)
{
    passwords.ReadPasswordFile();
    const struct {
        const char *current, *fresh, *repeat;
        Outcome outcome;
    } cases[] = {
        {"zuq1", "new", "new", Outcome::WrongCurrent},
        {"", "new", "new", Outcome::WrongCurrent},
        {"zuq", "  ", "new", Outcome::NewEmpty},
        {"zuq", "new", "", Outcome::RepeatEmpty},
        {"zuq", "new", "newer", Outcome::RepeatDiffers},
        {"zuq", "elevenchars", "elevenchars", Outcome::NotUsable}, // the boxes take ten
        {"zuq", "\u0105", "\u0105", Outcome::NotUsable},           // no such letter in the file's code page
        {"zuq", "a\tb", "a\tb", Outcome::NotUsable},
    };
    for (const auto &c : cases)
        EXPECT_EQ(passwords.Change(c.current, c.fresh, c.repeat), c.outcome) << c.current << "/" << c.fresh;
    EXPECT_FALSE(QFileInfo::exists(folder.file("PUSER.DAT")));
    EXPECT_TRUE(passwords.accepts("zuq"));
}

TEST_F(PasswordTest, ADamagedFileIsReportedAndLocksTheServer)
{
    const struct {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"empty", ""},
        {"truncated before its line end", "@@"},
        {"a control character", QByteArray("\x01@@\r\n", 5)}, // 0x01^1 is NUL
        {"lower case nobody can type back", "`@@\r\n"},       // 'a'
        {"longer than the boxes take", "@@@@@@@@@@@\r\n"},    // "ABCDEFGHIJK"
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        folder.write("PUSER.DAT", c.bytes);
        DialogRecorder notices;
        PasswordStore store;
        store.ReadPasswordFile();
        EXPECT_TRUE(store.locked());
        EXPECT_FALSE(store.accepts("zuq"));
        EXPECT_FALSE(store.accepts(""));
        EXPECT_EQ(store.Change("", "new", "new"), Outcome::WrongCurrent);
        ASSERT_EQ(notices.requests().size(), 1u);
        EXPECT_TRUE(notices.requests()[0].text.endsWith(folder.file("PUSER.DAT")));
    }
    // Present but unreadable is no first start either.
    QFile::remove(folder.file("PUSER.DAT"));
    QDir(folder.path()).mkdir("PUSER.DAT");
    passwords.ReadPasswordFile();
    EXPECT_FALSE(passwords.accepts("zuq"));
    EXPECT_EQ(dialogs.requests().size(), 1u);
}

TEST_F(PasswordTest, AFailedWriteIsReportedAndTheNewPasswordHoldsForThisRun)
{
    passwords.ReadPasswordFile();
    QDir(folder.path()).mkdir("PUSER.DAT"); // the file cannot be replaced
    EXPECT_EQ(passwords.Change("zuq", "new", "new"), Outcome::Changed);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].text, "The password file could not be written");
    EXPECT_TRUE(passwords.accepts("NEW"));
    EXPECT_FALSE(passwords.accepts("zuq"));
}

struct SessionTest : PasswordTest {
    RecordingView view;
    OperatorSession session{view};
    void SetUp() override
    {
        passwords.ReadPasswordFile();
        session.SessionTimeout = 3;
        session.CloseSession();
    }
    bool menusOpen() const
    {
        for (const char *c :
             {"mnuFileExit", "mnuFileClientDisc", "mnuFileForceExit", "mnuTrace", "mnuEdit", "mnuEditConfiguracion"})
            if (!view.enabled(c))
                return false;
        return !view.locked_;
    }
};

TEST_F(SessionTest, ALoginOpensTheMenusAndExpiresAfterItsTimeout)
{
    EXPECT_FALSE(menusOpen());
    EXPECT_TRUE(view.locked_);
    EXPECT_EQ(session.Login("zuq", passwords), OperatorSession::LoginOutcome::Opened);
    EXPECT_TRUE(menusOpen());
    EXPECT_TRUE(view.enabled("mnuAInicioSesion"));
    session.tick();
    EXPECT_EQ(view.panel_, "1");
    session.tick();
    EXPECT_EQ(view.panel_, "0");
    EXPECT_TRUE(session.isOpen());
    session.tick();
    EXPECT_FALSE(session.isOpen());
    EXPECT_FALSE(menusOpen());
    EXPECT_EQ(view.panel_, "");
    session.tick(); // a closed session stays closed and blank
    EXPECT_EQ(view.panel_, "");
}

TEST_F(SessionTest, WrongOrEmptyEntriesLeaveTheSessionAsItWasAndALoginRestartsTheCount)
{
    EXPECT_EQ(session.Login("  ", passwords), OperatorSession::LoginOutcome::EmptyEntry);
    EXPECT_EQ(session.Login("zuqq", passwords), OperatorSession::LoginOutcome::Refused);
    EXPECT_FALSE(session.isOpen());

    session.Login("zuq", passwords);
    session.tick();
    EXPECT_EQ(session.Login("wrong", passwords), OperatorSession::LoginOutcome::Refused);
    EXPECT_TRUE(menusOpen());
    session.tick();
    EXPECT_EQ(view.panel_, "0");
    session.Login("ZUQ", passwords);
    session.tick();
    EXPECT_EQ(view.panel_, "1");
}

TEST_F(SessionTest, AutomaticAndDebugSessionsNeverExpire)
{
    session.openAtStartUp(true);
    EXPECT_TRUE(menusOpen());
    EXPECT_FALSE(view.enabled("mnuAInicioSesion"));
    EXPECT_FALSE(view.enabled("mnuACerrarSesion"));

    RecordingView debugView;
    OperatorSession debug(debugView);
    debug.DebugMode = true;
    debug.SessionTimeout = 1;
    debug.openAtStartUp(false);
    EXPECT_TRUE(debugView.enabled("mnuAInicioSesion"));
    for (int i = 0; i < 5; ++i)
        session.tick(), debug.tick();
    EXPECT_TRUE(session.isOpen());
    EXPECT_TRUE(debug.isOpen());
    EXPECT_EQ(view.panel_, "");
    EXPECT_EQ(debugView.panel_, "untouched");

    RecordingView plainView;
    OperatorSession plain(plainView);
    plain.openAtStartUp(false);
    EXPECT_FALSE(plain.isOpen());
}

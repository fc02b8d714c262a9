// The users file (salted hashes; damaged lines, bad paths reported, nothing lost) and --user-add / --user-remove.
#include "security/UserStore.h"
#include "TestSupport.h"
#include "common/SecureFiles.h"
#include "security/UserCommand.h"

#include <QDir>
#include <QJsonArray>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace Security;
using Check = UserStore::Check;

namespace {

constexpr int Fast = 1000; // iterations for tests; the file records each user's count

struct Outcome {
    std::optional<int> status;
    QString out, err;
};

// A command whose standard input is inputFd, or else a pipe holding these bytes.
Outcome run(const QStringList &arguments, const QString &usersFile, const QByteArray &input, int inputFd = -1)
{
    int fds[2] = {inputFd, -1};
    if (inputFd < 0 && (::pipe(fds) != 0 || ::write(fds[1], input.constData(), size_t(input.size())) != input.size() ||
                        ::close(fds[1]) != 0))
        return {};
    Outcome o;
    QTextStream out(&o.out), err(&o.err);
    o.status = runUserCommand(QStringList{"opc-kv7"} + arguments, usersFile, fds[0], out, err);
    if (inputFd < 0)
        ::close(fds[0]);
    return o;
}

// What the terminal shows within a bounded time, up to and including `until`.
QByteArray readScreen(int master, const QByteArray &until)
{
    QByteArray seen;
    char buffer[256];
    for (int i = 0; i < 100 && !seen.contains(until); ++i)
        if (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 100) == 1)
            seen.append(buffer, qMax<ssize_t>(::read(master, buffer, sizeof buffer), 0));
    return seen;
}

const QStringList Add{"--user-add", "op"};

struct Users : ::testing::Test {
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    QByteArray contents() const { return folder.read(QFileInfo(path).fileName()); }
};

} // namespace

TEST_F(Users, StoresSaltedHashesAndRefusesNamesItCannotHoldAndKeepsDamagedLinesAndUnreadableFiles)
{
    EXPECT_EQ(path, folder.file("OPC-KV7.users"));
    UserStore store(path), other(path);                            // the server's, and a command's
    EXPECT_EQ(store.verify("anna", "secret"), Check::UnknownUser); // no file yet
    ASSERT_EQ(other.setPassword("anna", "s3cret: ok", Fast) + other.setPassword("Jürgen", "s3cret: ok", Fast),
              QString());
    EXPECT_EQ(std::vector({store.verify("anna", "s3cret: ok"), store.verify("Jürgen", "s3cret: ok"),
                           store.verify("anna", "s3cret: OK"), store.verify("Anna", "s3cret: ok")}),
              std::vector({Check::Accepted, Check::Accepted, Check::WrongPassword, Check::UnknownUser}));

    QList<QByteArray> lines = contents().split('\n');
    lines.removeIf([](const QByteArray &line) { return line.isEmpty() || line.startsWith('#'); });
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 2) << contents().constData();
    EXPECT_TRUE(lines[0].startsWith("Jürgen:pbkdf2-sha256:1000:") && lines[1].startsWith("anna:pbkdf2-sha256:1000:") &&
                lines[0].split(':')[3] != lines[1].split(':')[3] && !contents().contains("s3cret"))
        << "only salted hashes, each user with a salt of its own: " << contents().constData();
    EXPECT_EQ(QFile::permissions(path), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    ASSERT_EQ(other.setPassword("anna", "new one", Fast), QString());
    EXPECT_EQ(std::pair(store.verify("anna", "s3cret: ok"), store.verify("anna", "new one")),
              std::pair(Check::WrongPassword, Check::Accepted));
    ASSERT_EQ(other.remove("anna"), QString());
    EXPECT_TRUE(other.remove("anna").contains(path));
    EXPECT_EQ(std::pair(store.verify("anna", "new one"), store.verify("Jürgen", "s3cret: ok")),
              std::pair(Check::UnknownUser, Check::Accepted));

    for (const QString &bad : QStringList{"", "a:b", "two\nlines", "tab\t", "#admin", " padded", "padded ",
                                          QString(UserStore::MaxNameLength + 1, 'x')})
        EXPECT_FALSE(UserStore::nameProblem(bad).isEmpty()) << bad.toStdString();
    for (const QString &good : QStringList{"op", "Jürgen Müller", "a.b-c_d@e", QString(UserStore::MaxNameLength, 'x')})
        EXPECT_EQ(UserStore::nameProblem(good), QString()) << good.toStdString();

    // Damaged lines are reported and kept.
    ASSERT_TRUE(QFile::remove(path) && store.setPassword("good", "pw", Fast).isEmpty());
    const QByteArray good = contents();
    ASSERT_EQ(store.setPassword("good", "other", Fast), QString()); // a second line for the name does not count
    const QByteArray damaged =                                      // lines 1 to 6, the first of them a comment
        "# a comment\r\nbroken line\neve:pbkdf2-sha256:1000:!!!:AAAA\nmal:md5:1000:AAAA:AAAA\n"
        "zero:pbkdf2-sha256:0:AAAAAAAAAAAAAAAAAAAAAA==:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n"
        "short:pbkdf2-sha256:1000:AAAAAAAAAAAAAAAAAAAAAA==:AAAA\n";
    ASSERT_EQ(Files::writeFileAtomically(path, damaged + good + contents(), 0600), QString());
    EXPECT_EQ(std::vector({store.verify("good", "pw"), store.verify("good", "other"), store.verify("eve", "pw")}),
              std::vector({Check::Accepted, Check::WrongPassword, Check::UnknownUser}));
    QStringList problems;
    for (int line = 2; line <= 6; ++line)
        problems << QStringLiteral("Line %1 of %2 is damaged and is ignored").arg(line).arg(path);
    EXPECT_EQ(store.problems(), problems);

    // Another user's change keeps the lines not understood; a new password mends its line.
    ASSERT_EQ(store.setPassword("new", "pw", Fast) + store.setPassword("eve", "pw", Fast), QString());
    const QByteArray after = contents();
    for (const QByteArray &kept : damaged.split('\n'))
        EXPECT_TRUE(after.contains(kept.trimmed()) != kept.startsWith("eve:")) << kept.constData();
    EXPECT_EQ(store.verify("eve", "pw"), Check::Accepted); // first: it reads the file the problems come from
    EXPECT_EQ(store.problems().size(), 4);

    ASSERT_TRUE(QFile::remove(path) && QDir().mkpath(path)); // a folder where the file should be
    EXPECT_EQ(store.verify("op", "pw"), Check::Unreadable);
    EXPECT_TRUE(store.problems().size() == 1 && store.problems().front().contains(path));
    EXPECT_TRUE(store.setPassword("op", "pw", Fast).contains(path) && store.remove("op").contains(path) &&
                QFileInfo(path).isDir());
    folder.write("plain", "x"); // and a users file below a regular file
    EXPECT_TRUE(UserStore(folder.file("plain/users")).setPassword("op", "pw", Fast).contains(folder.file("plain")));
    const Outcome o = run(Add, folder.file("plain/users"), "pw\n"); // the command names it too
    EXPECT_TRUE(o.status == 1 && o.err.contains(folder.file("plain"))) << o.err.toStdString();
}

TEST_F(Users, TheCommandTakesThePasswordFromAPipeOrTwiceFromATerminalAndRefusesWhatItCannotDoWithAMessage)
{
    // Each step's status, what it says, and the password "op" has after it (none: no user "op").
    for (const QJsonValue step : sourceJson(QStringLiteral("tests/security/cases.json"))["userCommand"].toArray()) {
        const Outcome o = run(step["arguments"].toVariant().toStringList(), path, step["input"].toString().toUtf8());
        const QString said = step["says"].toString();
        const QByteArray password = step["password"].toString().toUtf8();
        EXPECT_EQ(o.status, step["status"].toInt()) << step["why"].toString().toStdString();
        if (!said.isEmpty())
            EXPECT_TRUE(o.out.contains(said) && o.out.contains(path) && o.err.isEmpty()) << o.out.toStdString();
        else
            EXPECT_TRUE(!o.err.isEmpty() && o.out.isEmpty() && !QFile::exists(path)) << o.err.toStdString();
        EXPECT_EQ(UserStore(path).verify("op", password.isEmpty() ? "second pw" : password),
                  password.isEmpty() ? Check::UnknownUser : Check::Accepted);
    }
    EXPECT_EQ(run({"--service"}, path, {}, 0).status, std::nullopt);

    // From a terminal the password is asked twice, and not shown.
    for (const auto &[second, status] : {std::pair{QByteArray("typo\n"), 1}, {QByteArray("t0p secret\n"), 0}}) {
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        Outcome outcome;
        std::thread command([&] { outcome = run(Add, path, {}, slave); });
        QByteArray screen;
        for (const auto &[prompt, typed] :
             {std::pair{"Password for op: ", QByteArray("t0p secret\n")}, {"Repeat the password: ", second}}) {
            screen += readScreen(master, prompt);
            EXPECT_TRUE(screen.endsWith(prompt) &&
                        ::write(master, typed.constData(), size_t(typed.size())) == typed.size());
        }
        command.join();
        screen += readScreen(master, "\n");
        EXPECT_FALSE(screen.contains("t0p") || screen.contains("typo")) << "echoed: " << screen.constData();
        termios settings{};
        EXPECT_TRUE(::tcgetattr(slave, &settings) == 0 && (settings.c_lflag & ECHO)) << "echo is back on";
        EXPECT_EQ(std::pair(outcome.status, UserStore(path).verify("op", "t0p secret")),
                  std::pair(std::optional(status), status == 0 ? Check::Accepted : Check::UnknownUser));
        ::close(master), ::close(slave);
    }
}

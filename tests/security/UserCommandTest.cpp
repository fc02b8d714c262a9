// opc-kv7 --user-add / --user-remove: the password from a pipe or from a terminal
// without echo, the exit statuses and their messages.
#include "security/UserCommand.h"
#include "TestSupport.h"
#include "security/UserStore.h"

#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace Security;

namespace {

struct Outcome {
    std::optional<int> status;
    QString out, err;
};

Outcome run(const QStringList &arguments, const QString &usersFile, int inputFd)
{
    Outcome o;
    QTextStream out(&o.out), err(&o.err);
    o.status = runUserCommand(QStringList{QStringLiteral("opc-kv7")} + arguments, usersFile, inputFd, out, err);
    return o;
}

// A command whose standard input is a pipe holding these bytes.
Outcome runPiped(const QStringList &arguments, const QString &usersFile, const QByteArray &input)
{
    int fds[2];
    if (::pipe(fds) != 0 || ::write(fds[1], input.constData(), size_t(input.size())) != input.size())
        return {};
    ::close(fds[1]);
    Outcome o = run(arguments, usersFile, fds[0]);
    ::close(fds[0]);
    return o;
}

// What the terminal shows within a bounded time, up to and including `until`.
QByteArray readScreen(int master, const QByteArray &until)
{
    QByteArray seen;
    for (int i = 0; i < 100 && !seen.contains(until); ++i) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) == 1) {
            char buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                seen.append(buffer, n);
        }
    }
    return seen;
}

const QStringList Add{QStringLiteral("--user-add"), QStringLiteral("op")};
const QStringList Remove{QStringLiteral("--user-remove"), QStringLiteral("op")};

} // namespace

TEST(UserCommand, AddsChangesAndRemovesAUserWithThePasswordFromStandardInput)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    Outcome o = runPiped(Add, path, "first pw\r\nignored\n");
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.contains(QStringLiteral("added")) && o.out.contains(path)) << o.out.toStdString();
    EXPECT_EQ(UserStore(path).verify(QStringLiteral("op"), "first pw"), UserStore::Check::Accepted);

    o = runPiped(Add, path, "second pw"); // no line end
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.out.contains(QStringLiteral("changed")));
    EXPECT_EQ(UserStore(path).verify(QStringLiteral("op"), "second pw"), UserStore::Check::Accepted);

    o = runPiped(Remove, path, {});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.out.contains(QStringLiteral("removed")));
    EXPECT_FALSE(UserStore(path).contains(QStringLiteral("op")));
}

TEST(UserCommand, RefusesWhatItCannotDoWithAMessageAndAStatus)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    const struct {
        QStringList arguments;
        QByteArray input;
        int status;
    } cases[] = {
        {Remove, {}, 1},                                                    // no such user
        {Add, "\n", 1},                                                     // empty password
        {Add, {}, 1},                                                       // no input at all
        {{QStringLiteral("--user-add")}, "pw\n", 2},                        // no name
        {{QStringLiteral("--user-add"), QStringLiteral("a:b")}, "pw\n", 2}, // a name the file cannot hold
        {Add + Remove, "pw\n", 2},
    };
    for (const auto &c : cases) {
        const Outcome o = runPiped(c.arguments, path, c.input);
        EXPECT_EQ(o.status, c.status) << c.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(o.err.isEmpty());
        EXPECT_TRUE(o.out.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(run({QStringLiteral("--service")}, path, 0).status, std::nullopt);
    // A users file that cannot be read: the message names it.
    folder.write(QStringLiteral("plain"), "x");
    const Outcome o = runPiped(Add, folder.file(QStringLiteral("plain/users")), "pw\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.contains(folder.file(QStringLiteral("plain"))));
}

TEST(UserCommand, ReadsThePasswordTwiceFromATerminalWithoutEcho)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    for (const auto &[second, status] : {std::pair{QByteArray("typo\n"), 1}, {QByteArray("t0p secret\n"), 0}}) {
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        Outcome outcome;
        std::thread command([&] { outcome = run(Add, path, slave); });
        QByteArray screen = readScreen(master, "Password for op: ");
        ASSERT_TRUE(::write(master, "t0p secret\n", 11) == 11);
        screen += readScreen(master, "Repeat the password: ");
        ASSERT_TRUE(::write(master, second.constData(), size_t(second.size())) == second.size());
        command.join();
        screen += readScreen(master, "\n");
        EXPECT_TRUE(screen.contains("Password for op: ") && screen.contains("Repeat the password: "))
            << screen.constData();
        EXPECT_FALSE(screen.contains("t0p") || screen.contains("typo")) << "echoed: " << screen.constData();
        termios settings{};
        ASSERT_EQ(::tcgetattr(slave, &settings), 0);
        EXPECT_TRUE(settings.c_lflag & ECHO) << "echo is back on";
        EXPECT_EQ(outcome.status, status);
        EXPECT_EQ(UserStore(path).verify(QStringLiteral("op"), "t0p secret"),
                  status == 0 ? UserStore::Check::Accepted : UserStore::Check::UnknownUser);
        ::close(master);
        ::close(slave);
    }
}

// opc-kv7 --user-add / --user-remove: the password from a pipe or from a terminal
// without echo, the exit statuses and their messages.
#include "security/UserCommand.h"
#include "TestSupport.h"
#include "security/UserStore.h"

#include <gtest/gtest.h>
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
    o.status = runUserCommand(QStringList{"opc-kv7"} + arguments, usersFile, inputFd, out, err);
    return o;
}

// A command whose standard input is a pipe holding these bytes.
Outcome runPiped(const QStringList &arguments, const QString &usersFile, const QByteArray &input)
{
    int fds[2];
    if (::pipe(fds) != 0 || ::write(fds[1], input.constData(), size_t(input.size())) != input.size())
        return {};
    ::close(fds[1]);
    const Outcome o = run(arguments, usersFile, fds[0]);
    ::close(fds[0]);
    return o;
}

// What the terminal shows within a bounded time, up to and including `until`.
QByteArray readScreen(int master, const QByteArray &until)
{
    QByteArray seen;
    for (int i = 0; i < 100 && !seen.contains(until); ++i) {
        pollfd p{master, POLLIN, 0};
        char buffer[256];
        const ssize_t n = ::poll(&p, 1, 100) == 1 ? ::read(master, buffer, sizeof buffer) : 0;
        seen.append(buffer, qMax<ssize_t>(n, 0));
    }
    return seen;
}

const QStringList Add{"--user-add", "op"}, Remove{"--user-remove", "op"};

} // namespace

TEST(UserCommand, AddsChangesAndRemovesAUserWithThePasswordFromStandardInput)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    const std::tuple<QStringList, QByteArray, const char *, QByteArray> steps[] = {
        {Add, "first pw\r\nignored\n", "added", "first pw"},
        {Add, "second pw", "changed", "second pw"}, // no line end
        {Remove, {}, "removed", {}},
    };
    for (const auto &[arguments, input, said, password] : steps) {
        const Outcome o = runPiped(arguments, path, input);
        EXPECT_EQ(o.status, 0) << o.err.toStdString();
        EXPECT_TRUE(o.out.contains(said) && o.out.contains(path)) << o.out.toStdString();
        EXPECT_EQ(UserStore(path).verify("op", password.isEmpty() ? "second pw" : password),
                  password.isEmpty() ? UserStore::Check::UnknownUser : UserStore::Check::Accepted);
    }
}

TEST(UserCommand, RefusesWhatItCannotDoWithAMessageAndAStatus)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    const std::tuple<QStringList, QByteArray, int> cases[] = {
        {Remove, {}, 1},                    // no such user
        {Add, "\n", 1},                     // empty password
        {Add, {}, 1},                       // no input at all
        {{"--user-add"}, "pw\n", 2},        // no name
        {{"--user-add", "a:b"}, "pw\n", 2}, // a name the file cannot hold
        {Add + Remove, "pw\n", 2},
    };
    for (const auto &[arguments, input, status] : cases) {
        const Outcome o = runPiped(arguments, path, input);
        EXPECT_EQ(o.status, status) << arguments.join(' ').toStdString();
        EXPECT_FALSE(o.err.isEmpty());
        EXPECT_TRUE(o.out.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(run({"--service"}, path, 0).status, std::nullopt);
    folder.write("plain", "x"); // a users file that cannot be written: the message names it
    const Outcome o = runPiped(Add, folder.file("plain/users"), "pw\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.contains(folder.file("plain")));
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
        EXPECT_EQ(::write(master, "t0p secret\n", 11), 11);
        screen += readScreen(master, "Repeat the password: ");
        EXPECT_EQ(::write(master, second.constData(), size_t(second.size())), second.size());
        command.join();
        screen += readScreen(master, "\n");
        EXPECT_TRUE(screen.contains("Password for op: ") && screen.contains("Repeat the password: "))
            << screen.constData();
        EXPECT_FALSE(screen.contains("t0p") || screen.contains("typo")) << "echoed: " << screen.constData();
        termios settings{};
        ASSERT_EQ(::tcgetattr(slave, &settings), 0);
        EXPECT_TRUE(settings.c_lflag & ECHO) << "echo is back on";
        EXPECT_EQ(outcome.status, status);
        EXPECT_EQ(UserStore(path).verify("op", "t0p secret"),
                  status == 0 ? UserStore::Check::Accepted : UserStore::Check::UnknownUser);
        ::close(master);
        ::close(slave);
    }
}

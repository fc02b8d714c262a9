// The users file: salted hashes only, changes made by another process seen at the
// next check, damaged lines and unreadable paths reported and never lost.
#include "security/UserStore.h"
#include "SecurityTestSupport.h"
#include "TestSupport.h"
#include "security/SecureFiles.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Security;
using Check = UserStore::Check;

namespace {

constexpr int Fast = 1000; // iterations for tests; the file records the count of each user

QByteArray contents(const QString &path)
{
    QByteArray bytes;
    readFile(path, bytes);
    return bytes;
}

} // namespace

TEST(UserStore, StoresSaltedHashesAndChecksPasswords)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    EXPECT_EQ(path, folder.file(QStringLiteral("OPC-KV7.users")));
    UserStore store(path);
    EXPECT_EQ(store.verify(QStringLiteral("anna"), "secret"), Check::UnknownUser); // no file yet
    ASSERT_EQ(store.setPassword(QStringLiteral("anna"), "s3cret: ok", Fast), QString());
    ASSERT_EQ(store.setPassword(QStringLiteral("Jürgen"), "s3cret: ok", Fast), QString());

    EXPECT_EQ(store.verify(QStringLiteral("anna"), "s3cret: ok"), Check::Accepted);
    EXPECT_EQ(store.verify(QStringLiteral("Jürgen"), "s3cret: ok"), Check::Accepted);
    EXPECT_EQ(store.verify(QStringLiteral("anna"), "s3cret: OK"), Check::WrongPassword);
    EXPECT_EQ(store.verify(QStringLiteral("Anna"), "s3cret: ok"), Check::UnknownUser);

    const QByteArray text = contents(path);
    EXPECT_FALSE(text.contains("s3cret")) << text.constData();
    QList<QByteArray> users;
    for (const QByteArray &line : text.split('\n'))
        if (line.contains(":pbkdf2-sha256:1000:"))
            users << line;
    ASSERT_EQ(users.size(), 2);
    EXPECT_NE(users[0].split(':')[3], users[1].split(':')[3]) << "each user has a salt of its own";
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ASSERT_EQ(store.setPassword(QStringLiteral("anna"), "new one", Fast), QString());
    EXPECT_EQ(store.verify(QStringLiteral("anna"), "s3cret: ok"), Check::WrongPassword);
    EXPECT_EQ(store.verify(QStringLiteral("anna"), "new one"), Check::Accepted);
    ASSERT_EQ(store.remove(QStringLiteral("anna")), QString());
    EXPECT_EQ(store.verify(QStringLiteral("anna"), "new one"), Check::UnknownUser);
    EXPECT_TRUE(store.remove(QStringLiteral("anna")).contains(path));
    EXPECT_EQ(store.verify(QStringLiteral("Jürgen"), "s3cret: ok"), Check::Accepted);
}

TEST(UserStore, AChangeByAnotherWriterIsSeenAtTheNextCheck)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    UserStore server(path), command(path);
    ASSERT_EQ(command.setPassword(QStringLiteral("op"), "first", Fast), QString());
    EXPECT_EQ(server.verify(QStringLiteral("op"), "first"), Check::Accepted);
    ASSERT_EQ(command.setPassword(QStringLiteral("op"), "second", Fast), QString());
    EXPECT_EQ(server.verify(QStringLiteral("op"), "first"), Check::WrongPassword);
    EXPECT_EQ(server.verify(QStringLiteral("op"), "second"), Check::Accepted);
    ASSERT_EQ(command.remove(QStringLiteral("op")), QString());
    EXPECT_EQ(server.verify(QStringLiteral("op"), "second"), Check::UnknownUser);
}

TEST(UserStore, DamagedLinesAreReportedAndKept)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    ASSERT_EQ(UserStore(path).setPassword(QStringLiteral("good"), "pw", Fast), QString());
    const QByteArray good = contents(path);
    const QByteArray damaged =
        "# a comment\r\n"
        "broken line\n"
        "eve:pbkdf2-sha256:1000:!!!:AAAA\n"
        "mal:md5:1000:AAAA:AAAA\n"
        "zero:pbkdf2-sha256:0:AAAAAAAAAAAAAAAAAAAAAA==:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";
    // A second line for a name it already has does not count.
    UserStore(path).setPassword(QStringLiteral("good"), "other", Fast);
    ASSERT_EQ(writeFileAtomically(path, damaged + good + contents(path), 0600), QString());
    UserStore store(path);
    EXPECT_EQ(store.verify(QStringLiteral("good"), "pw"), Check::Accepted);
    EXPECT_EQ(store.verify(QStringLiteral("good"), "other"), Check::WrongPassword);
    EXPECT_EQ(store.verify(QStringLiteral("eve"), "pw"), Check::UnknownUser);
    const QString problems = store.problems().join(QLatin1Char('\n'));
    for (const char *line : {"Line 2 ", "Line 3 ", "Line 4 ", "Line 5 "})
        EXPECT_TRUE(problems.contains(QLatin1String(line))) << problems.toStdString();
    EXPECT_EQ(store.problems().size(), 4);

    // Changing another user keeps every line it does not understand; setting a
    // damaged user's password mends its line.
    ASSERT_EQ(store.setPassword(QStringLiteral("new"), "pw", Fast), QString());
    ASSERT_EQ(store.setPassword(QStringLiteral("eve"), "pw", Fast), QString());
    const QByteArray after = contents(path);
    for (const char *kept : {"# a comment", "broken line\n", "mal:md5:1000:AAAA:AAAA\n", "zero:pbkdf2-sha256:0:"})
        EXPECT_TRUE(after.contains(kept)) << kept;
    EXPECT_EQ(store.verify(QStringLiteral("eve"), "pw"), Check::Accepted);
    EXPECT_EQ(store.problems().size(), 3);
}

TEST(UserStore, AnUnreadableFileIsReportedWithItsPathAndNotReplaced)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    ASSERT_TRUE(QDir().mkpath(path)); // a folder where the file should be
    UserStore store(path);
    EXPECT_EQ(store.verify(QStringLiteral("op"), "pw"), Check::Unreadable);
    ASSERT_EQ(store.problems().size(), 1);
    EXPECT_TRUE(store.problems().front().contains(path));
    EXPECT_TRUE(store.setPassword(QStringLiteral("op"), "pw", Fast).contains(path));
    EXPECT_TRUE(store.remove(QStringLiteral("op")).contains(path));
    EXPECT_TRUE(QFileInfo(path).isDir());
    // A users file below a regular file cannot be written either.
    const QString below = folder.file(QStringLiteral("plain")) + QStringLiteral("/users");
    folder.write(QStringLiteral("plain"), "x");
    EXPECT_TRUE(UserStore(below).setPassword(QStringLiteral("op"), "pw", Fast).contains(below));
}

TEST(UserStore, NamesThatCannotBeStoredAreRefused)
{
    for (const QString &bad : {QString(), QStringLiteral("a:b"), QStringLiteral("two\nlines"), QStringLiteral("tab\t"),
                               QStringLiteral("#admin"), QStringLiteral(" padded"), QStringLiteral("padded "),
                               QString(UserStore::MaxNameLength + 1, QLatin1Char('x'))})
        EXPECT_FALSE(UserStore::nameProblem(bad).isEmpty()) << bad.toStdString();
    for (const QString &good : {QStringLiteral("op"), QStringLiteral("Jürgen Müller"), QStringLiteral("a.b-c_d@e"),
                                QString(UserStore::MaxNameLength, QLatin1Char('x'))})
        EXPECT_EQ(UserStore::nameProblem(good), QString()) << good.toStdString();
}

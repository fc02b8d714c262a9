// The users file: salted hashes only, changes by another writer seen at the next
// check, damaged lines and unreadable paths reported and never lost.
#include "security/UserStore.h"
#include "TestSupport.h"
#include "common/SecureFiles.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Security;
using Check = UserStore::Check;

namespace {

constexpr int Fast = 1000; // iterations for tests; the file records each user's count

QByteArray contents(const QString &path)
{
    QByteArray bytes;
    Files::readFile(path, bytes);
    return bytes;
}

} // namespace

TEST(UserStore, StoresSaltedHashesAndChecksPasswords)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    EXPECT_EQ(path, folder.file("OPC-KV7.users"));
    UserStore store(path), other(path);                            // the server's, and a command's
    EXPECT_EQ(store.verify("anna", "secret"), Check::UnknownUser); // no file yet
    ASSERT_EQ(other.setPassword("anna", "s3cret: ok", Fast), QString());
    ASSERT_EQ(other.setPassword("Jürgen", "s3cret: ok", Fast), QString());
    EXPECT_EQ(store.verify("anna", "s3cret: ok"), Check::Accepted);
    EXPECT_EQ(store.verify("Jürgen", "s3cret: ok"), Check::Accepted);
    EXPECT_EQ(store.verify("anna", "s3cret: OK"), Check::WrongPassword);
    EXPECT_EQ(store.verify("Anna", "s3cret: ok"), Check::UnknownUser);

    const QByteArray text = contents(path);
    EXPECT_FALSE(text.contains("s3cret")) << text.constData();
    const QList<QByteArray> lines = text.split('\n');
    const auto salt = [&](const char *name) {
        for (const QByteArray &line : lines)
            if (line.startsWith(QByteArray(name) + ":pbkdf2-sha256:1000:"))
                return line.split(':')[3];
        return QByteArray();
    };
    EXPECT_NE(salt("anna"), salt("Jürgen")) << "each user has a salt of its own";
    EXPECT_FALSE(salt("anna").isEmpty());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ASSERT_EQ(other.setPassword("anna", "new one", Fast), QString());
    EXPECT_EQ(store.verify("anna", "s3cret: ok"), Check::WrongPassword);
    EXPECT_EQ(store.verify("anna", "new one"), Check::Accepted);
    ASSERT_EQ(other.remove("anna"), QString());
    EXPECT_EQ(store.verify("anna", "new one"), Check::UnknownUser);
    EXPECT_TRUE(other.remove("anna").contains(path));
    EXPECT_EQ(store.verify("Jürgen", "s3cret: ok"), Check::Accepted);
}

TEST(UserStore, DamagedLinesAreReportedAndKept)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    UserStore store(path);
    ASSERT_EQ(store.setPassword("good", "pw", Fast), QString());
    const QByteArray good = contents(path);
    ASSERT_EQ(store.setPassword("good", "other", Fast), QString()); // a second line for the name does not count
    const QByteArray damaged =
        "# a comment\r\n"
        "broken line\n"
        "eve:pbkdf2-sha256:1000:!!!:AAAA\n"
        "mal:md5:1000:AAAA:AAAA\n"
        "zero:pbkdf2-sha256:0:AAAAAAAAAAAAAAAAAAAAAA==:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";
    ASSERT_EQ(Files::writeFileAtomically(path, damaged + good + contents(path), 0600), QString());
    EXPECT_EQ(store.verify("good", "pw"), Check::Accepted);
    EXPECT_EQ(store.verify("good", "other"), Check::WrongPassword);
    EXPECT_EQ(store.verify("eve", "pw"), Check::UnknownUser);
    const QString problems = store.problems().join('\n');
    EXPECT_EQ(store.problems().size(), 4);
    for (const char *line : {"Line 2 ", "Line 3 ", "Line 4 ", "Line 5 "})
        EXPECT_TRUE(problems.contains(line)) << problems.toStdString();

    // Changing another user keeps every line it does not understand; setting a
    // damaged user's password mends its line.
    ASSERT_EQ(store.setPassword("new", "pw", Fast), QString());
    ASSERT_EQ(store.setPassword("eve", "pw", Fast), QString());
    const QByteArray after = contents(path);
    for (const char *kept : {"# a comment", "broken line\n", "mal:md5:1000:AAAA:AAAA\n", "zero:pbkdf2-sha256:0:"})
        EXPECT_TRUE(after.contains(kept)) << kept;
    EXPECT_EQ(store.verify("eve", "pw"), Check::Accepted);
    EXPECT_EQ(store.problems().size(), 3);
}

TEST(UserStore, AnUnreadableFileIsReportedWithItsPathAndNotReplaced)
{
    TempAppFolder folder;
    const QString path = usersFilePath(folder.path());
    ASSERT_TRUE(QDir().mkpath(path)); // a folder where the file should be
    UserStore store(path);
    EXPECT_EQ(store.verify("op", "pw"), Check::Unreadable);
    ASSERT_EQ(store.problems().size(), 1);
    EXPECT_TRUE(store.problems().front().contains(path));
    EXPECT_TRUE(store.setPassword("op", "pw", Fast).contains(path));
    EXPECT_TRUE(store.remove("op").contains(path));
    EXPECT_TRUE(QFileInfo(path).isDir());
    folder.write("plain", "x"); // and a users file below a regular file
    EXPECT_TRUE(UserStore(folder.file("plain/users")).setPassword("op", "pw", Fast).contains(folder.file("plain")));
}

TEST(UserStore, NamesThatCannotBeStoredAreRefused)
{
    for (const QString &bad : QStringList{"", "a:b", "two\nlines", "tab\t", "#admin", " padded", "padded ",
                                          QString(UserStore::MaxNameLength + 1, 'x')})
        EXPECT_FALSE(UserStore::nameProblem(bad).isEmpty()) << bad.toStdString();
    for (const QString &good : QStringList{"op", "Jürgen Müller", "a.b-c_d@e", QString(UserStore::MaxNameLength, 'x')})
        EXPECT_EQ(UserStore::nameProblem(good), QString()) << good.toStdString();
}

#pragma once
#include "common/FileStamp.h"
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <map>

// The users of OPC UA UserName tokens, in a text file of the application folder,
// one line a user:
//   name:pbkdf2-sha256:iterations:salt:hash
// with salt and hash in base64, the hash being PBKDF2-HMAC-SHA256 of the UTF-8
// password. Lines that start with '#' and blank lines are comments. The file never
// holds a password; it is written 0600 and replaced atomically, so the user
// commands can change it while a server reads it.
namespace Security {

class UserStore {
public:
    // The UA side answers every refusal with BadUserAccessDenied, so that a client
    // cannot tell a wrong name from a wrong password; the kinds are for the log.
    enum class Check { Accepted, UnknownUser, WrongPassword, Unreadable };
    static constexpr int DefaultIterations = 200000;
    static constexpr int MaxNameLength = 64;

    explicit UserStore(QString path);
    const QString &path() const { return path_; }

    // Reads the file again first when it changed since the last read.
    Check verify(const QString &name, QByteArrayView password);
    bool contains(const QString &name);
    // What the last read found wrong (the file unreadable, damaged lines); empty
    // when all is well.
    const QStringList &problems() const { return problems_; }

    // Both change the file as it is on disk now and return an empty string or a
    // message. Lines they do not understand are kept as they are.
    QString setPassword(const QString &name, QByteArrayView password, int iterations = DefaultIterations);
    QString remove(const QString &name);

    // Why a text cannot be a user name; empty when it can.
    static QString nameProblem(const QString &name);

private:
    struct Entry {
        int iterations;
        QByteArray salt;
        QByteArray hash;
    };
    void refresh();
    QString rewrite(const QString &name, const QByteArray &newLine);

    QString path_;
    FileStamp stamp_; // of the copy in users_; never settled before the first read
    std::map<QString, Entry> users_;
    QStringList problems_;
    bool readable_ = true;
};

// The users file of an application folder.
QString usersFilePath(const QString &applicationFolder);

} // namespace Security

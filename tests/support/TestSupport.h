#pragma once
#include "dialogs/Dialogs.h"
#include "log/Log.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

// Texts in failure messages as text, not as arrays of characters.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }

// A fresh application folder for one test: OPC_KV7_HOME points at it (and
// XDG_CONFIG_HOME at a folder inside it) for the test's lifetime.
class TempAppFolder {
public:
    TempAppFolder();
    ~TempAppFolder();
    QString path() const { return dir_.path(); }
    QString file(const QString &name) const { return dir_.path() + '/' + name; }
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    void installLanguageFile() const; // the shipped one

private:
    QTemporaryDir dir_;
    std::pair<const char *, std::optional<QByteArray>> saved_[2] = {{"OPC_KV7_HOME", {}}, {"XDG_CONFIG_HOME", {}}};
};

// Answers every dialog during a test and records what was asked; notices the code
// under test raises are recorded as the dialogs they become.
class DialogRecorder {
public:
    explicit DialogRecorder(std::function<Dialogs::Answer(const Dialogs::Request &)> answer = {});
    ~DialogRecorder();
    const std::vector<Dialogs::Request> &requests() const { return requests_; }
    QStringList texts() const;

private:
    std::vector<Dialogs::Request> requests_;
    Dialogs::Handler previous_;
    Log::NoticeListener previousNotices_;
};

// Every line that reaches the trace sink while it lives.
struct TraceRecorder {
    TraceRecorder() : previous(Log::setListener([this](const QString &line) { lines << line; })) {}
    ~TraceRecorder() { Log::setListener(std::move(previous)); }
    QStringList lines;
    Log::Listener previous;
};

// Runs the event loop until pred() holds or the time runs out; returns pred().
bool waitFor(const std::function<bool()> &pred, int timeoutMs = 5000);
// Handles the events already pending, a bounded number of rounds, without waiting
// for new ones: what has not arrived by then is not coming from this process.
void settle();
// The number of the RuntimeError that f raises, 0 when it raises none.
int errorOf(const std::function<void()> &f);
// A table written as "a=1|b=2": its pairs, each split at its last "=".
inline std::vector<std::pair<QString, QString>> pairs(const QString &spec, QChar separator = '|')
{
    std::vector<std::pair<QString, QString>> out;
    for (const QString &pair : spec.split(separator))
        out.emplace_back(pair.left(pair.lastIndexOf('=')), pair.mid(pair.lastIndexOf('=') + 1));
    return out;
}
// Where the built programs are, and a file of the source tree.
QString binDir();
QString sourceFile(const QString &relative);
// A JSON file of the source tree (test cases that are plain data); one that cannot be read or parsed fails the test.
QJsonObject sourceJson(const QString &relative);

// A pseudo-terminal in raw mode at 4800 baud: the test writes on the master side
// what a panel would send; the code under test opens the slave path as its port.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    const QString &slavePath() const { return slavePath_; }
    int slaveFd() const { return slave_; }
    bool write(const QByteArray &bytes); // all of it, at once
    int waitingOnSlave() const;          // queued on the slave side, not read yet
    QByteArray readMaster();             // what the slave side sent, as far as it is there

private:
    int master_ = -1;
    int slave_ = -1; // held open so the line never hangs up between openings
    QString slavePath_;
};

#pragma once
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include "dialogs/Dialogs.h"
#include "log/Log.h"

#include <functional>
#include <vector>

// A fresh application folder for one test: OPC_KV7_HOME points at it (and
// XDG_CONFIG_HOME at a folder inside it) for the test's lifetime.
class TempAppFolder {
public:
    TempAppFolder();
    ~TempAppFolder();
    QString path() const { return dir_.path(); }
    QString file(const QString &name) const { return dir_.path() + QLatin1Char('/') + name; }
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;

private:
    QTemporaryDir dir_;
    QByteArray oldHome_, oldXdg_;
    bool hadHome_, hadXdg_;
};

// Answers every dialog during a test and records what was asked.
class DialogRecorder {
public:
    explicit DialogRecorder(std::function<Dialogs::Answer(const Dialogs::Request &)> answer = {});
    ~DialogRecorder();
    const std::vector<Dialogs::Request> &requests() const { return requests_; }

private:
    std::vector<Dialogs::Request> requests_;
    std::function<Dialogs::Answer(const Dialogs::Request &)> answer_;
    Dialogs::Handler previous_;
    Log::NoticeListener previousNotices_;
};

// Runs the event loop until pred() holds or the time runs out; returns pred().
bool waitFor(const std::function<bool()> &pred, int timeoutMs = 5000);

// The number of the RuntimeError that f raises, 0 when it raises none.
int errorOf(const std::function<void()> &f);

// Where the built binaries are (build/bin).
QString binDir();

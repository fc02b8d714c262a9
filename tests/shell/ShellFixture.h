#pragma once
#include "TestSupport.h"
#include "config/Ini.h"
#include "ui/fMainOPC.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <pty.h>
#include <unistd.h>

// INI text as the program keeps it on disk: CR LF line ends.
inline QByteArray crlf(const QString &text)
{
    QByteArray bytes = text.toLatin1();
    bytes.replace("\r\n", "\n");
    bytes.replace("\n", "\r\n");
    return bytes;
}

inline QString sourceFile(const QString &relative)
{
    QString dir = qEnvironmentVariable("KV7_SOURCE_DIR");
    if (dir.isEmpty()) // run by hand: the tree this file belongs to
        dir = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../..");
    return dir + QLatin1Char('/') + relative;
}

// The shipped language file, copied into a test's application folder.
inline void installLanguageFile(const TempAppFolder &folder)
{
    QFile f(sourceFile(QStringLiteral("data/OPC-KV7.LNG")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(f.fileName());
    folder.write(QStringLiteral("OPC-KV7.LNG"), f.readAll());
}

// A pseudo-terminal: the test writes on the master, the server reads the slave.
class Pty {
public:
    Pty()
    {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            path_ = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;
    bool valid() const { return !path_.isEmpty(); }
    const QString &path() const { return path_; }
    bool write(const QByteArray &bytes) const
    {
        return ::write(master_, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

private:
    int master_ = -1, slave_ = -1;
    QString path_;
};

// One server window on the test's own application folder, every dialog answered.
struct Server {
    std::unique_ptr<fMainOPC> window = std::make_unique<fMainOPC>();
    MainOPC &logic() { return window->logic(); }
    OPCServer &opc() { return window->logic().server(); }
    // Tests serve OPC UA on a free port, so they never meet another server's.
    MainOPC::LoadResult load(const QStringList &arguments = {QStringLiteral("opc-kv7")})
    {
        if (Ini::IniGetString(QStringLiteral("OPC-KV7"), QStringLiteral("UaPort"), QString()).isEmpty())
            Ini::IniPutString(QStringLiteral("OPC-KV7"), QStringLiteral("UaPort"), QStringLiteral("0"));
        return window->logic().Form_Load(arguments);
    }
    Variant value(const QString &id) const
    {
        const OPCItem *item = window->logic().server().Tags().find(id);
        return item ? item->Value() : Variant();
    }
    bool traceHas(const QString &line) const
    {
        return window->tracePane()->toPlainText().split(QLatin1Char('\n')).contains(line);
    }
    int traceIndex(const QString &line) const
    {
        return int(window->tracePane()->toPlainText().split(QLatin1Char('\n')).indexOf(line));
    }
};

#include "config/ConfigEditor.h"
#include "common/AppInfo.h"
#include "common/FileRead.h"
#include "common/Val.h"
#include "config/Ini.h"
#include "config/ProfileFile.h"
#include "lang/LangText.h"
#include "log/Log.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString &section() { return AppInfo::Protocol.name; }

QString slotKey(int slot, const char *suffix) { return QStringLiteral("C%1%2").arg(slot).arg(QLatin1String(suffix)); }

// The protocol file as it stands; false when it exists but cannot be read.
bool readProtocolFile(Profile::ProfileText &text)
{
    const QString path = Ini::protocolIniPath(section());
    QByteArray bytes;
    if (QFileInfo::exists(path) && !readWholeFile(path, bytes))
        return false;
    text = Profile::ProfileText(std::move(bytes));
    return true;
}

} // namespace

void ConfigEditor::LoadEditor()
{
    Profile::ProfileText text;
    readProtocolFile(text); // an unreadable file shows the defaults; saving over it is refused
    timeout_ = QString::number(text.getInt(section(), QStringLiteral("TimeoutError"), MinTimeout));
    autoSession_ = text.getInt(section(), QStringLiteral("AutoSesion"), 0) != 0;
    for (int n = 1; n <= Slots; ++n) {
        Slot &s = slots_[std::size_t(n - 1)];
        s.port = QString::number(text.getInt(section(), slotKey(n, "-Com"), n));
        // Read whole: a name the usual read would cut must show as it is.
        s.name = text.getString(section(), slotKey(n, "-Nm"), QString(), std::numeric_limits<int>::max());
        s.inUse = text.getInt(section(), slotKey(n, "-On"), 0) != 0;
    }
    current_ = 1;
    Dirty = false;
}

void ConfigEditor::selectSlot(int slot)
{
    if (slot >= 1 && slot <= Slots)
        current_ = slot;
    Dirty = true;
}

void ConfigEditor::setInUse(int slot, bool inUse)
{
    if (slot < 1 || slot > Slots)
        return;
    slots_[std::size_t(slot - 1)].inUse = inUse;
    Dirty = true;
}

void ConfigEditor::choosePort(int entry)
{
    if (entry < 0 || entry >= Slots)
        return;
    current().port = QString::number(entry + 1);
    Dirty = true;
}

void ConfigEditor::editName(const QString &text)
{
    current().name = text;
    Dirty = true;
}

void ConfigEditor::leaveName() { current().name = current().name.trimmed(); }

void ConfigEditor::editTimeout(const QString &text)
{
    timeout_ = text;
    Dirty = true;
}

void ConfigEditor::leaveTimeout()
{
    // The server takes the text with Val and rounds it; writing that number keeps
    // the editor and the server reading the same value ("1e2" or "150.7" would not).
    const double value = Val(timeout_);
    const double limited = std::isnan(value) ? MinTimeout : std::clamp<double>(value, MinTimeout, MaxTimeout);
    timeout_ = QString::number(int(RoundHalfEven(limited)));
}

void ConfigEditor::setAutoSession(bool on)
{
    autoSession_ = on;
    Dirty = true;
}

ConfigEditor::Problem ConfigEditor::CheckBeforeSave()
{
    auto fail = [this](Problem::Kind kind, int slot, const char *key, const char *designed, const QString &detail) {
        if (slot)
            current_ = slot;
        return Problem{kind, slot, LangTextOr(QLatin1String(key), QLatin1String(designed)) + detail};
    };
    if (std::none_of(slots_.begin(), slots_.end(), [](const Slot &s) { return s.inUse; }))
        return fail(Problem::NoSlotInUse, 0, "SelCen", "Check at least one panel.", QString());
    for (int n = 1; n <= Slots; ++n) {
        const Slot &later = slot(n);
        if (!later.inUse)
            continue;
        for (int m = 1; m < n; ++m)
            if (slot(m).inUse && slot(m).port.toInt() == later.port.toInt())
                return fail(Problem::PortTwice, n, "ComDup", "Two panels use the same port: COM ", later.port);
    }
    for (int n = 1; n <= Slots; ++n)
        if (!fitsFile(slot(n).name.trimmed()))
            return fail(Problem::NameDoesNotFit, n, "NombreNoCabe",
                        "The name does not fit the configuration file (up to 254 Western European characters, no "
                        "quotes around it). Panel ",
                        QString::number(n));
    return {};
}

bool ConfigEditor::SaveEditor()
{
    leaveTimeout();
    for (Slot &s : slots_)
        s.name = s.name.trimmed();
    // All keys in one replacement of the file: a failure part way must not leave
    // a table with a slot in use and the port of its former setting.
    std::vector<Profile::Entry> entries{
        {section(), QStringLiteral("TimeoutError"), timeout_},
        {section(), QStringLiteral("AutoSesion"), autoSession_ ? QStringLiteral("1") : QStringLiteral("0")}};
    for (int n = 1; n <= Slots; ++n) {
        entries.push_back({section(), slotKey(n, "-On"), slot(n).inUse ? QStringLiteral("1") : QStringLiteral("0")});
        entries.push_back({section(), slotKey(n, "-Com"), slot(n).port});
        entries.push_back({section(), slotKey(n, "-Nm"), slot(n).name});
    }
    if (!Ini::ProtocolIniPutStrings(section(), entries))
        return false;
    Dirty = false;
    return true;
}

QString ConfigEditor::entryText(int n) const { return QStringLiteral("Panel %1 (COM %2)").arg(n).arg(slot(n).port); }

QStringList ConfigEditor::portEntries()
{
    QStringList entries;
    for (int n = 1; n <= Slots; ++n)
        entries << QStringLiteral("COM %1").arg(n);
    return entries;
}

int ConfigEditor::portEntry() const
{
    bool ok = false;
    const int port = slot(current_).port.toInt(&ok);
    return ok && port >= 1 && port <= Slots ? port - 1 : -1;
}

bool ConfigEditor::fitsFile(const QString &value)
{
    Profile::ProfileText probe;
    probe.setString(QStringLiteral("S"), QStringLiteral("K"), value);
    return probe.getString(QStringLiteral("S"), QStringLiteral("K"), QString()) == value;
}

// The INI engine on arbitrary bytes: every section and key is read, one value is
// written, and the write must change that value and nothing else.
#include "FuzzCheck.h"
#include "common/Cp1252.h"
#include "config/ProfileFile.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    Profile::ProfileText text(bytes);
    check(text.bytes() == bytes);
    struct Entry {
        QString section, key, text;
        std::int32_t number;
    };
    std::vector<Entry> before;
    const QStringList sections = text.sections();
    for (const QString &section : sections)
        for (const QString &key : text.keys(section)) {
            before.push_back({section, key, text.getString(section, key, "default"), text.getInt(section, key, -7)});
            check(before.back().text.size() < Profile::BufferSize && !before.back().text.contains(QChar(u'\0')));
        }

    // The input picks the target and the value: an existing key, a new key in an
    // existing section, or a new section.
    const std::uint8_t pick = size ? data[0] : 0;
    QString section = "Nueva sección", key = "C1-Nm";
    if (!before.empty() && pick % 3 != 2) {
        const Entry &target = before[(pick / 3) % before.size()];
        section = target.section;
        key = pick % 3 == 0 ? target.key : key;
    }
    static const QString alphabet = "abcXYZ019ñÑé€-_.";
    QString value;
    for (std::size_t i = size > 300 ? size - 300 : 0; i < size; ++i)
        value += alphabet[data[i] % alphabet.size()];
    text.setString(section, key, value);
    check(text.getString(section, key, "default") == value.left(Profile::BufferSize - 1));
    check(text.rawValue(section, key) == value);
    for (const Entry &e : before)
        if (QString::compare(e.section, section, Qt::CaseInsensitive) ||
            QString::compare(e.key, key, Qt::CaseInsensitive))
            check(text.getString(e.section, e.key, "default") == e.text &&
                  text.getInt(e.section, e.key, -7) == e.number);
    const QStringList after = text.sections();
    check(after.size() == sections.size() || (after.size() == sections.size() + 1 && after.back() == section));
    // The same bytes read again give the same view.
    const Profile::ProfileText reread(text.bytes());
    check(reread.sections() == after &&
          reread.getString(section, key, QString()) == value.left(Profile::BufferSize - 1));
    Profile::parseProfileInt(Cp1252::decode(bytes.left(64)));
    return 0;
}

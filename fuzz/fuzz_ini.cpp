// The INI engine on arbitrary bytes: every section and key is read, one value is
// written, and the write must change that value and nothing else.
#include "common/Cp1252.h"
#include "config/ProfileFile.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Entry {
    QString section, key, text;
    std::int32_t number;
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool sameName(const QString &a, const QString &b) { return QString::compare(a, b, Qt::CaseInsensitive) == 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    Profile::ProfileText text(bytes);
    check(text.bytes() == bytes);

    std::vector<Entry> before;
    const QStringList sections = text.sections();
    for (const QString &section : sections)
        for (const QString &key : text.keys(section)) {
            Entry e{section, key, text.getString(section, key, QStringLiteral("default")),
                    text.getInt(section, key, -7)};
            check(e.text.size() < Profile::BufferSize);
            check(e.text.indexOf(QChar(u'\0')) < 0);
            before.push_back(e);
        }

    // The target and the value come from the input itself: an existing key, a new
    // key in an existing section, or a new section.
    const std::uint8_t pick = size ? data[0] : 0;
    QString section = QStringLiteral("Nueva sección");
    QString key = QStringLiteral("C1-Nm");
    if (!before.empty() && pick % 3 != 2) {
        const Entry &target = before[(pick / 3) % before.size()];
        section = target.section;
        if (pick % 3 == 0)
            key = target.key;
    }
    static const QString alphabet = QStringLiteral("abcXYZ019ñÑé€-_.");
    QString value;
    for (std::size_t i = size > 300 ? size - 300 : 0; i < size; ++i)
        value += alphabet[data[i] % alphabet.size()];

    text.setString(section, key, value);
    check(text.getString(section, key, QStringLiteral("default")) == value.left(Profile::BufferSize - 1));
    check(text.rawValue(section, key) == value);
    for (const Entry &e : before) {
        if (sameName(e.section, section) && sameName(e.key, key))
            continue;
        check(text.getString(e.section, e.key, QStringLiteral("default")) == e.text);
        check(text.getInt(e.section, e.key, -7) == e.number);
    }
    const QStringList after = text.sections();
    check(after.size() == sections.size() || (after.size() == sections.size() + 1 && after.back() == section));

    // The same bytes read again give the same view.
    const Profile::ProfileText reread(text.bytes());
    check(reread.sections() == after);
    check(reread.getString(section, key, QString()) == value.left(Profile::BufferSize - 1));
    Profile::parseProfileInt(Cp1252::decode(bytes.left(64)));
    return 0;
}

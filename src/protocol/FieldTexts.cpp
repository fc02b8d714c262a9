#include "protocol/FieldTexts.h"

char FieldTexts::upper(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z')
        return char(u - 0x20);
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
        return char(u - 0x20);
    return c;
}

QString FieldTexts::make(QByteArrayView field, bool upperCase)
{
    qsizetype begin = 0, end = field.size();
    while (begin < end && field[begin] == ' ')
        ++begin;
    while (end > begin && field[end - 1] == ' ')
        --end;
    QString text(end - begin, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = begin; i < end; ++i)
        *out++ = QChar(static_cast<unsigned char>(upperCase ? upper(field[i]) : field[i]));
    return text;
}

QString FieldTexts::lookup(QByteArrayView field, bool upperCase)
{
    if (field.size() > MaxCachedLength)
        return make(field, upperCase);
    // Bytes, length and form packed into the key; the top bit marks a used entry.
    std::uint64_t key =
        (std::uint64_t(1) << 63) | (std::uint64_t(upperCase) << 62) | (std::uint64_t(field.size()) << 56);
    for (qsizetype i = 0; i < field.size(); ++i)
        key |= std::uint64_t(static_cast<unsigned char>(field[i])) << (8 * i);
    Entry &entry = entries_[std::size_t((key * 0x9E3779B97F4A7C15ull) >> 58)];
    if (entry.key != key) {
        entry.text = make(field, upperCase);
        entry.key = key;
    }
    return entry.text;
}

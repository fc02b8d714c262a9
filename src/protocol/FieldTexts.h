#pragma once
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>

// The published form of a short text field: blanks trimmed at both ends, and for
// states upper-cased. Panels repeat the same few texts, so results are kept in a
// small direct-mapped cache and a frame costs no string allocation.
class FieldTexts {
public:
    static constexpr int MaxCachedLength = 7;

    QString trimmed(QByteArrayView field) { return lookup(field, false); }
    QString trimmedUpper(QByteArrayView field) { return lookup(field, true); }

    // Upper case of one Latin-1 character that stays within Latin-1 (ß, µ and ÿ,
    // whose capitals lie outside it, are kept), so a text keeps one character per byte.
    static char upper(char c);
    static QString make(QByteArrayView field, bool upperCase);

private:
    QString lookup(QByteArrayView field, bool upperCase);

    struct Entry {
        std::uint64_t key = 0; // 0: empty
        QString text;
    };
    std::array<Entry, 64> entries_{};
};

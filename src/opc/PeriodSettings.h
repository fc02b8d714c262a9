#pragma once
#include <QString>
#include <cstdint>
#include <optional>

// A timing setting of the toolkit that the operator edits in a small dialog:
// its fixed texts and the range a new value must lie in.
struct PeriodSetting {
    QString caption;
    QString explanation;
    std::int32_t low;
    std::int32_t high;

    // The field's text as a new value: a whole decimal number (blanks around it
    // allowed) within the range, both ends included; none for anything else.
    std::optional<std::int32_t> accept(const QString &text) const;
    // "Entrar un valor entre <low> y <high>."
    QString rangeMessage() const;

    static const QString RangeTitle;
    // StatisticsPeriod, the dialog frmEditSP: 100 to 60000 ms.
    static const PeriodSetting StatisticsPeriod;
    // MinUpdatePeriod, the dialog frmEditMGUP: 10 to 60000 ms.
    static const PeriodSetting MinUpdatePeriod;
};

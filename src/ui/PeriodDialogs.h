#pragma once
#include "opc/PeriodSettings.h"

#include <QDialog>
#include <cstdint>

class QLineEdit;

// A dialog with one period field, its fixed texts and its range check. The value
// survives the dialog: the caller reads it after the dialog has closed.
class PeriodDialog : public QDialog {
    Q_OBJECT
public:
    PeriodDialog(const PeriodSetting &setting, const QString &fieldName, QWidget *parent);

    std::int32_t value() const { return value_; }
    // The value the field shows.
    void setValue(std::int32_t value);
    // OK: a whole number in range becomes the value and closes the dialog;
    // anything else shows the range message and the dialog stays.
    void cmdOK_Click();

private:
    const PeriodSetting &setting_;
    std::int32_t value_ = 0;
    QLineEdit *field_;
};

// The statistics sample period (the toolkit's StatisticsPeriod).
class frmEditSP : public PeriodDialog {
    Q_OBJECT
public:
    explicit frmEditSP(QWidget *parent = nullptr);
    std::int32_t SamplePeriod() const { return value(); }
    void setSamplePeriod(std::int32_t ms) { setValue(ms); }
};

// The least update period of new client groups (the toolkit's MinUpdatePeriod).
class frmEditMGUP : public PeriodDialog {
    Q_OBJECT
public:
    explicit frmEditMGUP(QWidget *parent = nullptr);
    std::int32_t GroupPeriod() const { return value(); }
    void setGroupPeriod(std::int32_t ms) { setValue(ms); }
};

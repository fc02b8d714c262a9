#include "ui/PeriodDialogs.h"
#include "dialogs/MsgBox.h"
#include "lang/LangText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PeriodDialog::PeriodDialog(const PeriodSetting &setting, const QString &fieldName, QWidget *parent)
    : QDialog(parent), setting_(setting)
{
    setModal(true);
    setWindowTitle(setting.caption);
    if (parent)
        setWindowIcon(parent->windowIcon());
    auto *label = new QLabel(setting.explanation, this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    field_ = new QLineEdit(this);
    field_->setObjectName(fieldName);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(field_);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &PeriodDialog::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void PeriodDialog::setValue(std::int32_t value)
{
    value_ = value;
    field_->setText(QString::number(value));
}

void PeriodDialog::cmdOK_Click()
{
    if (const auto accepted = setting_.accept(field_->text())) {
        value_ = *accepted;
        accept();
        return;
    }
    ShowMessage(setting_.rangeMessage(), PeriodSetting::RangeTitle, fMsgBox::Exclamation, 1, 1,
                LangTextOr(QStringLiteral("&Aceptar"), QStringLiteral("&Aceptar")));
}

frmEditSP::frmEditSP(QWidget *parent)
    : PeriodDialog(PeriodSetting::StatisticsPeriod, QStringLiteral("txtSamplePeriod"), parent)
{
    setObjectName(QStringLiteral("frmEditSP"));
}

frmEditMGUP::frmEditMGUP(QWidget *parent)
    : PeriodDialog(PeriodSetting::MinUpdatePeriod, QStringLiteral("txtGroupPeriod"), parent)
{
    setObjectName(QStringLiteral("frmEditMGUP"));
}

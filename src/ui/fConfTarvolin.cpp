#include "ui/fConfTarvolin.h"
#include "common/AppInfo.h"
#include "dialogs/MsgBox.h"
#include "lang/LangText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QString text(const char *key, const char *designed) { return LangTextOr(QLatin1String(key), QLatin1String(designed)); }

template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

fConfTarvolin::fConfTarvolin(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fConfTarvolin"));
    setModal(true);
    auto *tabs = named(new QTabWidget(this), "TabStrip1");
    auto *page = named(new QWidget(tabs), "frmTab(1)");
    lstMaquina_ = named(new QListWidget(page), "lstMaquina");
    cboCOM_ = named(new QComboBox(page), "cboCOM");
    txtMaquina_ = named(new QLineEdit(page), "txtMaquina(0)");
    txtTimeout_ = named(new QLineEdit(page), "txtTimeout");
    chkAutoSesion_ = named(new QCheckBox(page), "chkAutoSesion");
    auto *form = new QFormLayout;
    form->addRow(named(new QLabel(page), "lbl(2)"), cboCOM_);
    form->addRow(named(new QLabel(page), "lbl(3)"), txtMaquina_);
    form->addRow(named(new QLabel(page), "lblTimeout"), txtTimeout_);
    form->addRow(chkAutoSesion_);
    auto *pageLayout = new QHBoxLayout(page);
    pageLayout->addWidget(lstMaquina_, 1);
    pageLayout->addLayout(form, 1);
    tabs->addTab(page, QString());

    auto *cmdAceptar = named(new QPushButton(this), "cmdAceptar");
    auto *cmdCancelar = named(new QPushButton(this), "cmdCancelar");
    for (QPushButton *b : {cmdAceptar, cmdCancelar})
        b->setAutoDefault(false);
    lblHelp_ = named(new QLabel(this), "lblHelp");
    lblHelp_->setWordWrap(true);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblHelp_, 1);
    bottom->addWidget(cmdAceptar);
    bottom->addWidget(cmdCancelar);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addLayout(bottom);
    setMinimumSize(360, 300); // the design's least 5400 x 4510 twips

    editor_.LoadEditor();
    filling_ = true;
    cboCOM_->addItems(ConfigEditor::portEntries());
    txtTimeout_->setText(editor_.timeoutText());
    chkAutoSesion_->setChecked(editor_.autoSession());
    for (int n = 1; n <= ConfigEditor::Slots; ++n) {
        auto *entry = new QListWidgetItem(editor_.entryText(n), lstMaquina_);
        entry->setFlags(entry->flags() | Qt::ItemIsUserCheckable);
        entry->setCheckState(editor_.slot(n).inUse ? Qt::Checked : Qt::Unchecked);
    }
    lstMaquina_->setCurrentRow(0);
    filling_ = false;
    showSlot();
    ApplyEditorTexts();

    connect(lstMaquina_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (filling_ || row < 0)
            return;
        editor_.selectSlot(row + 1);
        showSlot();
    });
    connect(lstMaquina_, &QListWidget::itemChanged, this, [this](QListWidgetItem *entry) {
        if (!filling_)
            editor_.setInUse(lstMaquina_->row(entry) + 1, entry->checkState() == Qt::Checked);
    });
    connect(cboCOM_, &QComboBox::activated, this, [this](int entry) {
        editor_.choosePort(entry);
        refreshEntry(editor_.CurrentSlot());
    });
    connect(txtMaquina_, &QLineEdit::textEdited, this, [this](const QString &t) { editor_.editName(t); });
    connect(txtMaquina_, &QLineEdit::editingFinished, this, [this] {
        editor_.leaveName();
        txtMaquina_->setText(editor_.slot(editor_.CurrentSlot()).name);
    });
    connect(txtTimeout_, &QLineEdit::textEdited, this, [this](const QString &t) { editor_.editTimeout(t); });
    connect(txtTimeout_, &QLineEdit::editingFinished, this, [this] {
        editor_.leaveTimeout();
        txtTimeout_->setText(editor_.timeoutText());
    });
    connect(chkAutoSesion_, &QCheckBox::clicked, this, [this](bool on) { editor_.setAutoSession(on); });
    connect(cmdAceptar, &QPushButton::clicked, this, &fConfTarvolin::cmdAceptar_Click);
    connect(cmdCancelar, &QPushButton::clicked, this, &fConfTarvolin::reject);

    for (QWidget *w : std::initializer_list<QWidget *>{lstMaquina_, cboCOM_, txtMaquina_, txtTimeout_, chkAutoSesion_})
        w->installEventFilter(this);
    lstMaquina_->setFocus();
}

void fConfTarvolin::ApplyEditorTexts()
{
    setWindowTitle(QStringLiteral("OPC Server - ") + AppInfo::Protocol.name + QStringLiteral(" - Max.") +
                   text("Centrales", "Panels") + QLatin1Char(' ') + QString::number(ConfigEditor::Slots));
    findChild<QTabWidget *>(QStringLiteral("TabStrip1"))->setTabText(0, text("Conexion", "Connection"));
    findChild<QLabel *>(QStringLiteral("lbl(2)"))->setText(text("Centrales", "Panels"));
    findChild<QLabel *>(QStringLiteral("lbl(3)"))->setText(text("Nombre", "Name"));
    findChild<QLabel *>(QStringLiteral("lblTimeout"))->setText(text("TmError", "Time-out"));
    chkAutoSesion_->setText(text("chkAutoSesion", "Automatic session"));
    findChild<QPushButton *>(QStringLiteral("cmdAceptar"))->setText(text("&Aceptar", "&Aceptar"));
    findChild<QPushButton *>(QStringLiteral("cmdCancelar"))->setText(text("&Salir", "&Salir"));
    helpTexts_ = {
        {lstMaquina_, text("MarcarDispoAUtilizar", "")},
        {cboCOM_, text("SelCom", "")},
        {txtMaquina_, text("NombreDescriptivo", "")},
        {txtTimeout_, text("TmError", "") + QStringLiteral(" 100..200 s")},
        {chkAutoSesion_, text("chAutSesDes", "")},
    };
}

void fConfTarvolin::showSlot()
{
    filling_ = true;
    const int slot = editor_.CurrentSlot();
    lstMaquina_->setCurrentRow(slot - 1);
    cboCOM_->setCurrentIndex(editor_.portEntry());
    txtMaquina_->setText(editor_.slot(slot).name);
    filling_ = false;
}

void fConfTarvolin::refreshEntry(int slot)
{
    filling_ = true;
    lstMaquina_->item(slot - 1)->setText(editor_.entryText(slot));
    filling_ = false;
}

bool fConfTarvolin::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        lblHelp_->setText(helpTexts_.value(watched));
    } else if (event->type() == QEvent::KeyPress) {
        // Enter moves between the port and the name box and goes no further.
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (watched == cboCOM_ || watched == txtMaquina_)) {
            (watched == cboCOM_ ? static_cast<QWidget *>(txtMaquina_) : cboCOM_)->setFocus();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void fConfTarvolin::cmdAceptar_Click()
{
    const QString title = AppInfo::Title;
    const ConfigEditor::Problem problem = editor_.CheckBeforeSave();
    if (problem.kind != ConfigEditor::Problem::None) {
        if (problem.slot)
            showSlot();
        ShowMessage(problem.message, title, fMsgBox::Exclamation, 1, 1, text("&Aceptar", "&Aceptar"));
        return;
    }
    if (ShowMessage(text("AskSave", "Save the changes?"), title, fMsgBox::Question, 2, 2, text("&Aceptar", "&Aceptar"),
                    text("&Cancelar", "&Cancelar")) == 2)
        return;
    if (editor_.SaveEditor())
        accept();
}

void fConfTarvolin::reject()
{
    if (editor_.needsLeaveConfirmation(exitForced && exitForced()) &&
        ShowMessage(text("EstaSeguroDeSalirSinGrabar", "Leave without saving?"), AppInfo::Title, fMsgBox::Question, 2,
                    2, text("Si", "Si"), text("No", "No")) != 1)
        return;
    QDialog::reject();
}

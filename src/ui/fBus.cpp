#include "ui/fBus.h"
#include "lang/LangText.h"
#include "monitor/FrameMonitor.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

fBus::fBus(FrameMonitor &monitor, QWidget *parent) : QWidget(parent, Qt::Window), monitor_(monitor)
{
    setObjectName(QStringLiteral("fBus"));
    setAttribute(Qt::WA_DeleteOnClose);
    if (!monitor_.isLoaded())
        monitor_.load();
    setWindowTitle(LangTextOr(QStringLiteral("WBus"), QStringLiteral("Communication viewer")));

    lstTramas_ = new QListView(this);
    lstTramas_->setObjectName(QStringLiteral("lstTramas"));
    lstTramas_->setModel(&monitor_);
    lstTramas_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lstTramas_->setUniformItemSizes(true);
    lstTramas_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstTramas_->setToolTip(
        LangTextOr(QStringLiteral("lstTramasTT"),
                   QStringLiteral("Double-click a line to copy it, or beside the list to copy all")));

    auto check = [this](const char *name, const char *key, const char *designed, bool on) {
        auto *box = new QCheckBox(LangTextOr(QLatin1String(key), QLatin1String(designed)), this);
        box->setObjectName(QLatin1String(name));
        box->setChecked(on);
        return box;
    };
    chkBus_ = check("chkBus", "chkBus", "View bus", monitor_.BusMonitorOn());
    chkUltimo_ = check("chkUltimo", "chkUltimo", "View last", monitor_.FollowLast());
    chkLog_ = check("chkLog", "chkLog", "Log to File", monitor_.logging());
    auto *cmdClear = new QPushButton(LangTextOr(QStringLiteral("cmdClear"), QStringLiteral("Clear")), this);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));

    auto *row = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{chkBus_, chkUltimo_, chkLog_})
        row->addWidget(w);
    row->addStretch();
    row->addWidget(cmdClear);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(lstTramas_, 1);
    resize(600, 400);

    connect(chkBus_, &QCheckBox::toggled, this, [this](bool on) { monitor_.setBusMonitorOn(on); });
    connect(chkUltimo_, &QCheckBox::toggled, this, [this](bool on) { monitor_.setFollowLast(on); });
    connect(chkLog_, &QCheckBox::toggled, this, [this](bool on) { monitor_.setLogging(on); });
    connect(cmdClear, &QPushButton::clicked, this, [this] { monitor_.clear(); });
    connect(lstTramas_, &QListView::doubleClicked, this, &fBus::copySelectedLine);
    connect(&monitor_, &FrameMonitor::followLine, this,
            [this](int row) { lstTramas_->setCurrentIndex(monitor_.index(row)); });
}

void fBus::open()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void fBus::copyAllLines()
{
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    const QString text = monitor_.allLinesText();
    if (!text.isEmpty())
        clipboard->setText(text);
}

void fBus::copySelectedLine()
{
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    const QModelIndex current = lstTramas_->currentIndex();
    if (current.isValid() && lstTramas_->selectionModel()->isSelected(current))
        clipboard->setText(monitor_.lineText(current.row()));
}

void fBus::mouseDoubleClickEvent(QMouseEvent *event)
{
    copyAllLines();
    QWidget::mouseDoubleClickEvent(event);
}

void fBus::closeEvent(QCloseEvent *event)
{
    monitor_.unload();
    QWidget::closeEvent(event);
}

#include "ui/fMainOPC.h"
#include "opc/NamespaceModel.h"
#include "shell/Placement.h"
#include "ui/PeriodDialogs.h"
#include "ui/fBus.h"
#include "ui/fCambioCodigo.h"
#include "ui/fCodigo.h"
#include "ui/fConfTarvolin.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>
#include <functional>

namespace {

// Detail fields with their designed labels, in display order.
struct DetailField {
    const char *label, *field, *caption;
};
constexpr DetailField DetailFields[] = {
    {"lblTagFQID", "txtTagFQID", "Fully Qualified ID"},    {"lblTagDesc", "txtTagDesc", "Description"},
    {"lblTagCanDT", "txtTagCanDT", "Canonical Data Type"}, {"lblTagAccPerm", "txtTagAccPerm", "Access Permissions"},
    {"lblTagValue", "txtTagValue", "Current Value"},       {"lblTagQuality", "txtTagQuality", "Quality"},
    {"lblTagTimestamp", "txtTagTimestamp", "Timestamp"},
};

// A period dialog shows the toolkit's value; OK hands the new one to `store`.
void openPeriodDialog(PeriodDialog *dialog, std::int32_t current, std::function<void(std::int32_t)> store)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setValue(current);
    QObject::connect(dialog, &QDialog::accepted, dialog, [dialog, store] { store(dialog->value()); });
    dialog->open();
}

// Draws a node of the namespace tree with the image its model names: the
// selected image on the current node, the plain one elsewhere.
class NodeImages : public QStyledItemDelegate {
public:
    explicit NodeImages(QTreeView *view)
        : QStyledItemDelegate(view),
          view_(view), images_{QIcon(), view->style()->standardIcon(QStyle::SP_DirClosedIcon),
                               view->style()->standardIcon(QStyle::SP_DirOpenIcon),
                               view->style()->standardIcon(QStyle::SP_FileIcon)}
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const int role = index == view_->currentIndex() ? NamespaceModel::SelectedImageRole : NamespaceModel::ImageRole;
        const QIcon &icon = images_[std::clamp(index.data(role).toInt(), 0, 3)];
        if (icon.isNull())
            return;
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->icon = icon;
        option->decorationSize = option->decorationSize.boundedTo(icon.actualSize(option->decorationSize));
    }

private:
    QTreeView *view_;
    QIcon images_[4];
};

} // namespace

fMainOPC::fMainOPC(MainOPC &logic, QWidget *parent) : QMainWindow(parent), logic_(&logic)
{
    setObjectName(QStringLiteral("fMainOPC"));
    buildMenus();
    buildTabs();
    sessionPanel_ = new QLabel(this);
    sessionPanel_->setMinimumWidth(60);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->addWidget(sessionPanel_);
    lvStats_->setModel(&logic_->statistics());
}

QMenu *fMainOPC::addMenu(QMenu *parent, const QString &name, const QString &caption)
{
    QMenu *menu = parent ? parent->addMenu(caption) : menuBar()->addMenu(caption);
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    controls_.insert(name, menu->menuAction());
    return menu;
}

QAction *fMainOPC::addAction(QMenu *menu, const QString &name, const QString &caption)
{
    QAction *a = menu->addAction(caption);
    a->setObjectName(name);
    controls_.insert(name, a);
    return a;
}

void fMainOPC::buildMenus()
{
    QMenu *file = addMenu(nullptr, QStringLiteral("mnuFile"), QStringLiteral("&File"));
    connect(addAction(file, QStringLiteral("mnuAInicioSesion"), QStringLiteral("&Init session...")),
            &QAction::triggered, this, &fMainOPC::mnuAInicioSesion_Click);
    connect(addAction(file, QStringLiteral("mnuACerrarSesion"), QStringLiteral("&Close session")), &QAction::triggered,
            this, [this] { logic_->mnuACerrarSesion_Click(); });
    file->addSeparator();
    QAction *disc =
        addAction(file, QStringLiteral("mnuFileClientDisc"), QStringLiteral("Solicite &Disconnect cliente"));
    disc->setVisible(false);
    connect(disc, &QAction::triggered, this, [this] { logic_->mnuFileClientDisc_Click(); });
    connect(addAction(file, QStringLiteral("mnuFileForceExit"), QStringLiteral("&Force Server close")),
            &QAction::triggered, this, [this] { logic_->mnuFileForceExit_Click(); });
    connect(addAction(file, QStringLiteral("mnuFileExit"), QStringLiteral("&Exit")), &QAction::triggered, this,
            [this] { logic_->mnuFileExit_Click(); });

    QMenu *edit = addMenu(nullptr, QStringLiteral("mnuEdit"), QStringLiteral("&Edit"));
    connect(addAction(edit, QStringLiteral("mnuEditConfiguracion"), QStringLiteral("&Configuration...")),
            &QAction::triggered, this, &fMainOPC::mnuEditConfiguracion_Click);
    connect(addAction(edit, QStringLiteral("mnuCPassword"), QStringLiteral("&Change Password...")), &QAction::triggered,
            this, &fMainOPC::mnuCPassword_Click);
    languageMenu_ = addMenu(edit, QStringLiteral("mnuCIdioma"), QStringLiteral("&Language"));
    // The two toolkit periods are the operator's to tune, within a session.
    connect(addAction(edit, QStringLiteral("mnuEditStatPeriod"), QStringLiteral("&Periodo muestreo Estatisticas...")),
            &QAction::triggered, this, &fMainOPC::mnuEditStatPeriod_Click);
    connect(addAction(edit, QStringLiteral("mnuEditGroupMinUpdPer"),
                      QStringLiteral("&Periodo m\u00ednimo de actualizaci\u00f3n grupos...")),
            &QAction::triggered, this, &fMainOPC::mnuEditGroupMinUpdPer_Click);
    QMenu *status = addMenu(edit, QStringLiteral("mnuEditStatus"), QStringLiteral("Server &Status"));
    status->menuAction()->setVisible(false);
    const char *states[] = {"Running", "Failed", "No Configuration", "Suspended", "Test"};
    for (int n = 1; n <= 5; ++n) {
        QAction *a = addAction(status, QStringLiteral("mnuEditStatusCurrent(%1)").arg(n), QLatin1String(states[n - 1]));
        a->setCheckable(true);
        a->setChecked(n == 1);
        connect(a, &QAction::triggered, this, [this, n] { logic_->mnuEditStatusCurrent_Click(n); });
        statusEntries_.push_back(a);
    }

    QMenu *view = addMenu(nullptr, QStringLiteral("mnuVer"), QStringLiteral("&View"));
    connect(addAction(view, QStringLiteral("mnuVBus"), QStringLiteral("&Communications monitor...")),
            &QAction::triggered, this, &fMainOPC::mnuVBus_Click);

    QMenu *trace = addMenu(nullptr, QStringLiteral("mnuTrace"), QStringLiteral("&Trace"));
    const char *levels[][2] = {{"mnuTraceNone", "&None"},
                               {"mnuTraceConnect", "&Connect"},
                               {"mnuTraceGroup", "&Group"},
                               {"mnuTraceItem", "&Item"},
                               {"mnuTraceAll", "&All"}};
    for (int level = 0; level < 5; ++level) {
        QAction *a = addAction(trace, QLatin1String(levels[level][0]), QLatin1String(levels[level][1]));
        a->setCheckable(true);
        a->setChecked(level == 0);
        connect(a, &QAction::triggered, this, [this, level] { logic_->mnuTraceLevel_Click(level); });
        traceEntries_.push_back(a);
    }
    trace->addSeparator();
    connect(addAction(trace, QStringLiteral("mnuTraceClear"), QStringLiteral("C&lear Messages")), &QAction::triggered,
            this, [this] { txtTraceMsgs_->clear(); });
    QAction *comSeparator = trace->addSeparator();
    comSeparator->setVisible(false);
    QAction *com = addAction(trace, QStringLiteral("mnuTraceCOM"), QStringLiteral("&Enable COM Call Tracing"));
    com->setCheckable(true);
    com->setVisible(false); // there are no COM calls to trace here
    connect(com, &QAction::toggled, this, [this](bool on) { logic_->mnuTraceCOM_Click(on); });

    QMenu *help = addMenu(nullptr, QStringLiteral("mnuHelp"), QStringLiteral("&Help"));
    connect(addAction(help, QStringLiteral("mnuHelpAbout"), QStringLiteral("&About...")), &QAction::triggered, this,
            [this] { logic_->mnuHelpAbout_Click(); });
}

void fMainOPC::buildTabs()
{
    tabMain_ = new QTabWidget(this);
    tabMain_->setObjectName(QStringLiteral("tabMain"));
    setCentralWidget(tabMain_);

    auto *page = new QWidget(tabMain_);
    auto *row = new QHBoxLayout(page);
    tvNamespace_ = new QTreeView(page);
    tvNamespace_->setObjectName(QStringLiteral("tvNamespace"));
    tvNamespace_->setHeaderHidden(true);
    tvNamespace_->setUniformRowHeights(true);
    tvNamespace_->setMinimumWidth(Placement::twipsToPixels(1748, logicalDpiX()));
    tvNamespace_->setItemDelegate(new NodeImages(tvNamespace_));
    namespace_ = new NamespaceModel(this);
    tvNamespace_->setModel(namespace_);
    connect(tvNamespace_->selectionModel(), &QItemSelectionModel::currentChanged, this, &fMainOPC::nodeClicked);
    connect(tvNamespace_, &QTreeView::clicked, this, &fMainOPC::nodeClicked);
    auto expandOrCollapse = [this](const QModelIndex &node) {
        tvNamespace_->setCurrentIndex(node);
        nodeClicked(node);
    };
    connect(tvNamespace_, &QTreeView::expanded, this, expandOrCollapse);
    connect(tvNamespace_, &QTreeView::collapsed, this, expandOrCollapse);

    auto *frame = new QGroupBox(QStringLiteral("Tag Detail"), page);
    frame->setObjectName(QStringLiteral("fraTagDetail"));
    frame->setMaximumWidth(Placement::twipsToPixels(3495, logicalDpiX()));
    // The detail scrolls rather than forcing the window above its design size.
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(frame);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frameLayout->addWidget(scroll);
    auto *fields = new QWidget(scroll);
    scroll->setWidget(fields);
    auto *form = new QFormLayout(fields);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    for (const DetailField &d : DetailFields) {
        auto *label = new QLabel(QLatin1String(d.caption), fields);
        label->setObjectName(QLatin1String(d.label));
        auto *field = new QLineEdit(fields);
        field->setObjectName(QLatin1String(d.field));
        field->setReadOnly(true);
        form->addRow(label, field);
        controls_.insert(QLatin1String(d.label), label);
        detailFields_.insert(QLatin1String(d.field), field);
    }
    QLineEdit *value = detailFields_.value(QStringLiteral("txtTagValue"));
    value->setToolTip(QStringLiteral("To test, edit and press Enter"));
    controls_.insert(QStringLiteral("txtTagValue"), value);
    connect(value, &QLineEdit::returnPressed, this,
            [this, value] { logic_->txtTagValue_Enter(namespace_->tag(tvNamespace_->currentIndex()), value->text()); });
    row->addWidget(tvNamespace_, 1);
    row->addWidget(frame, 0);
    tabMain_->addTab(page, QStringLiteral("Namespace"));

    lvStats_ = new QTreeView(tabMain_);
    lvStats_->setObjectName(QStringLiteral("lvStats"));
    lvStats_->setRootIsDecorated(false);
    lvStats_->setUniformRowHeights(true);
    tabMain_->addTab(lvStats_, QStringLiteral("Statistics"));

    txtTraceMsgs_ = new QPlainTextEdit(tabMain_);
    txtTraceMsgs_->setObjectName(QStringLiteral("txtTraceMsgs"));
    txtTraceMsgs_->setReadOnly(true);
    txtTraceMsgs_->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtTraceMsgs_->setMaximumBlockCount(MainView::TraceLines);
    tabMain_->addTab(txtTraceMsgs_, QStringLiteral("Trace"));
}

// --- MainView ----------------------------------------------------------------

void fMainOPC::setCaption(const QString &caption) { setWindowTitle(caption); }

QRectF fMainOPC::placementTwips() const
{
    const double dpi = logicalDpiX();
    const QRect outer = frameGeometry();
    return QRectF(Placement::pixelsToTwips(outer.x(), dpi), Placement::pixelsToTwips(outer.y(), dpi),
                  Placement::pixelsToTwips(outer.width(), dpi), Placement::pixelsToTwips(outer.height(), dpi));
}

void fMainOPC::setPlacementTwips(const QRectF &p)
{
    if (!isVisible())
        pendingPlacement_ = p;
    const double dpi = logicalDpiX();
    // The stored size is the outer one: take off what the frame adds.
    const QSize frame = frameGeometry().size() - geometry().size();
    move(Placement::twipsToPixels(p.left(), dpi), Placement::twipsToPixels(p.top(), dpi));
    resize(std::max(1, Placement::twipsToPixels(p.width(), dpi) - frame.width()),
           std::max(1, Placement::twipsToPixels(p.height(), dpi) - frame.height()));
}

int fMainOPC::windowStateCode() const
{
    if (windowState() & Qt::WindowMinimized)
        return 1;
    if (windowState() & Qt::WindowMaximized)
        return 2;
    return 0;
}

void fMainOPC::setWindowStateCode(int state)
{
    setWindowState(state == 1 ? Qt::WindowMinimized : state == 2 ? Qt::WindowMaximized : Qt::WindowNoState);
}

int fMainOPC::tabCount() const { return tabMain_->count(); }
int fMainOPC::selectedTab() const { return tabMain_->currentIndex(); }
void fMainOPC::setSelectedTab(int tab) { tabMain_->setCurrentIndex(tab); }

void fMainOPC::setWindowVisible(bool visible) { setVisible(visible); }

void fMainOPC::restoreAndShow()
{
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void fMainOPC::destroyWindow()
{
    closing_ = true;
    close();
}

void fMainOPC::setLanguageMenu(const QStringList &names)
{
    for (QAction *a : languageEntries_) {
        controls_.remove(a->objectName());
        delete a;
    }
    languageEntries_.clear();
    // Entry 0 is part of the design and stays even without a language file.
    const QStringList captions = names.isEmpty() ? QStringList{QString()} : names;
    for (int i = 0; i < captions.size(); ++i) {
        QAction *a = addAction(languageMenu_, QStringLiteral("mnuCISel(%1)").arg(i), captions[i]);
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, i] {
            languageEntries_[std::size_t(i)]->setChecked(!languageEntries_[std::size_t(i)]->isChecked());
            logic_->mnuCISel_Click(i);
        });
        languageEntries_.push_back(a);
    }
}

void fMainOPC::setLanguageChecked(int index, bool checked)
{
    if (index >= 0 && index < int(languageEntries_.size()))
        languageEntries_[std::size_t(index)]->setChecked(checked);
}

void fMainOPC::setControlText(const QString &control, const QString &text)
{
    QObject *o = controls_.value(control);
    if (auto *a = qobject_cast<QAction *>(o))
        a->setText(text);
    else if (auto *l = qobject_cast<QLabel *>(o))
        l->setText(text);
    else if (auto *e = qobject_cast<QLineEdit *>(o))
        e->setToolTip(text);
}

void fMainOPC::setControlEnabled(const QString &control, bool enabled)
{
    if (auto *a = qobject_cast<QAction *>(controls_.value(control)))
        a->setEnabled(enabled);
}

void fMainOPC::setValueLocked(bool locked) { detailFields_.value(QStringLiteral("txtTagValue"))->setReadOnly(locked); }

void fMainOPC::setSessionPanel(const QString &text) { sessionPanel_->setText(text); }

void fMainOPC::setStatusChecked(int n)
{
    for (std::size_t i = 0; i < statusEntries_.size(); ++i)
        statusEntries_[i]->setChecked(int(i) + 1 == n);
}

void fMainOPC::showTraceLevel(int level)
{
    for (std::size_t i = 0; i < traceEntries_.size(); ++i)
        traceEntries_[i]->setChecked(int(i) == level);
}

void fMainOPC::showNamespace(const OPCTags &tags) { namespace_->setTags(tags); }

void fMainOPC::nodeClicked(const QModelIndex &node)
{
    if (node.isValid())
        logic_->tvNamespace_NodeClick(namespace_->fullPath(node), namespace_->tag(node));
}

void fMainOPC::showDetail(const ItemDetail &detail)
{
    const std::pair<const char *, const QString *> fields[] = {
        {"txtTagFQID", &detail.txtTagFQID},       {"txtTagCanDT", &detail.txtTagCanDT},
        {"txtTagAccPerm", &detail.txtTagAccPerm}, {"txtTagValue", &detail.txtTagValue},
        {"txtTagQuality", &detail.txtTagQuality}, {"txtTagTimestamp", &detail.txtTagTimestamp},
        {"txtTagDesc", &detail.txtTagDesc},
    };
    for (const auto &[name, text] : fields) {
        QLineEdit *field = detailFields_.value(QLatin1String(name));
        field->setText(*text);
        field->setCursorPosition(0); // the start of a long text is what tells
    }
}

void fMainOPC::closeMonitorWindow()
{
    if (bus_)
        bus_->close();
}

void fMainOPC::appendTrace(const QString &line) { txtTraceMsgs_->appendPlainText(line); }

// --- The operator's windows ------------------------------------------------------

void fMainOPC::mnuAInicioSesion_Click()
{
    auto *dialog = new fCodigo(logic_->passwords(), logic_->session(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void fMainOPC::mnuCPassword_Click()
{
    auto *dialog = new fCambioCodigo(logic_->passwords(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void fMainOPC::mnuEditConfiguracion_Click()
{
    auto *dialog = new fConfTarvolin(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->exitForced = [this] { return logic_->CloseForced; };
    connect(dialog, &QDialog::finished, this, [this] {
        if (!logic_->CloseForced)
            activateWindow();
    });
    dialog->open();
}

void fMainOPC::mnuVBus_Click()
{
    if (!bus_)
        bus_ = new fBus(logic_->monitor(), this);
    bus_->open();
}

void fMainOPC::mnuEditStatPeriod_Click()
{
    openPeriodDialog(new frmEditSP(this), logic_->server().StatisticsPeriod,
                     [this](std::int32_t ms) { logic_->setStatisticsPeriod(ms); });
}

void fMainOPC::mnuEditGroupMinUpdPer_Click()
{
    openPeriodDialog(new frmEditMGUP(this), logic_->server().MinUpdatePeriod,
                     [this](std::int32_t ms) { logic_->setMinUpdatePeriod(ms); });
}

// --- Access by design name -------------------------------------------------------

QString fMainOPC::controlText(const QString &control) const
{
    QObject *o = controls_.value(control);
    if (auto *a = qobject_cast<QAction *>(o))
        return a->text();
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(o))
        return e->toolTip();
    return {};
}

bool fMainOPC::controlEnabled(const QString &control) const
{
    auto *a = qobject_cast<QAction *>(controls_.value(control));
    return a && a->isEnabled();
}

QAction *fMainOPC::action(const QString &control) const { return qobject_cast<QAction *>(controls_.value(control)); }

QLineEdit *fMainOPC::detailField(const QString &name) const { return detailFields_.value(name); }

QString fMainOPC::sessionPanel() const { return sessionPanel_->text(); }

bool fMainOPC::selectNode(const QString &path)
{
    const QModelIndex node = namespace_->find(path);
    if (!node.isValid())
        return false;
    // Open the way first: an expansion selects the node it opens.
    for (QModelIndex up = node.parent(); up.isValid(); up = up.parent())
        tvNamespace_->expand(up);
    tvNamespace_->setCurrentIndex(node);
    nodeClicked(node);
    return true;
}

void fMainOPC::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (pendingPlacement_.isValid() && !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
        const QRectF p = pendingPlacement_;
        pendingPlacement_ = QRectF();
        setPlacementTwips(p);
    }
}

void fMainOPC::closeEvent(QCloseEvent *event)
{
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    logic_->requestClose(event->spontaneous() ? MainOPC::UnloadMode::CloseBox : MainOPC::UnloadMode::Code);
}

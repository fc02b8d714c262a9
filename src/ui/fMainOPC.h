#pragma once
#include "shell/MainOPC.h"
#include "shell/MainView.h"
#include "ui/fBus.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QTabWidget;
class QTreeView;
class NamespaceModel;
class QModelIndex;

// The main window: menus, the tabs with the namespace tree and item detail, the
// statistics list and the trace pane, and the status bar. It holds widgets and
// forwards every action to its MainOPC.
class fMainOPC : public QMainWindow, public MainView {
    Q_OBJECT
public:
    // A window for the server's logic, which outlives it.
    explicit fMainOPC(MainOPC &logic, QWidget *parent = nullptr);

    // MainView.
    void setCaption(const QString &caption) override;
    QRectF placementTwips() const override;
    void setPlacementTwips(const QRectF &placement) override;
    int windowStateCode() const override;
    void setWindowStateCode(int state) override;
    int tabCount() const override;
    int selectedTab() const override;
    void setSelectedTab(int tab) override;
    void setWindowVisible(bool visible) override;
    void restoreAndShow() override;
    void destroyWindow() override;
    void setLanguageMenu(const QStringList &names) override;
    void setLanguageChecked(int index, bool checked) override;
    void setControlText(const QString &control, const QString &text) override;
    void setControlEnabled(const QString &control, bool enabled) override;
    void setValueLocked(bool locked) override;
    void setSessionPanel(const QString &text) override;
    void setStatusChecked(int n) override;
    void showTraceLevel(int level) override;
    void showNamespace(const OPCTags &tags) override;
    void showDetail(const ItemDetail &detail) override;
    void closeMonitorWindow() override;
    void appendTrace(const QString &line) override;

    // For the operator's actions and for tests: controls by their design names.
    QString controlText(const QString &control) const;
    bool controlEnabled(const QString &control) const;
    QAction *action(const QString &control) const;
    QTreeView *tree() const { return tvNamespace_; }
    QLineEdit *detailField(const QString &name) const;
    QPlainTextEdit *tracePane() const { return txtTraceMsgs_; }
    QTreeView *statisticsList() const { return lvStats_; }
    // The communications monitor's window while it is open.
    fBus *monitorWindow() const { return bus_; }
    QString sessionPanel() const;
    // Selects the node whose full path is `path`; false when there is none.
    bool selectNode(const QString &path);

    // The operator's windows, opened from the menus. The dialogs are window-modal
    // and return at once; each acts when it closes.
    void mnuAInicioSesion_Click();
    void mnuCPassword_Click();
    void mnuEditConfiguracion_Click();
    void mnuVBus_Click();
    void mnuEditStatPeriod_Click();
    void mnuEditGroupMinUpdPer_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildMenus();
    void buildTabs();
    QAction *addAction(QMenu *menu, const QString &name, const QString &caption);
    QMenu *addMenu(QMenu *parent, const QString &name, const QString &caption);
    void nodeClicked(const QModelIndex &node);

    MainOPC *const logic_;
    QHash<QString, QObject *> controls_;
    std::vector<QAction *> languageEntries_;
    std::vector<QAction *> statusEntries_;
    std::vector<QAction *> traceEntries_;
    QMenu *languageMenu_ = nullptr;
    QTabWidget *tabMain_ = nullptr;
    QTreeView *tvNamespace_ = nullptr;
    NamespaceModel *namespace_ = nullptr;
    QTreeView *lvStats_ = nullptr;
    QPointer<fBus> bus_;
    QPlainTextEdit *txtTraceMsgs_ = nullptr;
    QHash<QString, QLineEdit *> detailFields_;
    QLabel *sessionPanel_ = nullptr;
    bool closing_ = false;
    // The frame is known only once the window shows: the stored outer placement
    // is applied again then, so it round-trips exactly.
    QRectF pendingPlacement_;
};

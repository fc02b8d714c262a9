#pragma once
#include "shell/MainView.h"

#include <QHash>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// The main window as the server's logic sees it before there is one, or without one
// at all (a service). It keeps everything the logic shows (captions, menus, session,
// placement, the namespace, the trace) and, once a window exists, hands all of it over
// and forwards from then on.
//
// A window is made only when it is first shown. The logic shows it at the first tick
// of the main timer, a second after start, so the server listens and serves before
// any widget is built.
class StandInView : public MainView {
public:
    // Makes the window on the first show. Without a maker (a service), nothing is ever
    // shown and no trace is kept.
    using WindowMaker = std::function<MainView &()>;
    void setWindowMaker(WindowMaker maker);
    ~StandInView() override;

    // Makes the window now, if there is a maker and no window yet.
    MainView *window();
    // The window is about to go; what follows is kept here again.
    void detachWindow();

    void setCaption(const QString &caption) override;
    QRectF placementTwips() const override;
    void setPlacementTwips(const QRectF &placement) override;
    int windowStateCode() const override;
    void setWindowStateCode(int state) override;
    // Without a window any saved tab is kept as it stands; the window clamps it.
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

private:
    void handOver(MainView &window);

    WindowMaker maker_;
    MainView *window_ = nullptr;
    bool listening_ = false;
    std::function<void(const QString &)> previousListener_;

    QString caption_;
    QRectF placement_;
    int state_ = 0;
    int tab_ = 0;
    QStringList languages_;
    std::vector<bool> languagesChecked_;
    QHash<QString, QString> texts_;
    QHash<QString, bool> enabled_;
    std::optional<bool> valueLocked_;
    QString sessionPanel_;
    std::optional<int> status_;
    std::optional<int> traceLevel_;
    const OPCTags *tags_ = nullptr;
    std::optional<ItemDetail> detail_;
    QStringList trace_;
};

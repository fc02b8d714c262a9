#pragma once
#include "shell/MainView.h"

#include <limits>

// The main window of a server that runs without one (a service): it keeps what
// the server reads back at shutdown (placement, state, tab), so the keys saved
// are the ones read, and shows nothing. Trace and status reach the log instead.
class HeadlessView : public MainView {
public:
    void setCaption(const QString &) override {}
    QRectF placementTwips() const override { return placement_; }
    void setPlacementTwips(const QRectF &placement) override { placement_ = placement; }
    int windowStateCode() const override { return state_; }
    void setWindowStateCode(int state) override { state_ = state; }
    // Any saved tab is kept as it stands; the window clamps it when it next shows.
    int tabCount() const override { return std::numeric_limits<int>::max(); }
    int selectedTab() const override { return tab_; }
    void setSelectedTab(int tab) override { tab_ = tab; }
    void setWindowVisible(bool) override {}
    void restoreAndShow() override {}
    void destroyWindow() override {}

    void setLanguageMenu(const QStringList &) override {}
    void setLanguageChecked(int, bool) override {}
    void setControlText(const QString &, const QString &) override {}
    void setControlEnabled(const QString &, bool) override {}
    void setValueLocked(bool) override {}
    void setSessionPanel(const QString &) override {}
    void setStatusChecked(int) override {}
    void showTraceLevel(int) override {}

    void showNamespace(const OPCTags &) override {}
    void showDetail(const ItemDetail &) override {}

private:
    QRectF placement_;
    int state_ = 0;
    int tab_ = 0;
};

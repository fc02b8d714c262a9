#include "shell/StandInView.h"
#include "log/Log.h"
#include "shell/Placement.h"

#include <algorithm>
#include <limits>

StandInView::~StandInView()
{
    if (listening_)
        Log::setListener(std::move(previousListener_));
}

void StandInView::setWindowMaker(WindowMaker maker)
{
    maker_ = std::move(maker);
    // The trace pane shows what happened before the window was made, start-up included.
    if (!listening_) {
        listening_ = true;
        previousListener_ = Log::setListener([this](const QString &line) { appendTrace(line); });
    }
}

MainView *StandInView::window()
{
    if (!window_ && maker_) {
        MainView &made = maker_();
        handOver(made);
    }
    return window_;
}

void StandInView::handOver(MainView &w)
{
    w.setCaption(caption_);
    w.setLanguageMenu(languages_);
    for (std::size_t i = 0; i < languagesChecked_.size(); ++i)
        w.setLanguageChecked(int(i), languagesChecked_[i]);
    for (auto it = texts_.cbegin(); it != texts_.cend(); ++it)
        w.setControlText(it.key(), it.value());
    for (auto it = enabled_.cbegin(); it != enabled_.cend(); ++it)
        w.setControlEnabled(it.key(), it.value());
    if (valueLocked_)
        w.setValueLocked(*valueLocked_);
    w.setSessionPanel(sessionPanel_);
    if (status_)
        w.setStatusChecked(*status_);
    if (traceLevel_)
        w.showTraceLevel(*traceLevel_);
    if (tags_)
        w.showNamespace(*tags_);
    if (detail_)
        w.showDetail(*detail_);
    if (placement_.isValid())
        w.setPlacementTwips(placement_);
    w.setWindowStateCode(state_);
    w.setSelectedTab(Placement::clampTab(tab_, w.tabCount()));
    for (const QString &line : std::as_const(trace_))
        w.appendTrace(line);
    trace_.clear();
    window_ = &w;
}

void StandInView::detachWindow()
{
    if (!window_)
        return;
    placement_ = window_->placementTwips();
    state_ = window_->windowStateCode();
    tab_ = window_->selectedTab();
    window_ = nullptr;
    maker_ = nullptr; // the program is closing: no second window
}

void StandInView::setCaption(const QString &caption)
{
    caption_ = caption;
    if (window_)
        window_->setCaption(caption);
}

QRectF StandInView::placementTwips() const { return window_ ? window_->placementTwips() : placement_; }

void StandInView::setPlacementTwips(const QRectF &placement)
{
    placement_ = placement;
    if (window_)
        window_->setPlacementTwips(placement);
}

int StandInView::windowStateCode() const { return window_ ? window_->windowStateCode() : state_; }

void StandInView::setWindowStateCode(int state)
{
    state_ = state;
    if (window_)
        window_->setWindowStateCode(state);
}

int StandInView::tabCount() const { return window_ ? window_->tabCount() : std::numeric_limits<int>::max(); }

int StandInView::selectedTab() const { return window_ ? window_->selectedTab() : tab_; }

void StandInView::setSelectedTab(int tab)
{
    tab_ = tab;
    if (window_)
        window_->setSelectedTab(tab);
}

void StandInView::setWindowVisible(bool visible)
{
    if (!visible && !window_)
        return; // nothing to hide
    if (MainView *w = window())
        w->setWindowVisible(visible);
}

void StandInView::restoreAndShow()
{
    if (MainView *w = window())
        w->restoreAndShow();
}

void StandInView::destroyWindow()
{
    if (window_)
        window_->destroyWindow();
}

void StandInView::setLanguageMenu(const QStringList &names)
{
    languages_ = names;
    // The window's first entry stays even without a language file.
    languagesChecked_.assign(std::size_t(std::max<qsizetype>(names.size(), 1)), false);
    if (window_)
        window_->setLanguageMenu(names);
}

void StandInView::setLanguageChecked(int index, bool checked)
{
    if (index >= 0 && std::size_t(index) < languagesChecked_.size())
        languagesChecked_[std::size_t(index)] = checked;
    if (window_)
        window_->setLanguageChecked(index, checked);
}

void StandInView::setControlText(const QString &control, const QString &text)
{
    texts_.insert(control, text);
    if (window_)
        window_->setControlText(control, text);
}

void StandInView::setControlEnabled(const QString &control, bool enabled)
{
    enabled_.insert(control, enabled);
    if (window_)
        window_->setControlEnabled(control, enabled);
}

void StandInView::setValueLocked(bool locked)
{
    valueLocked_ = locked;
    if (window_)
        window_->setValueLocked(locked);
}

void StandInView::setSessionPanel(const QString &text)
{
    sessionPanel_ = text;
    if (window_)
        window_->setSessionPanel(text);
}

void StandInView::setStatusChecked(int n)
{
    status_ = n;
    if (window_)
        window_->setStatusChecked(n);
}

void StandInView::showTraceLevel(int level)
{
    traceLevel_ = level;
    if (window_)
        window_->showTraceLevel(level);
}

void StandInView::showNamespace(const OPCTags &tags)
{
    tags_ = &tags;
    if (window_)
        window_->showNamespace(tags);
}

void StandInView::showDetail(const ItemDetail &detail)
{
    detail_ = detail;
    if (window_)
        window_->showDetail(detail);
}

void StandInView::closeMonitorWindow()
{
    if (window_)
        window_->closeMonitorWindow();
}

void StandInView::appendTrace(const QString &line)
{
    if (window_) {
        window_->appendTrace(line);
        return;
    }
    trace_.append(line);
    if (trace_.size() > TraceLines)
        trace_.removeFirst();
}

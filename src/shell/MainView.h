#pragma once
#include "opc/NamespaceView.h"
#include "session/OperatorSession.h"

#include <QRectF>
#include <QString>
#include <QStringList>

class OPCTags;

// What the server's logic needs of its main window. The window only holds the
// widgets; every decision is made by MainOPC.
class MainView : public SessionView {
public:
    virtual ~MainView() = default;

    // The trace pane keeps the latest lines only.
    static constexpr int TraceLines = 5000;

    virtual void setCaption(const QString &caption) = 0;
    // Outer placement in twips: left, top, width, height.
    virtual QRectF placementTwips() const = 0;
    virtual void setPlacementTwips(const QRectF &placement) = 0;
    // 0 normal, 1 minimized, 2 maximized.
    virtual int windowStateCode() const = 0;
    virtual void setWindowStateCode(int state) = 0;
    virtual int tabCount() const = 0;
    virtual int selectedTab() const = 0;
    virtual void setSelectedTab(int tab) = 0;
    virtual void setWindowVisible(bool visible) = 0;
    // The close box was refused: back to normal if minimized, and shown.
    virtual void restoreAndShow() = 0;
    // The unload is done: the window goes away without asking again.
    virtual void destroyWindow() = 0;

    // The language menu: one entry per language, the checked one.
    virtual void setLanguageMenu(const QStringList &names) = 0;
    virtual void setLanguageChecked(int index, bool checked) = 0;
    // Caption (or, for txtTagValue, tooltip) of a named control.
    virtual void setControlText(const QString &control, const QString &text) = 0;
    // Checks element n of the Server Status menu and unchecks the others.
    virtual void setStatusChecked(int n) = 0;
    // Checks the trace level's item (0..4); any other value checks none.
    virtual void showTraceLevel(int level) = 0;

    // The tree of the toolkit's items; `tags` outlives the view.
    virtual void showNamespace(const OPCTags &tags) = 0;
    virtual void showDetail(const ItemDetail &detail) = 0;
    // The shutdown: the communications monitor's window, if open, goes too.
    virtual void closeMonitorWindow() {}
    // A line of the trace, for the trace pane.
    virtual void appendTrace(const QString &line) = 0;
};

#pragma once
#include <QWidget>

class FrameMonitor;
class QCheckBox;
class QListView;

// The communications monitor window: the received frames of every panel line,
// capture, follow-last and logging switches. It shows a FrameMonitor; closing it
// unloads the monitor, so the next opening starts afresh.
class fBus : public QWidget {
    Q_OBJECT
public:
    explicit fBus(FrameMonitor &monitor, QWidget *parent = nullptr);

    // The View menu's item: shown, restored when minimized, raised and focused.
    void open();

    // The clipboard actions: every line, or the selected one.
    void copyAllLines();
    void copySelectedLine();

protected:
    void closeEvent(QCloseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    FrameMonitor &monitor_;
    QListView *lstTramas_;
    QCheckBox *chkBus_, *chkUltimo_, *chkLog_;
};

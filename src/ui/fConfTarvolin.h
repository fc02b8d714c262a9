#pragma once
#include "config/ConfigEditor.h"

#include <QDialog>
#include <QHash>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

// The configuration editor window: the slots of the panel table, the time-out
// and the automatic session. It holds the widgets; the ConfigEditor decides.
class fConfTarvolin : public QDialog {
    Q_OBJECT
public:
    explicit fConfTarvolin(QWidget *parent = nullptr);

    // True while the server is being forced closed: leaving then asks nothing.
    std::function<bool()> exitForced;

    const ConfigEditor &editor() const { return editor_; }
    void cmdAceptar_Click();
    // Cancel, Escape and the close box: with unsaved edits the operator confirms.
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ApplyEditorTexts();
    // Shows the current slot in the port and name boxes.
    void showSlot();
    void refreshEntry(int slot);

    ConfigEditor editor_;
    bool filling_ = false;
    QListWidget *lstMaquina_;
    QComboBox *cboCOM_;
    QLineEdit *txtMaquina_;
    QLineEdit *txtTimeout_;
    QCheckBox *chkAutoSesion_;
    QLabel *lblHelp_;
    QHash<QObject *, QString> helpTexts_;
};

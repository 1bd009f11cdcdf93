#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gui/dialog_view.h"
#include "os/notifications.h"
#include "res/dialog100_layout.h"

class QFont;

namespace zq {
class MainDialog;
}

namespace zq::qt {

// The font metrics a Windows dialog measures its dialog units with: a horizontal unit is a
// quarter of the average character width (taken over the 52 Latin letters, rounded as Windows
// rounds it), a vertical unit an eighth of the character height.
struct DialogUnits {
    int baseX = 0;
    int baseY = 0;

    static DialogUnits of(const QFont& font);
    // The pixel rectangle of a dialog-unit rectangle: each edge is converted on its own, as
    // MapDialogRect does, so neighbouring controls keep their common edges.
    QRect rect(int x, int y, int width, int height) const;
};

// Object names of the controls: "ctl" and the control's id ("ctl205" is "Naprogramovat");
// the labels and group boxes, which share the id -1, by their text ("labelPort", "groupInfo").
QString controlName(const res::DialogItem& item);

// The main window (dialog 100) with Qt widgets, built from the table that the build reads out
// of the resource script. It shows what the dialog's logic sets through DialogView and hands
// the operator's input and the workers' notifications to that logic; it decides nothing itself.
class MainWindow : public QWidget, public DialogView {
public:
    // whenDestroyed: what ends the application once the logic has destroyed the window.
    explicit MainWindow(std::function<void()> whenDestroyed);
    ~MainWindow() override;

    // From now on the controls' events and the notifications go to dialog.
    void attach(MainDialog& dialog);
    QWidget* control(unsigned id) const;
    // The widget of each control of the template, in the template's order.
    const std::vector<QWidget*>& widgets() const { return widgets_; }
    bool destroyed() const { return destroyed_; }

    void setTitle(const std::string& text) override;
    void setText(unsigned control, const std::string& text) override;
    void setEnabled(unsigned control, bool enabled) override;
    void setItems(unsigned control, const std::vector<std::string>& items) override;
    void setSelection(unsigned control, int index) override;
    int selection(unsigned control) const override;
    void showProgress(bool shown) override;
    void setProgress(unsigned position) override;
    void showMessage(unsigned stringId, const std::string& text) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    void postClose() override;
    void destroyWindow() override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    // WM_CLOSE: the close box, or a close request of the logic.
    void requestClose();
    void restoreFocus();
    QWidget* create(const res::DialogItem& item);

    std::function<void()> whenDestroyed_;
    MainDialog* dialog_ = nullptr;
    std::map<unsigned, QWidget*> controls_;
    std::vector<QWidget*> widgets_;
    DialogUnits units_;
    QString title_;
    bool waitCursor_ = false;
    bool closing_ = false;
    bool destroyed_ = false;
    // The control that had the focus when it was disabled, until the focus is back.
    QWidget* focusLost_ = nullptr;
};

// The workers' poster of the Qt window: each notification becomes an event queued to the
// window and handled on the GUI thread in posting order. postEvent only takes the receiver's
// queue lock, so a worker never waits for the GUI thread.
class EventPoster : public NotificationPoster {
public:
    explicit EventPoster(QObject& window) : window_(window) {}
    void post(const Notification& notification) override;

private:
    QObject& window_;
};

// A message box of the application: modal, titled with its name, with an OK button.
void showMessageBox(QWidget* parent, const QString& title, const std::string& text);

}  // namespace zq::qt

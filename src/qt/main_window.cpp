#include "qt/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include <algorithm>

#include "gui/wokno.h"

namespace zq::qt {

namespace {

// Height of a closed combo box: the height of the buttons beside it. The dialog's height of a
// drop-down list includes its open list.
constexpr int kClosedComboHeight = 14;
constexpr int kListLineHeight = 8;

using Kind = res::DialogItemKind;
// The style bits of a static control that the Qt labels follow (<winuser.h>).
constexpr std::uint32_t kSsTypeMask = 0x1F;
constexpr std::uint32_t kSsCenter = 0x1;
constexpr std::uint32_t kSsRight = 0x2;
constexpr std::uint32_t kSsSunken = 0x1000;

constexpr bool hasControl(unsigned id, Kind kind) {
    for (const res::DialogItem& item : res::kDialog100Items)
        if (item.id == static_cast<int>(id)) return item.kind == kind;
    return false;
}
// The dialog's logic names these controls and the window casts them to their widgets: the
// resource script must hold each with its kind.
static_assert(hasControl(kPortCombo, Kind::ComboBox) && hasControl(kVersionCombo, Kind::ComboBox) &&
              hasControl(kUnitCombo, Kind::ComboBox) && hasControl(kOpenButton, Kind::PushButton) &&
              hasControl(kCloseButton, Kind::PushButton) &&
              hasControl(kProgramButton, Kind::PushButton) &&
              hasControl(kProgressBar, Kind::ProgressBar) && hasControl(kInfoText, Kind::Text) &&
              hasControl(kOperatorText, Kind::Text) && hasControl(kStatusText, Kind::Text));

QEvent::Type notificationEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type closeRequestType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class NotificationEvent : public QEvent {
public:
    explicit NotificationEvent(const Notification& n)
        : QEvent(notificationEventType()), notification(n) {}
    Notification notification;
};

// Windows' MulDiv for the non-negative values of a dialog: rounds half up.
int mulDiv(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

QLabel* sunkenText(QLabel* label) {
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setMargin(1);
    return label;
}

}  // namespace

DialogUnits DialogUnits::of(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnits::rect(int x, int y, int width, int height) const {
    const int left = mulDiv(x, baseX, 4);
    const int top = mulDiv(y, baseY, 8);
    return {left, top, mulDiv(x + width, baseX, 4) - left, mulDiv(y + height, baseY, 8) - top};
}

QString controlName(const res::DialogItem& item) {
    if (item.id != -1) return QStringLiteral("ctl%1").arg(item.id);
    QString name = QString::fromLatin1(item.kind == Kind::GroupBox ? "group" : "label");
    for (const QChar c : QString::fromUtf8(item.text))
        if (c.isLetterOrNumber() && c.unicode() < 0x80) name += c;
    return name;
}

void showMessageBox(QWidget* parent, const QString& title, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, title, QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void EventPoster::post(const Notification& notification) {
    QCoreApplication::postEvent(&window_, new NotificationEvent(notification));
}

MainWindow::MainWindow(std::function<void()> whenDestroyed)
    : whenDestroyed_(std::move(whenDestroyed)) {
    build();
}

MainWindow::~MainWindow() {
    if (waitCursor_) endWaitCursor();
}

QWidget* MainWindow::create(const res::DialogItem& item) {
    const QString text = QString::fromUtf8(item.text);
    QRect place = units_.rect(item.x, item.y, item.width,
                              item.kind == Kind::ComboBox ? kClosedComboHeight : item.height);
    QWidget* widget = nullptr;
    switch (item.kind) {
        case Kind::Text: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            if ((item.style & kSsSunken) != 0)
                sunkenText(label);
            else if ((item.style & kSsTypeMask) == kSsRight)
                label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            else if ((item.style & kSsTypeMask) == kSsCenter)
                label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
            // The dialog was drawn for narrower fonts than Linux has: a label of the template's
            // own text grows to the right, where its control leaves room, rather than cut its
            // last letter. The texts the program sets later keep their place.
            if (!text.isEmpty()) place.setWidth(std::max(place.width(), label->sizeHint().width()));
            widget = label;
            break;
        }
        case Kind::PushButton: {
            auto* push = new QPushButton(text, this);
            // An auto-default button draws itself as the default one while it has the focus,
            // and the dialog has no default button; keyPressEvent gives Enter to the focused
            // button.
            push->setAutoDefault(false);
            push->setDefault(false);
            widget = push;
            break;
        }
        case Kind::GroupBox:
            widget = new QGroupBox(text, this);
            break;
        case Kind::ComboBox: {
            auto* box = new QComboBox(this);
            box->setMaxVisibleItems((item.height - kClosedComboHeight) / kListLineHeight);
            widget = box;
            break;
        }
        case Kind::ProgressBar: {
            auto* progress = new QProgressBar(this);
            progress->setRange(0, 100);
            progress->setValue(0);
            progress->setTextVisible(false);
            widget = progress;
            break;
        }
    }
    widget->setGeometry(place);
    return widget;
}

void MainWindow::build() {
    units_ = DialogUnits::of(font());
    setWindowTitle(QString::fromUtf8(res::kDialog100Caption));
    // Qt's focus chain and stacking are the order of creation, as the dialog manager's Tab
    // order and z-order are the order of the template: a group box lies beneath the controls
    // after it.
    for (const res::DialogItem& item : res::kDialog100Items) {
        QWidget* widget = create(item);
        widget->setObjectName(controlName(item));
        widgets_.push_back(widget);
        if (item.id != -1) controls_[static_cast<unsigned>(item.id)] = widget;
    }
    setFixedSize(units_.rect(0, 0, res::kDialog100Width, res::kDialog100Height).size());
}

void MainWindow::attach(MainDialog& dialog) {
    dialog_ = &dialog;
    auto* open = static_cast<QPushButton*>(control(kOpenButton));
    auto* close = static_cast<QPushButton*>(control(kCloseButton));
    auto* program = static_cast<QPushButton*>(control(kProgramButton));
    connect(open, &QPushButton::clicked, this, [this] { dialog_->onOpenPort(); });
    connect(close, &QPushButton::clicked, this, [this] { dialog_->onClosePort(); });
    connect(program, &QPushButton::clicked, this, [this] { dialog_->onProgram(); });
    // activated: the operator's choice only, as CBN_SELCHANGE; the logic's own setting of the
    // selection says nothing.
    connect(static_cast<QComboBox*>(control(kUnitCombo)), &QComboBox::activated, this,
            [this] { dialog_->onUnitChanged(); });
}

QWidget* MainWindow::control(unsigned id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void MainWindow::setTitle(const std::string& text) {
    title_ = QString::fromStdString(text);
    setWindowTitle(title_);
}

void MainWindow::setText(unsigned id, const std::string& text) {
    QWidget* widget = control(id);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        button->setText(QString::fromStdString(text));
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(QString::fromStdString(text));
}

void MainWindow::setEnabled(unsigned id, bool enabled) {
    QWidget* widget = control(id);
    if (widget == nullptr || widget->isEnabled() == enabled) return;
    // Qt moves the focus on from a control that is disabled only to one that is enabled at
    // that moment, and the logic disables before it enables: pressing "Otevřít" or
    // "Naprogramovat" from the keyboard would leave no control with the focus. As in the
    // Windows window, the focus is given back once the refresh is over.
    if (!enabled && widget == focusWidget()) focusLost_ = widget;
    widget->setEnabled(enabled);
    if (focusLost_ != nullptr)
        QMetaObject::invokeMethod(this, &MainWindow::restoreFocus, Qt::QueuedConnection);
}

// Back to the control that lost the focus when it is enabled again, else to the next one that
// Tab would reach; while nothing is enabled, it waits.
void MainWindow::restoreFocus() {
    if (focusLost_ == nullptr || destroyed_) return;
    QWidget* focus = focusWidget();
    if (focus != nullptr && focus != focusLost_ && focus->isEnabled()) {
        focusLost_ = nullptr;
        return;
    }
    QWidget* target = focusLost_;
    while (!target->isEnabled() || (target->focusPolicy() & Qt::TabFocus) == 0) {
        target = target->nextInFocusChain();
        if (target == focusLost_) return;
    }
    focusLost_ = nullptr;
    target->setFocus(Qt::TabFocusReason);
}

void MainWindow::setItems(unsigned id, const std::vector<std::string>& items) {
    auto* combo = qobject_cast<QComboBox*>(control(id));
    if (combo == nullptr) return;
    const QSignalBlocker quiet(combo);
    combo->clear();
    const QString dev = QStringLiteral("/dev/");
    int widest = 0;
    for (const std::string& item : items) {
        // The port combo box is 48 dialog units wide, made for COM5: a device path would show
        // as "/dev/tty". The device's own name fits; the logic keeps the whole path.
        QString shown = QString::fromStdString(item);
        if (id == kPortCombo && shown.startsWith(dev)) shown.remove(0, dev.size());
        combo->addItem(shown, QString::fromStdString(item));
        widest = std::max(widest, combo->fontMetrics().horizontalAdvance(shown));
    }
    // The open list as wide as its longest entry (a /dev/serial/by-id name is long), with room
    // for the frame and a scroll bar.
    const int frame = 2 * combo->view()->frameWidth() +
                      combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                      combo->fontMetrics().averageCharWidth() * 2;
    combo->view()->setMinimumWidth(std::max(combo->width(), widest + frame));
}

void MainWindow::setSelection(unsigned id, int index) {
    if (auto* combo = qobject_cast<QComboBox*>(control(id))) {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(index);
    }
}

int MainWindow::selection(unsigned id) const {
    auto* combo = qobject_cast<QComboBox*>(control(id));
    return combo != nullptr ? combo->currentIndex() : -1;
}

void MainWindow::showProgress(bool shown) {
    control(kProgressBar)->setVisible(shown);
}

void MainWindow::setProgress(unsigned position) {
    static_cast<QProgressBar*>(control(kProgressBar))->setValue(static_cast<int>(position));
}

void MainWindow::showMessage(unsigned, const std::string& text) {
    // A box that appears while the wait cursor holds the mouse must still take the operator's
    // click; the wait cursor comes back with its end.
    const bool waiting = waitCursor_;
    if (waiting) endWaitCursor();
    showMessageBox(this, title_, text);
    if (waiting && !destroyed_) beginWaitCursor();
}

void MainWindow::beginWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    grabMouse();
    waitCursor_ = true;
}

void MainWindow::endWaitCursor() {
    QApplication::restoreOverrideCursor();
    releaseMouse();
    waitCursor_ = false;
}

void MainWindow::postClose() {
    QCoreApplication::postEvent(this, new QEvent(closeRequestType()));
}

void MainWindow::destroyWindow() {
    destroyed_ = true;
    if (waitCursor_) endWaitCursor();
    hide();
    whenDestroyed_();
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == notificationEventType()) {
        // Notifications still queued when the window went belong to nothing any more.
        if (dialog_ != nullptr && !destroyed_)
            dialog_->onNotification(static_cast<NotificationEvent*>(event)->notification);
        return true;
    }
    if (event->type() == closeRequestType()) {
        requestClose();
        return true;
    }
    return QWidget::event(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // The dialog manager presses the focused push button on Enter. A QPushButton clicks on
    // Enter only when auto-default, and then draws itself as the default button while it has
    // the focus; as a plain one it leaves Enter to its parent, here. Enter on a combo box
    // arrives here too and, with no default button, presses nothing.
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && button != nullptr) {
        button->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The logic destroys the window itself; a second request while the first is handled (its
    // message box open) is the same request.
    event->ignore();
    requestClose();
}

void MainWindow::requestClose() {
    if (dialog_ == nullptr || closing_ || destroyed_) return;
    closing_ = true;
    dialog_->onCloseWindow();
}

}  // namespace zq::qt

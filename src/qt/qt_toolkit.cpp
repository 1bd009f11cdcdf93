#include "qt/qt_toolkit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QUrl>

#include <algorithm>

#include "os/serial_ports.h"
#include "qt/main_window.h"
#include "support/string_table.h"

namespace zq::qt {

namespace {


QString appName() {
    return QString::fromUtf8(loadString(kStrAppName));
}

// The serial devices as `zidavuvorud-cli ports` lists them, with a port of the command line
// first.
std::vector<std::string> portNames(const std::string& first) {
    std::vector<std::string> names;
    if (!first.empty()) names.push_back(first);
    for (const SerialPortInfo& port : listSerialPorts())
        if (port.name != first) names.push_back(port.name);
    return names;
}

// The program has no picture of its own on Linux: a chip drawn at 32 x 32 stands in for it.
QIcon drawIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 40), 2));
    for (int i = 0; i < 4; ++i) {
        painter.drawLine(3, 9 + 5 * i, 29, 9 + 5 * i);
        painter.drawLine(9 + 5 * i, 3, 9 + 5 * i, 29);
    }
    painter.setBrush(QColor(30, 90, 160));
    painter.drawRoundedRect(7, 7, 18, 18, 3, 3);
    return QIcon(pixmap);
}

}  // namespace

QtToolkit::QtToolkit(QtToolkitOptions options) : options_(std::move(options)) {
    if (!options_.quit) options_.quit = [] { QCoreApplication::exit(0); };
}

QtToolkit::~QtToolkit() {
    destroyMainWindow();
}

void QtToolkit::loadIcon() {
    icon_ = drawIcon();
    QApplication::setWindowIcon(icon_);
}

void QtToolkit::showStartupMessage(const std::string& text) {
    showMessageBox(nullptr, appName(), text);
}

bool QtToolkit::askYesNo(const std::string& text) {
    QMessageBox box(QMessageBox::Question, appName(), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtToolkit::openWebPage(const std::string& url) {
    QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(url)));
}

DialogView& QtToolkit::createMainWindow(DialogSetup& setup) {
    window_ = std::make_unique<MainWindow>(options_.quit);
    setup.portNames = portNames(options_.port);
    return *window_;
}

void QtToolkit::showMainWindow(MainDialog& dialog) {
    window_->attach(dialog);
    window_->setWindowIcon(icon_);
    // The port of the command line wins over the one kept from the last run.
    if (!options_.port.empty()) window_->setSelection(kPortCombo, 0);
    poster_ = std::make_unique<EventPoster>(*window_);
    previousPoster_ = installNotificationPoster(poster_.get());
    window_->show();
}

void QtToolkit::destroyMainWindow() {
    if (poster_ != nullptr) {
        // Once installed back, no worker is still inside the window's poster.
        installNotificationPoster(previousPoster_);
        poster_.reset();
    }
    window_.reset();
}

}  // namespace zq::qt

// The Qt window as the operator meets it: the dialog as built, the start-up failures, and runs
// clicked through it against kvsb-sim, whose dump must then equal the images. Message boxes are
// read and confirmed from a timer, the way an operator answers them.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "gui/programmer_app.h"
#include "gui/wokno.h"
#include "os/notifications.h"
#include "qt/main_window.h"
#include "qt/qt_toolkit.h"
#include "sim/sim_process.h"
#include "support/fail.h"

namespace {

using zq::sim::testing::SimProcess;
namespace fs = std::filesystem;

constexpr int kWaitMs = 30000;

// Contract failures are recorded: a run through the window must not raise any.
class RecordingHandler : public zq::FailureHandler {
public:
    explicit RecordingHandler(QStringList& failures) : failures_(failures) {}

protected:
    void onFailure() override { failures_ << QString::fromUtf8(text()); }

private:
    QStringList& failures_;
};

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void theDialogHasThePartsControlsTextsAndPlaces();
    void startUpFailuresShowOneBoxAndNoWindow();
    void burnsAUnitByClicking_data();
    void burnsAUnitByClicking();
    void aFailedRunShowsChybaThenTheNextSucceeds();
    void closingDuringABurnAbortsIt();
    void aCloseRequestWhileALineErrorIsShownEndsTheRun();

private:
    bool start(const QString& port, const fs::path& dir = fs::path(ZQ_EXAMPLES_DIR));
    void startSim(const QStringList& extra, const QString& eraseMs = QStringLiteral("20"));
    QWidget* control(unsigned id) const { return toolkit_->window()->control(id); }
    QString text(unsigned id) const { return qobject_cast<QLabel*>(control(id))->text(); }
    void click(unsigned id) { QTest::mouseClick(control(id), Qt::LeftButton); }
    void selectUnit(const QString& unit);
    // Presses "Naprogramovat" as often as the procedure waits for the operator, until a box
    // ends it.
    void runProcedure();
    void closePortAndCompare(const QStringList& modules, const QString& plid);
    void waitForTrace(const char* what);
    void grab(const QString& name, QWidget* box = nullptr);

    QTemporaryDir home_;
    fs::path startDir_;
    QTimer closer_;
    QStringList boxes_;
    QStringList failures_;
    std::function<void(QMessageBox*)> onBox_;
    int quits_ = 0;
    int maxProgress_ = 0;
    std::unique_ptr<zq::Settings> settings_;
    std::unique_ptr<zq::qt::QtToolkit> toolkit_;
    std::unique_ptr<zq::ProgrammerApp> app_;
    std::unique_ptr<SimProcess> sim_;
    QTemporaryDir simFiles_;
};

void WindowTest::initTestCase() {
    // The stored port selection goes to a place of the test's own.
    qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
    startDir_ = fs::current_path();
    closer_.setInterval(10);
    connect(&closer_, &QTimer::timeout, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        boxes_ << box->text();
        if (onBox_) onBox_(box);
        QAbstractButton* answer = box->button(QMessageBox::Ok);
        (answer != nullptr ? answer : box->button(QMessageBox::No))->click();
    });
    closer_.start();
}

void WindowTest::init() {
    boxes_.clear();
    failures_.clear();
    onBox_ = nullptr;
    quits_ = 0;
    maxProgress_ = 0;
    settings_ = std::make_unique<zq::Settings>("ZidavuvorudQtTest");
}

void WindowTest::cleanup() {
    if (app_) app_->shutdown();
    app_.reset();
    toolkit_.reset();
    sim_.reset();
    fs::current_path(startDir_);
    QCOMPARE(failures_, QStringList());
}

bool WindowTest::start(const QString& port, const fs::path& dir) {
    fs::current_path(dir);
    zq::qt::QtToolkitOptions options;
    options.port = port.toStdString();
    options.quit = [this] { ++quits_; };
    toolkit_ = std::make_unique<zq::qt::QtToolkit>(options);
    zq::AppOptions appOptions;
    appOptions.settings = settings_.get();
    appOptions.makeFailureHandler = [this] { return std::make_unique<RecordingHandler>(failures_); };
    app_ = std::make_unique<zq::ProgrammerApp>(*toolkit_, appOptions);
    // The application stays in RT19_bin, where it opens the images; cleanup() leaves it.
    const bool started = app_->startup();
    if (started) {
        connect(static_cast<QProgressBar*>(control(zq::kProgressBar)), &QProgressBar::valueChanged,
                this, [this](int value) { maxProgress_ = std::max(maxProgress_, value); });
    }
    return started;
}

void WindowTest::startSim(const QStringList& extra, const QString& eraseMs) {
    const std::string dir = simFiles_.path().toStdString();
    std::vector<std::string> args{"--once",   "--power-on-ms", "0",          "--erase-ms",
                                  eraseMs.toStdString(), "--erase-steps", "4", "--dump",
                                  dir + "/dump", "--trace",   dir + "/trace.jsonl"};
    for (const QString& a : extra) args.push_back(a.toStdString());
    fs::remove_all(dir + "/dump");
    fs::remove(dir + "/trace.jsonl");
    sim_ = std::make_unique<SimProcess>(args);
    QVERIFY(!sim_->path().empty());
    QVERIFY(start(QString::fromStdString(sim_->path())));
    click(zq::kOpenButton);
    QVERIFY(app_->mainDialog()->portOpen());
}

void WindowTest::selectUnit(const QString& unit) {
    auto* combo = static_cast<QComboBox*>(control(zq::kUnitCombo));
    const int index = combo->findText(unit);
    QVERIFY(index >= 0);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void WindowTest::runProcedure() {
    const qsizetype before = boxes_.size();
    for (int press = 0; press < 4 && boxes_.size() == before; ++press) {
        QTRY_VERIFY_WITH_TIMEOUT(control(zq::kProgramButton)->isEnabled(), kWaitMs);
        click(zq::kProgramButton);
        QTRY_VERIFY_WITH_TIMEOUT(boxes_.size() > before || app_->mainDialog()->awaitingOperator(),
                                 kWaitMs);
    }
    QVERIFY(boxes_.size() > before);
}

void WindowTest::closePortAndCompare(const QStringList& modules, const QString& plid) {
    click(zq::kCloseButton);
    QVERIFY(!app_->mainDialog()->portOpen());
    // The simulator writes its dump once the program has let go of the line.
    QCOMPARE(sim_->wait(), 0);
    for (const QString& module : modules) {
        const QStringList m = module.split('=');
        const int equal = QProcess::execute(
            ZQ_COMPARE_DUMP, {QStringLiteral(ZQ_EXAMPLES_DIR "/RT19_bin/") + m[1], plid,
                              simFiles_.path() + "/dump/" + m[0]});
        QVERIFY2(equal == 0, qPrintable(module));
    }
}

void WindowTest::waitForTrace(const char* what) {
    const fs::path trace = simFiles_.path().toStdString() + "/trace.jsonl";
    QTRY_VERIFY_WITH_TIMEOUT(fileText(trace).find(what) != std::string::npos, kWaitMs);
}

// The README's pictures, when asked for: the window, with a box over its middle.
void WindowTest::grab(const QString& name, QWidget* box) {
    const QString dir = qEnvironmentVariable("ZQ_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QPixmap picture = toolkit_->window()->grab();
    if (box != nullptr) {
        // The offscreen platform draws no window frames: the box gets a plain one with its title.
        QPainter painter(&picture);
        const QPixmap inside = box->grab();
        const int bar = painter.fontMetrics().height() + 6;
        const QRect frame((picture.width() - inside.width()) / 2 - 1,
                          (picture.height() - inside.height() - bar) / 2, inside.width() + 2,
                          inside.height() + bar + 1);
        painter.fillRect(frame, QColor(60, 90, 140));
        painter.setPen(Qt::white);
        painter.drawText(frame.adjusted(8, 0, 0, -inside.height()), Qt::AlignVCenter,
                         box->windowTitle());
        painter.drawPixmap(frame.left() + 1, frame.top() + bar, inside);
    }
    QVERIFY(picture.save(dir + "/" + name + ".png"));
}

void WindowTest::theDialogHasThePartsControlsTextsAndPlaces() {
    QVERIFY(start(QStringLiteral("/dev/ttyKVSB")));
    QWidget* window = toolkit_->window();
    QCOMPARE(window->windowTitle(), QStringLiteral("Zidavuvorud QS"));
    QVERIFY(window->isVisible());
    // Dialog units of the window's font, as Windows reckons them.
    const QFontMetrics metrics(window->font());
    const int baseX = (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int baseY = metrics.height();
    auto px = [&](int x, int y, int w, int h) {
        auto mul = [](int v, int base, int div) { return (v * base + div / 2) / div; };
        return QRect(QPoint(mul(x, baseX, 4), mul(y, baseY, 8)),
                     QPoint(mul(x + w, baseX, 4) - 1, mul(y + h, baseY, 8) - 1));
    };
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QCOMPARE(window->size(), px(0, 0, 275, 190).size());
    struct Expected {
        const char* name;
        const char* className;
        QRect rect;
        const char* text;
    };
    // A closed drop-down list is as high as the buttons beside it; its list takes the rest.
    const Expected expected[] = {
        {"ctl200", "QComboBox", px(26, 12, 48, 14), nullptr},
        {"ctl201", "QPushButton", px(80, 12, 30, 14), "Otevřít"},
        {"ctl202", "QPushButton", px(116, 12, 30, 14), "Zavřít"},
        {"ctl203", "QComboBox", px(39, 44, 71, 14), nullptr},
        {"ctl204", "QComboBox", px(150, 44, 48, 14), nullptr},
        {"ctl205", "QPushButton", px(208, 44, 59, 14), "Naprogramovat"},
        {"ctl206", "QProgressBar", px(15, 156, 245, 9), nullptr},
        {"ctl207", "QLabel", px(15, 131, 245, 21), ""},
        {"ctl208", "QLabel", px(7, 81, 261, 28), ""},
        {"ctl215", "QLabel", px(129, 177, 140, 8), "Zidavuvorud QS 1.02, verze dat 3.1"},
        {"labelPort", "QLabel", px(9, 15, 12, 8), "Port"},
        {"labelVersion", "QLabel", px(5, 46, 32, 8), "Verze SW"},
        {"labelUnit", "QLabel", px(119, 46, 30, 8), "Jednotka"},
        {"labelOperator", "QLabel", px(7, 68, 61, 8), "Obsluha"},
        {"groupPort", "QGroupBox", px(5, 3, 263, 28), ""},
        {"groupInfo", "QGroupBox", px(7, 119, 261, 54), "Info"},
    };
    for (const Expected& e : expected) {
        QWidget* widget = window->findChild<QWidget*>(e.name);
        QVERIFY2(widget != nullptr, e.name);
        QCOMPARE(widget->metaObject()->className(), e.className);
        // A label may be wider than its place, never narrower than its text.
        QRect place = widget->geometry();
        if (std::string(e.name).rfind("label", 0) == 0) {
            QVERIFY(place.width() >= e.rect.width() && place.width() >= widget->sizeHint().width());
            place.setWidth(e.rect.width());
        }
        QCOMPARE(place, e.rect);
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QCOMPARE(button->text(), QString::fromUtf8(e.text));
            QVERIFY(!button->isDefault() && !button->autoDefault());
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) QCOMPARE(label->text(), QString::fromUtf8(e.text));
        if (auto* group = qobject_cast<QGroupBox*>(widget)) QCOMPARE(group->title(), QString::fromUtf8(e.text));
    }
    auto* units = static_cast<QComboBox*>(control(zq::kUnitCombo));
    QCOMPARE(units->count(), 5);
    QCOMPARE(units->itemText(0), QStringLiteral("KRAB101"));
    QCOMPARE(units->itemText(4), QStringLiteral("KRIJ11x"));
    // The port of the command line comes first and is chosen.
    auto* ports = static_cast<QComboBox*>(control(zq::kPortCombo));
    QCOMPARE(ports->itemText(0), QStringLiteral("/dev/ttyKVSB"));
    QCOMPARE(ports->currentIndex(), 0);
    QVERIFY(control(zq::kProgressBar)->isVisible());
    QVERIFY(control(zq::kOpenButton)->isEnabled() && !control(zq::kProgramButton)->isEnabled());

    // The selection is kept at closing, where the logic reads it at the next start.
    ports->setCurrentIndex(ports->count() - 1);
    window->close();
    QCOMPARE(quits_, 1);
    QCOMPARE(settings_->loadPortIndex(), ports->count() - 1);
    QCOMPARE(boxes_, QStringList());
}

void WindowTest::startUpFailuresShowOneBoxAndNoWindow() {
    QTemporaryDir dir;
    QVERIFY(!start(QString(), dir.path().toStdString()));
    QCOMPARE(boxes_, QStringList{QStringLiteral("Nenalezen adresář RT19_bin")});
    QVERIFY(toolkit_->window() == nullptr);

    fs::create_directory(dir.path().toStdString() + "/RT19_bin");
    std::ofstream(dir.path().toStdString() + "/RT19_bin/config.ini") << "[sw31]\nbroken\n";
    boxes_.clear();
    QVERIFY(!start(QString(), dir.path().toStdString()));
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].startsWith(QStringLiteral("Chybný formát souboru config.ini: ")),
             qPrintable(boxes_[0]));
    QVERIFY(toolkit_->window() == nullptr);
}

void WindowTest::burnsAUnitByClicking_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("modules");
    QTest::addColumn<QString>("plid");
    QTest::newRow("KRAB101") << QStringList{} << QStringList{"ch1=krab101_31.omf"}
                             << QStringLiteral("0x10000001");
    QTest::newRow("KREF10x") << QStringList{"--plid", "0x20000001"}
                             << QStringList{"ch0=kref10x_a_31.elf", "ch1=kref10x_b_31.elf"}
                             << QStringLiteral("0x20000001");
    QTest::newRow("KRCD101")
        << QStringList{"--plid", "0x10000100", "--second-module", "--plid-second", "0x10000100"}
        << QStringList{"ch1=krcd101_l_31.omf", "ch1-second=krcd101_r_31.omf"}
        << QStringLiteral("0x10000100");
}

void WindowTest::burnsAUnitByClicking() {
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, modules);
    QFETCH(QString, plid);
    const QString unit = QString::fromLatin1(QTest::currentDataTag());
    startSim(simArgs);
    selectUnit(unit);
    QVERIFY(text(zq::kOperatorText).contains(unit));
    // The README's pictures show the two-processor unit of the demo.
    const bool pictures = unit == QStringLiteral("KREF10x");
    if (pictures) grab(QStringLiteral("qt-window-rest"));
    bool grabbed = false;
    connect(static_cast<QProgressBar*>(control(zq::kProgressBar)), &QProgressBar::valueChanged,
            this, [&](int value) {
                if (pictures && !grabbed && value >= 40 && control(zq::kProgressBar)->isVisible()) {
                    grabbed = true;
                    grab(QStringLiteral("qt-window-burning"));
                }
            });
    onBox_ = [&](QMessageBox* box) {
        if (pictures) grab(QStringLiteral("qt-window-done"), box);
    };
    runProcedure();
    QCOMPARE(boxes_, QStringList{QStringLiteral("Hotovo")});
    QVERIFY(maxProgress_ > 0);
    // Ready for the next unit: the first prompt again, and "Zavřít" usable.
    QVERIFY(text(zq::kOperatorText).contains(unit));
    QVERIFY(control(zq::kCloseButton)->isEnabled());
    closePortAndCompare(modules, plid);
}

void WindowTest::aFailedRunShowsChybaThenTheNextSucceeds() {
    // The adapter refuses the second WRITE once; the retries cannot help that run.
    startSim({"--fault", "status,on=write,level=2,n=2,value=3"});
    QString infoWhileChyba;
    onBox_ = [&](QMessageBox*) {
        infoWhileChyba = text(zq::kInfoText);
        // Notifications that come while the box is open find the run over: no second box.
        zq::postRxData(0);
        zq::postTimeout();
        zq::postComError(zq::kLineErrorFrame);
        QCoreApplication::processEvents();
    };
    runProcedure();
    QCOMPARE(boxes_, QStringList{QStringLiteral("Chyba")});
    QCOMPARE(infoWhileChyba, QStringLiteral("Error while writing 496 bytes to 0x000101F0"));
    QCOMPARE(text(zq::kInfoText), QString());
    onBox_ = nullptr;
    runProcedure();
    QCOMPARE(boxes_.last(), QStringLiteral("Hotovo"));
    closePortAndCompare({"ch1=krab101_31.omf"}, QStringLiteral("0x10000001"));
}

void WindowTest::closingDuringABurnAbortsIt() {
    startSim({}, QStringLiteral("2000"));
    click(zq::kProgramButton);
    waitForTrace("\"dir\":\"pc\",\"op\":\"ERASE\"");
    toolkit_->window()->close();
    QCOMPARE(quits_, 1);
    QVERIFY(!toolkit_->window()->isVisible());
    QCOMPARE(text(zq::kInfoText), QStringLiteral("User abort"));
    app_->shutdown();
    QCOMPARE(sim_->wait(), 0);
    const std::string trace = fileText(simFiles_.path().toStdString() + "/trace.jsonl");
    QVERIFY(trace.find("\"dir\":\"pc\",\"op\":\"WRITE\",\"ch\":1,\"level\":2") == std::string::npos);
    QCOMPARE(boxes_, QStringList());
}

void WindowTest::aCloseRequestWhileALineErrorIsShownEndsTheRun() {
    startSim({}, QStringLiteral("2000"));
    click(zq::kProgramButton);
    waitForTrace("\"dir\":\"pc\",\"op\":\"ERASE\"");
    // A line error, and while its box is open the receive thread fails: the window closes
    // from inside the box, and the line error has nothing left to end.
    onBox_ = [](QMessageBox*) {
        zq::postComError(zq::kComErrorRxThread);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    zq::postComError(zq::kLineErrorFrame);
    QTRY_COMPARE_WITH_TIMEOUT(quits_, 1, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(boxes_, QStringList{QStringLiteral("COM1: chyba příjmu (0x00000008)")},
                              kWaitMs);
    QTest::qWait(100);
    QCOMPARE(boxes_.size(), 1);
    app_->shutdown();
    QCOMPARE(sim_->wait(), 0);
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"

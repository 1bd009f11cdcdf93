// The Qt window as the operator meets it: the dialog as built, the start-up failures, and runs
// clicked through it against kvsb-sim, whose dump must then equal the images. Message boxes are
// read and answered from a timer, as an operator answers them; the keyboard works it as the
// dialog manager does.
#include <QtTest>
#include <QtWidgets>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "common/fake_sysfs.h"
#include "gui/programmer_app.h"
#include "gui/wokno.h"
#include "qt/main_window.h"
#include "qt/qt_toolkit.h"
#include "sim/sim_process.h"
#include "support/fail.h"

namespace {

namespace fs = std::filesystem;
constexpr int kWaitMs = 30000;
const char* const kErase = "\"dir\":\"pc\",\"op\":\"ERASE\"";

// A run through the window must raise no contract failure.
class RecordingHandler : public zq::FailureHandler {
public:
    explicit RecordingHandler(QStringList& failures) : failures_(failures) {}

protected:
    void onFailure() override { failures_ << QString::fromUtf8(text()); }

private:
    QStringList& failures_;
};

std::string fileText(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void theDialogHasItsControlsTextsAndPlaces();
    void rt19BinIsFoundBesideTheProgramElseABoxNamesBothPlaces();
    void burnsAUnitByClicking_data();
    void burnsAUnitByClicking();
    void aCloseRequestWhileALineErrorIsShownEndsTheRun();
    void theKeyboardWorksTheDialog();
    void closingTheWindowDuringAVerifyAbortsIt();
    void aSlowAdapterIsToldAtOpening();

public:
    // Notes whether the wait cursor is up whenever an event reaches the watched window.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool start(const QString& port, const fs::path& dir = ZQ_EXAMPLES_DIR);
    // link: the window is given this link to the simulator's line instead of the line itself.
    void startSim(const QStringList& extra, const char* eraseMs = "20", bool openPort = true,
                  const QString& link = {});
    QWidget* control(unsigned id) const { return toolkit_->window()->control(id); }
    QString text(unsigned id) const { return control(id)->property("text").toString(); }
    void click(unsigned id) { QTest::mouseClick(control(id), Qt::LeftButton); }
    // A key as the keyboard sends it: to the window, which hands it to its focus widget.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(toolkit_->window()->windowHandle(), key, modifiers);
    }
    // The controls that Tab (Shift+Tab with shift) focuses, press by press.
    QStringList tabs(int presses, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Presses "Naprogramovat" once it is enabled, and waits for the box that ends the run.
    void runProcedure();
    void closePortAndCompare(const QStringList& modules, const QString& plid);
    void grab(const QString& name, QWidget* box = nullptr);

    QTemporaryDir files_;
    fs::path startDir_;
    fs::path programDir_;  // where zidavuvorud.ini is looked for
    QTimer closer_;
    QStringList boxes_;
    QStringList failures_;
    std::function<void(QMessageBox*)> onBox_;
    int quits_ = 0;
    bool waitCursorSeen_ = false;
    zq::Settings settings_{"ZidavuvorudQtTest"};
    std::unique_ptr<zq::qt::QtToolkit> toolkit_;
    std::unique_ptr<zq::ProgrammerApp> app_;
    std::unique_ptr<zq::sim::testing::SimProcess> sim_;
};

void WindowTest::initTestCase() {
    qputenv("XDG_CONFIG_HOME", files_.path().toUtf8());
    qputenv("XDG_STATE_HOME", (files_.path() + "/state").toUtf8());
    startDir_ = fs::current_path();
    connect(&closer_, &QTimer::timeout, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        boxes_ << box->text();
        if (onBox_) onBox_(box);
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        (ok != nullptr ? ok : box->button(QMessageBox::No))->click();
    });
    closer_.start(10);
}

void WindowTest::init() {
    boxes_.clear();
    onBox_ = nullptr;
    quits_ = 0;
    waitCursorSeen_ = false;
    programDir_.clear();
}

void WindowTest::cleanup() {
    qunsetenv("ZQ_SYSFS_ROOT");
    if (app_) app_->shutdown();
    app_.reset();
    toolkit_.reset();
    sim_.reset();
    fs::current_path(startDir_);
    QCOMPARE(failures_, QStringList());
}

bool WindowTest::start(const QString& port, const fs::path& dir) {
    fs::current_path(dir);
    toolkit_ = std::make_unique<zq::qt::QtToolkit>(
        zq::qt::QtToolkitOptions{port.toStdString(), [this] { ++quits_; }});
    zq::AppOptions options;
    options.settings = &settings_;
    options.programDirectory = programDir_;
    options.makeFailureHandler = [this] { return std::make_unique<RecordingHandler>(failures_); };
    app_ = std::make_unique<zq::ProgrammerApp>(*toolkit_, options);
    // The application stays in RT19_bin, where it opens the images; cleanup() leaves it.
    return app_->startup();
}

void WindowTest::startSim(const QStringList& extra, const char* eraseMs, bool openPort,
                          const QString& link) {
    const std::string dir = files_.path().toStdString();
    std::vector<std::string> args{
        "--once", "--power-on-ms", "0",       "--erase-ms",        eraseMs, "--erase-steps", "4",
        "--dump", dir + "/dump",   "--trace", dir + "/trace.jsonl"};
    for (const QString& a : extra) args.push_back(a.toStdString());
    fs::remove_all(dir + "/dump");
    fs::remove(dir + "/trace.jsonl");
    sim_ = std::make_unique<zq::sim::testing::SimProcess>(args);
    if (!link.isEmpty()) {
        QFile::remove(link);
        QVERIFY(QFile::link(QString::fromStdString(sim_->path()), link));
    }
    QVERIFY(start(link.isEmpty() ? QString::fromStdString(sim_->path()) : link));
    if (!openPort) return;
    click(zq::kOpenButton);
    QVERIFY(app_->mainDialog()->portOpen());
}

void WindowTest::runProcedure() {
    const qsizetype before = boxes_.size();
    QTRY_VERIFY_WITH_TIMEOUT(control(zq::kProgramButton)->isEnabled(), kWaitMs);
    click(zq::kProgramButton);
    QTRY_VERIFY_WITH_TIMEOUT(boxes_.size() > before, kWaitMs);
}

QStringList WindowTest::tabs(int presses, Qt::KeyboardModifiers modifiers) {
    QStringList names;
    for (int i = 0; i < presses; ++i) {
        press(Qt::Key_Tab, modifiers);
        names << (QApplication::focusWidget() != nullptr ? QApplication::focusWidget()->objectName()
                                                         : QStringLiteral("nothing"));
    }
    return names;
}

bool WindowTest::eventFilter(QObject*, QEvent*) {
    const QCursor* cursor = QApplication::overrideCursor();
    waitCursorSeen_ = waitCursorSeen_ || (cursor != nullptr && cursor->shape() == Qt::WaitCursor);
    return false;
}

void WindowTest::closePortAndCompare(const QStringList& modules, const QString& plid) {
    click(zq::kCloseButton);
    QCOMPARE(sim_->wait(), 0);  // it writes its dump once the program lets go of the line
    for (const QString& module : modules) {
        const QStringList m = module.split('=');
        QCOMPARE(QProcess::execute(ZQ_COMPARE_DUMP, {ZQ_EXAMPLES_DIR "/RT19_bin/" + m[1], plid,
                                                     files_.path() + "/dump/" + m[0]}),
                 0);
    }
}

// The README's pictures, when asked for; the offscreen platform draws no window frames, so a
// box gets a plain one with its title.
void WindowTest::grab(const QString& name, QWidget* box) {
    const QString dir = qEnvironmentVariable("ZQ_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QPixmap picture = toolkit_->window()->grab();
    if (box != nullptr) {
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

void WindowTest::theDialogHasItsControlsTextsAndPlaces() {
    QVERIFY(start("/dev/ttyKVSB"));
    zq::qt::MainWindow* window = toolkit_->window();
    QCOMPARE(window->windowTitle(), "Zidavuvorud QS");
    // Dialog units of the window's font, as Windows reckons them.
    const QFontMetrics metrics(window->font());
    const int baseX =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 +
         1) /
        2;
    auto px = [&](int x, int y, int w, int h) {
        auto mul = [](int v, int base, int div) { return (v * base + div / 2) / div; };
        return QRect(QPoint(mul(x, baseX, 4), mul(y, metrics.height(), 8)),
                     QPoint(mul(x + w, baseX, 4) - 1, mul(y + h, metrics.height(), 8) - 1));
    };
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QCOMPARE(window->size(), px(0, 0, zq::res::kDialog100Width, zq::res::kDialog100Height).size());
    // Every control of the resource script, in its order, where the Windows window has it.
    using Kind = zq::res::DialogItemKind;
    QCOMPARE(window->widgets().size(), zq::res::kDialog100Items.size());
    for (std::size_t i = 0; i < zq::res::kDialog100Items.size(); ++i) {
        const zq::res::DialogItem& e = zq::res::kDialog100Items[i];
        QWidget* widget = window->widgets()[i];
        const auto at = [&e](auto value) { return std::pair(e.line, value); };
        // A closed drop-down list is as high as the buttons beside it.
        const QRect want = px(e.x, e.y, e.width, e.kind == Kind::ComboBox ? 14 : e.height);
        QRect place = widget->geometry();
        // A label may be wider than its place where its text needs it, never narrower.
        if (e.kind == Kind::Text && *e.text != '\0') {
            QVERIFY(place.width() >= widget->sizeHint().width());
            place.setWidth(std::min(place.width(), want.width()));
        }
        QCOMPARE(at(place), at(want));
        const char* shown = e.kind == Kind::GroupBox ? "title" : "text";
        if (*e.text != '\0')
            QCOMPARE(at(widget->property(shown).toString()), at(QString::fromUtf8(e.text)));
    }
    // What the logic sets at the start. A device path would not fit the port combo box: the
    // device's name shows, and the open list is wide enough for the longest.
    auto* portCombo = static_cast<QComboBox*>(control(zq::kPortCombo));
    QCOMPARE(portCombo->currentText(), "ttyKVSB");
    for (int i = 0; i < portCombo->count(); ++i)
        QVERIFY(portCombo->view()->minimumWidth() >
                portCombo->fontMetrics().horizontalAdvance(portCombo->itemText(i)));
    QCOMPARE(text(zq::kStatusText), "Zidavuvorud QS 1.02, verze dat 3.1");
    QCOMPARE(control(zq::kProgressBar)->isVisible(), true);
    QVERIFY(control(zq::kOpenButton)->isEnabled() && !control(zq::kProgramButton)->isEnabled());
    // The selection is kept at closing, where the logic reads it at the next start.
    auto* ports = static_cast<QComboBox*>(control(zq::kPortCombo));
    ports->setCurrentIndex(ports->count() - 1);
    window->close();
    QCOMPARE(quits_, 1);
    QCOMPARE(settings_.loadPortIndex(), ports->count() - 1);
}

// A desktop's menu starts the window in the home folder: RT19_bin beside the program is found
// from there. Without it there either, one box names both places and no window opens.
void WindowTest::rt19BinIsFoundBesideTheProgramElseABoxNamesBothPlaces() {
    QTemporaryDir elsewhere, program;
    programDir_ = ZQ_EXAMPLES_DIR;
    QVERIFY(start("/dev/ttyKVSB", elsewhere.path().toStdString()));
    QVERIFY(QTest::qWaitForWindowExposed(toolkit_->window()));
    QCOMPARE(text(zq::kStatusText), "Zidavuvorud QS 1.02, verze dat 3.1");
    QVERIFY(fs::equivalent(fs::current_path(), fs::path(ZQ_EXAMPLES_DIR) / "RT19_bin"));
    cleanup();

    programDir_ = program.path().toStdString();
    QVERIFY(!start(QString(), elsewhere.path().toStdString()));
    auto place = [](const QTemporaryDir& dir) {
        return QString::fromStdString(
            (fs::canonical(dir.path().toStdString()) / "RT19_bin").string());
    };
    QCOMPARE(boxes_,
             QStringList{"Nenalezen adresář " + place(elsewhere) + " ani " + place(program)});
    QVERIFY(toolkit_->window() == nullptr);
}

void WindowTest::burnsAUnitByClicking_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("modules");
    QTest::addColumn<QString>("plid");
    // A failed run and the next one are main_dialog_test's (and Win32's under Wine); the
    // left/right unit's pause is main_dialog_test's, its burn the command line's.
    QTest::newRow("KREF10x") << QStringList{"--plid", "0x20000001"}
                             << QStringList{"ch0=kref10x_a_31.elf", "ch1=kref10x_b_31.elf"}
                             << "0x20000001";
}

void WindowTest::burnsAUnitByClicking() {
    QFETCH(QStringList, simArgs);
    const QString unit = QTest::currentDataTag();
    startSim(simArgs);
    auto* units = static_cast<QComboBox*>(control(zq::kUnitCombo));
    units->setCurrentIndex(units->findText(unit));
    emit units->activated(units->currentIndex());
    QVERIFY(text(zq::kOperatorText).contains(unit));
    // The README's pictures show the two-processor unit of the demo.
    const bool pictures = unit == "KREF10x";
    if (pictures) grab("qt-window-rest");
    bool barSeen = false;
    connect(static_cast<QProgressBar*>(control(zq::kProgressBar)), &QProgressBar::valueChanged,
            this, [&](int value) {
                if (barSeen || value < 40 || !control(zq::kProgressBar)->isVisible()) return;
                barSeen = true;
                if (pictures) grab("qt-window-burning");
            });
    onBox_ = [&](QMessageBox* box) {
        if (pictures) grab("qt-window-done", box);
    };
    runProcedure();
    QCOMPARE(boxes_, QStringList{"Hotovo"});
    QVERIFY(barSeen);
    // On the disk before "Hotovo" showed.
    const std::string journal =
        fileText(files_.path() + "/state/Trevik/RedivuvizerER/journal.jsonl");
    const std::string record = journal.substr(journal.rfind('\n', journal.size() - 2) + 1);
    for (const std::string& field :
         std::vector<std::string>{"\"front_end\":\"window\"", "\"result\":\"done\"",
                                  "\"unit\":\"" + unit.toStdString() + "\""})
        QVERIFY2(record.find(field) != std::string::npos, record.c_str());
    // Ready for the next unit: its first prompt again, and "Zavřít" usable.
    QVERIFY(text(zq::kOperatorText).contains(unit));
    QFETCH(QStringList, modules);
    QFETCH(QString, plid);
    closePortAndCompare(modules, plid);
}

void WindowTest::aCloseRequestWhileALineErrorIsShownEndsTheRun() {
    // A KRAB101 burn with a long erase, under way.
    startSim({}, "2000");
    click(zq::kProgramButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        fileText(files_.path() + "/trace.jsonl").find(kErase) != std::string::npos, kWaitMs);
    // While the line error's box is open the receive thread fails: the window closes from
    // inside the box, and the line error has nothing left to end (no "Chyba" after it).
    onBox_ = [](QMessageBox*) {
        zq::postComError(zq::kComErrorRxThread);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    zq::postComError(zq::kLineErrorFrame);
    QTRY_COMPARE_WITH_TIMEOUT(quits_, 1, kWaitMs);
    QTest::qWait(100);
    QCOMPARE(boxes_, QStringList{"COM1: chyba příjmu (0x00000008)"});
}

void WindowTest::theKeyboardWorksTheDialog() {
    startSim({"--plid", "0x20000001"}, "20", false);
    QWidget* window = toolkit_->window();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(QApplication::focusWidget(), control(zq::kPortCombo));
    // At rest only the port and "Otevřít" take the focus. The dialog has no default button:
    // Enter on a combo box presses nothing, and neither Enter nor Esc ends the window.
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) press(key);
    QVERIFY(!app_->mainDialog()->portOpen() && window->isVisible() && quits_ == 0);
    QCOMPARE(tabs(2), QStringList({"ctl201", "ctl200"}));
    QCOMPARE(tabs(1, Qt::ShiftModifier), QStringList{"ctl201"});
    press(Qt::Key_Space);
    QVERIFY(app_->mainDialog()->portOpen());
    // The focus moves on from "Otevřít", which the press disabled. With the port open: the
    // template's order, and around past the disabled port and "Otevřít".
    QTRY_COMPARE(QApplication::focusWidget(), control(zq::kCloseButton));
    QCOMPARE(tabs(4), QStringList({"ctl203", "ctl204", "ctl205", "ctl202"}));
    QCOMPARE(tabs(4, Qt::ShiftModifier), QStringList({"ctl205", "ctl204", "ctl203", "ctl202"}));
    QCOMPARE(tabs(2).last(), "ctl204");
    // The arrows choose the unit as the mouse does: the prompt follows. The last is KREF10x,
    // whose second image is prepared between two replies, under the wait cursor.
    auto* units = static_cast<QComboBox*>(control(zq::kUnitCombo));
    for (const auto& [key, unit] :
         std::initializer_list<std::pair<Qt::Key, QString>>{{Qt::Key_Down, "KRCD101"},
                                                            {Qt::Key_Down, "KREF10x"},
                                                            {Qt::Key_Up, "KRCD101"},
                                                            {Qt::Key_Down, "KREF10x"}}) {
        press(key);
        QCOMPARE(units->currentText(), unit);
        QVERIFY2(text(zq::kOperatorText).contains(unit), qPrintable(text(zq::kOperatorText)));
    }
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) press(key);
    QVERIFY(control(zq::kCloseButton)->isEnabled() && window->isVisible() && boxes_.isEmpty());
    // Enter presses the focused button, which is never drawn as the default one.
    QCOMPARE(tabs(1), QStringList{"ctl205"});
    QVERIFY(!static_cast<QPushButton*>(control(zq::kProgramButton))->isDefault());
    window->installEventFilter(this);
    press(Qt::Key_Return);
    QVERIFY(!control(zq::kCloseButton)->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(boxes_, QStringList{"Hotovo"}, kWaitMs);
    window->removeEventFilter(this);
    // The wait cursor was up during the run, and went with it; the focus is back on
    // "Naprogramovat" for the next unit.
    QVERIFY(waitCursorSeen_);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QTRY_COMPARE(window->focusWidget(), control(zq::kProgramButton));
}

void WindowTest::closingTheWindowDuringAVerifyAbortsIt() {
    // The read-back on, as zidavuvorud.ini beside the program asks, and READ's replies slow.
    programDir_ = files_.path().toStdString() + "/program";
    fs::create_directories(programDir_);
    std::ofstream(programDir_ / "zidavuvorud.ini")
        << "[burn]\nverify = yes\n[journal]\npath = shared/journal.jsonl\n";
    startSim({"--fault", "pieces,on=read,size=16,pause-ms=10,every=1"});
    QVERIFY(text(zq::kStatusText).endsWith(", ověřování"));
    click(zq::kProgramButton);
    const QString trace = files_.path() + "/trace.jsonl";
    const char* read = "\"dir\":\"pc\",\"op\":\"READ\",\"ch\":1,\"level\":2";
    QTRY_VERIFY_WITH_TIMEOUT(fileText(trace).find(read) != std::string::npos, kWaitMs);
    QTRY_VERIFY(text(zq::kInfoText).startsWith("Verifying memory range"));
    toolkit_->window()->close();
    QCOMPARE(quits_, 1);
    // The program ends as after any close: the simulator, serving the port once, ends with it.
    // Nothing more was read, and no box said "Hotovo".
    app_->shutdown();
    app_.reset();
    QCOMPARE(sim_->wait(), 0);
    // The image's 3 KiB take seven READs; the close came during the first ones.
    const std::string served = fileText(trace);
    int reads = 0;
    for (std::size_t at = served.find(read); at != std::string::npos; at = served.find(read, at + 1))
        ++reads;
    QVERIFY2(reads >= 1 && reads < 7, qPrintable(QString::number(reads)));
    QCOMPARE(boxes_, QStringList());
    // The run is recorded as aborted, where zidavuvorud.ini points the journal.
    const std::string journal =
        fileText(QString::fromStdString((programDir_ / "shared" / "journal.jsonl").string()));
    QVERIFY2(journal.find("\"result\":\"aborted\",\"error\":\"User abort\",\"verified\":false") !=
                 std::string::npos,
             journal.c_str());
}

// An FTDI adapter at its default timer of 16 ms, in a sysfs tree of the test's own: "Otevřít"
// tells the operator, and a burn goes on as usual. (Once per port: main_dialog_test.)
void WindowTest::aSlowAdapterIsToldAtOpening() {
    const fs::path sys = files_.path().toStdString() + "/sys";
    fs::remove_all(sys);
    zq::testing::addUsbSerialTty(sys, "ttyUSB7");
    qputenv("ZQ_SYSFS_ROOT", QByteArray::fromStdString(sys.string()));
    const QString link = files_.path() + "/ttyUSB7";
    startSim({}, "20", true, link);
    QTRY_COMPARE(boxes_, QStringList{"Adaptér na " + link +
                                     " má latenci 16 ms: programování bude asi 4× pomalejší. "
                                     "Nastavte Latency Timer na 1 ms."});
    runProcedure();
    QCOMPARE(boxes_.size(), 2);
    QCOMPARE(boxes_.last(), "Hotovo");
    click(zq::kCloseButton);
    QCOMPARE(sim_->wait(), 0);
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"

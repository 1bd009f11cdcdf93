// zidavuvorud: the operator's window on Linux.
//   zidavuvorud [-C DIR] [--port PATH]
// -C DIR: start in DIR (the directory that holds RT19_bin); --port PATH: a serial device to
// offer first and select, such as the pseudo-terminal of kvsb-sim.
#include <QApplication>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "gui/programmer_app.h"
#include "qt/qt_toolkit.h"

namespace {

constexpr int kExitUsage = 2;

int usage(const char* problem) {
    std::fprintf(stderr, "zidavuvorud: %s\nusage: zidavuvorud [-C DIR] [--port PATH]\n", problem);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Only the dialog's own closing ends the program, never a message box that closes last.
    QApplication::setQuitOnLastWindowClosed(false);

    zq::qt::QtToolkitOptions options;
    std::string directory;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QStringLiteral("--port") && hasValue)
            options.port = args[++i].toStdString();
        else if (args[i] == QStringLiteral("-C") && hasValue)
            directory = args[++i].toStdString();
        else
            return usage(("unknown argument " + args[i].toStdString()).c_str());
    }
    std::error_code error;
    // The start-up enters RT19_bin: a relative port path must still name the same device.
    if (!options.port.empty() && std::filesystem::exists(options.port, error))
        options.port = std::filesystem::absolute(options.port, error).string();
    if (!directory.empty()) {
        std::filesystem::current_path(directory, error);
        if (error) return usage(("cannot enter " + directory).c_str());
    }

    zq::qt::QtToolkit toolkit(options);
    zq::AppOptions appOptions;
    appOptions.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    zq::ProgrammerApp app(toolkit, appOptions);
    if (!app.startup()) return 1;
    const int code = QApplication::exec();
    app.shutdown();
    return code;
}

// A soak on one open port, driven as the window drives MainDialog: one "Otevřít", then RUNS
// complete burns of a two-processor unit (KREF10x, MPC8270) against kvsb-sim, then "Zavřít";
// afterwards CYCLES open/close cycles of the port. Resident memory, open descriptors and threads
// are printed at the start, after every 10 burns and at the end, and after the cycles.
//   soak KVSB_SIM EXAMPLES_DIR COMPARE_DUMP [RUNS=100] [CYCLES=1000]
// Exit 0 when every burn ended "Hotovo", the simulated flash equals the images at the end, and
// the cycles left no descriptor or thread behind; 1 otherwise.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/platform_list.h"
#include "engine/programming_engine.h"
#include "gui/app_startup.h"
#include "gui/dialog_view.h"
#include "gui/sw_catalogue.h"
#include "gui/wokno.h"
#include "os/notifications.h"

namespace {

// The window: remembers the selections and counts the message boxes by string id.
class SoakView : public zq::DialogView {
public:
    void setTitle(const std::string&) override {}
    void setText(unsigned, const std::string&) override {}
    void setEnabled(unsigned, bool) override {}
    void setItems(unsigned, const std::vector<std::string>&) override {}
    void setSelection(unsigned control, int index) override { selection_[control] = index; }
    int selection(unsigned control) const override {
        auto it = selection_.find(control);
        return it == selection_.end() ? -1 : it->second;
    }
    void showProgress(bool) override {}
    void setProgress(unsigned) override {}
    void showMessage(unsigned id, const std::string& text) override {
        ++messages[id];
        last = text;
    }
    void beginWaitCursor() override {}
    void endWaitCursor() override {}
    void postClose() override {}
    void destroyWindow() override {}

    std::map<unsigned, int> messages;
    std::string last;

private:
    std::map<unsigned, int> selection_;
};

std::size_t entries(const char* folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

struct Figures {
    long rssKiB;
    std::size_t fds;
    std::size_t threads;
};

Figures figures() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return {resident * (sysconf(_SC_PAGESIZE) / 1024), entries("/proc/self/fd"),
            entries("/proc/self/task")};
}

void print(const char* when, const Figures& f) {
    std::printf("%-22s RSS %6ld KiB  descriptors %3zu  threads %2zu\n", when, f.rssKiB, f.fds,
                f.threads);
    std::fflush(stdout);
}

// kvsb-sim serving until SIGTERM; its dump is written at exit.
struct Sim {
    pid_t pid = -1;
    std::string port;
};

Sim startSim(const std::string& sim, const std::string& dump) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) std::exit(2);
    Sim s;
    s.pid = ::fork();
    if (s.pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execl(sim.c_str(), sim.c_str(), "--plid", "0x20000001", "--power-on-ms", "0",
                "--erase-ms", "0", "--dump", dump.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') s.port += c;
    ::close(pipeFds[0]);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: soak KVSB_SIM EXAMPLES_DIR COMPARE_DUMP [RUNS] [CYCLES]\n");
        return 2;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 100;
    const int cycles = argc > 5 ? std::atoi(argv[5]) : 1000;
    const std::string examples = std::filesystem::absolute(argv[2]).string();
    const std::string compare = std::filesystem::absolute(argv[3]).string();
    const std::string dump = std::filesystem::temp_directory_path() / "zq-soak-dump";
    std::filesystem::remove_all(dump);
    Sim sim = startSim(argv[1], dump);
    std::filesystem::current_path(examples);

    zq::SwCatalogue catalogue;
    std::string message;
    if (!zq::readStartupCatalogue(catalogue, message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 2;
    }
    zq::PlatformList platforms;
    zq::NotificationQueue queue;
    zq::ScopedNotificationPoster poster(queue);
    SoakView view;
    zq::DialogSetup setup;
    setup.portNames = {sim.port};
    int failures = 0;
    {
        zq::MainDialog dialog(catalogue, platforms, view, setup);
        dialog.initDialog();
        view.setSelection(zq::kVersionCombo, catalogue.defaultIndex());
        view.setSelection(zq::kUnitCombo, 2);  // KREF10x
        dialog.onUnitChanged();
        const Figures start = figures();
        print("start", start);
        dialog.onOpenPort();
        const auto began = std::chrono::steady_clock::now();
        for (int run = 1; run <= runs; ++run) {
            const int done = view.messages[104];
            do {
                dialog.onProgram();
                for (;;) {
                    const zq::ProgrammingEngine* engine = dialog.engine();
                    if (engine == nullptr || engine->state() != zq::EngineState::Busy) break;
                    if (auto n = queue.waitFor(std::chrono::milliseconds(100)))
                        dialog.onNotification(*n);
                }
            } while (dialog.awaitingOperator());
            if (view.messages[104] != done + 1) {
                ++failures;
                std::printf("run %d did not end \"Hotovo\": %s\n", run, view.last.c_str());
            }
            if (run % 10 == 0) print(("after " + std::to_string(run) + " burns").c_str(), figures());
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        dialog.onClosePort();
        print("after \"Zavřít\"", figures());
        std::printf("%d burns in %.1f s, %d not \"Hotovo\"\n", runs, seconds, failures);

        const Figures before = figures();
        for (int i = 0; i < cycles; ++i) {
            dialog.onOpenPort();
            dialog.onClosePort();
            while (queue.waitFor(std::chrono::milliseconds(0))) {
            }
        }
        const Figures after = figures();
        print(("after " + std::to_string(cycles) + " open/close").c_str(), after);
        if (after.fds != before.fds || after.threads != before.threads) {
            ++failures;
            std::printf("the open/close cycles left descriptors or threads behind\n");
        }
    }
    ::kill(sim.pid, SIGTERM);
    int status = 0;
    ::waitpid(sim.pid, &status, 0);
    for (const char* side : {"ch0", "ch1"}) {
        const std::string image = examples + "/RT19_bin/kref10x_" + (side[2] == '0' ? "a" : "b") +
                                  "_31.elf";
        const std::string command = compare + " " + image + " 0x20000001 " + dump +
                                    "/" + side + " > /dev/null";
        if (std::system(command.c_str()) != 0) {
            ++failures;
            std::printf("%s: the simulated flash differs from the image\n", side);
        }
    }
    std::printf(failures == 0 ? "soak passed\n" : "soak FAILED\n");
    return failures == 0 ? 0 : 1;
}

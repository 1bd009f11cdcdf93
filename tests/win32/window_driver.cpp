// Drives zidavuvorud.exe from outside the process, as an operator or an accessibility tool
// would: finds its window, selects combo entries, clicks buttons, reads texts and the progress
// bar, reads and confirms message boxes. Every wait is bounded.
//
//   window_driver STEP...     steps, each a word and its arguments:
//     window                  the main window appears (20 s)
//     select ID TEXT          selects the entry TEXT of combo box ID
//     selected ID TEXT        combo box ID shows TEXT (10 s)
//     click ID                clicks button ID once it is enabled (10 s)
//     text ID TEXT            control ID shows TEXT (10 s)
//     info TEXT               the info field (207) starts with TEXT (60 s)
//     prompt TEXT             the operator field (208) starts with TEXT (60 s)
//     busy                    the progress bar shows (60 s)
//     box TEXT                a message box says TEXT; confirmed with OK (120 s). Steps that check
//     the moment of the next box:
//       progress              the progress bar showed more than 0 before it
//       boxinfo TEXT          the info field starts with TEXT while it is open
//       nowindow              no main window exists while it is open
//     boxopen                 a message box is open (120 s); it stays open
//     close                   posts WM_CLOSE to the main window
//     gone                    the main window is gone (30 s)
//     keys KEY...;            types the keys into the window, as the keyboard would (through
//                             the system's input queue): tab, shift+tab, enter, space, esc, up,
//                             down, alt+f4; the list ends with ";"
//     focus ID                control ID has the keyboard focus (10 s)
//     shown                   the main window exists and is visible, and no box is open
//     waitcursor              the window holds the mouse for its wait cursor (60 s)
// Any TEXT may be @FILE: the text in FILE (UTF-8).
// Exit status 0 when every step held; otherwise 1 with the failed step on standard error.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gui/dialog_view.h"
#include "support/text.h"

namespace {

constexpr int kBoxText = 0xFFFF;
// The ids of dialog 100 as the window's logic names them; the Win32 calls take an int.
constexpr int kProgramButton = zq::kProgramButton;
constexpr int kInfoText = zq::kInfoText;
constexpr int kOperatorText = zq::kOperatorText;
constexpr int kProgressBar = zq::kProgressBar;
constexpr DWORD kPoll = 50;

HWND g_main = nullptr;

std::wstring className(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return name;
}

std::string text(HWND w) {
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        2000, &copied);
    return zq::toUtf8(buffer);
}

// Top-level dialogs titled with the program's name: the main window has button 205, a
// message box does not.
std::vector<HWND> dialogs() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND w, LPARAM out) -> BOOL {
            if (IsWindowVisible(w) && className(w) == L"#32770" && text(w) == "Zidavuvorud QS")
                reinterpret_cast<std::vector<HWND>*>(out)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND mainWindow() {
    for (HWND w : dialogs())
        if (GetDlgItem(w, kProgramButton) != nullptr) return w;
    return nullptr;
}

HWND messageBox() {
    for (HWND w : dialogs())
        if (GetDlgItem(w, kProgramButton) == nullptr && GetDlgItem(w, kBoxText) != nullptr)
            return w;
    return nullptr;
}

template <typename Condition>
bool waitFor(DWORD limitMs, Condition condition) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > limitMs) return false;
        Sleep(kPoll);
    }
}

HWND item(int id) {
    return GetDlgItem(g_main, id);
}

bool fail(const std::string& what) {
    std::fprintf(stderr, "window_driver: %s\n", what.c_str());
    return false;
}

bool selectEntry(int id, const std::string& entry) {
    HWND combo = item(id);
    const std::wstring wide = zq::fromUtf8(entry);
    const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(wide.c_str()));
    if (index == CB_ERR) return fail("no entry " + entry + " in " + std::to_string(id));
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // Setting the selection from outside sends no notification; the operator's choice does.
    PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    return true;
}

// A drop-down list's window text is its selected entry.
std::string selected(int id) {
    return text(item(id));
}

struct BoxChecks {
    bool progress = false;
    bool noWindow = false;
    std::string info;
};

std::string expectedText(const std::string& arg) {
    if (arg.empty() || arg[0] != '@') return arg;
    std::ifstream in(arg.substr(1), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// Waits for a message box, watching the progress bar meanwhile.
bool confirmBox(const std::string& expected, const BoxChecks& checks) {
    LRESULT most = 0;
    HWND box = nullptr;
    const bool shown = waitFor(120000, [&] {
        if (g_main != nullptr && IsWindow(g_main) && IsWindowVisible(item(kProgressBar))) {
            const LRESULT at = SendMessageW(item(kProgressBar), PBM_GETPOS, 0, 0);
            if (at > most) most = at;
        }
        box = messageBox();
        return box != nullptr;
    });
    if (!shown)
        return fail("no message box \"" + expected +
                    "\"; info: " + (g_main ? text(item(kInfoText)) : std::string()));
    const std::string said = text(GetDlgItem(box, kBoxText));
    const std::string info = g_main != nullptr ? text(item(kInfoText)) : std::string();
    const bool windowSeen = mainWindow() != nullptr;
    std::printf("box: %s (progress up to %d; info: %s)\n", said.c_str(), static_cast<int>(most),
                info.c_str());
    std::fflush(stdout);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    if (!waitFor(10000, [&] { return !IsWindow(box); })) return fail("the box stays");
    if (said != expected) return fail("box says \"" + said + "\", not \"" + expected + "\"");
    if (checks.progress && most == 0) return fail("the progress bar never moved");
    if (checks.noWindow && windowSeen) return fail("a main window exists beside the box");
    if (info.rfind(checks.info, 0) != 0) return fail("info field: " + info);
    return true;
}

DWORD windowThread() {
    return GetWindowThreadProcessId(g_main, nullptr);
}

GUITHREADINFO threadInfo() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(windowThread(), &info)) info = GUITHREADINFO{};
    return info;
}

int focusedControl() {
    HWND focus = threadInfo().hwndFocus;
    return focus != nullptr && GetParent(focus) == g_main ? GetDlgCtrlID(focus) : 0;
}

bool keyCode(const std::string& name, std::vector<WORD>& codes) {
    static const struct {
        const char* name;
        WORD code;
    } kKeys[] = {{"tab", VK_TAB},    {"enter", VK_RETURN}, {"space", VK_SPACE},
                 {"esc", VK_ESCAPE}, {"up", VK_UP},        {"down", VK_DOWN},
                 {"f4", VK_F4},      {"shift", VK_SHIFT},  {"alt", VK_MENU}};
    for (const auto& key : kKeys)
        if (name == key.name) {
            codes.push_back(key.code);
            return true;
        }
    return false;
}

// A key with its modifiers goes down in order and comes up in reverse, as fingers do.
bool typeKey(const std::string& chord) {
    std::vector<WORD> codes;
    std::size_t from = 0;
    for (std::size_t plus; (plus = chord.find('+', from)) != std::string::npos; from = plus + 1)
        if (!keyCode(chord.substr(from, plus - from), codes)) return fail("unknown key " + chord);
    if (!keyCode(chord.substr(from), codes)) return fail("unknown key " + chord);
    std::vector<INPUT> inputs;
    for (WORD code : codes) {
        INPUT down{};
        down.type = INPUT_KEYBOARD;
        down.ki.wVk = code;
        inputs.push_back(down);
    }
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        INPUT up{};
        up.type = INPUT_KEYBOARD;
        up.ki.wVk = *it;
        up.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(up);
    }
    // Input goes to the foreground window's thread; the window must have it first.
    SetForegroundWindow(g_main);
    if (!waitFor(5000, [] { return GetForegroundWindow() == g_main; }))
        return fail("the window does not come to the foreground");
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (sent != inputs.size()) return fail("SendInput took " + std::to_string(sent) + " keys");
    // The window handles the keys later, in their order: a step after them waits for a
    // condition that only the last key brings about.
    return true;
}

// The program shows its wait cursor by routing the mouse to its window with a cursor of its
// own; another process cannot read which cursor that is under Wine (its icon data stays in the
// owner), so the routing and a cursor being set are what is checked here.
bool waitCursorShown() {
    if (threadInfo().hwndCapture != g_main) return false;
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    return GetCursorInfo(&cursor) && cursor.hCursor != nullptr;
}

bool run(int argc, wchar_t** argv) {
    // A window of an earlier call of the driver, if there is one.
    g_main = mainWindow();
    BoxChecks checks;
    for (int i = 1; i < argc; ++i) {
        const std::string step = zq::toUtf8(argv[i]);
        // Texts that are not plain ASCII come in files: Wine turns the command line into wide
        // characters through the locale of the shell that started it.
        auto arg = [&](int k) {
            return i + k < argc ? expectedText(zq::toUtf8(argv[i + k])) : std::string();
        };
        auto id = [&] { return std::atoi(arg(1).c_str()); };
        if (step == "window") {
            if (!waitFor(20000, [] { return (g_main = mainWindow()) != nullptr; }))
                return fail("no main window");
        } else if (step == "nowindow") {
            checks.noWindow = true;
            continue;
        } else if (step == "boxinfo") {
            checks.info = arg(1);
            ++i;
            continue;
        } else if (step == "boxopen") {
            if (!waitFor(120000, [] { return messageBox() != nullptr; })) return fail("no box");
        } else if (step == "busy") {
            if (!waitFor(60000, [] { return IsWindowVisible(item(kProgressBar)) != FALSE; }))
                return fail("no progress bar");
        } else if (step == "select") {
            if (!selectEntry(id(), arg(2))) return false;
            i += 2;
        } else if (step == "selected") {
            if (!waitFor(10000, [&] { return selected(id()) == arg(2); }))
                return fail("combo " + arg(1) + " shows " + selected(id()));
            i += 2;
        } else if (step == "click") {
            HWND button = item(id());
            if (!waitFor(10000, [&] { return IsWindowEnabled(button) != FALSE; }))
                return fail("button " + arg(1) + " stays disabled");
            PostMessageW(button, BM_CLICK, 0, 0);
            i += 1;
        } else if (step == "text" || step == "info" || step == "prompt") {
            const bool prefix = step != "text";
            const int control = step == "info"     ? kInfoText
                                : step == "prompt" ? kOperatorText
                                                   : id();
            const std::string want = prefix ? arg(1) : arg(2);
            std::string seen;
            if (!waitFor(prefix ? 60000 : 10000, [&] {
                    seen = text(item(control));
                    return prefix ? seen.rfind(want, 0) == 0 : seen == want;
                }))
                return fail(std::to_string(control) + " shows \"" + seen + "\", not \"" + want +
                            "\"");
            i += prefix ? 1 : 2;
        } else if (step == "progress") {
            checks.progress = true;
            continue;
        } else if (step == "box") {
            if (!confirmBox(arg(1), checks)) return false;
            i += 1;
        } else if (step == "close") {
            PostMessageW(g_main, WM_CLOSE, 0, 0);
        } else if (step == "keys") {
            for (++i; i < argc && zq::toUtf8(argv[i]) != ";"; ++i)
                if (!typeKey(zq::toUtf8(argv[i]))) return false;
        } else if (step == "focus") {
            if (!waitFor(10000, [&] { return focusedControl() == id(); }))
                return fail("the focus is on " + std::to_string(focusedControl()) + ", not " +
                            arg(1));
            i += 1;
        } else if (step == "shown") {
            if (g_main == nullptr || !IsWindow(g_main) || !IsWindowVisible(g_main))
                return fail("the main window is not shown");
            if (HWND box = messageBox())
                return fail("a box is open: " + text(GetDlgItem(box, kBoxText)));
        } else if (step == "waitcursor") {
            if (!waitFor(60000, waitCursorShown)) return fail("no wait cursor");
        } else if (step == "gone") {
            if (!waitFor(30000, [] { return !IsWindow(g_main); })) return fail("the window stays");
        } else {
            return fail("unknown step " + step);
        }
        checks = BoxChecks();
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return run(argc, argv) ? 0 : 1;
}

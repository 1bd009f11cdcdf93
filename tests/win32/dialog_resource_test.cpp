// The main window as the program's resources build it, and the poster that feeds it.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/catalogue_writer.h"
#include "engine/platform_list.h"
#include "gui/sw_catalogue.h"
#include "gui/wokno.h"
#include "res/dialog100_layout.h"
#include "support/mem_source.h"
#include "support/text.h"
#include "win32/window_poster.h"
#include "win32/window_view.h"

namespace zq {
namespace {

struct Child {
    int id;
    std::string className;
    std::string text;
    LONG style;
    RECT rect;  // in the dialog's client coordinates
};

std::string windowText(HWND window) {
    wchar_t buffer[512];
    GetWindowTextW(window, buffer, 512);
    return toUtf8(buffer);
}

std::vector<Child> children(HWND dialog) {
    std::vector<Child> found;
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        wchar_t name[64];
        GetClassNameW(w, name, 64);
        RECT r;
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        found.push_back({static_cast<short>(GetDlgCtrlID(w)), toUtf8(name), windowText(w),
                         static_cast<LONG>(GetWindowLongPtrW(w, GWL_STYLE)), r});
    }
    return found;
}

class DialogResourceTest : public testing::InTempDirTest {
protected:
    void SetUp() override {
        InTempDirTest::SetUp();
        writeImages("a");
        writeImages("b");
        std::string text =
            testing::catalogueText({testing::catalogueSection("SW31", "Verze 3.1", "a"),
                                    testing::catalogueSection("SW30", "Verze 3.0", "b")},
                                   "SW30", "7.4");
        MemSource source(MemPtr(reinterpret_cast<std::uint8_t*>(text.data()),
                                static_cast<std::uint32_t>(text.size())));
        ASSERT_TRUE(catalogue.read(source)) << catalogue.errorText();
        ASSERT_NE(view.window(), nullptr) << "dialog 100 missing: " << GetLastError();
        dialog.initDialog();
    }

    SwCatalogue catalogue;
    PlatformList platforms;
    win32::WindowView view{GetModuleHandleW(nullptr)};
    MainDialog dialog{catalogue, platforms, view};
};

// The dialog manager's window against the table that the Qt window is built from: both come
// from the one resource script, so neither may read it differently.
TEST_F(DialogResourceTest, EveryControlIsAsTheGeneratedTableHasIt) {
    HWND window = view.window();
    EXPECT_EQ(windowText(window), "Zidavuvorud QS");
    EXPECT_NE(FindResourceExW(nullptr, RT_DIALOG, MAKEINTRESOURCEW(100),
                              MAKELANGID(LANG_CZECH, SUBLANG_DEFAULT)),
              nullptr);
    RECT size{0, 0, res::kDialog100Width, res::kDialog100Height};
    MapDialogRect(window, &size);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    // The children in z-order, which is the template's order.
    const std::vector<Child> found = children(window);
    ASSERT_EQ(found.size(), res::kDialog100Items.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        const res::DialogItem& e = res::kDialog100Items[i];
        const Child& c = found[i];
        SCOPED_TRACE("zidavuvorud.rc:" + std::to_string(e.line));
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.className, e.className);
        const bool combo = e.kind == res::DialogItemKind::ComboBox;
        // The program sets its own texts over the empty ones; a combo box's text is its entry.
        if (*e.text != '\0') {
            EXPECT_EQ(c.text, e.text);
        }
        LONG style = c.style;
        if (combo) {
            // The combo box hands its scroll bar on to its drop-down list.
            COMBOBOXINFO info{};
            info.cbSize = sizeof(info);
            GetComboBoxInfo(GetDlgItem(window, e.id), &info);
            style |= static_cast<LONG>(GetWindowLongPtrW(info.hwndList, GWL_STYLE)) & WS_VSCROLL;
        }
        // The control's type in the low bits, and every flag its line names.
        const LONG typeMask = e.kind == res::DialogItemKind::Text ? SS_TYPEMASK
                              : combo                             ? 0x3
                                                                  : BS_TYPEMASK;
        const auto want = static_cast<LONG>(e.style);
        EXPECT_EQ(style & typeMask, want & typeMask);
        // comctl32's progress bar (Wine's at least) draws an edge of its own for WS_BORDER and
        // drops the flag.
        const LONG named = want & ~(e.kind == res::DialogItemKind::ProgressBar ? WS_BORDER : 0);
        EXPECT_EQ(style & named, named);
        EXPECT_TRUE(c.style & WS_VISIBLE);
        // The dialog manager converts position and size each on its own.
        RECT place{e.x, e.y, e.width, e.height};
        MapDialogRect(window, &place);
        EXPECT_EQ(c.rect.left, place.left);
        EXPECT_EQ(c.rect.top, place.top);
        EXPECT_EQ(c.rect.right - c.rect.left, place.right);
        // A drop-down list's window is as high as its edit part; the height given is the open
        // list's, which the list rounds down to whole entries.
        if (!combo) {
            EXPECT_EQ(c.rect.bottom - c.rect.top, place.bottom);
        }
    }
    EXPECT_EQ(windowText(GetDlgItem(window, kStatusText)), "Zidavuvorud QS 1.02, verze dat 7.4");
}

// What the combo boxes hold and which buttons work, window_e2e.sh reads from outside.
TEST_F(DialogResourceTest, TheIconLoads) {
    HANDLE icon =
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(108), IMAGE_ICON, 32, 32, 0);
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) DestroyIcon(static_cast<HICON>(icon));
}

TEST_F(DialogResourceTest, PostedNotificationsKeepTheirNegativeCodes) {
    win32::WindowPoster poster(view.window());
    for (std::intptr_t code : {std::intptr_t{-1}, std::intptr_t{-2}, std::intptr_t{0x0A}}) {
        poster.post({WM_COM_ERROR, code, 0});
        MSG message;
        ASSERT_TRUE(PeekMessageW(&message, view.window(), WM_COM_ERROR, WM_COM_ERROR, PM_REMOVE));
        EXPECT_EQ(static_cast<std::intptr_t>(message.wParam), code);
    }
    // A window that is gone takes no posts; the worker is not held up.
    view.destroyWindow();
    poster.post({WM_COM_RXDATA, 5, 0});
    EXPECT_EQ(poster.failedPosts(), 1u);
}

}  // namespace
}  // namespace zq

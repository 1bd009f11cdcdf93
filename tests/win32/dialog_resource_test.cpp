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

struct Expected {
    int id;
    const char* className;
    const char* text;  // for the labels and group boxes, which share id -1
    LONG styleMask;
    LONG style;
    RECT dlu;  // x, y, width, height
};

// One of each kind, with its styles: the conversion from dialog units and the styles the window
// relies on, not the layout's every entry.
const Expected kControls[] = {
    {200,
     "ComboBox",
     "",
     0x3 | WS_VSCROLL | WS_TABSTOP,
     CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
     {26, 12, 48, 90}},
    {205, "Button", "Naprogramovat", BS_TYPEMASK, BS_PUSHBUTTON, {208, 44, 59, 14}},
    {206, "msctls_progress32", "", PBS_SMOOTH, PBS_SMOOTH, {15, 156, 245, 9}},
    {207, "Static", "", SS_TYPEMASK | SS_SUNKEN, SS_LEFT | SS_SUNKEN, {15, 131, 245, 21}},
    {215,
     "Static",
     "Zidavuvorud QS 1.02, verze dat 7.4",
     SS_TYPEMASK,
     SS_RIGHT,
     {129, 177, 140, 8}},
    {-1, "Static", "Verze SW", SS_TYPEMASK, SS_LEFT, {5, 46, 32, 8}},
    {-1, "Button", "Info", BS_TYPEMASK, BS_GROUPBOX, {7, 119, 261, 54}},
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

TEST_F(DialogResourceTest, EveryControlSitsWhereTheDialogUnitsPutIt) {
    HWND window = view.window();
    EXPECT_EQ(windowText(window), "Zidavuvorud QS");
    EXPECT_NE(FindResourceExW(nullptr, RT_DIALOG, MAKEINTRESOURCEW(100),
                              MAKELANGID(LANG_CZECH, SUBLANG_DEFAULT)),
              nullptr);
    RECT size{0, 0, 275, 190};
    MapDialogRect(window, &size);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    const std::vector<Child> found = children(window);
    EXPECT_EQ(found.size(), 16u);
    for (const Expected& e : kControls) {
        SCOPED_TRACE(std::to_string(e.id) + " " + e.text);
        const Child* c = nullptr;
        for (const Child& candidate : found)
            if (candidate.id == e.id && (e.id != -1 || candidate.text == e.text)) c = &candidate;
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->className, e.className);
        const bool combo = e.className == std::string("ComboBox");
        // A combo box's text is its selected entry.
        if (!combo) {
            EXPECT_EQ(c->text, e.text);
        }
        LONG style = c->style;
        if (combo) {
            // The combo box hands its scroll bar on to its drop-down list.
            COMBOBOXINFO info{};
            info.cbSize = sizeof(info);
            GetComboBoxInfo(GetDlgItem(window, e.id), &info);
            style |= static_cast<LONG>(GetWindowLongPtrW(info.hwndList, GWL_STYLE)) & WS_VSCROLL;
        }
        EXPECT_EQ(style & e.styleMask, e.style);
        EXPECT_TRUE(c->style & WS_VISIBLE);
        // The dialog manager converts position and size each on its own.
        RECT want = e.dlu;
        MapDialogRect(window, &want);
        EXPECT_EQ(c->rect.left, want.left);
        EXPECT_EQ(c->rect.top, want.top);
        EXPECT_EQ(c->rect.right - c->rect.left, want.right);
        // A drop-down list's window is as high as its edit part; the height given is the open
        // list's, which the list rounds down to whole entries.
        if (!combo) {
            EXPECT_EQ(c->rect.bottom - c->rect.top, want.bottom);
        }
    }
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

#include "win32/window_poster.h"

namespace zq::win32 {

void WindowPoster::post(const Notification& notification) {
    // WPARAM is unsigned; -1 and -2 travel as their two's complement and come back out of
    // the signed cast on the GUI thread unchanged.
    if (!PostMessageW(window_, notification.message, static_cast<WPARAM>(notification.wParam),
                      static_cast<LPARAM>(notification.lParam)))
        failed_.fetch_add(1);
}

}  // namespace zq::win32

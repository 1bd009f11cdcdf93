#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "os/comport.h"
#include "os/notifications.h"
#include "os/serial_ports.h"
#include "support/fail.h"
#include "support/text.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

// Exception codes: the texts' distance from kExceptionStringBase.
constexpr std::uint32_t kOpenFailed = kStrPortOpenFailed - kExceptionStringBase;
constexpr std::uint32_t kBadPort = kStrPortBadParameter - kExceptionStringBase;
constexpr std::uint32_t kWriteFailed = kStrPortWriteFailed - kExceptionStringBase;
constexpr std::uint32_t kWriteIncomplete = kStrPortWriteIncomplete - kExceptionStringBase;  // "%d"
constexpr std::uint32_t kReadFailed = kStrPortReadFailed - kExceptionStringBase;
constexpr std::uint32_t kReadWaitFailed = kStrPortReadWaitFailed - kExceptionStringBase;  // "%d"

constexpr DWORD kInputQueue = 16;
constexpr DWORD kOutputQueue = 1024;
constexpr DWORD kScratchSize = 1024;
// Under Wine a pseudo-terminal's WaitCommEvent ends at once with ERROR_OPERATION_ABORTED and
// never reports EV_RXCHAR; the receive thread then asks ClearCommError instead: every
// millisecond while the line is busy, and less often once a hundred polls found nothing, as
// every wait costs a round trip to the wine server and an open port idles most of its life.
constexpr DWORD kPollBusyMs = 1;
constexpr DWORD kPollQuietMs = 20;
constexpr unsigned kQuietAfterPolls = 100;

// Wine's serial driver cannot be trusted to report EV_RXCHAR: on a pseudo-terminal its
// WaitCommEvent ends with 995, or now and then stays pending past the bytes that came. Under
// Wine the receive thread polls from the start.
bool underWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void closeIfSet(HANDLE& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

struct ComPort::Native {
    unsigned portNumber = 0;
    HANDLE handle = nullptr;  // none until open succeeds
    OVERLAPPED txOverlapped{};
    OVERLAPPED rxOverlapped{};
    // The reads' own record: under Wine a comm-event wait may still complete into rxOverlapped
    // after it has reported its end, which must never be taken for a read's result.
    OVERLAPPED readOverlapped{};
    // WaitCommEvent's mask, here rather than on the receive thread's stack: under Wine a wait
    // that was given up may still write it later, even after the thread has ended.
    DWORD waitMask = 0;
    std::atomic<bool> sent{false};  // a block went out since the receive thread last looked
};

ComPort::Native* ComPort::createNative(const std::string& port) {
    auto* native = new Native;
    native->portNumber = comPortNumber(port);
    return native;
}

void ComPort::NativeDeleter::operator()(Native* native) const {
    delete native;
}

std::intptr_t ComPort::systemHandle() const {
    return reinterpret_cast<std::intptr_t>(native_->handle);
}

void ComPort::open() {
    Native& native = *native_;
    if (native.portNumber == 0 || native.portNumber > 16) throw new CVyjimkaN(kBadPort);
    if (!require(native.handle == nullptr, "expected state")) return;

    // The device namespace prefix: without it CreateFile knows only COM1 to COM9.
    std::wstring device = fromUtf8("\\\\.\\" + comPortName(native.portNumber));
    HANDLE handle = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw new CVyjimkaGLE(kOpenFailed);
    native.handle = handle;

    // Every read returns at once with whatever the driver holds.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baudRate_;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;

    DWORD errors = 0;
    bool ok = SetCommTimeouts(handle, &timeouts) && SetCommState(handle, &dcb) &&
              SetupComm(handle, kInputQueue, kOutputQueue);
    if (ok) {
        native.txOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ok = native.txOverlapped.hEvent != nullptr;
    }
    if (ok) {
        native.rxOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        native.readOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ok = native.rxOverlapped.hEvent != nullptr && native.readOverlapped.hEvent != nullptr;
    }
    ok = ok && ClearCommError(handle, &errors, nullptr) && SetCommMask(handle, EV_RXCHAR | EV_ERR);
    if (!ok) {
        // The exception takes the system error first; closing could change it. A port that
        // failed half-way is closed again, so a later open starts afresh.
        CVyjimka* e = new CVyjimkaGLE(kOpenFailed);
        closePort();
        throw e;
    }
}

void ComPort::closePort() {
    Native& native = *native_;
    closeIfSet(native.handle);
    closeIfSet(native.txOverlapped.hEvent);
    closeIfSet(native.rxOverlapped.hEvent);
    closeIfSet(native.readOverlapped.hEvent);
}

void ComPort::wakeRx() {
    if (native_->rxOverlapped.hEvent != nullptr) SetEvent(native_->rxOverlapped.hEvent);
}

void ComPort::wakeTx() {
    if (native_->txOverlapped.hEvent != nullptr) SetEvent(native_->txOverlapped.hEvent);
}

void ComPort::clearLineErrors() {
    DWORD errors = 0;
    if (native_->handle != nullptr) ClearCommError(native_->handle, &errors, nullptr);
}

namespace {

// Ends an overlapped operation that nobody will wait for any more; the OVERLAPPED record must
// not be in the system's hands when it is reused or freed.
void cancelPending(HANDLE handle, OVERLAPPED& overlapped) {
    DWORD ignored = 0;
    CancelIoEx(handle, &overlapped);
    GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
}

// A WaitCommEvent left pending when the receive thread leaves, by a stop or by a throw, is
// cancelled, so the next reception finds rxOverlapped free.
struct PendingWait {
    HANDLE handle;
    OVERLAPPED& overlapped;
    bool pending = false;
    ~PendingWait() {
        if (pending) cancelPending(handle, overlapped);
    }
};

// Completes an overlapped read; false (with the system error set) when it failed.
bool finishRead(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD& n) {
    if (started) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    return GetOverlappedResult(handle, &overlapped, &n, TRUE) != 0;
}

}  // namespace

void ComPort::receiveLoop() {
    Native& native = *native_;
    HANDLE handle = native.handle;
    OVERLAPPED& overlapped = native.rxOverlapped;
    OVERLAPPED& reading = native.readOverlapped;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, nullptr)) throw new CVyjimkaGLE(kReadFailed);

    std::uint8_t scratch[kScratchSize];
    static const bool wine = underWine();
    bool polling = wine;
    unsigned emptyPolls = 0;
    PendingWait wait{handle, overlapped};
    while (!rxStop_) {
        DWORD mask = 0;
        if (polling) {
            // A reply follows a block sent: poll quickly again.
            if (native.sent.exchange(false)) emptyPolls = 0;
            // A late comm-event completion may have left the event signalled. stopRx sets
            // rxStop_ before it signals, so after the reset either the check or the wait sees
            // the stop.
            ResetEvent(overlapped.hEvent);
            if (rxStop_) break;
            const bool busy = emptyPolls < kQuietAfterPolls;
            WaitForSingleObject(overlapped.hEvent, busy ? kPollBusyMs : kPollQuietMs);
            if (busy) ++emptyPolls;
            mask = EV_RXCHAR;  // the drain below reports line errors as well
        } else if (WaitCommEvent(handle, &native.waitMask, &overlapped)) {
            mask = native.waitMask;
        } else {
            DWORD error = GetLastError();
            // Wine: 995 on a pseudo-terminal, or 87 while a wait it gave up on is still alive.
            if (error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_PARAMETER) {
                polling = true;
                continue;
            }
            if (error != ERROR_IO_PENDING) throw new CVyjimkaGLE(kReadFailed);
            wait.pending = true;
            // stopRx may have signalled the event before WaitCommEvent reset it.
            if (rxStop_) break;
            if (WaitForSingleObject(overlapped.hEvent, INFINITE) != WAIT_OBJECT_0)
                throw new CVyjimkaN(kReadWaitFailed, 1);
            if (rxStop_) break;
            DWORD ignored = 0;
            if (!GetOverlappedResult(handle, &overlapped, &ignored, FALSE)) {
                // Wine ends the wait with 995, or signals the event before the result is set
                // (996); either way it never reports a byte on a pseudo-terminal.
                const DWORD result = GetLastError();
                if (result != ERROR_OPERATION_ABORTED && result != ERROR_IO_INCOMPLETE)
                    throw new CVyjimkaGLE(kReadFailed);
                if (result == ERROR_IO_INCOMPLETE) CancelIoEx(handle, &overlapped);
                polling = true;
            }
            wait.pending = false;
            if (!polling) mask = native.waitMask;
        }
        if (rxStop_) break;

        if (mask & EV_ERR) {
            if (!ClearCommError(handle, &errors, &status)) throw new CVyjimkaGLE(kReadFailed);
            if (errors != 0) postComError(static_cast<std::intptr_t>(errors));
        }
        if (!(mask & EV_RXCHAR)) continue;

        // Read exactly what the driver holds: a read for more stays pending under Wine instead
        // of returning what is there. Drain it all, as an EV_RXCHAR reports only new bytes.
        // The lock is taken only when there is something to store.
        for (;;) {
            if (!ClearCommError(handle, &errors, &status)) throw new CVyjimkaGLE(kReadFailed);
            if (errors != 0) postComError(static_cast<std::intptr_t>(errors));
            if (status.cbInQue == 0) break;
            std::unique_lock<TimedMutex> guard(lock_, lockLimit_);
            if (!guard.owns_lock()) throw new CVyjimkaN(0, "ComPort::rxThreadFnc() 1");
            const bool full = rxCount_ >= rxWanted_;
            std::uint8_t* target = full ? scratch : rxWrite_;
            DWORD room = full ? kScratchSize : rxWanted_ - rxCount_;
            DWORD n = 0;
            BOOL done =
                ReadFile(handle, target, std::min<DWORD>(room, status.cbInQue), &n, &reading);
            if (!finishRead(handle, reading, done, n)) throw new CVyjimkaGLE(kReadFailed);
            if (n == 0) break;
            probe_.onRead();
            emptyPolls = 0;
            if (full)
                rxDropped_ += n;
            else
                storeReceived(n);
        }
    }
}

void ComPort::writeBlock() {
    Native& native = *native_;
    HANDLE handle = native.handle;
    OVERLAPPED& overlapped = native.txOverlapped;
    DWORD written = 0;
    probe_.onWrite();
    native.sent = true;
    if (WriteFile(handle, txData_, txLength_, &written, &overlapped)) return;
    if (GetLastError() != ERROR_IO_PENDING) throw new CVyjimkaGLE(kWriteFailed);
    // stopTx may have signalled the event before WriteFile reset it.
    if (!txStop_ && WaitForSingleObject(overlapped.hEvent, INFINITE) != WAIT_OBJECT_0)
        throw new CVyjimkaN(kWriteIncomplete, 1);
    if (txStop_) {
        cancelPending(handle, overlapped);
        return;
    }
    if (!GetOverlappedResult(handle, &overlapped, &written, FALSE))
        throw new CVyjimkaGLE(kWriteFailed);
    if (written != txLength_) throw new CVyjimkaN(kWriteIncomplete, 2);
}

}  // namespace zq

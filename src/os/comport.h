#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "os/serial_line.h"
#include "os/timed_mutex.h"
#include "os/timer_thread.h"
#include "os/turnaround_probe.h"

namespace zq {

// The speed of the line to the programming adapter.
inline constexpr std::uint32_t kComPortBaudRate = 921600;

// The PC serial port to which the programming adapter is plugged: 8 data bits, no parity, one
// stop bit, no handshake of any kind, DTR and RTS held inactive, used by nobody else. A transmit
// thread lives as long as the object; each startRx starts a receive thread that announces the
// bytes it stores with WM_COM_RXDATA (notifications.h) and line errors with WM_COM_ERROR. A
// worker that fails leaves its text in the pending message and posts WM_COM_ERROR with -1
// (receive) or -2 (transmit).
//
// Owner's order: construct, open, startRx, resetRx any number of times, stopRx, stopTx,
// destroy. open, resetRx, stopRx and stopTx throw CVyjimka by pointer.
class ComPort : public SerialLine, public TimerThread {
public:
    // port: "COM1" to "COM16" on Windows (comPortName), a device path on POSIX. Starts the
    // transmit thread; does not touch the port.
    ComPort(std::string port, std::uint32_t baudRate);
    // Closes the port. Threads that the owner did not stop are ended here, never left running.
    ~ComPort() override;

    void open() override;
    void send(const std::uint8_t* data, std::uint32_t length) override;
    void startRx(std::uint8_t* buffer, std::uint32_t length, RxMode mode) override;
    void resetRx() override;
    void discardRx(std::uint32_t count) override;
    void stopRx() override;
    void stopTx() override;
    bool isWriting() override;
    std::uint32_t receivedCount() override;

    // Mode 3's flush, on the timer thread 200 ms after startRx.
    void timeout() override;

    const std::string& portName() const { return portName_; }
    std::uint32_t baudRate() const { return baudRate_; }

protected:
    // Reachable by tests through a derived class: the receive lock, and the limits of the waits
    // for it and for the worker threads to end (500 ms in the program).
    TimedMutex lock_;
    std::chrono::milliseconds lockLimit_{500};
    std::chrono::milliseconds stopLimit_{500};
    // Bytes that arrived while the buffer was full, dropped since the port was constructed.
    std::atomic<std::uint64_t> rxDropped_{0};
    // The open port's system handle (a HANDLE on Windows, a descriptor on POSIX), for tests
    // that act on the line itself, such as sending a break.
    std::intptr_t systemHandle() const;

private:
    struct Native;  // the platform's handles (comport_posix.cpp / comport_win32.cpp)
    struct NativeDeleter {
        void operator()(Native* native) const;
    };
    static Native* createNative(const std::string& port);

    void rxThreadFnc();
    void txThreadFnc();
    // Under lock_: counts n bytes just stored at rxWrite_ and announces them as the mode says.
    void storeReceived(std::uint32_t n);
    void endRxThread();
    void endTxThread();

    // Platform parts.
    void receiveLoop();  // the receive thread's loop until rxStop_
    void writeBlock();   // writes txData_/txLength_; returns early when txStop_ is set
    void wakeRx();
    void wakeTx();
    void clearLineErrors();
    void closePort();

    const std::string portName_;
    const std::uint32_t baudRate_;
    std::unique_ptr<Native, NativeDeleter> native_;
    TurnaroundProbe probe_;

    // Reception. rxBuffer_, rxWanted_ and rxMode_ change only while no receive thread runs;
    // rxWrite_, rxCount_ and rxReported_ only under lock_.
    std::uint8_t* rxBuffer_ = nullptr;
    std::uint8_t* rxWrite_ = nullptr;
    std::uint32_t rxWanted_ = 0;
    std::uint32_t rxCount_ = 0;
    std::uint32_t rxReported_ = 0;
    RxMode rxMode_ = RxMode::OnComplete;
    std::atomic<bool> rxStop_{false};
    std::mutex rxEndLock_;
    std::condition_variable rxEndedEvent_;
    bool rxEnded_ = false;
    std::thread rxThread_;

    // Transmission: one block in flight, handed over under txLock_.
    std::mutex txLock_;
    std::condition_variable txEvent_;
    const std::uint8_t* txData_ = nullptr;
    std::uint32_t txLength_ = 0;
    bool txRequest_ = false;
    std::atomic<bool> txStop_{false};
    bool txEnded_ = false;
    bool txStoppedByOwner_ = false;
    std::atomic<bool> writing_{false};
    std::thread txThread_;  // last: started once everything above is initialised
};

}  // namespace zq

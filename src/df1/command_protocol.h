#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "df1/commands.h"
#include "df1/df1_frame.h"
#include "df1/transaction.h"
#include "df1/wire_observer.h"
#include "os/timed_mutex.h"
#include "os/timer_thread.h"
#include "support/mem_ptr.h"

namespace zq {

class ConnectTxn;
class EraseTxn;
class UploadInitTxn;
class WriteTxn;
class ReadTxn;
class IdReadTxn;
class ExecTxn;
class Command7Txn;
class IdSearchTxn;
class ChannelTxn;

// What a test may change of a CommandProtocol; the defaults are the program's.
struct ProtocolOptions {
    // The limit of every wait for the protocol's lock.
    std::chrono::milliseconds lockLimit{500};
    // Every time-out period is multiplied by timeScaleMultiplier / timeScaleDivisor, so that
    // time-outs of seconds can be exercised in milliseconds (or made never to expire).
    std::uint32_t timeScaleMultiplier = 1;
    std::uint32_t timeScaleDivisor = 1;
};

// The programming engine's only way to talk to a target: the boot loader (level 1), the flash
// daemon (level 2) and the adapter's channel switch. A request starts one exchange and returns;
// the exchange advances when the main loop passes serial events to onSerialEvent and when the
// time-out expires on the protocol's own timer thread, which then posts WM_COM_TIMEOUT. The
// engine polls state() and, once it is Done, reads reply().
//
// Requests, onSerialEvent, abort, state and reply belong to one thread (the GUI thread). A
// request while another exchange runs is a REQUIRE failure "!!!". Every wait for the lock is
// limited (500 ms); a miss is an EXPLICIT failure "deadlock".
class CommandProtocol {
public:
    enum SerialEvent : std::uint32_t { kBytesArrived = 1, kLineError = 2 };

    CommandProtocol(Df1FrameTx& tx, Df1FrameRx& rx, const ProtocolOptions& options = {});
    ~CommandProtocol();
    CommandProtocol(const CommandProtocol&) = delete;
    CommandProtocol& operator=(const CommandProtocol&) = delete;

    // level 1: the boot loader (after the acknowledgement it waits without a time limit);
    // level 2: the daemon (15 s per attempt). reply(): the 4 bytes of the plID, little-endian.
    void connect(std::uint8_t level);
    // reply(): one byte, the last percent (also while InProgress).
    void erase(std::uint32_t address, std::uint32_t length, std::uint32_t timeoutMs);
    void uploadInit(std::uint32_t address, std::uint32_t length);
    // length at most 496 ("correct size"); the data are copied at once.
    void write(std::uint32_t address, std::uint32_t length, const std::uint8_t* data,
               std::uint32_t timeoutMs);
    // length at most 493, what one reply can carry ("correct size"). reply(): the data.
    void read(std::uint32_t address, std::uint32_t length);
    // chipId: 8 bytes, sent unchanged. reply(): the data.
    void idRead(const std::uint8_t* chipId, std::uint8_t offset, std::uint8_t count);
    void exec(std::uint32_t address);
    void command7();
    // reply(): the chip ids found, 8 bytes each.
    void idSearch(std::uint8_t selector);
    // channel 0 or 1 of the adapter; any other is a REQUIRE failure "correct channel" and no
    // request.
    void switchChannel(std::uint32_t channel);

    // kind 1: bytes arrived (count from WM_COM_RXDATA); kind 2: a line error; others: only the
    // current exchange is looked at again.
    void onSerialEvent(std::uint32_t kind, std::uint32_t count);
    // Stops the timer and handles the armed time-out at once, as if it had expired: the
    // running exchange is sent again or ends with NoReply, and WM_COM_TIMEOUT is posted.
    void expireNow();
    // Ends the running exchange with NoReply.
    void abort();

    TxnState state();
    // The last exchange's last answer was REJECT (it then ended NoReply, or is retried).
    bool rejected();
    // The reply's payload; the bytes stay valid until the next request.
    void reply(MemPtr& dest);
    // The period of the last time-out armed, in ms (before the time scale).
    std::uint32_t armedPeriodMs();
    // Requests sent again (after a time-out, a refusal or a bad reply) since the protocol was
    // made: how healthy the line was, for the record of a run.
    std::uint64_t retransmissions() const { return retransmissions_.load(); }
    // True while a time-out is armed and waiting on the timer thread.
    bool timeoutRunning() const { return timer_.isRunning(); }

    // Everything on the line from now on also goes to observer (none: nothing). Set while no
    // exchange runs; the observer must outlive the protocol or be taken away first.
    void setObserver(WireObserver* observer);

private:
    friend class Transaction;

    // The protocol's timer thread; an expiry comes to onTimeout().
    class Timer : public TimerThread {
    public:
        explicit Timer(CommandProtocol& owner) : owner_(owner) {}
        ~Timer() override { endTimerThread(); }
        void timeout() override { owner_.onTimeout(true); }

    private:
        CommandProtocol& owner_;
    };

    using Guard = std::unique_lock<TimedMutex>;

    // Takes lock_ within the limit. A miss is reported as the EXPLICIT failure "deadlock" and
    // gives a guard that owns nothing, after which the caller gives up.
    Guard lockOrReport();
    // The time-out, on the timer thread (fromTimer) or in expireNow. An expiry of the timer
    // thread may have been overtaken by a cancel or a new start while it waited for the lock.
    void onTimeout(bool fromTimer);

    // Called by the transactions, under lock_.
    void transmit(Transaction& txn);
    void armTimer(std::uint32_t ms);
    void cancelTimer();
    // Under lock_: tells the observer about a transmission of txn.
    void observeSend(const Transaction& txn);
    // Under lock_: what the receiver took from the line since the snapshot, for the observer.
    struct RxSnapshot {
        std::uint32_t scanned;
        std::uint32_t ackState;
        std::uint32_t result;
        Df1FrameRx::Counters counters;
    };
    RxSnapshot rxSnapshot() const;
    void observeReceive(const RxSnapshot& before);

    template <class Setup>
    void request(Transaction& txn, Setup&& setup);
    // Under lock_: if the current exchange has ended, record its result and let it go.
    void settle();

    TimedMutex lock_;
    const std::chrono::milliseconds lockLimit_;
    std::uint32_t armedPeriodMs_ = 0;
    Df1FrameTx& tx_;
    Df1FrameRx& rx_;
    std::array<std::uint8_t, kRequestAreaSize> requestArea_{};
    std::unique_ptr<ConnectTxn> connect_;
    std::unique_ptr<EraseTxn> erase_;
    std::unique_ptr<UploadInitTxn> uploadInit_;
    std::unique_ptr<WriteTxn> write_;
    std::unique_ptr<ReadTxn> read_;
    std::unique_ptr<IdReadTxn> idRead_;
    std::unique_ptr<ExecTxn> exec_;
    std::unique_ptr<Command7Txn> command7_;
    std::unique_ptr<IdSearchTxn> idSearch_;
    std::unique_ptr<ChannelTxn> channel_;
    WireObserver* observer_ = nullptr;
    // Counted under lock_ on either thread, read without it.
    std::atomic<std::uint64_t> retransmissions_{0};
    Transaction* current_ = nullptr;
    TxnState lastState_ = TxnState::Idle;
    MemPtr lastReply_;
    bool lastRejected_ = false;

    // Under lock_: a time-out is running that nobody has cancelled or handled.
    bool timerArmed_ = false;

    // Last, so that it goes first: no time-out can run on the transactions while they go.
    Timer timer_{*this};
};

}  // namespace zq

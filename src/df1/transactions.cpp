#include "df1/transactions.h"

#include "support/fail.h"

namespace zq {

namespace {

bool retryAlways(std::uint32_t) {
    return true;
}

// EXEC and CMD7 have effects on the target (a jump, a command of its own): once acknowledged,
// only a REJECT proves that the first copy did nothing.
bool retryOnlyRejected(std::uint32_t reason) {
    return reason == kRetryRejected;
}

}  // namespace

// --- CONNECT ---------------------------------------------------------------------------------

ConnectTxn::ConnectTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kConnect) {}

void ConnectTxn::setup(std::uint8_t level) {
    level_ = level;
    timeoutMs_ = level == 2 ? kConnectL2TimeoutMs : kDefaultTimeoutMs;
    beginRequest(4);
    prepare();
}

bool ConnectTxn::matches() const {
    return replySize() == 9 && replyByte(0) == op::kConnectReply && replyByte(1) == kStatusOk &&
           replyByte(6) == level_;
}

bool ConnectTxn::retryAllowed(std::uint32_t) const {
    // The boot loader answers only once the operator has switched the module on; a level-1
    // CONNECT is therefore never sent again once acknowledged.
    return level_ == 2;
}

void ConnectTxn::getReply(MemPtr& dest) {
    replyData(2, 4, dest);
}

void ConnectTxn::onReceive() {
    Transaction::onReceive();
    // From the acknowledgement on, wait for the boot loader for as long as the operator takes.
    if (level_ != 2 && rx_.ackState() == Df1FrameRx::kAcknowledged) stopTimer();
}

// --- ERASE -----------------------------------------------------------------------------------

EraseTxn::EraseTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kErase) {}

void EraseTxn::setup(std::uint32_t address, std::uint32_t length, std::uint32_t timeoutMs) {
    address_ = address;
    length_ = length;
    lastPercent_ = 0;
    timeoutMs_ = timeoutMs;
    MemPtr& request = beginRequest(12);
    request.setU32(2, address, kLittleEndian);
    request.setU32(6, length, kLittleEndian);
    prepare();
}

bool EraseTxn::matches() const {
    return replySize() == 13 && replyByte(0) == op::kEraseReply && replyU32(2) == address_ &&
           replyU32(6) == length_ && replyByte(10) <= 100;
}

bool EraseTxn::retryAllowed(std::uint32_t reason) const {
    // Once the daemon reports progress it is erasing; a second ERASE would start over.
    return reason == kRetryTimeout && state_ != TxnState::InProgress;
}

void EraseTxn::getReply(MemPtr& dest) {
    if (!require(state_ == TxnState::InProgress || state_ == TxnState::Done, "!!!")) {
        dest.assign(nullptr, 0);
        return;
    }
    dest.assign(&lastPercent_, 1);
}

void EraseTxn::onReceive() {
    // Progress replies may come back to back; each one taken makes room for the next without
    // losing what already arrived behind it.
    while (rx_.ackState() == Df1FrameRx::kAcknowledged && rx_.result() != Df1FrameRx::kNoFrame) {
        if (handleFrame()) return;
        rx_.awaitNextFrame();
    }
}

bool EraseTxn::handleFrame() {
    if (rx_.result() == Df1FrameRx::kGoodFrame && takeReply()) {
        // A REJECT answers the request; after progress the request is no longer in question.
        bool rejected = state_ != TxnState::InProgress && replyByte(0) == op::kReject;
        if (!rejected && matches()) {
            if (replyByte(1) == kStatusOk) {
                lastPercent_ = replyByte(10);
                state_ = lastPercent_ < 100 ? TxnState::InProgress : TxnState::Done;
            } else {
                state_ = TxnState::ErrorReply;
            }
        }
    }
    // The time-out keeps running through the progress replies: it bounds the whole erase.
    if (state_ == TxnState::InProgress) return false;
    stopTimer();
    if (state_ == TxnState::Waiting) retry();
    return true;
}

// --- UPLOADINIT ------------------------------------------------------------------------------

UploadInitTxn::UploadInitTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kUploadInit) {}

void UploadInitTxn::setup(std::uint32_t address, std::uint32_t length) {
    address_ = address;
    length_ = length;
    MemPtr& request = beginRequest(12);
    request.setU32(2, address, kLittleEndian);
    request.setU32(6, length, kLittleEndian);
    prepare();
}

bool UploadInitTxn::matches() const {
    return replySize() == 12 && replyByte(0) == op::kUploadInitReply && replyU32(2) == address_ &&
           replyU32(6) == length_;
}

bool UploadInitTxn::retryAllowed(std::uint32_t reason) const {
    return retryAlways(reason);
}

// --- WRITE -----------------------------------------------------------------------------------

WriteTxn::WriteTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kWrite) {}

void WriteTxn::setup(std::uint32_t address, std::uint16_t length, const std::uint8_t* data,
                     std::uint32_t timeoutMs) {
    address_ = address;
    length_ = length;
    timeoutMs_ = timeoutMs;
    MemPtr& request = beginRequest(length + 10u);
    request.setU32(2, address, kLittleEndian);
    request.setU16(6, length, kLittleEndian);
    if (length > 0) request.copyIn(8, data, length);
    prepare();
}

bool WriteTxn::matches() const {
    return replySize() == 10 && replyByte(0) == op::kWriteReply && replyU32(2) == address_ &&
           replyU16(6) == length_;
}

bool WriteTxn::retryAllowed(std::uint32_t reason) const {
    return retryAlways(reason);
}

// --- READ ------------------------------------------------------------------------------------

ReadTxn::ReadTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kRead) {}

void ReadTxn::setup(std::uint32_t address, std::uint16_t length) {
    address_ = address;
    length_ = length;
    MemPtr& request = beginRequest(10);
    request.setU32(2, address, kLittleEndian);
    request.setU16(6, length, kLittleEndian);
    prepare();
}

bool ReadTxn::matches() const {
    const std::uint32_t size = replySize();
    const bool formOk = (replyByte(1) == kStatusNone && size == 10) ||
                        (replyByte(1) == kStatusOk && size == length_ + 10u);
    return formOk && replyByte(0) == op::kReadReply && replyU32(2) == address_ &&
           replyU16(6) == length_;
}

bool ReadTxn::retryAllowed(std::uint32_t reason) const {
    return retryAlways(reason);
}

void ReadTxn::getReply(MemPtr& dest) {
    replyData(8, length_, dest);
}

// --- IDREAD ----------------------------------------------------------------------------------

IdReadTxn::IdReadTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kIdRead) {}

void IdReadTxn::setup(const std::uint8_t* chipId, std::uint8_t offset, std::uint8_t count) {
    for (std::uint32_t i = 0; i < kChipIdSize; ++i) chipId_[i] = chipId[i];
    offset_ = offset;
    count_ = count;
    MemPtr& request = beginRequest(14);
    request.copyIn(2, chipId_.data(), kChipIdSize);
    request.setU8(10, offset);
    request.setU8(11, count);
    prepare();
}

bool IdReadTxn::matches() const {
    const std::uint32_t size = replySize();
    const bool formOk = (replyByte(1) == kStatusNone && size == 14) ||
                        (replyByte(1) == kStatusOk && size == count_ + 14u);
    if (!formOk || replyByte(0) != op::kIdReadReply) return false;
    for (std::uint32_t i = 0; i < kChipIdSize; ++i)
        if (replyByte(2 + i) != chipId_[i]) return false;
    return replyByte(10) == offset_ && replyByte(11) == count_;
}

bool IdReadTxn::retryAllowed(std::uint32_t reason) const {
    return retryAlways(reason);
}

void IdReadTxn::getReply(MemPtr& dest) {
    replyData(12, count_, dest);
}

// --- EXEC ------------------------------------------------------------------------------------

ExecTxn::ExecTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kExec) {}

void ExecTxn::setup(std::uint32_t address) {
    address_ = address;
    beginRequest(8).setU32(2, address, kLittleEndian);
    prepare();
}

bool ExecTxn::matches() const {
    return replySize() == 8 && replyByte(0) == op::kExecReply && replyU32(2) == address_;
}

bool ExecTxn::retryAllowed(std::uint32_t reason) const {
    return retryOnlyRejected(reason);
}

// --- CMD7 ------------------------------------------------------------------------------------

Command7Txn::Command7Txn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kCommand7) {}

void Command7Txn::setup() {
    beginRequest(4);
    prepare();
}

bool Command7Txn::matches() const {
    return replySize() == 4 && replyByte(0) == op::kCommand7Reply;
}

bool Command7Txn::retryAllowed(std::uint32_t reason) const {
    return retryOnlyRejected(reason);
}

// --- IDSEARCH --------------------------------------------------------------------------------

IdSearchTxn::IdSearchTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, op::kIdSearch) {}

void IdSearchTxn::setup(std::uint8_t selector) {
    selector_ = selector;
    beginRequest(5).setU8(2, selector);
    prepare();
}

bool IdSearchTxn::matches() const {
    const std::uint32_t size = replySize();
    if (size < 5 || replyByte(0) != op::kIdSearchReply || replyByte(2) != selector_) return false;
    // Status 1 carries at least one 8-byte chip id; "found none" is status 0xFF without any.
    const std::uint32_t body = size - 4;
    return (replyByte(1) == kStatusOk && body >= 2 && body % kChipIdSize == 1) ||
           (replyByte(1) == kStatusNone && size == 5);
}

bool IdSearchTxn::retryAllowed(std::uint32_t reason) const {
    return retryAlways(reason);
}

void IdSearchTxn::getReply(MemPtr& dest) {
    replyData(3, replySize() >= 5 ? replySize() - 5 : 0, dest);
}

// --- CHANNEL ---------------------------------------------------------------------------------

ChannelTxn::ChannelTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area)
    : Transaction(p, tx, rx, area, 0) {
    timeoutMs_ = kChannelTimeoutMs;
    // The adapter does not acknowledge its own frame, and answers with a packet of its own type.
    noAck_ = true;
    ignoreType7_ = false;
}

void ChannelTxn::setup(std::uint32_t channel) {
    beginRequest(1).setU8(0, static_cast<std::uint8_t>(kChannelBase + channel));
    prepare(kAddressAdapter, false);
}

bool ChannelTxn::matches() const {
    if (replySize() != kChannelAnswer.size()) return false;
    for (std::uint32_t i = 0; i < kChannelAnswer.size(); ++i)
        if (replyByte(i) != static_cast<std::uint8_t>(kChannelAnswer[i])) return false;
    return true;
}

bool ChannelTxn::retryAllowed(std::uint32_t reason) const {
    return retryAlways(reason);
}

void ChannelTxn::getReply(MemPtr& dest) {
    dest.assign(nullptr, 0);
}

void ChannelTxn::onReceive() {
    // The adapter's answer has no CRC and cannot be a REJECT; a broken frame is left to the
    // time-out, which sends the switch again.
    if (rx_.ackState() != Df1FrameRx::kAcknowledged || rx_.result() != Df1FrameRx::kGoodFrame)
        return;
    rx_.takeMessage(replyView_);
    if (matches()) state_ = TxnState::Done;
    stopTimer();
    if (state_ != TxnState::Done) retry();
}

}  // namespace zq

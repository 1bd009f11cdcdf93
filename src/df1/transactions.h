#pragma once

#include <array>
#include <cstdint>

#include "df1/commands.h"
#include "df1/transaction.h"

namespace zq {

// The ten requests of the command set and the adapter. Each setup() stores the request's
// fields, writes the request and builds its frame; the protocol then starts it.

class ConnectTxn : public Transaction {
public:
    ConnectTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint8_t level);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;
    void getReply(MemPtr& dest) override;
    void onReceive() override;

private:
    std::uint8_t level_ = 1;
};

class EraseTxn : public Transaction {
public:
    EraseTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint32_t address, std::uint32_t length, std::uint32_t timeoutMs);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;
    void getReply(MemPtr& dest) override;
    void onReceive() override;

private:
    // One received frame; false when the erase goes on waiting for the next progress reply.
    bool handleFrame();

    std::uint32_t address_ = 0;
    std::uint32_t length_ = 0;
    std::uint8_t lastPercent_ = 0;
};

class UploadInitTxn : public Transaction {
public:
    UploadInitTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint32_t address, std::uint32_t length);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;

private:
    std::uint32_t address_ = 0;
    std::uint32_t length_ = 0;
};

class WriteTxn : public Transaction {
public:
    WriteTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint32_t address, std::uint16_t length, const std::uint8_t* data,
               std::uint32_t timeoutMs);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;

private:
    std::uint32_t address_ = 0;
    std::uint16_t length_ = 0;
};

class ReadTxn : public Transaction {
public:
    ReadTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint32_t address, std::uint16_t length);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;
    void getReply(MemPtr& dest) override;

private:
    std::uint32_t address_ = 0;
    std::uint16_t length_ = 0;
};

class IdReadTxn : public Transaction {
public:
    IdReadTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(const std::uint8_t* chipId, std::uint8_t offset, std::uint8_t count);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;
    void getReply(MemPtr& dest) override;

private:
    std::array<std::uint8_t, kChipIdSize> chipId_{};
    std::uint8_t offset_ = 0;
    std::uint8_t count_ = 0;
};

class ExecTxn : public Transaction {
public:
    ExecTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint32_t address);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;

private:
    std::uint32_t address_ = 0;
};

class Command7Txn : public Transaction {
public:
    Command7Txn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup();
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;
};

class IdSearchTxn : public Transaction {
public:
    IdSearchTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint8_t selector);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;
    void getReply(MemPtr& dest) override;

private:
    std::uint8_t selector_ = 0;
};

class ChannelTxn : public Transaction {
public:
    ChannelTxn(CommandProtocol& p, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr area);
    void setup(std::uint32_t channel);
    bool matches() const override;
    bool retryAllowed(std::uint32_t reason) const override;
    void getReply(MemPtr& dest) override;
    void onReceive() override;
};

}  // namespace zq

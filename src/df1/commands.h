#pragma once

#include <cstdint>
#include <string_view>

namespace zq {

// The command set shared by the boot loader (level 1) and the flash daemon (level 2). Every
// message is opcode, status (0 in requests), little-endian fields, and a CRC-16/GENIBUS stored
// most significant byte first; sizes below include the CRC.
namespace op {
inline constexpr std::uint8_t kConnect = 0x01;
inline constexpr std::uint8_t kErase = 0x02;
inline constexpr std::uint8_t kUploadInit = 0x03;
inline constexpr std::uint8_t kWrite = 0x04;
inline constexpr std::uint8_t kExec = 0x06;
inline constexpr std::uint8_t kCommand7 = 0x07;
inline constexpr std::uint8_t kRead = 0x08;
inline constexpr std::uint8_t kIdSearch = 0x09;
inline constexpr std::uint8_t kIdRead = 0x0A;

inline constexpr std::uint8_t kConnectReply = 0xFE;
inline constexpr std::uint8_t kEraseReply = 0xFD;
inline constexpr std::uint8_t kUploadInitReply = 0xFC;
inline constexpr std::uint8_t kWriteReply = 0xFB;
inline constexpr std::uint8_t kExecReply = 0xFA;
inline constexpr std::uint8_t kCommand7Reply = 0xF9;
inline constexpr std::uint8_t kReadReply = 0xF8;
inline constexpr std::uint8_t kReject = 0xF7;
inline constexpr std::uint8_t kIdSearchReply = 0xF6;
inline constexpr std::uint8_t kIdReadReply = 0xF5;
}  // namespace op

inline constexpr std::uint8_t kStatusOk = 0x01;
inline constexpr std::uint8_t kStatusNone = 0xFF;  // READ, IDREAD, IDSEARCH: nothing to give

inline constexpr std::uint32_t kRequestAreaSize = 506;
inline constexpr std::uint32_t kMaxWriteData = 496;
// A reply travels in the receiver's 508-byte payload with 5 bytes of packet around it.
inline constexpr std::uint32_t kMaxReplyMessage = 503;
inline constexpr std::uint32_t kMaxReadData = kMaxReplyMessage - 10;
inline constexpr std::uint32_t kChipIdSize = 8;

// The channel switch goes to the adapter itself: one plain byte 'a' + channel out, and this
// answer back, neither with a CRC.
inline constexpr std::uint8_t kChannelBase = 'a';
inline constexpr std::string_view kChannelAnswer = "START\r\nG";

// Time-outs of the exchanges, in milliseconds.
inline constexpr std::uint32_t kDefaultTimeoutMs = 5000;
inline constexpr std::uint32_t kConnectL2TimeoutMs = 15000;
inline constexpr std::uint32_t kChannelTimeoutMs = 1000;

// Retransmissions after the first transmission: a request goes out four times at most.
inline constexpr std::uint32_t kMaxRetries = 3;

}  // namespace zq

#include <gtest/gtest.h>

#include "df1/crc.h"
#include "script_client.h"
#include "sim/df1_codec.h"

namespace zq::sim {
namespace {

using testing::hex;

std::vector<DecodedFrame> decodeAll(const Bytes& bytes, std::size_t piece = 0) {
    PcFrameDecoder decoder;
    std::vector<DecodedFrame> out;
    if (piece == 0) piece = bytes.size();
    for (std::size_t i = 0; i < bytes.size(); i += piece)
        decoder.feed(bytes.data() + i, std::min(piece, bytes.size() - i), out);
    return out;
}

TEST(Df1CodecTest, GoldenFramesBothWays) {
    // The CONNECT request as the PC sends it to the target.
    const Bytes connect{0x10, 0x02, 0x01, 0x01, 0x00, 0xD1, 0xC1, 0x10, 0x03, 0x7D, 0xB9};
    auto frames = decodeAll(connect);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].good);
    EXPECT_EQ(frames[0].frame.address, 1);
    EXPECT_EQ(hex(frames[0].frame.data), "01 00 D1 C1");

    // A WRITE of 10 AB: the data DLE is doubled on the wire and counted once by the CRC.
    const Bytes write{0x10, 0x02, 0x01, 0x04, 0x00, 0x00, 0x00, 0x40, 0x00, 0x02,
                      0x00, 0x10, 0x10, 0xAB, 0x33, 0x79, 0x10, 0x03, 0x6E, 0x3F};
    frames = decodeAll(write);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].good);
    EXPECT_EQ(hex(frames[0].frame.data), "04 00 00 00 40 00 02 00 10 AB 33 79");
    EXPECT_EQ(testing::pcFrame(1, frames[0].frame.data), write) << "the script's own builder";

    // The CONNECT reply of platform 0x10000001 on channel 1, first packet after start: the
    // plID's 0x10 is doubled inside the frame.
    Bytes reply{0xFE, 0x01, 0x01, 0x00, 0x00, 0x10, 0x01};
    appendMessageCrc(reply);
    EXPECT_EQ(hex(buildAdapterFrame(buildPacket(kPacketTypeReply, 0, 1, reply))),
              "10 02 01 00 21 FD FE 01 01 00 00 10 10 01 EF 82 82 10 03 F2 80");

    const Bytes start{'S', 'T', 'A', 'R', 'T', '\r', '\n', 'G'};
    EXPECT_EQ(hex(buildAdapterFrame(buildPacket(kPacketTypeAdapter, 0, 1, start))),
              "10 02 01 00 39 29 53 54 41 52 54 0D 0A 47 00 10 03 81 AC");
    EXPECT_EQ(hex(ackBytes()), "10 06");
    EXPECT_EQ(hex(nakBytes()), "10 15");
}

TEST(Df1CodecTest, BadFramesAreReportedAndTheNextOneIsFound) {
    Bytes good = testing::pcFrame(1, {0x01, 0x00, 0xD1, 0xC1});
    struct Case {
        const char* name;
        Bytes bytes;
        const char* reason;
    };
    Bytes badCrc = good;
    badCrc[badCrc.size() - 1] ^= 1;
    Bytes badEscape{0x10, 0x02, 0x01, 0x01, 0x10, 0x07};
    Bytes restart{0x10, 0x02, 0x01, 0x01, 0x00};
    Bytes tooLong{0x10, 0x02, 0x01};
    tooLong.insert(tooLong.end(), 507, 0x22);
    const Case cases[] = {{"crc", badCrc, "crc"},
                          {"escape", badEscape, "escape"},
                          {"restart", restart, "restart"},
                          {"too long", tooLong, "too-long"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = c.bytes;
        stream.insert(stream.end(), good.begin(), good.end());
        auto frames = decodeAll(stream);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_FALSE(frames[0].good);
        EXPECT_EQ(frames[0].reason, c.reason);
        EXPECT_TRUE(frames[1].good);
    }

    Bytes largest(kMaxPcFrameData, 0x10);
    auto frames = decodeAll(testing::pcFrame(1, largest));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].good) << "506 data bytes, all DLE, is the largest good frame";
    EXPECT_EQ(frames[0].frame.data, largest);
}

}  // namespace
}  // namespace zq::sim

#include <gtest/gtest.h>

#include "df1/crc.h"
#include "script_client.h"
#include "sim/df1_codec.h"

namespace zq::sim {
namespace {

using testing::hex;

// The PC's golden frames are decoded by this decoder in the tests of the program's frames.
TEST(Df1CodecTest, GoldenAdapterFrames) {
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
    Bytes badCrc = good;
    badCrc[badCrc.size() - 1] ^= 1;
    Bytes badEscape{0x10, 0x02, 0x01, 0x01, 0x10, 0x07};
    Bytes restart{0x10, 0x02, 0x01, 0x01, 0x00};
    Bytes tooLong{0x10, 0x02, 0x01};
    tooLong.insert(tooLong.end(), 507, 0x22);
    const std::pair<Bytes, const char*> cases[] = {
        {badCrc, "crc"}, {badEscape, "escape"}, {restart, "restart"}, {tooLong, "too-long"}};
    for (const auto& [bad, reason] : cases) {
        SCOPED_TRACE(reason);
        Bytes stream = bad;
        stream.insert(stream.end(), good.begin(), good.end());
        PcFrameDecoder decoder;
        std::vector<DecodedFrame> frames;
        decoder.feed(stream.data(), stream.size(), frames);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_FALSE(frames[0].good);
        EXPECT_EQ(frames[0].reason, reason);
        EXPECT_TRUE(frames[1].good);
    }
}

}  // namespace
}  // namespace zq::sim

#include "engine/burn_op.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "image/elf_image_reader.h"
#include "image/elf_writer.h"
#include "image/omf_image_reader.h"
#include "image/reader_harness.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

constexpr std::uint8_t kErase = 0x02, kUploadInit = 0x03, kWrite = 0x04;

// "opcode@address+length" in hex of the first `n` requests the far side saw.
std::string trail(const ScriptedTarget& target, std::size_t n) {
    const std::vector<SeenCommand> all = target.commands();
    std::string out;
    char one[40];
    for (std::size_t i = 0; i < n && i < all.size(); ++i) {
        std::snprintf(one, sizeof one, " %X@%X+%X", all[i].opcode, all[i].address, all[i].length);
        out += one;
    }
    return out;
}

// An OMF-166 reader that lies in one way: a faulty reader is what the operation's last guards
// are for.
class LyingReader : public OmfImageReader {
public:
    enum class Lie { ShortRead, ExtraBytes };
    explicit LyingReader(Lie lie) : lie_(lie) {}

    void findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                    std::uint32_t& size, std::uint32_t* dataSize) const override {
        OmfImageReader::findRegion(address, length, start, size, dataSize);
        // Claims bytes that no range would ever deliver, but only when asked about the whole
        // lower half of the address space.
        if (lie_ == Lie::ExtraBytes && address == 0 && length == 0x80000000u && dataSize)
            *dataSize += 7;
    }
    void readNext(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                  std::uint32_t& length) override {
        OmfImageReader::readNext(dst, maxLength, address, length);
        // The first piece only, then nothing.
        if (lie_ == Lie::ShortRead && pieces_++ > 0) address = length = 0;
    }

private:
    Lie lie_;
    int pieces_ = 0;
};

class BurnOpTest : public EngineTest {
protected:
    using EngineTest::EngineTest;
    void SetUp() override {
        EngineTest::SetUp();
        target.startDaemon(1);
    }

    // A burn (or upload) of an OMF-166 image on a QB5 carrier board (0x10000001); each burn
    // tells its outcome as "state: error text".
    std::string burnOmf(const std::string& file, bool flashRanges = true) {
        EXPECT_TRUE(omf.load(file)) << omf.errorText();
        return burnWith(omf.reader(), *platforms.find(0x10000001), flashRanges);
    }
    // A burn of an ELF image on the 8 MB MPC8270 board (0x20000003).
    std::string burnElf(const ElfWriter& w, bool flashRanges = true) {
        EXPECT_TRUE(elf.load(w.build())) << elf.errorText();
        target.setPlID(1, 0x20000003);
        target.startDaemon(1);
        return burnWith(elf.reader(), *platforms.find(0x20000003), flashRanges);
    }
    std::string burnWith(ImageReader& reader, const PlatformEntry& platform, bool flashRanges) {
        op = std::make_unique<BurnOp>(protocol, reader, platform);
        op->start(flashRanges);
        runOp(*op);
        return std::string(memOpStateName(op->state())) + ": " + op->errorText();
    }

    ReaderHarness omf{std::make_unique<OmfImageReader>()};
    ReaderHarness elf{std::make_unique<ElfImageReader>()};
    std::unique_ptr<BurnOp> op;
};

TEST_F(BurnOpTest, A64KiBFlashBlockIsErasedPreparedAndWrittenIn496ByteChunks) {
    // Two contiguous records: the reader delivers them as one run.
    const std::string data = pattern(0x10000);
    ASSERT_EQ(burnOmf(omfPedata(0x10000, data.substr(0, 0x8000)) +
                      omfPedata(0x18000, data.substr(0x8000))),
              "Done: ");
    EXPECT_EQ(op->progress(), 100);
    EXPECT_EQ(op->infoText(), "");

    const std::vector<SeenCommand>& all = target.commands();
    ASSERT_EQ(all.size(), 135u);
    EXPECT_EQ(trail(target, 2), " 2@10000+10000 3@10000+10000");
    EXPECT_EQ(all[0].armedMs, 20000u) << "the range's erase time-out";
    std::vector<SeenCommand> writes = seen(kWrite);
    ASSERT_EQ(writes.size(), 133u);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].address, 0x10000u + 496 * i);
        EXPECT_EQ(writes[i].length, i < 132 ? 496u : 64u);
        EXPECT_EQ(writes[i].armedMs, 1000u) << "the range's write time-out";
    }
    EXPECT_EQ(target.bytesAt(1, 0x10000, 0x10000), data);
    EXPECT_EQ(op->bytesWritten(), 0x10000u);

    // The bar follows the erase's percent, is gone while UPLOADINIT runs, then counts bytes.
    ASSERT_GE(shown.size(), 5u);
    EXPECT_EQ(shown[0], (Shown{"Erasing memory range 0x00010000 - 0x0001FFFF", 50}));
    EXPECT_EQ(shown[1], (Shown{"Preparing for writing memory range 0x00010000 - 0x0001FFFF", 255}));
    EXPECT_EQ(shown[2], (Shown{"Writing memory range 0x00010000 - 0x0001FFFF (65536 B)", 0}));
    EXPECT_EQ(shown[3], (Shown{"Writing memory range 0x00010000 - 0x0001FFFF (65040 B)", 0}));
    EXPECT_EQ(shown[4], (Shown{"Writing memory range 0x00010000 - 0x0001FFFF (64544 B)", 1}));
    EXPECT_EQ(shown.back(), (Shown{"", 100}));
}

TEST_F(BurnOpTest, AuxBlocksAreNotErasedAndBlocksGoInMapOrder) {
    ElfWriter w;
    // Listed out of address order; a 1000-byte block goes as 496, 496 and 8 bytes.
    w.text(".flash", 0xFFF40000, pattern(16)).text(".aux", 0x80540010, pattern(1000, 7));
    ASSERT_EQ(burnElf(w), "Done: ");
    EXPECT_EQ(trail(target, 7),
              " 3@80540010+3E8 4@80540010+1F0 4@80540200+1F0 4@805403F0+8 "
              "2@FFF40000+10 3@FFF40000+10 4@FFF40000+10");
    EXPECT_EQ(target.commands()[4].armedMs, 10000u);
    EXPECT_EQ(target.bytesAt(1, 0x80540010, 1000), pattern(1000, 7));
}

// The map's rules are the fit's; an image without data is the operation's own refusal: an
// empty burn must not pass for a done one.
TEST_F(BurnOpTest, AnImageWithNothingToWriteIsRefusedBeforeAnyCommand) {
    EXPECT_EQ(burnOmf(omfOther(0x02, "EMPTY")),
              "Failed: Image holds no data for the device's memory map");
    EXPECT_EQ(op->progress(), 255);
    EXPECT_TRUE(target.commands().empty());
}

class BurnOpShortTimeoutTest : public BurnOpTest {
protected:
    BurnOpShortTimeoutTest() : BurnOpTest(kShortTimeouts) {}
};

TEST_F(BurnOpShortTimeoutTest, AFailedCommandNamesWhatTheOperationWasDoing) {
    const std::string image = omfPedata(0x10000, pattern(0x100));
    using Fault = ScriptedTarget::Fault;
    struct Case {
        std::uint8_t opcode;
        Fault fault;
        const char* error;
    } cases[] = {
        {kErase, Fault::ErrorStatus, "Error while erasing memory range 0x00010000 - 0x000100FF"},
        {kUploadInit, Fault::ErrorStatus, "Error while performing UPLOADINIT command"},
        {kWrite, Fault::ErrorStatus, "Error while writing 256 bytes to 0x00010000"},
        {kErase, Fault::Silent,
         "Communication error (no reply) while erasing memory range 0x00010000 - 0x000100FF"},
        {kUploadInit, Fault::Silent,
         "Communication error (no reply) while performing UPLOADINIT command"},
        {kWrite, Fault::NoAnswerAtAll,
         "Communication error (no reply) while writing 256 bytes to 0x00010000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        target.clearFaults();
        target.setFault(c.opcode, static_cast<int>(target.count(c.opcode)) + 1, c.fault);
        EXPECT_EQ(burnOmf(image), std::string("Failed: ") + c.error);
        EXPECT_EQ(op->infoText(), "");
        EXPECT_EQ(op->progress(), 255);
    }
}

TEST_F(BurnOpTest, AReaderThatDeliversLessOrClaimsMoreNeverEndsInDone) {
    const std::string file = omfPedata(0x10000, pattern(0x400)) + omfPedata(0x100000, "z");
    const PlatformEntry& qb5 = *platforms.find(0x10000001);
    ReaderHarness shortRead(std::make_unique<LyingReader>(LyingReader::Lie::ShortRead));
    ASSERT_TRUE(shortRead.load(file));
    EXPECT_EQ(burnWith(shortRead.reader(), qb5, true),
              "Failed: Image data not fully written (496 B of 1025 B)");
    EXPECT_EQ(takeFailures(), std::vector{require("all bytes loaded")});
    EXPECT_EQ(seen(kErase).size(), 1u) << "nothing after the short block";

    ReaderHarness extra(std::make_unique<LyingReader>(LyingReader::Lie::ExtraBytes));
    ASSERT_TRUE(extra.load(file));
    EXPECT_EQ(burnWith(extra.reader(), qb5, true),
              "Failed: Image data not fully written (1025 B of 1032 B)");
}

TEST_F(BurnOpTest, AbortAndResetFollowTheStates) {
    ASSERT_TRUE(omf.load(omfPedata(0x10000, pattern(0x400))));
    BurnOp burn(protocol, omf.reader(), *platforms.find(0x10000001));
    burn.start(true);
    EXPECT_EQ(burn.state(), MemOpState::Running);
    burn.start(true);
    EXPECT_EQ(takeFailures(), std::vector{require("expected state")});
    burn.reset();
    EXPECT_EQ(takeFailures(), std::vector{require("expected state")});
    EXPECT_EQ(burn.state(), MemOpState::Running);

    protocol.abort();
    burn.abort();
    EXPECT_EQ(burn.state(), MemOpState::Aborted);
    burn.poll();
    EXPECT_EQ(burn.state(), MemOpState::Aborted) << "polls change nothing once it has ended";
    burn.abort();
    EXPECT_EQ(burn.state(), MemOpState::Aborted);
}

}  // namespace
}  // namespace zq::testing

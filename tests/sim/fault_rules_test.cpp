#include <gtest/gtest.h>

#include <tuple>

#include "sim/fault_rules.h"

namespace zq::sim {
namespace {

FaultRule parse(const char* text) {
    FaultRule rule;
    std::string error;
    EXPECT_TRUE(parseFaultRule(text, rule, error)) << text << ": " << error;
    return rule;
}

// What each parameter does is seen in the simulator's tests and the burns against kvsb-sim.
TEST(FaultRulesTest, ParsesRulesAndExplainsBadOnes) {
    EXPECT_EQ(parse("nak").n, 1u) << "a rule without a selector hits the first frame";
    FaultRule weak = parse("weak-cell,byte=300,bit=7");
    EXPECT_EQ(std::tuple(weak.kind, weak.cellByte, weak.cellBit),
              std::tuple(FaultKind::WeakCell, 300u, std::uint8_t{7}));

    const std::pair<const char*, const char*> bad[] = {
        {"flood", "unknown fault 'flood'"},
        {"nak,n=0", "bad value '0' for n"},
        {"nak,on=format", "unknown command 'format' for on="},
        {"nak,p=1.5", "bad probability '1.5'"},
        {"nak,n", "expected key=value, got 'n'"},
        {"status,value=1", "value=1 is the success status, not a fault"},
        {"nak,colour=red", "unknown key 'colour'"},
        {"weak-cell,bit=8", "bad value '8' for bit"},
    };
    for (const auto& [text, expected] : bad) {
        FaultRule r;
        std::string error;
        EXPECT_FALSE(parseFaultRule(text, r, error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
}

TEST(FaultRulesTest, SelectorsHitTheFramesTheyName) {
    FaultPlan plan({parse("nak,on=write,n=2"), parse("lost-reply,every=3")}, 1);
    FrameFacts write{"write", 1, 1};
    FrameFacts erase{"erase", 2, 1};
    EXPECT_EQ(plan.hit(FaultKind::Nak, write), nullptr);
    EXPECT_EQ(plan.hit(FaultKind::Nak, erase), nullptr) << "not counted: another command";
    EXPECT_NE(plan.hit(FaultKind::Nak, write), nullptr) << "the second WRITE";
    EXPECT_EQ(plan.hit(FaultKind::Nak, write), nullptr);

    std::string pattern;
    for (int i = 0; i < 7; ++i) pattern += plan.hit(FaultKind::LostReply, erase) ? 'x' : '.';
    EXPECT_EQ(pattern, "..x..x.");
}

TEST(FaultRulesTest, ProbabilityFollowsTheSeed) {
    auto run = [](std::uint64_t seed) {
        FaultPlan plan({parse("frame-crc,p=0.3")}, seed);
        std::string pattern;
        for (int i = 0; i < 200; ++i)
            pattern += plan.hit(FaultKind::FrameCrc, {"write", 2, 1}) ? 'x' : '.';
        return pattern;
    };
    std::string a = run(7);
    EXPECT_EQ(a, run(7));
    EXPECT_NE(a, run(8));
    auto hits = std::count(a.begin(), a.end(), 'x');
    EXPECT_GT(hits, 30);
    EXPECT_LT(hits, 90);
}

}  // namespace
}  // namespace zq::sim

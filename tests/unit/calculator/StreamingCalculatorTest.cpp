// The talking calculator's script, in process: what goes out when, and when it is off the
// bus.

#include "StreamingCalculator.h"
#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(StreamPlanTest, ReadsStepsAndRejectsTheRest) {
    const std::optional<std::vector<StreamStep>> plan = parseStreamPlan("5,pause:1.5,unplug:2");
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->size(), 3u);
    EXPECT_EQ((*plan)[0].bytes, 5u);
    EXPECT_EQ((*plan)[1].duration.count(), 1500);
    EXPECT_EQ((*plan)[2].kind, StreamStep::Unplug);
    for (const char* bad : {"", "5,", "pause", "pause:x", "wait:1", "-3", "unplug:1e3"}) {
        EXPECT_FALSE(parseStreamPlan(bad)) << bad;
    }
}

TEST(StreamingCalculatorTest, FollowsItsPlanThenSendsTheRest) {
    TemporaryDirectory directory;
    Report report(directory / "report");
    StreamingCalculator calculator(Bytes{'a', 'b', 'c', 'd', 'e'}, 64, report,
                                   *parseStreamPlan("2,pause:0.1,unplug:0.1"));
    EXPECT_EQ(calculator.nextAnswer(64), (Bytes{'a', 'b'}));
    EXPECT_FALSE(calculator.nextAnswer(64)) << "silent";
    EXPECT_FALSE(calculator.unplugged());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(calculator.nextAnswer(64)) << "leaving the bus";
    EXPECT_TRUE(calculator.unplugged());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(calculator.unplugged());
    calculator.deviceOpened();
    EXPECT_EQ(calculator.nextAnswer(2), (Bytes{'c', 'd'}));
    EXPECT_EQ(calculator.nextAnswer(64), (Bytes{'e'}));
    EXPECT_FALSE(calculator.nextAnswer(64));
}

} // namespace

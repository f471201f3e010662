// tolvane's link over the libusb double: what survives a session started again.

#include "Link.h"
#include "CalcConnector.h"
#include "LibusbDouble.h"
#include "LinkDevice.h"
#include "LinkInterrupt.h"
#include "Log.h"
#include "ScriptedCalculator.h"

#include <chrono>
#include <gtest/gtest.h>
#include <optional>

namespace {

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        LibusbDouble::reset();
        LibusbDouble::addDevice(CalcConnector::calcVendorId, CalcConnector::calcProductId);
        Log::setLoglevel(-1);
        calculator.emplace();
    }
    void TearDown() override { LinkInterrupt::clear(); }

    std::optional<ScriptedCalculator> calculator;
};

// A Ctrl-C that lands while a session is started again is not forgotten: the command stops.
TEST_F(LinkTest, AStopAskedForHoldsThroughARestartOfTheSession) {
    Link link;
    ASSERT_TRUE(link.openSession());
    LinkInterrupt::request();
    link.restartSession();
    EXPECT_TRUE(LinkInterrupt::requested());
}

// A calculator that cannot be reached again leaves the link closed, with no socket to misuse.
TEST_F(LinkTest, ASessionThatCannotStartAgainLeavesTheLinkClosed) {
    Link link;
    ASSERT_TRUE(link.openSession());
    LibusbDouble::setOpenResult(LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(link.restartSession());
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.socket(), nullptr);
    EXPECT_EQ(LibusbDouble::openHandleCount(), 0);
}

// log --follow waits for a calculator that is absent, but one that is there and can't be
// opened (no permission) is given up on within moments, so that it can be said.
TEST_F(LinkTest, AFollowerWaitsOnlyForACalculatorThatIsAbsent) {
    LibusbDouble::setOpenResult(LIBUSB_ERROR_ACCESS);
    LinkDevice device("", true);
    CalcDescription found{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.open(&found), CalcChoice::Unopened);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(device.socket(), nullptr);
}

} // namespace

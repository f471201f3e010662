#include "LibusbDouble.h"
#include "Log.h"
#include "StdoutCapture.h"
#include "WireBytes.h"

#include <gtest/gtest.h>
#include <libusb.h>
#include <string>

int tolvaneLoggerMain(int argc, char** argv);

namespace {

using LibusbDouble::Bytes;

const std::string banners = "Tolvane Logger [09 april 2016] V0.0.1 by Marovel\n"
                            "libtolvane [09 april 2016] V0.0.1\n";
const std::string searchLines = "[INFO]: Openning socket to calc...\n"
                                "[DEBUG]: Reading USB device list ...\n"
                                "[DEBUG]: Checking a USB peripheral ...\n"
                                "[DEBUG]: Found the calculator over USB !\n"
                                "[INFO]: Openning socket to calc\n"
                                "[INFO]: Socket connected !\n";
const std::string receiveFailure = "[ERROR]: bulkTransfereBuffer: Error in bulk transfere\n"
                                   "[ERROR]: receiveBuffer: Error receiving bulk\n"
                                   "[ERROR]: Failed to receive the log !\n";

struct ProgramRun {
    int status;
    std::string printed;
};

ProgramRun runLogger(std::vector<std::string> arguments = {}) {
    std::vector<char*> argv;
    std::string program = "TolvaneLogger";
    argv.push_back(program.data());
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    StdoutCapture capture;
    const int status = tolvaneLoggerMain(static_cast<int>(argv.size()) - 1, argv.data());
    return {status, capture.finish()};
}

class LoggerMainTest : public ::testing::Test {
protected:
    void SetUp() override {
        LibusbDouble::reset();
        Log::setLoglevel(LOGLEVEL_ERROR);
    }
};

TEST_F(LoggerMainTest, CopiesEveryByteUnchangedUntilAReceiveFails) {
    LibusbDouble::addDevice(0x07CF, 0x6101);
    const Bytes first(64, 'a');
    const Bytes second = {0x00, 0x0A, 'z', 0x0D, 0x0A, 0xFF, 0x1A, '%', 's', 0x00};
    LibusbDouble::queueIn({first, 0});
    LibusbDouble::queueIn({{}, 0}); // an empty receive writes nothing and goes on
    LibusbDouble::queueIn({second, 0});

    const ProgramRun run = runLogger({"-q", "ignored"});
    EXPECT_EQ(run.status, 1);
    const std::string data =
        std::string(first.begin(), first.end()) + std::string(second.begin(), second.end());
    EXPECT_EQ(run.printed, banners + searchLines + data + receiveFailure);

    EXPECT_EQ(LibusbDouble::inTransferCount(), 4);
    for (const auto& transfer : LibusbDouble::transfers()) {
        EXPECT_EQ(transfer.endpoint, 0x82);
        EXPECT_EQ(transfer.offered, 64);
    }
    EXPECT_EQ(LibusbDouble::outTransferCount(), 0);
    EXPECT_EQ(LibusbDouble::openHandleCount(), 0);
}

TEST_F(LoggerMainTest, BytesOfAFailedTransferAreNeverWritten) {
    LibusbDouble::addDevice(0x07CF, 0x6101);
    LibusbDouble::queueIn({WireBytes::text("lost"), LIBUSB_ERROR_NO_DEVICE});
    const ProgramRun run = runLogger();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.printed, banners + searchLines + receiveFailure);
}

TEST_F(LoggerMainTest, NoCalculatorMeansNoReceive) {
    const ProgramRun run = runLogger();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.printed, banners + "[INFO]: Openning socket to calc...\n"
                                     "[DEBUG]: Reading USB device list ...\n"
                                     "[ERROR]: Can't find the calculator's USB peripheral !\n"
                                     "[ERROR]: Failed to find the calc !\n"
                                     "[INFO]: Check the receive mode ?\n"
                                     "[ERROR]: Can't connect to the calc !\n");
    EXPECT_TRUE(LibusbDouble::transfers().empty());
}

TEST_F(LoggerMainTest, AContextThatCannotBeMadeEndsTheProgram) {
    LibusbDouble::setInitResult(LIBUSB_ERROR_NO_MEM);
    const ProgramRun run = runLogger();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.printed,
              banners + "[ERROR]: can't init libusb !\n\n[ERROR]: Can't init the USB context !\n");
}

} // namespace
